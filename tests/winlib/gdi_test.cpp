#include <gtest/gtest.h>

#include "winlib/winlib.h"

namespace {

TEST(CFont, PointFontsUseTheStockLibrarysHeight) {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    for (int tenths : {80, 90, 100, 120, 105}) {
        CFont font;
        ASSERT_TRUE(font.CreatePointFont(tenths, L"微软雅黑"));
        LOGFONTW lf;
        font.GetLogFont(&lf);
        EXPECT_EQ(-MulDiv(dpi, tenths, 720), lf.lfHeight) << tenths;
        EXPECT_STREQ(L"微软雅黑", lf.lfFaceName);
    }
    if (dpi == 96) {
        CFont ten;
        ten.CreatePointFont(100, L"Arial");
        LOGFONTW lf;
        ten.GetLogFont(&lf);
        EXPECT_EQ(-13, lf.lfHeight);  // 10 points at 96 dpi
    }
    LOGFONTW in = {};
    in.lfHeight = 120;
    in.lfWeight = FW_BOLD;
    CFont indirect;
    ASSERT_TRUE(indirect.CreatePointFontIndirect(&in));
    LOGFONTW out;
    indirect.GetLogFont(&out);
    EXPECT_EQ(-MulDiv(dpi, 120, 720), out.lfHeight);
    EXPECT_EQ(FW_BOLD, out.lfWeight);
}

TEST(CGdiObject, OwnsItsHandleUntilDetached) {
    HBRUSH kept;
    {
        CBrush brush(RGB(1, 2, 3));
        ASSERT_NE(nullptr, brush.m_hObject);
        LOGBRUSH lb;
        brush.GetObject(sizeof(lb), &lb);
        EXPECT_EQ(RGB(1, 2, 3), lb.lbColor);
        kept = static_cast<HBRUSH>(brush.Detach());
    }
    LOGBRUSH lb;
    EXPECT_NE(0, GetObjectW(kept, sizeof(lb), &lb)) << "a detached handle survives the object";
    HBRUSH deleted;
    {
        CBrush brush(RGB(4, 5, 6));
        deleted = brush;
    }
    EXPECT_EQ(0, GetObjectW(deleted, sizeof(lb), &lb)) << "the object deletes its own handle";
    DeleteObject(kept);
}

TEST(CRect, Geometry) {
    CRect r(10, 20, 110, 70);
    EXPECT_EQ(100, r.Width());
    EXPECT_EQ(50, r.Height());
    EXPECT_TRUE(r.PtInRect(CPoint(10, 20)));
    EXPECT_FALSE(r.PtInRect(CPoint(110, 70)));
    r.DeflateRect(1, 2);
    EXPECT_EQ(CRect(11, 22, 109, 68), r);
    CPoint p(MAKELPARAM((WORD)(short)-5, 7));
    EXPECT_EQ(-5, p.x);
    EXPECT_EQ(7, p.y);
}

TEST(CDC, MemoryDrawing) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bmp;
    ASSERT_TRUE(bmp.CreateDib32(20, 10));
    HGDIOBJ old = dc.SelectObject(&bmp);
    COLORREF back = dc.GetBkColor();
    dc.FillSolidRect(0, 0, 20, 10, RGB(0, 0, 255));
    dc.FillSolidRect(CRect(5, 0, 10, 10), RGB(255, 0, 0));
    EXPECT_EQ(RGB(0, 0, 255), dc.GetPixel(1, 1));
    EXPECT_EQ(RGB(255, 0, 0), dc.GetPixel(6, 1));
    EXPECT_EQ(back, dc.GetBkColor()) << "FillSolidRect restores the background colour";
    dc.SetWindowOrg(5, 0);
    RECT clip;
    dc.GetClipBox(&clip);
    EXPECT_EQ(5, clip.left);
    dc.SelectObject(old);
}

// A parent that colours and draws its children, and children that answer the
// reflected messages themselves.
class ColourChild : public CStatic {
public:
    HBRUSH m_answer = nullptr;
    UINT m_lastType = 99;
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor) {
        m_lastType = nCtlColor;
        pDC->SetTextColor(RGB(9, 8, 7));
        return m_answer;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ColourChild, CStatic)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class DrawnButton : public CButton {
public:
    int m_draws = 0;
    void DrawItem(LPDRAWITEMSTRUCT) override { ++m_draws; }
};

class Parent : public CWnd {
public:
    HBRUSH m_brush = reinterpret_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    UINT m_parentType = 99;
    int m_erases = 0;
    CPoint m_down;
    short m_wheel = 0;
    UINT m_key = 0;
    UINT m_scrollCode = 99;
    CWnd* m_focusFrom = reinterpret_cast<CWnd*>(1);
    BOOL m_cursorAnswer = FALSE;

protected:
    HBRUSH OnCtlColor(CDC*, CWnd*, UINT nCtlColor) {
        m_parentType = nCtlColor;
        return m_brush;
    }
    BOOL OnEraseBkgnd(CDC*) {
        ++m_erases;
        return 77;
    }
    void OnLButtonDown(UINT, CPoint point) { m_down = point; }
    BOOL OnMouseWheel(UINT, short zDelta, CPoint) {
        m_wheel = zDelta;
        return TRUE;
    }
    void OnKeyDown(UINT nChar, UINT, UINT) { m_key = nChar; }
    void OnVScroll(UINT nSBCode, UINT, CScrollBar*) { m_scrollCode = nSBCode; }
    void OnSetFocus(CWnd* pOld) { m_focusFrom = pOld; }
    BOOL OnSetCursor(CWnd*, UINT nHitTest, UINT) { return nHitTest == HTCLIENT; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Parent, CWnd)
    ON_WM_CTLCOLOR()
    ON_WM_ERASEBKGND()
    ON_WM_LBUTTONDOWN()
    ON_WM_MOUSEWHEEL()
    ON_WM_KEYDOWN()
    ON_WM_VSCROLL()
    ON_WM_SETFOCUS()
    ON_WM_SETCURSOR()
END_MESSAGE_MAP()

TEST(MessageMaps, GdiAndInputHandlers) {
    Parent parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, L"p", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr));
    ColourChild child;
    ASSERT_TRUE(child.Create(L"c", WS_CHILD | WS_VISIBLE, CRect(0, 0, 50, 20), &parent, 5));
    DrawnButton button;
    ASSERT_TRUE(button.Create(L"b", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(60, 0, 100, 20), &parent, 6));

    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    // The child gives no brush: the parent's handler decides.
    LRESULT r = parent.SendMessage(WM_CTLCOLORSTATIC, (WPARAM)dc.m_hDC, (LPARAM)child.m_hWnd);
    EXPECT_EQ((LRESULT)parent.m_brush, r);
    EXPECT_EQ((UINT)CTLCOLOR_STATIC, child.m_lastType);
    EXPECT_EQ((UINT)CTLCOLOR_STATIC, parent.m_parentType);
    // The child's brush wins and the parent never sees the message.
    child.m_answer = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    parent.m_parentType = 99;
    r = parent.SendMessage(WM_CTLCOLOREDIT, (WPARAM)dc.m_hDC, (LPARAM)child.m_hWnd);
    EXPECT_EQ((LRESULT)child.m_answer, r);
    EXPECT_EQ((UINT)CTLCOLOR_EDIT, child.m_lastType);
    EXPECT_EQ(99u, parent.m_parentType);
    EXPECT_EQ(RGB(9, 8, 7), dc.GetTextColor());

    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = 6;
    dis.hwndItem = button.m_hWnd;
    dis.hDC = dc.m_hDC;
    EXPECT_EQ(TRUE, parent.SendMessage(WM_DRAWITEM, 6, (LPARAM)&dis));
    EXPECT_EQ(1, button.m_draws);

    EXPECT_EQ(77, parent.SendMessage(WM_ERASEBKGND, (WPARAM)dc.m_hDC));
    parent.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM((WORD)(short)-3, 40));
    EXPECT_EQ(CPoint(-3, 40), parent.m_down);
    EXPECT_EQ(TRUE, parent.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-240), MAKELPARAM(5, 5)));
    EXPECT_EQ(-240, parent.m_wheel);
    parent.SendMessage(WM_KEYDOWN, VK_SPACE, 1);
    EXPECT_EQ((UINT)VK_SPACE, parent.m_key);
    parent.SendMessage(WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ((UINT)SB_PAGEDOWN, parent.m_scrollCode);
    parent.SendMessage(WM_SETFOCUS, (WPARAM)child.m_hWnd);
    EXPECT_EQ(&child, parent.m_focusFrom);
    EXPECT_EQ(TRUE, parent.SendMessage(WM_SETCURSOR, (WPARAM)parent.m_hWnd, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(FALSE, parent.SendMessage(WM_SETCURSOR, (WPARAM)parent.m_hWnd, MAKELPARAM(HTCAPTION, WM_MOUSEMOVE)));
    parent.DestroyWindow();
}

TEST(CWnd, ScrollLimitAndRegisteredClassCursor) {
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, AfxRegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW)), L"s",
                             WS_POPUP | WS_VSCROLL, 0, 0, 100, 100, nullptr, nullptr));
    SCROLLINFO si = {};
    si.fMask = SIF_RANGE | SIF_PAGE;
    si.nMax = 500;
    si.nPage = 100;
    wnd.SetScrollInfo(SB_VERT, &si);
    EXPECT_EQ(401, wnd.GetScrollLimit(SB_VERT));
    si.nMax = 50;
    wnd.SetScrollInfo(SB_VERT, &si);
    EXPECT_EQ(0, wnd.GetScrollLimit(SB_VERT));
    EXPECT_EQ((ULONG_PTR)LoadCursorW(nullptr, IDC_ARROW), GetClassLongPtrW(wnd.m_hWnd, GCLP_HCURSOR));
    wnd.DestroyWindow();
}

TEST(CDialog, ADialogThatOnlyResizesItselfIsStillCentred) {
    class Resizing : public CDialogEx {
    public:
        Resizing(CWnd* owner) : CDialogEx(999u, owner) {}
        CRect m_rect;
        BOOL OnInitDialog() override {
            SetWindowPos(nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
            PostMessage(WM_COMMAND, IDOK);
            return TRUE;
        }
        void OnOK() override {
            GetWindowRect(&m_rect);
            CDialogEx::OnOK();
        }
    };
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"o", WS_POPUP | WS_VISIBLE, 100, 100, 600, 400, nullptr, nullptr));
    Resizing dlg(&owner);
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ(CPoint(400, 300), dlg.m_rect.CenterPoint());
    owner.DestroyWindow();
}

TEST(CToolTipCtrl, ToolsAndTexts) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"t", WS_POPUP, 0, 0, 100, 50, nullptr, nullptr));
    CToolTipCtrl tip;
    ASSERT_TRUE(tip.Create(&wnd));
    EXPECT_EQ(0, tip.GetToolCount());
    CRect area(1, 2, 30, 40);
    ASSERT_TRUE(tip.AddTool(&wnd, L"甲", &area, 1));
    tip.UpdateTipText(L"乙", &wnd, 1);
    CString text;
    RECT got;
    ASSERT_TRUE(tip.GetToolInfo(&wnd, 1, &text, &got));
    EXPECT_STREQ(L"乙", text);
    EXPECT_EQ(area, CRect(got));
    EXPECT_FALSE(tip.GetToolInfo(&wnd, 2, &text, &got));
    wnd.DestroyWindow();
}

TEST(CListBox, TextsOfItems) {
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"l", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr));
    CListBox list;
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LBS_HASSTRINGS, CRect(0, 0, 90, 90), &wnd, 3));
    list.AddString(L"\\\\?\\usbstor#disk");
    list.AddString(L"第二");
    EXPECT_EQ(2, list.GetCount());
    CString t;
    list.GetText(1, t);
    EXPECT_STREQ(L"第二", t);
    list.GetText(5, t);
    EXPECT_TRUE(t.IsEmpty());
    wnd.DestroyWindow();
}

}  // namespace
