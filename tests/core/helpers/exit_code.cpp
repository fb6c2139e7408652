// A small program for the process tests:
//   exit_code.exe <code> [milliseconds to sleep first] [file to record in]
// The record holds the command line, a line break, then the start-up
// record's flags and show-window value as two decimal numbers.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    int code = argc > 1 ? _wtoi(argv[1]) : 0;
    if (argc > 2) Sleep((DWORD)_wtoi(argv[2]));
    if (argc > 3) {
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
