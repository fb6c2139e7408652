#include <gtest/gtest.h>

#include "controls/color_controls.h"
#include "controls_test_support.h"

namespace {

struct ColourFixture : ::testing::Test {
    CHostWnd host;
    void SetUp() override { ASSERT_TRUE(host.CreateHost()); }
    void TearDown() override { host.DestroyWindow(); }
};

const COLORREF kNormalBack = RGB(13, 150, 255);
const COLORREF kHoverBack = RGB(5, 135, 229);

// Draws the button as its parent would ask for it, into a memory bitmap.
void DrawButton(CColorButton& b, MemSurface& s, UINT state) {
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.hwndItem = b.m_hWnd;
    dis.itemState = state;
    dis.hDC = s.dc();
    dis.rcItem = CRect(0, 0, s.w, s.h);
    b.DrawItem(&dis);
}

TEST_F(ColourFixture, ColourButtonFills) {
    CColorButton b;
    ASSERT_TRUE(b.Create(L"", WS_CHILD | WS_VISIBLE, CRect(10, 10, 110, 45), &host, 5));
    EXPECT_EQ((DWORD)BS_OWNERDRAW, b.GetStyle() & 0x0F);
    b.SetColors(0xFFFFFF, kNormalBack, 0xFFFFFF, kHoverBack);
    MemSurface s(100, 35);
    DrawButton(b, s, 0);
    EXPECT_TRUE(Near(kNormalBack, s.At(50, 17), 2));
    DrawButton(b, s, ODS_SELECTED);
    EXPECT_TRUE(Near(kNormalBack, s.At(50, 17), 2)) << "a pushed button keeps its fill; only the frame shows it";
    DrawButton(b, s, ODS_DISABLED);
    EXPECT_TRUE(Near(GetSysColor(COLOR_BTNFACE), s.At(50, 17), 2));

    // Hover comes from the position of the mouse message.
    RECT r;
    b.GetWindowRect(&r);
    ASSERT_TRUE(MoveCursorUntil(r.left + 50, r.top + 17, [&] { return b.IsHovering(); }));
    DrawButton(b, s, 0);
    EXPECT_TRUE(Near(kHoverBack, s.At(50, 17), 2));
    EXPECT_TRUE(MoveCursorUntil(r.left + 500, r.top + 400, [&] { return !b.IsHovering(); }));
}

TEST_F(ColourFixture, ColourButtonTextIsCentredAndClippedToTheInnerRectangle) {
    CColorButton b;
    ASSERT_TRUE(b.Create(L"", WS_CHILD | WS_VISIBLE, CRect(10, 10, 70, 40), &host, 6));
    b.SetColors(RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255));
    b.SetFont(10, L"微软雅黑", TRUE, FALSE);
    ASSERT_NE(nullptr, b.GetOwnFont());
    LOGFONTW lf;
    b.GetOwnFont()->GetLogFont(&lf);
    EXPECT_EQ(FW_BOLD, lf.lfWeight);
    EXPECT_EQ(-MulDiv(100, GetDeviceCaps(CClientDC(nullptr), LOGPIXELSY), 720), lf.lfHeight);

    MemSurface empty(60, 30), text(60, 30);
    DrawButton(b, empty, 0);
    b.SetWindowText(L"一段比按钮宽得多的文字一段比按钮宽得多的文字");
    DrawButton(b, text, 0);
    int ex = GetSystemMetrics(SM_CXEDGE), ey = GetSystemMetrics(SM_CYEDGE);
    bool inkInside = false;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 60; ++x) {
            bool inner = x >= ex && x < 60 - ex && y >= ey && y < 30 - ey;
            if (!inner) ASSERT_EQ(empty.At(x, y), text.At(x, y)) << "text outside the inner rectangle at " << x << "," << y;
            else if (text.At(x, y) != empty.At(x, y)) inkInside = true;
        }
    }
    EXPECT_TRUE(inkInside);
}

TEST_F(ColourFixture, RadioButtonsShareTheFirstColouredBrush) {
    HBRUSH before = CMyRadioButton::SharedBrush();
    CMyRadioButton a, b;
    a.m_backColor = RGB(255, 255, 255);
    a.m_textColor = RGB(10, 20, 30);
    b.m_backColor = RGB(0, 0, 255);
    ASSERT_TRUE(a.Create(L"格式一", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | WS_GROUP, CRect(10, 10, 80, 30), &host, 7));
    ASSERT_TRUE(b.Create(L"格式二", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(90, 10, 160, 30), &host, 8));
    MemSurface s(4, 4);
    HBRUSH ba = reinterpret_cast<HBRUSH>(host.SendMessage(WM_CTLCOLORSTATIC, (WPARAM)s.dc(), (LPARAM)a.m_hWnd));
    EXPECT_EQ(TRANSPARENT, GetBkMode(s.dc()));
    EXPECT_EQ(RGB(10, 20, 30), GetTextColor(s.dc()));
    HBRUSH bb = reinterpret_cast<HBRUSH>(host.SendMessage(WM_CTLCOLORSTATIC, (WPARAM)s.dc(), (LPARAM)b.m_hWnd));
    EXPECT_EQ(ba, bb);
    if (!before) EXPECT_EQ(RGB(255, 255, 255), BrushColor(ba));

    LOGFONTW lf = {};
    lf.lfHeight = -12;
    lstrcpyW(lf.lfFaceName, L"微软雅黑");
    a.SetFont(&lf);
    EXPECT_NE(nullptr, a.GetFont());
}

TEST_F(ColourFixture, EditBoxGetsAFreshBrushOfItsColourEachTime) {
    CAdvancedEdit edit;
    ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL, CRect(10, 50, 200, 70), &host, 9));
    EXPECT_TRUE(edit.SetTextColor(0x515151));
    EXPECT_TRUE(edit.SetBackColor(0xEEFFEE));
    MemSurface s(4, 4);
    for (UINT msg : {WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC}) {
        HBRUSH first = reinterpret_cast<HBRUSH>(host.SendMessage(msg, (WPARAM)s.dc(), (LPARAM)edit.m_hWnd));
        EXPECT_EQ(0xEEFFEEu, BrushColor(first));
        EXPECT_EQ(0x515151u, GetTextColor(s.dc()));
        EXPECT_EQ(TRANSPARENT, GetBkMode(s.dc()));
        HBRUSH second = reinterpret_cast<HBRUSH>(host.SendMessage(msg, (WPARAM)s.dc(), (LPARAM)edit.m_hWnd));
        EXPECT_EQ(0xEEFFEEu, BrushColor(second));
        if (first != second) EXPECT_EQ(CLR_INVALID, BrushColor(first)) << "the previous brush is deleted";
    }
}

}  // namespace
