// Stands in for the system's boot configuration editor: writes its whole
// command line (UTF-8) to the file named by KAVETTA_FAKE_EDITOR_LOG, prints
// KAVETTA_FAKE_EDITOR_OUTPUT to its standard output in the OEM code page (as
// the editor prints its listings) and exits with the code in
// KAVETTA_FAKE_EDITOR_CODE.
#include <stdio.h>
#include <stdlib.h>

#include "winlib/strings.h"

int wmain() {
    wchar_t logPath[MAX_PATH] = {}, code[32] = {};
    GetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_LOG", logPath, MAX_PATH);
    GetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_CODE", code, 32);
    FILE* f = logPath[0] ? _wfopen(logPath, L"wb") : nullptr;
    if (f) {
        CStringA line = Utf16ToUtf8(GetCommandLineW());
        fwrite(line.GetString(), 1, line.GetLength(), f);
        fclose(f);
    }
    wchar_t output[4096] = {};
    if (GetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_OUTPUT", output, 4096)) {
        char bytes[8192];
        const int n = WideCharToMultiByte(CP_OEMCP, 0, output, -1, bytes, sizeof bytes, nullptr, nullptr) - 1;
        DWORD written = 0;
        if (n > 0) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)n, &written, nullptr);
    }
    return _wtoi(code);
}
