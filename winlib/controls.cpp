#include "winlib/controls.h"

// Owner-drawn controls draw themselves when their parent reflects the request.
static BOOL ReflectOwnerDraw(UINT message, LPARAM lParam, void (*draw)(CWnd*, LPARAM), CWnd* self,
                             LRESULT* pResult) {
    (void)message;
    draw(self, lParam);
    *pResult = TRUE;
    return TRUE;
}

BOOL CButton::Create(LPCWSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"BUTTON", lpszCaption, dwStyle, rect, pParentWnd, nID);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_DRAWITEM)
        return ReflectOwnerDraw(message, lParam, [](CWnd* w, LPARAM l) {
            static_cast<CButton*>(w)->DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(l));
        }, this, pResult);
    return CWnd::OnChildNotify(message, wParam, lParam, pResult);
}

BOOL CStatic::Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
}

void CStatic::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CStatic::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_DRAWITEM)
        return ReflectOwnerDraw(message, lParam, [](CWnd* w, LPARAM l) {
            static_cast<CStatic*>(w)->DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(l));
        }, this, pResult);
    return CWnd::OnChildNotify(message, wParam, lParam, pResult);
}

BOOL CEdit::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"EDIT", nullptr, dwStyle, rect, pParentWnd, nID);
}

BOOL CListBox::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"LISTBOX", nullptr, dwStyle, rect, pParentWnd, nID);
}

void CListBox::DrawItem(LPDRAWITEMSTRUCT) {}
void CListBox::MeasureItem(LPMEASUREITEMSTRUCT) {}

void CListBox::GetText(int index, CString& text) const {
    int n = (int)SendMessage(LB_GETTEXTLEN, (WPARAM)index);
    if (n < 0) {
        text.Empty();
        return;
    }
    wchar_t* p = text.GetBuffer(n + 1);
    int got = (int)SendMessage(LB_GETTEXT, (WPARAM)index, reinterpret_cast<LPARAM>(p));
    text.ReleaseBuffer(got > 0 ? got : 0);
}

BOOL CListBox::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_DRAWITEM)
        return ReflectOwnerDraw(message, lParam, [](CWnd* w, LPARAM l) {
            static_cast<CListBox*>(w)->DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(l));
        }, this, pResult);
    if (message == WM_MEASUREITEM)
        return ReflectOwnerDraw(message, lParam, [](CWnd* w, LPARAM l) {
            static_cast<CListBox*>(w)->MeasureItem(reinterpret_cast<LPMEASUREITEMSTRUCT>(l));
        }, this, pResult);
    return CWnd::OnChildNotify(message, wParam, lParam, pResult);
}

BOOL CProgressCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(PROGRESS_CLASSW, nullptr, dwStyle, rect, pParentWnd, nID);
}

// The tool record in the size every comctl32 version accepts (the version 5
// library refuses the larger record of newer headers).
static TOOLINFOW MakeToolInfo(CWnd* pWnd, UINT_PTR id) {
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = pWnd ? pWnd->m_hWnd : nullptr;
    ti.uId = id;
    return ti;
}

BOOL CToolTipCtrl::Create(CWnd* pParentWnd, DWORD dwStyle) {
    HWND owner = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    if (!CreateEx(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | dwStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                  CW_USEDEFAULT, owner, nullptr))
        return FALSE;
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, LPCWSTR text, const RECT* rect, UINT_PTR nIDTool) {
    TOOLINFOW ti = MakeToolInfo(pWnd, nIDTool);
    ti.lpszText = const_cast<LPWSTR>(text ? text : LPSTR_TEXTCALLBACKW);
    if (rect) ti.rect = *rect;
    else if (pWnd) ::GetClientRect(pWnd->m_hWnd, &ti.rect);
    return (BOOL)SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR text, CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti = MakeToolInfo(pWnd, nIDTool);
    ti.lpszText = const_cast<LPWSTR>(text);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

BOOL CToolTipCtrl::GetToolInfo(CWnd* pWnd, UINT_PTR nIDTool, CString* text, RECT* rect) const {
    wchar_t buffer[1024] = {};
    TOOLINFOW ti = MakeToolInfo(pWnd, nIDTool);
    ti.lpszText = buffer;
    if (!SendMessage(TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) return FALSE;
    if (rect) *rect = ti.rect;
    if (text) {
        buffer[0] = 0;
        TOOLINFOW tt = MakeToolInfo(pWnd, nIDTool);
        tt.lpszText = buffer;
        SendMessage(TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tt));
        *text = buffer;
    }
    return TRUE;
}
