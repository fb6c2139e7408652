#include <gtest/gtest.h>

#include "controls/skin_button.h"
#include "controls_test_support.h"
#include "core/messages.h"

namespace {

const COLORREF kNormal = RGB(200, 0, 0);
const COLORREF kDown = RGB(0, 160, 0);
const COLORREF kHover = RGB(0, 0, 200);
const COLORREF kDisabled = RGB(90, 90, 90);

struct ButtonFixture : ::testing::Test {
    TestPictures pictures;
    CHostWnd host;
    void SetUp() override {
        pictures.Add(L"n", kNormal);
        pictures.Add(L"d", kDown);
        pictures.Add(L"h", kHover);
        pictures.Add(L"x", kDisabled);
        ASSERT_TRUE(host.CreateHost());
    }
    void TearDown() override { host.DestroyWindow(); }
    void Make(CxSkinButton& b, DWORD type, UINT id, int x = 10, int y = 10, DWORD extra = 0) {
        ASSERT_TRUE(b.Create(L"b", WS_CHILD | WS_VISIBLE | type | extra, CRect(x, y, x + 60, y + 30), &host, id));
    }
    static void Click(CxSkinButton& b, CPoint down, CPoint up) {
        b.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(down.x, down.y));
        b.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
    }
};

TEST_F(ButtonFixture, KindComesFromTheStyleAndTheButtonBecomesOwnerDrawn) {
    CxSkinButton push, check, radio;
    Make(push, BS_PUSHBUTTON, 1);
    Make(check, BS_AUTOCHECKBOX, 2, 80);
    Make(radio, BS_AUTORADIOBUTTON, 3, 150);
    EXPECT_EQ(CxSkinButton::kPush, push.GetKind());
    EXPECT_EQ(CxSkinButton::kCheck, check.GetKind());
    EXPECT_EQ(CxSkinButton::kRadio, radio.GetKind());
    for (CxSkinButton* b : {&push, &check, &radio}) EXPECT_EQ((DWORD)BS_OWNERDRAW, b->GetStyle() & 0x0F);
}

TEST_F(ButtonFixture, CheckTable) {
    struct Case {
        DWORD type;
        WPARAM set;
        LRESULT expected;
    } cases[] = {
        {BS_PUSHBUTTON, 1, 0}, {BS_PUSHBUTTON, 0, 0},      {BS_AUTOCHECKBOX, 2, 1},
        {BS_AUTOCHECKBOX, 1, 1}, {BS_AUTOCHECKBOX, 0, 0}, {BS_AUTORADIOBUTTON, 1, 1},
        {BS_AUTORADIOBUTTON, 0, 0},
    };
    for (const Case& c : cases) {
        CxSkinButton b;
        Make(b, c.type, 7);
        EXPECT_EQ(0, b.SendMessage(BM_SETCHECK, c.set));
        EXPECT_EQ(c.expected, b.SendMessage(BM_GETCHECK)) << "type " << c.type << " set " << c.set;
        b.DestroyWindow();
    }
}

TEST_F(ButtonFixture, CheckingARadioUnchecksOnlyItsOwnGroupOnceThePostsArrive) {
    CxSkinButton r1, r2, r3, other;
    Make(r1, BS_AUTORADIOBUTTON, 11, 10, 10, WS_GROUP);
    Make(r2, BS_AUTORADIOBUTTON, 12, 80);
    Make(r3, BS_AUTORADIOBUTTON, 13, 150);
    Make(other, BS_AUTORADIOBUTTON, 14, 220, 10, WS_GROUP);  // a group of its own
    r2.SendMessage(BM_SETCHECK, 1);
    r3.SendMessage(BM_SETCHECK, 1);
    other.SendMessage(BM_SETCHECK, 1);
    Pump();
    // r3 unchecked r2 when it was checked; start again from r2 and r3 checked.
    r2.SendMessage(BM_SETCHECK, 1);
    Pump();
    ASSERT_EQ(1, r2.SendMessage(BM_GETCHECK));
    ASSERT_EQ(0, r3.SendMessage(BM_GETCHECK));

    r1.SendMessage(BM_SETCHECK, 1);
    EXPECT_EQ(1, r2.SendMessage(BM_GETCHECK)) << "the others clear only when the posted messages are handled";
    Pump();
    EXPECT_EQ(1, r1.SendMessage(BM_GETCHECK));
    EXPECT_EQ(0, r2.SendMessage(BM_GETCHECK));
    EXPECT_EQ(1, other.SendMessage(BM_GETCHECK));

    // Unchecking posts nothing.
    r2.SendMessage(BM_SETCHECK, 1);
    Pump();
    r2.SendMessage(BM_SETCHECK, 0);
    r1.SendMessage(BM_SETCHECK, 1);
    r3.SendMessage(BM_SETCHECK, 0);
    Pump();
    EXPECT_EQ(1, r1.SendMessage(BM_GETCHECK));
}

// Any window of the group hears the uncheck message, whatever its class.
class UncheckRecorder : public CStatic {
public:
    int m_heard = 0;
    LRESULT OnUncheck(WPARAM, LPARAM) {
        ++m_heard;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(UncheckRecorder, CStatic)
    ON_MESSAGE(WM_RADIO_UNCHECK, OnUncheck)
END_MESSAGE_MAP()

TEST_F(ButtonFixture, UncheckReachesEveryItemOfTheGroupAndNoneOutside) {
    CxSkinButton r1, r2;
    UncheckRecorder inside, outside;
    Make(r1, BS_AUTORADIOBUTTON, 15, 10, 10, WS_GROUP);
    ASSERT_TRUE(inside.Create(L"in", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(80, 10, 140, 30), &host, 16));
    Make(r2, BS_AUTORADIOBUTTON, 17, 150);
    ASSERT_TRUE(outside.Create(L"out", WS_CHILD | WS_VISIBLE | WS_GROUP, CRect(220, 10, 280, 30), &host, 18));
    r1.SendMessage(BM_SETCHECK, 1);
    Pump();
    EXPECT_EQ(1, inside.m_heard);
    EXPECT_EQ(0, outside.m_heard);
    r1.SendMessage(BM_SETCHECK, 0);
    Pump();
    EXPECT_EQ(1, inside.m_heard) << "unchecking posts nothing";
}

TEST_F(ButtonFixture, RadioGroupWalkEndsWhenTheCheckedButtonIsHiddenOrDisabled) {
    CxSkinButton r1, r2, r3;
    Make(r1, BS_AUTORADIOBUTTON, 21, 10, 10, WS_GROUP);
    Make(r2, BS_AUTORADIOBUTTON, 22, 80);
    Make(r3, BS_AUTORADIOBUTTON, 23, 150);
    r2.SendMessage(BM_SETCHECK, 1);
    Pump();
    r1.ShowWindow(SW_HIDE);
    r1.SendMessage(BM_SETCHECK, 1);  // must return
    Pump();
    EXPECT_EQ(0, r2.SendMessage(BM_GETCHECK));
    r2.SendMessage(BM_SETCHECK, 1);
    Pump();
    r1.ShowWindow(SW_SHOW);
    r1.EnableWindow(FALSE);
    r1.SendMessage(BM_SETCHECK, 1);
    Pump();
    EXPECT_EQ(0, r2.SendMessage(BM_GETCHECK));
}

TEST_F(ButtonFixture, ClickTogglesACheckBoxBeforeTheParentHearsOfIt) {
    CxSkinButton box;
    Make(box, BS_AUTOCHECKBOX, 31);
    Click(box, CPoint(5, 5), CPoint(6, 6));
    EXPECT_EQ(1, box.SendMessage(BM_GETCHECK));
    ASSERT_EQ(1u, host.m_notes.size());
    EXPECT_EQ((UINT)BN_CLICKED, host.m_notes[0].code);
    EXPECT_EQ(1, host.m_notes[0].checkAtNotify);
    Click(box, CPoint(5, 5), CPoint(6, 6));
    EXPECT_EQ(0, box.SendMessage(BM_GETCHECK));
    EXPECT_FALSE(box.IsPressed());
}

TEST_F(ButtonFixture, ReleaseOutsideChangesNothing) {
    CxSkinButton box;
    Make(box, BS_AUTOCHECKBOX, 32);
    Click(box, CPoint(5, 5), CPoint(-10, 50));
    EXPECT_EQ(0, box.SendMessage(BM_GETCHECK));
    EXPECT_TRUE(host.m_notes.empty());
}

TEST_F(ButtonFixture, ReleaseInsideChecksEvenWhenAnotherWindowCoversThePoint) {
    CxSkinButton radio;
    Make(radio, BS_AUTORADIOBUTTON, 33);
    CWnd cover;
    RECT r;
    radio.GetWindowRect(&r);
    ASSERT_TRUE(cover.CreateEx(WS_EX_TOPMOST, nullptr, L"cover", WS_POPUP | WS_VISIBLE, r.left, r.top, 60, 30,
                               nullptr, nullptr));
    Click(radio, CPoint(10, 10), CPoint(10, 10));
    EXPECT_EQ(1, radio.SendMessage(BM_GETCHECK));
    cover.DestroyWindow();
}

TEST_F(ButtonFixture, SpaceTogglesCheckAndRadioKindsOnly) {
    CxSkinButton box, push;
    Make(box, BS_AUTOCHECKBOX, 41);
    Make(push, BS_PUSHBUTTON, 42, 80);
    box.SendMessage(WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(1, box.SendMessage(BM_GETCHECK));
    box.SendMessage(WM_KEYUP, VK_SPACE, 0);
    box.SendMessage(WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(0, box.SendMessage(BM_GETCHECK));
    box.SendMessage(WM_KEYUP, VK_SPACE, 0);
    push.SendMessage(WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(0, push.SendMessage(BM_GETCHECK));
}

TEST_F(ButtonFixture, DoubleClickActsAsASecondClick) {
    CxSkinButton box;
    Make(box, BS_AUTOCHECKBOX, 43);
    Click(box, CPoint(5, 5), CPoint(5, 5));
    box.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_TRUE(box.IsPressed());
    box.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(0, box.SendMessage(BM_GETCHECK));
    EXPECT_EQ(2u, host.m_notes.size());
}

TEST_F(ButtonFixture, ToolTipKeepsTheFirstRectangleAndChangesOnlyTheText) {
    CxSkinButton b;
    Make(b, BS_PUSHBUTTON, 51);
    b.SetToolTipText(nullptr);
    EXPECT_EQ(nullptr, b.GetToolTip().m_hWnd);
    b.SetToolTipText(L"第一");
    ASSERT_NE(nullptr, b.GetToolTip().m_hWnd);
    EXPECT_EQ(1, b.GetToolTip().GetToolCount());
    b.MoveWindow(10, 10, 90, 40);
    b.SetToolTipText(L"第二");
    CString text;
    RECT rect;
    ASSERT_TRUE(b.GetToolTip().GetToolInfo(&b, 1, &text, &rect));
    EXPECT_STREQ(L"第二", text);
    EXPECT_EQ(CRect(0, 0, 60, 30), CRect(rect));
    EXPECT_EQ(1, b.GetToolTip().GetToolCount());
}

TEST_F(ButtonFixture, PreTranslateMessageCreatesAnInactiveToolTipWithoutTools) {
    CxSkinButton b;
    Make(b, BS_PUSHBUTTON, 52);
    MSG msg = {b.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3), 0, {0, 0}};
    EXPECT_FALSE(b.PreTranslateMessage(&msg));
    ASSERT_NE(nullptr, b.GetToolTip().m_hWnd);
    EXPECT_EQ(0, b.GetToolTip().GetToolCount());
}

TEST_F(ButtonFixture, HoverFollowsTheCursor) {
    CxSkinButton b;
    Make(b, BS_PUSHBUTTON, 53);
    RECT r;
    b.GetWindowRect(&r);
    EXPECT_TRUE(MoveCursorUntil(r.left + 20, r.top + 10, [&] { return b.IsHovering(); }));
    EXPECT_TRUE(MoveCursorUntil(r.left + 400, r.top + 300, [&] { return !b.IsHovering(); }));
}

// Which picture DrawItem shows: drawn into a memory bitmap with solid pictures.
struct DrawCase {
    const char* what;
    DWORD type;
    bool hoverPicture;
    bool disabledPicture;
    bool checked;
    bool hovering;
    UINT itemState;
    COLORREF expected;
    bool border;  // the dotted hover border, with the picture inset by 1
};

class ButtonDrawing : public ButtonFixture, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(ButtonDrawing, ChoosesThePicture) {
    const DrawCase& c = GetParam();
    CxSkinButton b;
    Make(b, c.type, 61);
    b.SetSkin(L"n", L"d", c.hoverPicture ? L"h" : L"", c.disabledPicture ? L"x" : L"");
    if (c.checked) b.SendMessage(BM_SETCHECK, 1);
    if (c.hovering) {
        b.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        ASSERT_TRUE(b.IsHovering());
    }
    MemSurface s(60, 30, RGB(1, 2, 3));
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.hwndItem = b.m_hWnd;
    dis.itemState = c.itemState;
    dis.hDC = s.dc();
    dis.rcItem = CRect(0, 0, 60, 30);
    b.DrawItem(&dis);
    EXPECT_TRUE(Near(c.expected, s.At(30, 15))) << c.what;
    if (c.border) EXPECT_FALSE(Near(c.expected, s.At(0, 15))) << c.what << ": the border column";
    else EXPECT_TRUE(Near(c.expected, s.At(0, 15))) << c.what << ": no border";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ButtonDrawing,
    ::testing::Values(
        DrawCase{"push normal", BS_PUSHBUTTON, true, true, false, false, 0, kNormal, false},
        DrawCase{"push pressed", BS_PUSHBUTTON, true, true, false, false, ODS_SELECTED, kDown, false},
        DrawCase{"push hover", BS_PUSHBUTTON, true, true, false, true, 0, kHover, false},
        DrawCase{"push hover without hover picture shows down", BS_PUSHBUTTON, false, true, false, true, 0, kDown,
                 false},
        DrawCase{"check hover without hover picture: normal inside a border", BS_AUTOCHECKBOX, false, true, false,
                 true, 0, kNormal, true},
        DrawCase{"radio hover with hover picture: no border", BS_AUTORADIOBUTTON, true, true, false, true, 0, kHover,
                 false},
        DrawCase{"checked radio shows down while hovered", BS_AUTORADIOBUTTON, true, true, true, true, 0, kDown,
                 false},
        DrawCase{"disabled picture", BS_AUTOCHECKBOX, true, true, true, false, ODS_DISABLED, kDisabled, false},
        DrawCase{"disabled without picture, checked: down", BS_AUTOCHECKBOX, true, false, true, false, ODS_DISABLED,
                 kDown, false},
        DrawCase{"disabled without picture, unchecked: normal", BS_AUTOCHECKBOX, true, false, false, false,
                 ODS_DISABLED, kNormal, false}));

TEST_F(ButtonFixture, MissingPicturesLeaveTheBackground) {
    CxSkinButton b;
    Make(b, BS_PUSHBUTTON, 62);
    b.SetSkin(L"nothing", L"nothing", L"", L"");
    MemSurface s(60, 30, RGB(1, 2, 3));
    DRAWITEMSTRUCT dis = {};
    dis.hDC = s.dc();
    dis.rcItem = CRect(0, 0, 60, 30);
    b.DrawItem(&dis);
    EXPECT_TRUE(Near(GetSysColor(COLOR_BTNHIGHLIGHT), s.At(30, 15), 0));
}

}  // namespace
