#include <gtest/gtest.h>
#include <process.h>

#include <functional>

#include "controls/message_box.h"
#include "controls_test_support.h"
#include "core/fixed_texts.h"

namespace {

// A message box run by MyMessageBox on a worker thread, over a main window of
// the test's thread, which keeps pumping so that the cross-thread owner calls
// (disable, enable) go through.
class WorkerBox {
public:
    WorkerBox(int flags, BOOL autoClose, LPCWSTR text, int seconds)
        : m_flags(flags), m_autoClose(autoClose), m_text(text), m_seconds(seconds) {
        m_owner.CreateEx(0, nullptr, L"main", WS_POPUP | WS_VISIBLE, 50, 50, 600, 400, nullptr, nullptr);
        AfxGetApp()->m_pMainWnd = &m_owner;
        m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &WorkerBox::Proc, this, 0, nullptr));
    }
    ~WorkerBox() {
        if (m_thread) {
            if (!Finish(10000)) {
                // Never leave a box behind: end it the hard way.
                if (m_box) ::PostMessageW(m_box, WM_COMMAND, IDCANCEL, 0);
                Finish(5000);
            }
            CloseHandle(m_thread);
        }
        AfxGetApp()->m_pMainWnd = nullptr;
        m_owner.DestroyWindow();
    }
    // Waits (pumping) until the box window exists; its handle.
    HWND WaitForBox() {
        PumpUntil([&] { return (m_box = FindBox()) != nullptr && ::IsWindowVisible(m_box); }, 60000);
        return m_box;
    }
    // Waits (pumping) for the worker to end; whether it did.
    bool Finish(DWORD ms) {
        return PumpUntil([&] { return WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0; }, ms);
    }
    // The box thread's keyboard focus, null when it has none.
    HWND Focus() const {
        GUITHREADINFO gui = {sizeof(gui)};
        return GetGUIThreadInfo(GetWindowThreadProcessId(m_box, nullptr), &gui) ? gui.hwndFocus : nullptr;
    }
    // Waits (pumping) until the keyboard focus is on `item`. Another test
    // program's window may hold the activation of the run's display for a
    // moment; once the box is active again, the dialog gives the focus back
    // to the control it keeps.
    bool WaitForFocus(HWND item) {
        return PumpUntil([&] {
            if (Focus() == item) return true;
            SetForegroundWindow(m_box);
            return false;
        });
    }
    HWND Item(int id) const { return ::GetDlgItem(m_box, id); }
    CRect ItemRectInBox(int id) const {
        CRect r;
        ::GetWindowRect(Item(id), &r);
        ::MapWindowPoints(nullptr, m_box, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    CString ItemText(int id) const {
        wchar_t buf[64] = {};
        ::GetWindowTextW(Item(id), buf, 64);
        return buf;
    }
    int m_result = -100;
    CWnd m_owner;
    HWND m_box = nullptr;

private:
    HWND FindBox() {
        struct Find {
            static BOOL CALLBACK Proc(HWND h, LPARAM lp) {
                auto* self = reinterpret_cast<WorkerBox*>(lp);
                if (::GetWindow(h, GW_OWNER) == self->m_owner.m_hWnd) {
                    self->m_found = h;
                    return FALSE;
                }
                return TRUE;
            }
        };
        m_found = nullptr;
        EnumThreadWindows(m_threadId, Find::Proc, reinterpret_cast<LPARAM>(this));
        return m_found;
    }
    static unsigned __stdcall Proc(void* arg) {
        auto* self = static_cast<WorkerBox*>(arg);
        self->m_threadId = GetCurrentThreadId();
        self->m_result = MyMessageBox(self->m_flags, self->m_autoClose, self->m_text, self->m_seconds);
        return 0;
    }
    int m_flags;
    BOOL m_autoClose;
    LPCWSTR m_text;
    int m_seconds;
    HANDLE m_thread = nullptr;
    volatile DWORD m_threadId = 0;
    HWND m_found = nullptr;
};

struct BoxFixture : ::testing::Test {
    TestPictures pictures;
};

TEST_F(BoxFixture, YesNoBoxFromAWorkerThreadHasItsSizeButtonsAndDisabledOwner) {
    WorkerBox box(MB_ICONQUESTION | MB_YESNO, FALSE, L"确定要继续吗？", 0);
    HWND h = box.WaitForBox();
    ASSERT_NE(nullptr, h);
    EXPECT_FALSE(box.m_owner.IsWindowEnabled());
    CRect wr;
    ::GetWindowRect(h, &wr);
    EXPECT_EQ(350, wr.Width());
    EXPECT_EQ(185, wr.Height());  // one short line is lower than the icon: 45 + 140
    int W = wr.Width() / 2, H = wr.Height();
    EXPECT_EQ(CRect(W - 110, H - 55, W - 10, H - 20), box.ItemRectInBox(103));
    EXPECT_EQ(CRect(W + 10, H - 55, W + 110, H - 20), box.ItemRectInBox(104));
    EXPECT_STREQ(FixedText::kMsgBoxYes, box.ItemText(103));
    EXPECT_STREQ(FixedText::kMsgBoxNo, box.ItemText(104));
    EXPECT_TRUE(box.WaitForFocus(box.Item(103))) << "the focus starts on Yes";
    EXPECT_EQ((LONG)BS_OWNERDRAW, ::GetWindowLongW(box.Item(104), GWL_STYLE) & 0x0F);
    ::PostMessageW(h, WM_COMMAND, MAKEWPARAM(104, BN_CLICKED), (LPARAM)box.Item(104));
    ASSERT_TRUE(box.Finish(5000));
    EXPECT_EQ(IDNO, box.m_result);
    EXPECT_TRUE(box.m_owner.IsWindowEnabled());
}

struct AnswerCase {
    const char* what;
    int flags;
    std::function<void(WorkerBox&)> act;
    int expected;
};

void PostKeyTo(HWND h, WPARAM key) { ::PostMessageW(h, WM_KEYDOWN, key, 0); }

TEST_F(BoxFixture, Answers) {
    AnswerCase cases[] = {
        {"OK button", MB_ICONINFORMATION,
         [](WorkerBox& b) { ::PostMessageW(b.m_box, WM_COMMAND, MAKEWPARAM(103, BN_CLICKED), (LPARAM)b.Item(103)); },
         IDOK},
        {"Yes button", MB_ICONQUESTION | MB_YESNO,
         [](WorkerBox& b) { ::PostMessageW(b.m_box, WM_COMMAND, MAKEWPARAM(103, BN_CLICKED), (LPARAM)b.Item(103)); },
         IDYES},
        {"Escape in an OK box", MB_ICONERROR, [](WorkerBox& b) { PostKeyTo(b.Item(103), VK_ESCAPE); }, IDNO},
        {"Enter on the focused Yes", MB_ICONQUESTION | MB_YESNO,
         [](WorkerBox& b) {
             EXPECT_TRUE(b.WaitForFocus(b.Item(103)));
             PostKeyTo(b.Item(103), VK_RETURN);
         },
         IDYES},
        {"Enter with the focus moved to No", MB_ICONWARNING | MB_YESNO,
         [](WorkerBox& b) {
             ::PostMessageW(b.m_box, WM_NEXTDLGCTL, (WPARAM)b.Item(104), TRUE);
             EXPECT_TRUE(b.WaitForFocus(b.Item(104)));
             PostKeyTo(b.Item(104), VK_RETURN);
         },
         IDNO},
        {"Enter in an OK box", MB_ICONINFORMATION, [](WorkerBox& b) { PostKeyTo(b.Item(103), VK_RETURN); }, IDOK},
    };
    for (AnswerCase& c : cases) {
        WorkerBox box(c.flags, FALSE, L"text", 0);
        ASSERT_NE(nullptr, box.WaitForBox()) << c.what;
        c.act(box);
        ASSERT_TRUE(box.Finish(5000)) << c.what;
        EXPECT_EQ(c.expected, box.m_result) << c.what;
    }
}

// An Enter that reaches the box while none of its buttons has the focus (as
// the box appears, before it is active, or while another window holds the
// activation) answers as the button the focus starts on: Yes, never No.
TEST_F(BoxFixture, EnterWithoutAFocusedButtonAnswersWhereTheFocusStarts) {
    struct Case {
        int flags;
        int expected;
    } cases[] = {{MB_ICONQUESTION | MB_YESNO, IDYES}, {MB_ICONWARNING | MB_YESNO, IDYES}, {MB_ICONINFORMATION, IDOK}};
    for (const Case& c : cases) {
        WorkerBox box(c.flags, FALSE, L"回车", 0);
        ASSERT_NE(nullptr, box.WaitForBox());
        // A window of this thread takes the activation: the box's thread then
        // has no focus.
        CHostWnd other;
        ASSERT_TRUE(other.CreateHost(700, 500, 100, 100));
        ASSERT_TRUE(PumpUntil([&] {
            if (box.Focus() == nullptr) return true;
            SetForegroundWindow(other.m_hWnd);
            other.SetFocus();
            return false;
        })) << "the box kept the focus";
        PostKeyTo(box.m_box, VK_RETURN);
        ASSERT_TRUE(box.Finish(10000));
        EXPECT_EQ(c.expected, box.m_result) << c.flags;
        other.DestroyWindow();
    }
}

TEST_F(BoxFixture, CountdownEndsWithYesOrOkAndShowsTheSecondsLeft) {
    struct Case {
        int flags;
        int seconds;
        int expected;
    } cases[] = {{MB_ICONQUESTION | MB_YESNO, 2, IDYES}, {MB_ICONINFORMATION, 1, IDOK}, {MB_ICONINFORMATION, 0, IDOK},
                 {MB_ICONWARNING, -3, IDOK}};
    for (const Case& c : cases) {
        WorkerBox box(c.flags, TRUE, L"自动关闭", c.seconds);
        ASSERT_NE(nullptr, box.WaitForBox());
        CString base = (c.flags & MB_YESNO) ? FixedText::kMsgBoxYes : FixedText::kMsgBoxOk;
        EXPECT_STREQ(base, box.ItemText(103));
        if (c.seconds == 2) {
            CString one;
            one.Format(FixedText::kMsgBoxCountdownSuffix, 1);
            EXPECT_TRUE(PumpUntil([&] { return box.ItemText(103) == base + one; }, 60000));
        }
        ASSERT_TRUE(box.Finish(c.seconds > 0 ? c.seconds * 1000 + 3000 : 4000)) << "seconds " << c.seconds;
        EXPECT_EQ(c.expected, box.m_result);
    }
}

TEST_F(BoxFixture, AClickIntoTheBoxStopsTheCountdown) {
    WorkerBox box(MB_ICONQUESTION | MB_YESNO, TRUE, L"点击停止倒计时", 2);
    HWND h = box.WaitForBox();
    ASSERT_NE(nullptr, h);
    // Down starts a drag of the box; the release ends it.
    ::PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 80));
    ::PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(200, 80));
    Pump(3500);
    EXPECT_FALSE(box.Finish(0)) << "the box waits for a button now";
    EXPECT_TRUE(::IsWindow(h));
    EXPECT_STREQ(FixedText::kMsgBoxYes, box.ItemText(103));
    ::PostMessageW(h, WM_COMMAND, MAKEWPARAM(104, BN_CLICKED), (LPARAM)box.Item(104));
    ASSERT_TRUE(box.Finish(5000));
    EXPECT_EQ(IDNO, box.m_result);
}

TEST_F(BoxFixture, TitleAndIconFollowTheIconBits) {
    struct Case {
        int flags;
        LPCWSTR title;
        LPCWSTR picture;
    } cases[] = {
        {0x24, FixedText::kMsgBoxTitleQuestion, FixedText::kSkinMsgBoxQuestion},
        {0x34, FixedText::kMsgBoxTitleWarning, FixedText::kSkinMsgBoxWarning},
        {0x30, FixedText::kMsgBoxTitleWarning, FixedText::kSkinMsgBoxWarning},
        {0x10, FixedText::kMsgBoxTitleError, FixedText::kSkinMsgBoxError},
        {0x40, FixedText::kMsgBoxTitleInformation, FixedText::kSkinMsgBoxInformation},
        {0, FixedText::kMsgBoxTitleInformation, FixedText::kSkinMsgBoxInformation},
        {MB_YESNO, FixedText::kMsgBoxTitleInformation, FixedText::kSkinMsgBoxInformation},
    };
    for (const Case& c : cases) {
        pictures.m_requested.clear();
        CMyMessageBox box(L"x", c.flags, FALSE, 0);
        EXPECT_STREQ(c.title, box.m_title) << c.flags;
        ASSERT_EQ(1u, pictures.m_requested.size());
        EXPECT_EQ(std::wstring(c.picture), pictures.m_requested[0]);
    }
}

TEST_F(BoxFixture, TheIconPictureIsFreedWithTheBox) {
    pictures.Add(FixedText::kSkinMsgBoxError, RGB(255, 0, 0), 46, 45);
    int before = TestPictures::s_alive;
    {
        CMyMessageBox box(L"x", MB_ICONERROR, FALSE, 0);
        EXPECT_NE(nullptr, box.m_icon);
        EXPECT_EQ(before + 1, TestPictures::s_alive);
    }
    EXPECT_EQ(before, TestPictures::s_alive);
}

TEST_F(BoxFixture, LayoutMeasuresEveryLineBlankOnesIncluded) {
    CMyMessageBox empty(L"", 0, FALSE, 0);
    empty.CalcLayout();
    EXPECT_EQ(45, empty.m_textHeight);
    EXPECT_EQ(185, empty.m_height);
    EXPECT_EQ(350, empty.m_width);

    CMyMessageBox two(L"第一行\n第二行\n第三行", 0, FALSE, 0);
    two.CalcLayout();
    CMyMessageBox blanks(L"第一行\n\n\n第二行\n第三行", 0, FALSE, 0);
    blanks.CalcLayout();
    int line = (two.m_textHeight - 5) / 3;
    ASSERT_GT(line, 5);
    EXPECT_EQ(two.m_textHeight + 2 * line, blanks.m_textHeight);
    EXPECT_EQ(blanks.m_textHeight + 140, blanks.m_height);

    CString wide;
    for (int i = 0; i < 60; ++i) wide += L"宽";
    CMyMessageBox big(wide, 0, FALSE, 0);
    big.CalcLayout();
    EXPECT_EQ(big.m_textWidth + 106, big.m_width);
    EXPECT_GT(big.m_width, 350);
}

// An '&' in the text (a folder name, a disk model) is drawn as it was
// measured: as text, never as a prefix that hides itself and underlines the
// next character.
TEST_F(BoxFixture, AnAmpersandIsDrawnAsItIsMeasured) {
    const wchar_t* text = L"&&&&&&&&&&&&&&&&&&&&&&&&&&&&&&";
    CFont font;
    font.CreatePointFont(100, FixedText::kMsgBoxFontFace);
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font.GetSafeHandle());
    SIZE measured = {};
    GetTextExtentPoint32W(screen, text, (int)wcslen(text), &measured);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    ASSERT_GT(measured.cx, 60);

    WorkerBox box(MB_ICONINFORMATION, FALSE, text, 0);
    HWND h = box.WaitForBox();
    ASSERT_NE(nullptr, h);
    RECT r;
    ::GetWindowRect(h, &r);
    MemSurface shot(r.right - r.left, r.bottom - r.top, RGB(255, 0, 255));
    CaptureScreenOf(h, shot);
    ::PostMessageW(h, WM_COMMAND, MAKEWPARAM(103, BN_CLICKED), (LPARAM)box.Item(103));
    // The message's area: from x 86, between the caption band and the buttons.
    int rightmost = -1;
    for (int y = 60; y < shot.h - 60; ++y)
        for (int x = 86; x < shot.w - 10; ++x) {
            COLORREF c = shot.At(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 300 && x > rightmost) rightmost = x;
        }
    ASSERT_GT(rightmost, 86) << "no text drawn";
    // Every '&' drawn: the text reaches (about) its measured width, not half of it.
    EXPECT_GE(rightmost - 86, measured.cx * 4 / 5) << "measured " << measured.cx;
    EXPECT_TRUE(box.Finish(60000));
}

}  // namespace
