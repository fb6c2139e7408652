// A small program for the process tests:
//   exit_code.exe <code> [milliseconds to sleep first] [file to record the command line in]
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    int code = argc > 1 ? _wtoi(argv[1]) : 0;
    if (argc > 2) Sleep((DWORD)_wtoi(argv[2]));
    if (argc > 3) {
        HANDLE file = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const wchar_t* line = GetCommandLineW();
            DWORD written = 0;
            WriteFile(file, line, (DWORD)(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return code;
}
