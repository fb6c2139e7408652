#include "core/shell_calls.h"

#include "core/fixed_texts.h"

namespace {

class Win32ShellCalls : public IShellCalls {
public:
    HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                      int show) override {
        return ShellExecuteW(owner, verb, file, parameters, folder, show);
    }
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) override { return Shell_NotifyIconW(message, data); }
};

Win32ShellCalls g_win32Shell;
IShellCalls* g_shell = &g_win32Shell;

// The length of the scheme prefix ("http://" or "https://", any case) that
// target starts with, or 0.
int WebSchemeLength(const CString& target) {
    for (const wchar_t* scheme : FixedText::kWebSchemes) {
        int n = (int)wcslen(scheme);
        if (target.GetLength() >= n && _wcsnicmp(target, scheme, n) == 0) return n;
    }
    return 0;
}

}  // namespace

IShellCalls& CurrentShellCalls() { return *g_shell; }

IShellCalls* SetShellCalls(IShellCalls* calls) {
    IShellCalls* previous = g_shell;
    g_shell = calls ? calls : &g_win32Shell;
    return previous;
}

bool IsWebAddress(const CString& target) {
    int scheme = WebSchemeLength(target);
    if (scheme == 0 || target.GetLength() <= scheme) return false;
    for (int i = 0; i < target.GetLength(); ++i) {
        wchar_t c = target[i];
        // C0 and C1 control characters and DEL: a line break or a NUL could
        // hand the shell something other than the address that was checked.
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return false;
    }
    return true;
}

bool OpenWebTarget(HWND owner, const CString& target, const CString& folder) {
    if (!IsWebAddress(target)) return false;
    // The default verb: the shell opens the address the way it is registered to.
    HINSTANCE result = CurrentShellCalls().Execute(owner, nullptr, target, nullptr,
                                                   folder.IsEmpty() ? nullptr : (LPCWSTR)folder, SW_SHOWDEFAULT);
    return reinterpret_cast<INT_PTR>(result) > 32;
}
