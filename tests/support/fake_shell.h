// A scripted shell for tests: records every shell execute (with this
// program's rights) and every page opened through the desktop's shell, and
// opens nothing. It plays Windows as a standard user meets it after typing
// an administrator's password at the elevation prompt: the session and the
// desktop shell belong to the user signed in, the process token to another
// account, and each has user folders of its own.
#pragma once

#include <string>
#include <vector>

#include "core/shell_calls.h"

class FakeShell : public IShellCalls {
public:
    // "verb|file|parameters|folder|show" ("-" for a null text).
    std::vector<std::wstring> executeLines;
    // "address|folder" of every page handed to the desktop's shell.
    std::vector<std::wstring> desktopOpens;
    // What the desktop's shell answers: a failure stands for a machine with
    // no desktop shell (no shell window) or a step of the way that fails.
    HRESULT desktopAnswer = S_OK;

    // The account signed in to the session; empty: the session query fails.
    std::wstring signedIn = L"KVT-PC\\小明";
    // Whether the desktop shell's token can be had (false: no shell window,
    // or Windows refuses the elevated account access to it).
    bool shellToken = true;
    // The accounts of the desktop shell's token and of the process token
    // (the one that elevated).
    std::wstring shellAccount = L"KVT-PC\\小明";
    std::wstring processAccount = L"KVT-PC\\Administrator";
    // User folders (desktop, documents, favorites) read with the desktop
    // shell's token and with the process token; empty: the shell names none.
    std::wstring shellUserFolders[kUserFolderKinds];
    std::wstring processUserFolders[kUserFolderKinds];
    // Tokens handed out and not yet closed.
    int openTokens = 0;

    HINSTANCE Execute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, int show) override {
        executeLines.push_back(Text(verb) + L"|" + Text(file) + L"|" + Text(parameters) + L"|" + Text(folder) + L"|" +
                           std::to_wstring(show));
        return reinterpret_cast<HINSTANCE>((INT_PTR)42);
    }
    BOOL NotifyIcon(DWORD, NOTIFYICONDATAW*) override { return TRUE; }
    HRESULT OpenWithDesktopShell(LPCWSTR address, LPCWSTR folder) override {
        if (SUCCEEDED(desktopAnswer)) desktopOpens.push_back(Text(address) + L"|" + Text(folder));
        return desktopAnswer;
    }
    bool SessionAccount(CString& account) override {
        if (signedIn.empty()) return false;
        account = signedIn.c_str();
        return true;
    }
    HANDLE OpenShellToken() override {
        if (!shellToken) return nullptr;
        ++openTokens;
        return ShellToken();
    }
    void CloseToken(HANDLE token) override {
        if (token == ShellToken()) --openTokens;
    }
    bool UserFolderPath(UserFolderKind kind, HANDLE token, CString& path) override {
        const std::wstring& folder = token == ShellToken() ? shellUserFolders[kind] : processUserFolders[kind];
        if (token && token != ShellToken()) return false;  // a token this shell never gave
        if (folder.empty()) return false;
        path = folder.c_str();
        return true;
    }
    bool TokenAccount(HANDLE token, CString& account) override {
        const std::wstring& name = token == ShellToken() ? shellAccount : processAccount;
        if (token && token != ShellToken()) return false;
        if (name.empty()) return false;
        account = name.c_str();
        return true;
    }

    static HANDLE ShellToken() { return reinterpret_cast<HANDLE>((INT_PTR)0x5E11); }

private:
    static std::wstring Text(LPCWSTR text) { return text ? text : L"-"; }
};
