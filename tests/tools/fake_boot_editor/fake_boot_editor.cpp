// Stands in for the system's boot configuration editor: writes its whole
// command line (UTF-8) to the file named by KAVETTA_FAKE_EDITOR_LOG and exits
// with the code in KAVETTA_FAKE_EDITOR_CODE.
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
    return _wtoi(code);
}
