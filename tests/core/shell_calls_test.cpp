// The one rule for targets the configuration can set, and the opener that
// applies it through the shell seam.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/shell_calls.h"

namespace {

class RecordingShell : public IShellCalls {
public:
    HINSTANCE Execute(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder, int show) override {
        calls.push_back(std::wstring(verb ? verb : L"-") + L"|" + file + L"|" + (parameters ? parameters : L"-") +
                        L"|" + (folder ? folder : L"-") + L"|" + std::to_wstring(show));
        return reinterpret_cast<HINSTANCE>(answer);
    }
    BOOL NotifyIcon(DWORD, NOTIFYICONDATAW*) override { return TRUE; }
    std::vector<std::wstring> calls;
    INT_PTR answer = 42;
};

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

TEST(OpenWebTarget, OpensWebAddressesThroughTheSeamAndNothingElse) {
    RecordingShell shell;
    IShellCalls* previous = SetShellCalls(&shell);
    EXPECT_TRUE(OpenWebTarget(nullptr, L"https://www.kavetta.example/help/", L"C:\\Program Files\\Kavetta"));
    EXPECT_TRUE(OpenWebTarget(nullptr, L"http://127.0.0.1/x", L""));
    EXPECT_FALSE(OpenWebTarget(nullptr, L"C:\\Windows\\System32\\cmd.exe", L"C:\\"));
    EXPECT_FALSE(OpenWebTarget(nullptr, L"\\\\server\\share\\setup.exe", L""));
    shell.answer = 2;  // ERROR_FILE_NOT_FOUND from the shell
    EXPECT_FALSE(OpenWebTarget(nullptr, L"http://127.0.0.1/y", L""));
    SetShellCalls(previous);

    ASSERT_EQ(3u, shell.calls.size());
    // The default verb (none given) and SW_SHOWDEFAULT (10).
    EXPECT_EQ(L"-|https://www.kavetta.example/help/|-|C:\\Program Files\\Kavetta|10", shell.calls[0]);
    EXPECT_EQ(L"-|http://127.0.0.1/x|-|-|10", shell.calls[1]);
}

TEST(ShellCallsSeam, NullPutsTheWin32CallsBack) {
    RecordingShell shell;
    IShellCalls* win32 = SetShellCalls(&shell);
    EXPECT_EQ(&shell, &CurrentShellCalls());
    EXPECT_EQ(&shell, SetShellCalls(nullptr));
    EXPECT_EQ(win32, &CurrentShellCalls());
}

}  // namespace
