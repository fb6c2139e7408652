// The shell calls that leave the program: opening a target with the shell
// and the notification-area icon. Behind a seam, so that tests and the
// simulated machine record them and never open anything on the host.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "winlib/strings.h"

class IShellCalls {
public:
    virtual ~IShellCalls() {}
    // ShellExecuteW: a result above 32 means the target was opened.
    virtual HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                              int show) = 0;
    // Shell_NotifyIconW.
    virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) = 0;
};

// The calls in use: the Win32 ones unless others were installed.
IShellCalls& CurrentShellCalls();
// Installs other calls and returns the previous ones; null puts the Win32 ones back.
IShellCalls* SetShellCalls(IShellCalls* calls);

// The one rule for targets the configuration can set: true only for an
// http:// or https:// address (scheme case ignored, something after "//",
// no control characters). The configuration arrives over plain HTTP, so a
// local or network program path must never be started from it.
bool IsWebAddress(const CString& target);

// Opens target in the default browser through CurrentShellCalls() when
// IsWebAddress (the shell's default verb, SW_SHOWDEFAULT, the working folder
// given); else opens nothing and returns false. True when the shell reported
// success.
bool OpenWebTarget(HWND owner, const CString& target, const CString& folder);
