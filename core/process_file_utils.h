// Process, file and folder utilities.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

// Deletes a folder with everything below it; nonzero when it is gone.
int DeleteFolderTree(const CString& folder);

// The calls that restart Windows, behind a seam so that tests never reach
// the real restart (under Wine it would end the whole session).
class IPowerControl {
public:
    virtual ~IPowerControl() {}
    virtual void Wait(DWORD milliseconds) = 0;
    virtual BOOL EnableShutdownPrivilege() = 0;
    virtual BOOL RequestRestart() = 0;
};
// Installs another power control and returns the previous one; null puts the
// real one back.
IPowerControl* SetPowerControl(IPowerControl* control);

// Waits 2000 ms, enables the shutdown privilege and asks Windows to restart.
// Returns the result of the restart request.
BOOL RebootMachine();
