// A small program for the process tests:
//   exit_code.exe <code> [milliseconds to sleep first] [file to record in, or -] [text to print]
// The record holds the command line, a line break, then the start-up
// record's flags and show-window value as two decimal numbers. The text goes
// to the standard output as its bytes; "*<n>" prints n bytes of x instead.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    int code = argc > 1 ? _wtoi(argv[1]) : 0;
    if (argc > 2) Sleep((DWORD)_wtoi(argv[2]));
    if (argc > 4) {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        char text[4096];
        int length = WideCharToMultiByte(CP_UTF8, 0, argv[4], -1, text, sizeof text, nullptr, nullptr) - 1;
        DWORD written = 0;
        if (argv[4][0] == L'*') {
            int left = _wtoi(argv[4] + 1);
            memset(text, 'x', sizeof text);
            while (left > 0 && WriteFile(out, text, left < 4096 ? (DWORD)left : 4096u, &written, nullptr)) left -= (int)written;
        } else if (length > 0) {
            WriteFile(out, text, (DWORD)length, &written, nullptr);
        }
    }
    if (argc > 3 && wcscmp(argv[3], L"-") != 0) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        GetStartupInfoW(&startup);
        wchar_t record[4096];
        _snwprintf(record, 4096, L"%ls\n%lu %u", GetCommandLineW(), startup.dwFlags, startup.wShowWindow);
        record[4095] = 0;
        HANDLE file = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record, (DWORD)(wcslen(record) * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return code;
}
