// The shell calls the pages make (opening a target, the notification-area
// icon), behind a seam: the product uses the real calls; tests and the
// simulated machine record them, so nothing ever opens the host's browser.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "winlib/strings.h"

class IShellCalls {
public:
    virtual ~IShellCalls() {}
    virtual HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                              int show) = 0;
    virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) = 0;
};

IShellCalls& CurrentShellCalls();
// Installs other shell calls and returns the previous ones; null puts the real ones back.
IShellCalls* SetShellCalls(IShellCalls* calls);

// The one rule for targets the configuration can set (it arrives over plain
// HTTP): only an http:// or https:// address (scheme case ignored, a host
// after the slashes, no blanks or control characters) is ever opened.
bool IsWebAddress(const CString& target);
// Opens the target in the default browser when IsWebAddress; otherwise
// opens nothing and returns false.
bool OpenWebTarget(HWND owner, const CString& target, const CString& folder);
