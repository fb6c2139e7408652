// Starting the built program under Wine from a test and finding its window.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

// One running copy of a program, with its own temporary folder (TMP and
// TEMP are set for it). Ended by force if it still runs when the object goes.
struct ProgramCopy {
    PROCESS_INFORMATION pi = {};
    bool Start(const CString& exe, const CString& tempFolder);
    bool WaitExit(DWORD ms);
    void Stop();
    ~ProgramCopy() { Stop(); }
};

// The first visible top-level window of the process, waiting up to `ms`
// (nullptr at once when the process ends without one).
HWND WaitForProgramWindow(DWORD pid, DWORD ms);
