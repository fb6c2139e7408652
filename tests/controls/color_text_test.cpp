#include <gtest/gtest.h>

#include "controls/color_text.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"

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
    std::vector<std::string> execs;
    HINSTANCE shellResult = reinterpret_cast<HINSTANCE>(42);
    std::map<std::wstring, std::wstring> registry;
    HINSTANCE ShellExecute(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, int) override {
        shells.push_back({verb ? verb : L"", file ? file : L"", parameters ? parameters : L""});
        return shellResult;
    }
    UINT WinExec(LPCSTR command, UINT) override {
        execs.push_back(command);
        return 33;
    }
    BOOL ReadClassesValue(LPCWSTR key, CString& value) override {
        auto it = registry.find(key);
        if (it == registry.end()) return FALSE;
        value = it->second.c_str();
        return TRUE;
    }
};

struct LinkFixture : TextFixture {
    RecordingOpener opener;
    CHyperLink link;
    void SetUp() override {
        TextFixture::SetUp();
        CHyperLink::SetOpener(&opener);
        ASSERT_TRUE(link.Create(L"链接", WS_CHILD | WS_VISIBLE, CRect(20, 40, 120, 60), &host, 77));
    }
    void TearDown() override {
        CHyperLink::SetOpener(nullptr);
        TextFixture::TearDown();
    }
    void ClickLink() {
        host.SendMessage(WM_COMMAND, MAKEWPARAM(77, STN_CLICKED), reinterpret_cast<LPARAM>(link.m_hWnd));
    }
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
    EXPECT_TRUE(opener.shells.empty());
    EXPECT_TRUE(opener.execs.empty());
}

TEST_F(LinkFixture, OpenModes) {
    link.SetLink(L"提示", L"https://a.example/x", 0);
    ClickLink();
    ASSERT_EQ(1u, opener.shells.size());
    EXPECT_STREQ(L"", opener.shells[0].verb);
    // The program by its full path from the Windows folder: a bare name
    // would be looked for in the program's own folder first.
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_STREQ(CString(windows) + L"\\" + FixedText::kLinkBrowserProgram, opener.shells[0].file);
    EXPECT_STREQ(L"https://a.example/x", opener.shells[0].params);

    // Mode 1: the shell opens a web address itself; a program path, a
    // network path or another scheme (the configuration can set the target)
    // is never handed to the shell or to the fall-back command.
    opener.shells.clear();
    link.SetLink(L"提示", L"https://update.example/new", 1);
    ClickLink();
    ASSERT_EQ(1u, opener.shells.size());
    EXPECT_STREQ(FixedText::kLinkOpenVerb, opener.shells[0].verb);
    EXPECT_STREQ(L"https://update.example/new", opener.shells[0].file);
    EXPECT_TRUE(opener.execs.empty());
    opener.shellResult = reinterpret_cast<HINSTANCE>(2);
    for (const wchar_t* target : {L"C:\\update\\new.exe", L"\\\\server\\share\\new.exe", L"file:///C:/new.exe",
                                  L"javascript:alert(1)", L"http://", L"https://a.example/\x01x.exe"}) {
        opener.shells.clear();
        link.SetLink(L"提示", target, 1);
        ClickLink();
        EXPECT_TRUE(opener.shells.empty()) << CStringA(target).GetString();
        EXPECT_TRUE(opener.execs.empty()) << CStringA(target).GetString();
    }
}

TEST_F(LinkFixture, FallbackRunsTheRegisteredCommandWithTheQuotedUrl) {
    opener.shellResult = reinterpret_cast<HINSTANCE>(2);
    std::wstring program = L"\"C:\\Program Files\\" + std::wstring(300, L'b') + L"\\browser.exe\" -osint -url ";
    opener.registry[FixedText::kLinkWebPageClassKey] = L"htmlfile";
    opener.registry[std::wstring(L"htmlfile") + FixedText::kLinkOpenCommandSubKey] = program + L"\"%1\"";
    link.SetLink(L"", L"https://a.example/?q=1&r=\"2\"", 1);
    EXPECT_EQ(33, link.GotoURL(link.m_url));
    ASSERT_EQ(1u, opener.execs.size());
    CString expected = CString(program.c_str()) + L" \"https://a.example/?q=1&r=2\"";
    EXPECT_EQ(std::string(CStringA(expected)), opener.execs[0]);

    // An unquoted placeholder, and none at all.
    opener.execs.clear();
    opener.registry[std::wstring(L"htmlfile") + FixedText::kLinkOpenCommandSubKey] = L"b.exe %1";
    link.GotoURL(L"http://u.example/");
    opener.registry[std::wstring(L"htmlfile") + FixedText::kLinkOpenCommandSubKey] = L"b.exe";
    link.GotoURL(L"http://u.example/");
    ASSERT_EQ(2u, opener.execs.size());
    EXPECT_EQ("b.exe  \"http://u.example/\"", opener.execs[0]);
    EXPECT_EQ("b.exe \"http://u.example/\"", opener.execs[1]);

    // Without the registered type the shell's failure is the result.
    opener.registry.clear();
    opener.execs.clear();
    EXPECT_EQ(2, link.GotoURL(L"http://u.example/"));
    EXPECT_TRUE(opener.execs.empty());
}

TEST_F(LinkFixture, FallbackRefusesACommandTheAnsiCodePageCannotHoldExactly) {
    // WinExec reads its command back in the ANSI code page. A character that
    // page lacks would turn into '?', and one it holds only as a look-alike
    // into that look-alike (a full-width quote into a quote, which would
    // end the quoted URL early and hand the rest over as arguments).
    opener.shellResult = reinterpret_cast<HINSTANCE>(2);
    opener.registry[FixedText::kLinkWebPageClassKey] = L"htmlfile";
    link.SetLink(L"", L"http://u.example/", 1);
    struct Case {
        const wchar_t* command;  // the registered command
        bool runs1252, runs936;
    };
    const Case cases[] = {
        {L"b.exe", true, true},
        {L"C:\\\u6d4f\u89c8\u5668\\b.exe", false, true},  // Chinese: held by 936 only
        {L"C:\\\uff02x\uff02\\b.exe", false, true},        // full-width quotes: 936 holds them exactly
        {L"C:\\\u05d0\\b.exe", false, false},               // Hebrew: held by neither
    };
    const UINT acp = GetACP();
    if (acp != 1252 && acp != 936) GTEST_SKIP() << "cases are written for code pages 1252 and 936, not " << acp;
    for (const Case& c : cases) {
        opener.execs.clear();
        opener.registry[std::wstring(L"htmlfile") + FixedText::kLinkOpenCommandSubKey] = c.command;
        INT_PTR result = link.GotoURL(L"http://u.example/");
        bool runs = acp == 936 ? c.runs936 : c.runs1252;
        EXPECT_EQ(runs ? 1u : 0u, opener.execs.size()) << CStringA(Utf16ToUtf8(c.command)).GetString();
        if (runs) {
            ASSERT_EQ(1u, opener.execs.size());
            // What WinExec reads back is the very command.
            EXPECT_STREQ(CString(c.command) + L" \"http://u.example/\"",
                         CodePageToWide(CP_ACP, opener.execs[0].c_str(), (int)opener.execs[0].size()));
            EXPECT_EQ(33, result);
        } else {
            EXPECT_EQ(2, result) << "the shell's failure stands";
        }
    }
}

TEST(CLinkOpener, ReadsTheWholeRegistryValue) {
    const wchar_t* key = L"kavetta.test.longvalue";
    std::wstring value(700, L'v');
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    CLinkOpener real;
    CString read;
    EXPECT_TRUE(real.ReadClassesValue(L"kavetta.test.longvalue", read));
    EXPECT_EQ(700, read.GetLength());
    EXPECT_FALSE(real.ReadClassesValue(L"kavetta.test.missing.key", read));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
}

}  // namespace
