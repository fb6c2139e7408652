#include "controls/color_controls.h"

// ------------------------------------------------------------- CColorButton

BEGIN_MESSAGE_MAP(CColorButton, CButton)
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

CColorButton::CColorButton()
    : m_tracking(false),
      m_normalText(0xFFFFFF),
      m_normalBack(::GetSysColor(COLOR_BTNFACE)),
      m_disabledText(::GetSysColor(COLOR_GRAYTEXT)),
      m_disabledBack(::GetSysColor(COLOR_BTNFACE)),
      m_hoverText(0x000000),
      m_hoverBack(::GetSysColor(COLOR_BTNFACE)),
      m_hover(false),
      m_normalBrush(nullptr),
      m_hoverBrush(nullptr),
      m_disabledBrush(nullptr),
      m_normalFill(nullptr),
      m_hoverFill(nullptr),
      m_disabledFill(nullptr),
      m_font(nullptr) {
    SetDisabledColors(::GetSysColor(COLOR_GRAYTEXT), ::GetSysColor(COLOR_BTNFACE));
    SetColors(0xFFFFFF, ::GetSysColor(COLOR_BTNFACE), 0x000000, ::GetSysColor(COLOR_BTNFACE));
}

CColorButton::~CColorButton() {
    delete m_normalBrush;
    delete m_hoverBrush;
    delete m_disabledBrush;
    delete m_normalFill;
    delete m_hoverFill;
    delete m_disabledFill;
    delete m_font;
}

static void RemakeBrushes(CBrush*& brush, Gdiplus::SolidBrush*& fill, COLORREF color) {
    delete brush;
    brush = new CBrush(color);
    delete fill;
    fill = new Gdiplus::SolidBrush(OpaqueColor(color));
}

void CColorButton::SetColors(COLORREF normalText, COLORREF normalBack, COLORREF hoverText, COLORREF hoverBack) {
    m_normalText = normalText;
    m_normalBack = normalBack;
    m_hoverText = hoverText;
    m_hoverBack = hoverBack;
    RemakeBrushes(m_normalBrush, m_normalFill, normalBack);
    RemakeBrushes(m_hoverBrush, m_hoverFill, hoverBack);
}

void CColorButton::SetDisabledColors(COLORREF text, COLORREF back) {
    m_disabledText = text;
    m_disabledBack = back;
    RemakeBrushes(m_disabledBrush, m_disabledFill, back);
}

void CColorButton::SetFont(int points, LPCWSTR face, BOOL bold, BOOL italic) {
    CFont point;
    if (!point.CreatePointFont(points * 10, face)) return;
    LOGFONTW lf;
    point.GetLogFont(&lf);
    if (bold) lf.lfWeight = FW_BOLD;
    if (italic) lf.lfItalic = TRUE;
    if (!m_font) m_font = new CFont;
    m_font->DeleteObject();
    m_font->CreateFontIndirect(&lf);
}

void CColorButton::PreSubclassWindow() { ModifyStyle(0, BS_OWNERDRAW); }

void CColorButton::DrawItem(LPDRAWITEMSTRUCT dis) {
    HDC hdc = dis->hDC;
    CRect rc(dis->rcItem);
    bool disabled = (dis->itemState & ODS_DISABLED) != 0;
    bool selected = (dis->itemState & ODS_SELECTED) != 0;
    UINT frame = DFCS_BUTTONPUSH | DFCS_FLAT;
    if (disabled) frame |= DFCS_INACTIVE;
    else if (selected) frame |= DFCS_PUSHED;
    ::DrawFrameControl(hdc, &rc, DFC_BUTTON, frame);

    CRect inner(rc);
    inner.left += ::GetSystemMetrics(SM_CXEDGE);
    inner.right -= ::GetSystemMetrics(SM_CXEDGE);
    inner.top += ::GetSystemMetrics(SM_CYEDGE);
    inner.bottom -= ::GetSystemMetrics(SM_CYEDGE);

    Gdiplus::SolidBrush* fill = (disabled && !selected) ? m_disabledFill : (m_hover ? m_hoverFill : m_normalFill);
    {
        Gdiplus::Graphics g(hdc);
        g.FillRectangle(fill, inner.left, inner.top, inner.Width(), inner.Height());
    }

    CString text;
    GetWindowText(text);
    if (text.IsEmpty()) return;
    HGDIOBJ oldFont = m_font ? ::SelectObject(hdc, *m_font) : nullptr;
    COLORREF color = disabled ? m_disabledText : (m_hover ? m_hoverText : m_normalText);
    COLORREF oldColor = ::SetTextColor(hdc, color);
    CRect measured(0, 0, inner.Width(), inner.Height());
    ::DrawTextW(hdc, text, text.GetLength(), &measured, DT_CALCRECT | DT_CENTER);
    CRect place;
    place.left = inner.left + (inner.Width() - measured.Width()) / 2;
    place.top = inner.top + (inner.Height() - measured.Height()) / 2;
    place.right = place.left + measured.Width();
    place.bottom = place.top + measured.Height();
    CRect clipped;
    clipped.IntersectRect(&place, &inner);
    int oldMode = ::SetBkMode(hdc, TRANSPARENT);
    ::DrawTextW(hdc, text, text.GetLength(), &clipped, DT_CENTER);
    ::SetBkMode(hdc, oldMode);
    ::SetTextColor(hdc, oldColor);
    if (m_font) ::SelectObject(hdc, oldFont);
}

bool CColorButton::MessagePointInside() const {
    DWORD pos = ::GetMessagePos();
    POINT pt = {(short)LOWORD(pos), (short)HIWORD(pos)};
    ::ScreenToClient(m_hWnd, &pt);
    CRect rc;
    GetClientRect(&rc);
    return rc.PtInRect(pt);
}

void CColorButton::OnMouseMove(UINT nFlags, CPoint point) {
    bool inside = MessagePointInside();
    if (inside != m_hover) {
        m_hover = inside;
        Invalidate();
        if (!m_tracking) {
            TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
            if (_TrackMouseEvent(&tme)) {
                m_tracking = true;
                Invalidate();
            }
        }
    }
    CButton::OnMouseMove(nFlags, point);
}

void CColorButton::OnMouseLeave() {
    m_tracking = false;
    bool inside = MessagePointInside();
    if (inside != m_hover) {
        m_hover = inside;
        Invalidate();
    }
    CButton::OnMouseLeave();
}

// ----------------------------------------------------------- CMyRadioButton

namespace {
HBRUSH g_radioBrush = nullptr;  // created once, never deleted: every radio button shares it
}

BEGIN_MESSAGE_MAP(CMyRadioButton, CButton)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

CMyRadioButton::CMyRadioButton()
    : m_textColor(::GetSysColor(COLOR_WINDOWTEXT)), m_backColor(::GetSysColor(COLOR_BTNFACE)), m_font(nullptr) {}

CMyRadioButton::~CMyRadioButton() { delete m_font; }

HBRUSH CMyRadioButton::SharedBrush() { return g_radioBrush; }

void CMyRadioButton::SetFont(const LOGFONTW* lf) {
    if (!m_font) m_font = new CFont;
    m_font->DeleteObject();
    if (!m_font->CreateFontIndirect(lf)) {
        delete m_font;
        m_font = nullptr;
    }
    if (m_hWnd) {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_font ? (HFONT)*m_font : nullptr), TRUE);
        Invalidate();
    }
}

HBRUSH CMyRadioButton::CtlColor(CDC* pDC, UINT) {
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(m_textColor);
    if (!g_radioBrush) g_radioBrush = ::CreateSolidBrush(m_backColor);
    return g_radioBrush;
}

// ------------------------------------------------------------ CAdvancedEdit

BEGIN_MESSAGE_MAP(CAdvancedEdit, CEdit)
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_SETFOCUS()
END_MESSAGE_MAP()

CAdvancedEdit::CAdvancedEdit() : m_backColor(0xFFFFFF), m_textColor(::GetSysColor(COLOR_WINDOWTEXT)) {}

BOOL CAdvancedEdit::SetTextColor(COLORREF color) {
    m_textColor = color;
    if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return TRUE;
}

BOOL CAdvancedEdit::SetBackColor(COLORREF color) {
    m_backColor = color;
    if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return TRUE;
}

HBRUSH CAdvancedEdit::CtlColor(CDC* pDC, UINT) {
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(m_textColor);
    m_brush.DeleteObject();
    m_brush.CreateSolidBrush(m_backColor);
    return m_brush;
}
