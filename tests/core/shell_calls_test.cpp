// The one rule for targets the configuration can set, the opener that
// applies it through the desktop's shell, and whose user folders the
// backup copies.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "core/shell_calls.h"
#include "support/fake_shell.h"

namespace {

TEST(IsWebAddress, OnlyHttpAndHttpsAddresses) {
    struct Case {
        const wchar_t* target;
        bool web;
    } cases[] = {
        {L"http://127.0.0.1:18080/files/kvtupdate.exe", true},
        {L"https://www.kavetta.example/", true},
        {L"HTTP://EXAMPLE.COM", true},
        {L"HtTpS://x", true},
        {L"http://", false},  // nothing after "//"
        {L"https://", false},
        {L"http:/example.com", false},
        {L"ftp://example.com/update.exe", false},
        {L"file:///C:/Windows/System32/cmd.exe", false},
        {L"C:\\Windows\\System32\\cmd.exe", false},
        {L"\\\\server\\share\\update.exe", false},
        {L"update.exe http://example.com", false},
        {L" http://example.com", false},  // must start with the scheme
        {L"javascript:alert(1)", false},
        {L"", false},
        {L"http://example.com/\r\nC:\\evil.exe", false},
        {L"http://example.com/\tx", false},
        {L"http://example.com/\x7f", false},
        {L"http://example.com/\x85", false},  // a C1 control (next line)
        {L"http://例子.测试/下载", true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.web, IsWebAddress(c.target)) << std::wstring(c.target).size();
}

// A web address goes to the desktop's shell, so that the browser runs as
// the user signed in and not as this elevated program, in the system
// folder, never the program's own; nothing goes to the shell with this
// program's rights; anything but a web address opens nothing.
TEST(OpenWebTarget, OpensWebAddressesThroughTheDesktopShellOnly) {
    FakeShell shell;
    IShellCalls* previous = SetShellCalls(&shell);
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_TRUE(OpenWebTarget(L"https://www.kavetta.example/help/"));
    EXPECT_TRUE(OpenWebTarget(L"http://127.0.0.1/x"));
    EXPECT_FALSE(OpenWebTarget(L"C:\\Windows\\System32\\cmd.exe"));
    EXPECT_FALSE(OpenWebTarget(L"\\\\server\\share\\setup.exe"));
    // No desktop shell (no shell window), or a step of the way that fails.
    for (HRESULT answer : {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), E_NOINTERFACE, E_ACCESSDENIED}) {
        shell.desktopAnswer = answer;
        EXPECT_FALSE(OpenWebTarget(L"http://127.0.0.1/y")) << std::hex << answer;
    }
    SetShellCalls(previous);

    ASSERT_EQ(2u, shell.desktopOpens.size());
    EXPECT_EQ(L"https://www.kavetta.example/help/|" + std::wstring(system), shell.desktopOpens[0]);
    EXPECT_EQ(L"http://127.0.0.1/x|" + std::wstring(system), shell.desktopOpens[1]);
    EXPECT_TRUE(shell.executeLines.empty()) << "opened with this program's rights";
}

// Whose folders the backup copies, on the machines Windows gives: the
// desktop shell's token names the signed-in user's folders whoever
// elevated; without it, this process's own folders, named, and counted as
// the signed-in user's only when the accounts match.
TEST(FindUserFolders, TheSignedInUsersFoldersOrTheProcessAccountNamed) {
    const std::wstring own[kUserFolderKinds] = {L"C:\\Users\\Administrator\\Desktop",
                                                L"C:\\Users\\Administrator\\Documents",
                                                L"C:\\Users\\Administrator\\Favorites"};
    const std::wstring user[kUserFolderKinds] = {L"C:\\Users\\小明\\Desktop", L"D:\\文档",
                                                 L"C:\\Users\\小明\\Favorites"};
    struct Case {
        const char* what;
        bool shellToken;
        const wchar_t* signedIn;  // the session's answer; empty: it fails
        const wchar_t* processAccount;
        bool userFolders;         // the folders are the signed-in user's
        const wchar_t* account;   // whose folders they are
        bool ofSignedInUser;
    } cases[] = {
        {"another account elevated", true, L"KVT-PC\\小明", L"KVT-PC\\Administrator", true, L"KVT-PC\\小明", true},
        {"the session cannot be told", true, L"", L"KVT-PC\\Administrator", true, L"KVT-PC\\小明", true},
        {"no shell token, another account", false, L"KVT-PC\\小明", L"KVT-PC\\Administrator", false,
         L"KVT-PC\\Administrator", false},
        {"no shell token, the same account", false, L"KVT-PC\\小明", L"kvt-pc\\小明", false, L"kvt-pc\\小明", true},
        {"no shell token, no session", false, L"", L"KVT-PC\\Administrator", false, L"KVT-PC\\Administrator", false},
        {"no shell token, no account", false, L"KVT-PC\\小明", L"", false, L"", false},
    };
    for (const Case& c : cases) {
        FakeShell shell;
        shell.shellToken = c.shellToken;
        shell.signedIn = c.signedIn;
        shell.processAccount = c.processAccount;
        for (int k = 0; k < kUserFolderKinds; ++k) {
            shell.shellUserFolders[k] = user[k];
            shell.processUserFolders[k] = own[k];
        }
        shell.shellUserFolders[kUserFavorites].clear();  // a folder the shell does not name
        shell.processUserFolders[kUserFavorites].clear();
        IShellCalls* previous = SetShellCalls(&shell);
        UserFolders folders;
        folders.paths[kUserFavorites] = L"left from before";
        FindUserFolders(folders);
        SetShellCalls(previous);
        const std::wstring* expected = c.userFolders ? user : own;
        EXPECT_EQ(expected[kUserDesktop], std::wstring(folders.paths[kUserDesktop])) << c.what;
        EXPECT_EQ(expected[kUserDocuments], std::wstring(folders.paths[kUserDocuments])) << c.what;
        EXPECT_EQ(L"", std::wstring(folders.paths[kUserFavorites])) << c.what;
        EXPECT_EQ(c.shellToken, folders.fromDesktopShell) << c.what;
        EXPECT_EQ(std::wstring(c.account), std::wstring(folders.account)) << c.what;
        EXPECT_EQ(std::wstring(c.signedIn), std::wstring(folders.signedInAccount)) << c.what;
        EXPECT_EQ(c.ofSignedInUser, folders.OfSignedInUser()) << c.what;
        EXPECT_EQ(0, shell.openTokens) << c.what << ": the shell's token was not closed";
    }
}

// The Win32 calls on this machine, where one account runs everything: the
// process's own folders and account are told, and the desktop shell's
// token, when there is one, names the same folders.
TEST(ShellCallsSeam, TheWin32CallsTellThisAccountsFolders) {
    struct Win32Shell {
        IShellCalls* previous = SetShellCalls(nullptr);
        ~Win32Shell() { SetShellCalls(previous); }
    } installed;
    IShellCalls& win32 = CurrentShellCalls();
    CString account;
    ASSERT_TRUE(win32.TokenAccount(nullptr, account));
    EXPECT_FALSE(account.IsEmpty());
    const int csidl[kUserFolderKinds] = {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_FAVORITES};
    HANDLE token = win32.OpenShellToken();
    for (int k = 0; k < kUserFolderKinds; ++k) {
        wchar_t expected[MAX_PATH] = {};
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, csidl[k], nullptr, 0, expected))) << k;
        CString path;
        ASSERT_TRUE(win32.UserFolderPath(static_cast<UserFolderKind>(k), nullptr, path)) << k;
        EXPECT_STREQ(expected, path) << k;
        if (token) {
            CString shellPath;
            ASSERT_TRUE(win32.UserFolderPath(static_cast<UserFolderKind>(k), token, shellPath)) << k;
            EXPECT_STREQ(expected, shellPath) << k;
        }
    }
    if (token) {
        CString shellAccount;
        EXPECT_TRUE(win32.TokenAccount(token, shellAccount));
        EXPECT_STREQ(account, shellAccount);
        win32.CloseToken(token);
    }
    CString signedIn;
    if (win32.SessionAccount(signedIn)) EXPECT_FALSE(signedIn.IsEmpty());
    printf("account %s, shell token %s, session %s\n", (const char*)CStringA(account), token ? "yes" : "no",
           (const char*)CStringA(signedIn));
}

TEST(ShellCallsSeam, NullPutsTheWin32CallsBack) {
    FakeShell shell;
    IShellCalls* win32 = SetShellCalls(&shell);
    EXPECT_EQ(&shell, &CurrentShellCalls());
    EXPECT_EQ(&shell, SetShellCalls(nullptr));
    EXPECT_EQ(win32, &CurrentShellCalls());
}

}  // namespace
