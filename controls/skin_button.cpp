#include "controls/skin_button.h"

#include "core/messages.h"

BEGIN_MESSAGE_MAP(CxSkinButton, CButton)
    ON_WM_LBUTTONDOWN()
    ON_WM_LBUTTONUP()
    ON_WM_MOUSEMOVE()
    ON_WM_LBUTTONDBLCLK()
    ON_WM_KILLFOCUS()
    ON_WM_KEYDOWN()
    ON_WM_MOUSELEAVE()
    ON_MESSAGE(WM_RADIO_UNCHECK, OnRadioUncheck)
    ON_MESSAGE(BM_SETCHECK, OnSetCheck)
    ON_MESSAGE(BM_GETCHECK, OnGetCheck)
END_MESSAGE_MAP()

CxSkinButton::CxSkinButton()
    : m_checked(false),
      m_kind(kPush),
      m_hover(false),
      m_pressed(false),
      m_normal(nullptr),
      m_down(nullptr),
      m_disabled(nullptr),
      m_hoverPicture(nullptr),
      m_hoverBorder(false) {}

CxSkinButton::~CxSkinButton() {
    ReleasePicture(m_normal);
    ReleasePicture(m_down);
    ReleasePicture(m_disabled);
    ReleasePicture(m_hoverPicture);
}

void CxSkinButton::SetSkin(LPCWSTR normal, LPCWSTR down, LPCWSTR hover, LPCWSTR disabled) {
    ReleasePicture(m_normal);
    ReleasePicture(m_down);
    ReleasePicture(m_disabled);
    ReleasePicture(m_hoverPicture);
    m_normal = LoadControlPicture(normal);
    m_down = LoadControlPicture(down);
    if (hover && *hover) m_hoverPicture = LoadControlPicture(hover);
    if (disabled && *disabled) m_disabled = LoadControlPicture(disabled);
}

void CxSkinButton::CreateToolTip() {
    if (m_toolTip.m_hWnd || !m_hWnd) return;
    m_toolTip.Create(this, 0);
    m_toolTip.Activate(FALSE);
    m_toolTip.SetMaxTipWidth(400);
}

bool CxSkinButton::HasTool() const { return m_toolTip.m_hWnd && m_toolTip.GetToolCount() > 0; }

void CxSkinButton::SetToolTipText(LPCWSTR text) {
    if (!text) return;
    CreateToolTip();
    if (!m_toolTip.m_hWnd) return;
    if (!HasTool()) {
        CRect rc;
        GetClientRect(&rc);
        m_toolTip.AddTool(this, text, &rc, 1);
    }
    m_toolTip.UpdateTipText(text, this, 1);
    m_toolTip.Activate(TRUE);
}

BOOL CxSkinButton::PreTranslateMessage(MSG* pMsg) {
    CreateToolTip();
    if (m_toolTip.m_hWnd) m_toolTip.RelayEvent(pMsg);
    return CButton::PreTranslateMessage(pMsg);
}

void CxSkinButton::PreSubclassWindow() {
    DWORD style = GetStyle() & 0xFFFF;
    if ((style & 3) == 3) {
        m_kind = kCheck;
        m_hoverBorder = true;
    } else if ((style & 9) == 9) {
        m_kind = kRadio;
        m_hoverBorder = true;
    } else {
        m_kind = kPush;
        m_hoverBorder = false;
    }
    ModifyStyle(0, BS_OWNERDRAW);
}

// The rectangle decides whether a point is over the button, not the window
// under the point: the button's own tooltip (or any other window) may cover it.
bool CxSkinButton::ClientContains(POINT clientPoint) const {
    CRect rc;
    GetClientRect(&rc);
    return rc.PtInRect(clientPoint);
}

void CxSkinButton::DrawItem(LPDRAWITEMSTRUCT dis) {
    if (m_pressed && ::GetCapture() == m_hWnd) {
        POINT pt;
        if (::GetCursorPos(&pt)) {
            ::ScreenToClient(m_hWnd, &pt);
            bool inside = ClientContains(pt);
            bool pushed = (GetState() & BST_PUSHED) != 0;
            if (inside && !pushed) {
                SetState(TRUE);
                return;
            }
            if (!inside && pushed) {
                SetState(FALSE);
                return;
            }
        }
    }
    bool tool = HasTool();
    if (tool) m_toolTip.Activate(FALSE);

    CRect rc(dis->rcItem);
    HDC hdc = dis->hDC;
    ::FillRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNHIGHLIGHT));

    bool border = false;
    if (m_hoverBorder && m_hover && !m_hoverPicture) {
        HPEN pen = ::CreatePen(PS_DOT, 1, RGB(0, 0, 0));
        HGDIOBJ oldPen = ::SelectObject(hdc, pen);
        HGDIOBJ oldBrush = ::SelectObject(hdc, ::GetSysColorBrush(COLOR_BTNHIGHLIGHT));
        ::RoundRect(hdc, rc.left, rc.top, rc.right, rc.bottom, 5, 5);
        ::SelectObject(hdc, oldBrush);
        ::SelectObject(hdc, oldPen);
        ::DeleteObject(pen);
        rc.DeflateRect(1, 1);
        border = true;
    }

    Gdiplus::Image* picture;
    if (dis->itemState & ODS_DISABLED) {
        picture = m_disabled ? m_disabled : (m_checked ? m_down : m_normal);
    } else if ((dis->itemState & ODS_SELECTED) || m_checked) {
        picture = m_down;
    } else if (m_hover) {
        picture = m_hoverPicture ? m_hoverPicture : (m_kind == kPush ? m_down : m_normal);
    } else {
        picture = m_normal;
    }
    CRect client(dis->rcItem);
    if (border) DrawSkinPicture(hdc, picture, client.left + 1, client.top + 1, client.Width() - 2, client.Height() - 2);
    else DrawSkinPicture(hdc, picture, client.left, client.top, client.Width(), client.Height());

    if (tool) m_toolTip.Activate(TRUE);
}

void CxSkinButton::OnMouseMove(UINT nFlags, CPoint point) {
    if (m_pressed && ::GetCapture() == m_hWnd) {
        bool inside = ClientContains(point);
        bool pushed = (GetState() & BST_PUSHED) != 0;
        if (inside != pushed) {
            SetState(inside ? TRUE : FALSE);
            Invalidate();
        }
    } else if (!m_hover) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        if (_TrackMouseEvent(&tme)) {
            m_hover = true;
            Invalidate();
        }
    }
    CButton::OnMouseMove(nFlags, point);
}

void CxSkinButton::OnMouseLeave() {
    m_hover = false;
    Invalidate();
}

void CxSkinButton::OnLButtonDown(UINT nFlags, CPoint point) {
    if (m_hover) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_CANCEL | TME_LEAVE, m_hWnd, 0};
        if (_TrackMouseEvent(&tme)) m_hover = false;
    }
    CButton::OnLButtonDown(nFlags, point);
    m_pressed = true;
}

void CxSkinButton::ApplyClick() {
    if (m_kind == kCheck) SendMessage(BM_SETCHECK, m_checked ? 0 : 1);
    else if (m_kind == kRadio) SendMessage(BM_SETCHECK, 1);
}

void CxSkinButton::OnLButtonUp(UINT nFlags, CPoint point) {
    if ((m_kind == kCheck || m_kind == kRadio) && ClientContains(point)) ApplyClick();
    m_pressed = false;
    CButton::OnLButtonUp(nFlags, point);
}

void CxSkinButton::OnLButtonDblClk(UINT nFlags, CPoint point) {
    SendMessage(WM_LBUTTONDOWN, nFlags, MAKELPARAM(point.x, point.y));
}

void CxSkinButton::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
    if ((m_kind == kCheck || m_kind == kRadio) && nChar == VK_SPACE) ApplyClick();
    CButton::OnKeyDown(nChar, nRepCnt, nFlags);
}

void CxSkinButton::OnKillFocus(CWnd* pNewWnd) {
    if (::GetCapture() == m_hWnd) {
        ::ReleaseCapture();
        m_pressed = false;
    }
    CButton::OnKillFocus(pNewWnd);
}

LRESULT CxSkinButton::OnRadioUncheck(WPARAM, LPARAM) {
    if (m_checked) {
        m_checked = false;
        Invalidate();
    }
    return 0;
}

LRESULT CxSkinButton::OnSetCheck(WPARAM wParam, LPARAM) {
    m_checked = m_kind != kPush && wParam != 0;
    if (m_kind == kRadio && m_checked) {
        // Post to every other item of the group. GetNextDlgGroupItem skips
        // hidden and disabled items, so a hidden or disabled start is never
        // met again: the walk also ends when it comes back to its first find.
        HWND parent = ::GetParent(m_hWnd);
        HWND first = nullptr;
        for (HWND h = ::GetNextDlgGroupItem(parent, m_hWnd, FALSE); h && h != m_hWnd;
             h = ::GetNextDlgGroupItem(parent, h, FALSE)) {
            if (!first) first = h;
            else if (h == first) break;
            ::PostMessageW(h, WM_RADIO_UNCHECK, 0, 0);
        }
    }
    Invalidate();
    return 0;
}

LRESULT CxSkinButton::OnGetCheck(WPARAM, LPARAM) { return m_checked ? 1 : 0; }
