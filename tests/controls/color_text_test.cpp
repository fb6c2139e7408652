#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/color_text.h"
#include "controls/message_box.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"
#include "support/fake_shell.h"

namespace {

// What the colour message of a control gives: the brush and the DC's text colour and mode.
struct ColourAnswer {
    HBRUSH brush;
    COLORREF text;
    int mode;
};

ColourAnswer AskColour(CWnd& parent, CWnd& control, UINT message = WM_CTLCOLORSTATIC) {
    MemSurface s(4, 4);
    SetTextColor(s.dc(), RGB(1, 1, 1));
    SetBkMode(s.dc(), OPAQUE);
    ColourAnswer a;
    a.brush = reinterpret_cast<HBRUSH>(
        parent.SendMessage(message, reinterpret_cast<WPARAM>(s.dc()), reinterpret_cast<LPARAM>(control.m_hWnd)));
    a.text = GetTextColor(s.dc());
    a.mode = GetBkMode(s.dc());
    return a;
}

struct TextFixture : ::testing::Test {
    CHostWnd host;
    void SetUp() override { ASSERT_TRUE(host.CreateHost()); }
    void TearDown() override { host.DestroyWindow(); }
};

TEST_F(TextFixture, ColourTextUsesItsColoursAndTheDisabledBackground) {
    CColorText_Static label;
    ASSERT_TRUE(label.Create(L"标签", WS_CHILD | WS_VISIBLE, CRect(10, 10, 200, 30), &host));
    label.SetTextColor(0x212121);
    label.SetBackColor(0x00FFEE);
    ColourAnswer a = AskColour(host, label);
    EXPECT_EQ(0x00FFEEu, BrushColor(a.brush));
    EXPECT_EQ(0x212121u, a.text);
    EXPECT_EQ(OPAQUE, a.mode) << "the background mode stays as the DC has it";
    label.EnableWindow(FALSE);
    a = AskColour(host, label);
    EXPECT_EQ(0xC8C8C8u, BrushColor(a.brush));
    EXPECT_EQ(0x212121u, a.text);
}

TEST_F(TextFixture, ColourTextFont) {
    CColorText_Static label;
    ASSERT_TRUE(label.Create(L"x", WS_CHILD | WS_VISIBLE, CRect(10, 10, 200, 30), &host));
    EXPECT_EQ(nullptr, label.m_font);
    LOGFONTW lf = {};
    lf.lfHeight = -15;
    lstrcpyW(lf.lfFaceName, FixedText::kListFontFace);
    label.SetFont(&lf);
    ASSERT_NE(nullptr, label.m_font);
    LOGFONTW got = {};
    label.m_font->GetLogFont(&got);
    EXPECT_EQ(-15, got.lfHeight);
}

class RecordingOpener : public CLinkOpener {
public:
    struct Shell {
        CString verb, file, params;
    };
    std::vector<Shell> shells;
    HINSTANCE shellResult = reinterpret_cast<HINSTANCE>(42);
    HINSTANCE ShellExecute(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, int) override {
        shells.push_back({verb ? verb : L"", file ? file : L"", parameters ? parameters : L""});
        return shellResult;
    }
};

// Answers every program message box of this thread as it shows (its first
// button) and records its text.
class BoxRecorder {
public:
    BoxRecorder() {
        s_current = this;
        m_timer = SetTimer(nullptr, 0, 50, Answer);
    }
    ~BoxRecorder() {
        KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    std::vector<std::wstring> texts;

private:
    static BOOL CALLBACK FindBox(HWND h, LPARAM found) {
        CWnd* wnd = CWnd::FromHandlePermanent(h);
        if (!wnd || !dynamic_cast<CMyMessageBox*>(wnd) || !IsWindowVisible(h)) return TRUE;
        *reinterpret_cast<HWND*>(found) = h;
        return FALSE;
    }
    static void CALLBACK Answer(HWND, UINT, UINT_PTR, DWORD) {
        HWND box = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
        if (!box || !s_current || box == s_current->m_last) return;
        s_current->m_last = box;
        s_current->texts.push_back(static_cast<CMyMessageBox*>(CWnd::FromHandlePermanent(box))->m_message.GetString());
        const int button = CMyMessageBox::kFirstButtonId;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    }
    static BoxRecorder* s_current;
    UINT_PTR m_timer = 0;
    HWND m_last = nullptr;
};
BoxRecorder* BoxRecorder::s_current = nullptr;

struct LinkFixture : TextFixture {
    RecordingOpener opener;
    FakeShell shell;
    IShellCalls* previousShell = nullptr;
    CHyperLink link;
    void SetUp() override {
        TextFixture::SetUp();
        CHyperLink::SetOpener(&opener);
        previousShell = SetShellCalls(&shell);
        ASSERT_TRUE(link.Create(L"链接", WS_CHILD | WS_VISIBLE, CRect(20, 40, 120, 60), &host, 77));
    }
    void TearDown() override {
        CHyperLink::SetOpener(nullptr);
        SetShellCalls(previousShell);
        TextFixture::TearDown();
    }
    void ClickLink() {
        host.SendMessage(WM_COMMAND, MAKEWPARAM(77, STN_CLICKED), reinterpret_cast<LPARAM>(link.m_hWnd));
    }
    // Nothing went to the shell with this program's rights.
    bool NothingElevated() const { return opener.shells.empty() && shell.executeLines.empty(); }
};

TEST_F(LinkFixture, ColoursForOpaqueTransparentHoverAndDisabled) {
    EXPECT_TRUE(link.GetStyle() & SS_NOTIFY);
    ColourAnswer a = AskColour(host, link);
    EXPECT_EQ(0xEE0000u, a.text);
    EXPECT_EQ(TRANSPARENT, a.mode);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), BrushColor(a.brush));
    link.SetBackColor(0xFFFFFF);
    EXPECT_EQ(0xFFFFFFu, BrushColor(AskColour(host, link).brush));
    link.EnableWindow(FALSE);
    EXPECT_EQ(0xC8C8C8u, BrushColor(AskColour(host, link).brush));
    link.EnableWindow(TRUE);
    link.SetTransparent();
    EXPECT_EQ(GetStockObject(NULL_BRUSH), AskColour(host, link).brush);
    link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_TRUE(link.m_hover);
    EXPECT_EQ(0x0000FFu, AskColour(host, link).text);
    link.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(link.m_hover);
}

TEST_F(LinkFixture, HandCursor) {
    EXPECT_EQ(TRUE, link.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(link.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor());
}

TEST_F(LinkFixture, TransparentTextChangeRepaintsTheParentUnderIt) {
    link.SetTransparent();
    host.UpdateWindow();
    Pump();
    host.ValidateAll();
    link.SetWindowText(L"新的文字");
    RECT update;
    ASSERT_TRUE(GetUpdateRect(host.m_hWnd, &update, FALSE));
    EXPECT_TRUE(PtInRect(&update, POINT{25, 45}));
}

TEST_F(LinkFixture, ClickWithAnEmptyUrlOpensNothing) {
    ClickLink();
    EXPECT_TRUE(NothingElevated());
    EXPECT_TRUE(shell.desktopOpens.empty());
}

TEST_F(LinkFixture, OpenModes) {
    // Mode 0, the open-folder links: the program by its full path from the
    // Windows folder (a bare name would be looked for in the program's own
    // folder first), with the target as its parameter.
    link.SetLink(L"提示", L"https://a.example/x", 0);
    ClickLink();
    ASSERT_EQ(1u, opener.shells.size());
    EXPECT_STREQ(L"", opener.shells[0].verb);
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_STREQ(CString(windows) + L"\\" + FixedText::kLinkBrowserProgram, opener.shells[0].file);
    EXPECT_STREQ(L"https://a.example/x", opener.shells[0].params);
    EXPECT_TRUE(shell.desktopOpens.empty());

    // Mode 1, the web links: the desktop's shell opens a web address, so
    // the browser runs as the signed-in user, in the system folder; nothing
    // is opened with this program's rights. A program path, a network path
    // or another scheme (the configuration can set the target) is never
    // handed to any shell.
    opener.shells.clear();
    link.SetLink(L"提示", L"https://update.example/new", 1);
    ClickLink();
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_EQ(1u, shell.desktopOpens.size());
    EXPECT_EQ(L"https://update.example/new|" + std::wstring(system), shell.desktopOpens[0]);
    EXPECT_TRUE(NothingElevated());
    for (const wchar_t* target : {L"C:\\update\\new.exe", L"\\\\server\\share\\new.exe", L"file:///C:/new.exe",
                                  L"javascript:alert(1)", L"http://", L"https://a.example/\x01x.exe"}) {
        shell.desktopOpens.clear();
        link.SetLink(L"提示", target, 1);
        ClickLink();
        EXPECT_TRUE(shell.desktopOpens.empty()) << CStringA(target).GetString();
        EXPECT_TRUE(NothingElevated()) << CStringA(target).GetString();
    }
}

// Without a desktop shell (no shell window) or when it fails, the page is
// not opened any other way: a box says so and shows the address, so the
// user can open it in a browser of their own.
TEST_F(LinkFixture, AWebLinkTheDesktopShellCannotOpenIsNamedWithItsAddress) {
    link.SetLink(L"", L"https://update.example/下载?v=2&x=1", 1);
    for (HRESULT answer : {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), E_FAIL}) {
        shell.desktopAnswer = answer;
        BoxRecorder boxes;
        EXPECT_FALSE(link.GotoURL(link.m_url));
        ASSERT_EQ(1u, boxes.texts.size()) << std::hex << answer;
        EXPECT_EQ(std::wstring(FixedText::kWebPageNotOpened) + FixedText::kMsgBoxLineSeparator +
                      L"https://update.example/下载?v=2&x=1",
                  boxes.texts[0]);
        EXPECT_TRUE(NothingElevated()) << "opened with this program's rights";
        EXPECT_TRUE(shell.desktopOpens.empty());
    }
    // A target that is no web address opens nothing and says nothing.
    BoxRecorder boxes;
    link.SetLink(L"", L"C:\\update\\new.exe", 1);
    EXPECT_FALSE(link.GotoURL(link.m_url));
    Pump(200);
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_TRUE(NothingElevated());
}

}  // namespace
