#include "core/shell_calls.h"

namespace {

class Win32ShellCalls : public IShellCalls {
public:
    HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                      int show) override {
        return ShellExecuteW(owner, verb, file, parameters, folder, show);
    }
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) override { return Shell_NotifyIconW(message, data); }
};

Win32ShellCalls s_win32Shell;
IShellCalls* s_shell = &s_win32Shell;

}  // namespace

IShellCalls& CurrentShellCalls() { return *s_shell; }

IShellCalls* SetShellCalls(IShellCalls* calls) {
    IShellCalls* previous = s_shell;
    s_shell = calls ? calls : &s_win32Shell;
    return previous;
}

bool IsWebAddress(const CString& target) {
    int hostStart;
    if (target.Left(7).CompareNoCase(L"http://") == 0) hostStart = 7;
    else if (target.Left(8).CompareNoCase(L"https://") == 0) hostStart = 8;
    else return false;
    if (target.GetLength() <= hostStart) return false;
    wchar_t first = target[hostStart];
    if (first == L'/' || first == L'\\' || first == L'?' || first == L'#') return false;
    for (int i = 0; i < target.GetLength(); ++i) {
        wchar_t c = target[i];
        if (c <= L' ' || c == 0x7F || c == L'"') return false;
    }
    return true;
}

bool OpenWebTarget(HWND owner, const CString& target, const CString& folder) {
    if (!IsWebAddress(target)) return false;
    CurrentShellCalls().Execute(owner, nullptr, target, nullptr, folder.IsEmpty() ? nullptr : (LPCWSTR)folder,
                                SW_SHOWDEFAULT);
    return true;
}
