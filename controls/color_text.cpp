#include "controls/color_text.h"

#include <shellapi.h>

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/shell_calls.h"

// Deletes the held font (or creates the object) and makes a new one; a font
// that cannot be made leaves no own font.
static void RemakeFont(CFont*& font, const LOGFONTW* lf, bool points) {
    if (!font) font = new CFont;
    font->DeleteObject();
    BOOL ok = points ? font->CreatePointFontIndirect(lf) : font->CreateFontIndirect(lf);
    if (!ok) {
        delete font;
        font = nullptr;
    }
}

// The solid brushes of the enabled and disabled backgrounds, made anew.
static void RemakeBackBrushes(CBrush& back, COLORREF backColor, CBrush& disabled, COLORREF disabledColor) {
    back.DeleteObject();
    back.CreateSolidBrush(backColor);
    disabled.DeleteObject();
    disabled.CreateSolidBrush(disabledColor);
}

// -------------------------------------------------------- CColorText_Static

BEGIN_MESSAGE_MAP(CColorText_Static, CStatic)
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CColorText_Static::CColorText_Static()
    : m_disabledBackColor(0xC8C8C8), m_backColor(0xFFFFFF), m_textColor(0x000000), m_font(nullptr) {
    SetBackColor(0xFFFFFF);
}

CColorText_Static::~CColorText_Static() { delete m_font; }

void CColorText_Static::SetBackColor(COLORREF color) {
    m_backColor = color;
    RemakeBackBrushes(m_backBrush, m_backColor, m_disabledBrush, m_disabledBackColor);
    if (m_hWnd) Invalidate();
}

void CColorText_Static::SetTextColor(COLORREF color) {
    m_textColor = color;
    if (m_hWnd) Invalidate();
}

void CColorText_Static::SetFont(const LOGFONTW* lf, BOOL bRedraw) {
    RemakeFont(m_font, lf, false);
    if (bRedraw && m_hWnd) Invalidate();
}

HBRUSH CColorText_Static::CtlColor(CDC* pDC, UINT) {
    pDC->SetTextColor(m_textColor);
    if (m_font) pDC->SelectObject(m_font);
    return IsWindowEnabled() ? (HBRUSH)m_backBrush : (HBRUSH)m_disabledBrush;
}

// ---------------------------------------------------------------- CHyperLink

HINSTANCE CLinkOpener::ShellExecute(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, int show) {
    return CurrentShellCalls().Execute(nullptr, verb, file, parameters, nullptr, show);
}

namespace {
CLinkOpener g_realOpener;
CLinkOpener* g_opener = &g_realOpener;
}  // namespace

void CHyperLink::SetOpener(CLinkOpener* opener) { g_opener = opener ? opener : &g_realOpener; }

BEGIN_MESSAGE_MAP(CHyperLink, CStatic)
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
    ON_CONTROL_REFLECT(STN_CLICKED, OnClicked)
    ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

CHyperLink::CHyperLink()
    : m_linkColor(0xEE0000),
      m_hoverColor(0x0000FF),
      m_hover(0),
      m_openMode(0),
      m_font(nullptr),
      m_cursor(::LoadCursorW(nullptr, IDC_HAND)),
      m_opaque(1),
      m_disabledBackColor(0xC8C8C8),
      m_backColor(::GetSysColor(COLOR_BTNFACE)) {
    SetBackColor(::GetSysColor(COLOR_BTNFACE));
}

CHyperLink::~CHyperLink() { delete m_font; }

BOOL CHyperLink::Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    BOOL ok = CStatic::Create(lpszText, dwStyle, rect, pParentWnd, nID);
    if (ok) {
        m_toolTip.Create(this, 0);
        CRect rc;
        GetClientRect(&rc);
        m_toolTip.AddTool(this, m_url, &rc, 1);
    }
    return ok;
}

void CHyperLink::SetLink(LPCWSTR toolTip, LPCWSTR url, int openMode) {
    m_toolTipText = toolTip;
    m_url = url;
    m_openMode = openMode;
    if (m_hWnd && m_toolTip.m_hWnd) m_toolTip.UpdateTipText(m_toolTipText, this, 1);
}

void CHyperLink::SetBackColor(COLORREF color) {
    m_backColor = color;
    RemakeBackBrushes(m_backBrush, m_backColor, m_disabledBrush, m_disabledBackColor);
    m_opaque = 1;
    if (m_hWnd) RedrawTransparent();
}

void CHyperLink::SetTransparent() {
    m_opaque = 0;
    if (m_hWnd) RedrawTransparent();
}

void CHyperLink::SetPointFont(const LOGFONTW* lfPoints, BOOL) { RemakeFont(m_font, lfPoints, true); }

void CHyperLink::SetFont(const LOGFONTW* lf, BOOL bRedraw) {
    RemakeFont(m_font, lf, false);
    if (bRedraw && m_hWnd) RedrawTransparent();
}

void CHyperLink::InvalidateParentArea() {
    HWND parent = ::GetParent(m_hWnd);
    if (!parent) return;
    CRect rc;
    GetWindowRect(&rc);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    ::InvalidateRect(parent, &rc, TRUE);
}

void CHyperLink::RedrawTransparent() {
    if (!m_opaque) InvalidateParentArea();
    Invalidate();
}

LRESULT CHyperLink::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT && !m_opaque && m_hWnd) InvalidateParentArea();
    return CStatic::DefWindowProc(message, wParam, lParam);
}

void CHyperLink::PreSubclassWindow() { ModifyStyle(0, SS_NOTIFY); }

BOOL CHyperLink::PreTranslateMessage(MSG* pMsg) {
    if (m_toolTip.m_hWnd) m_toolTip.RelayEvent(pMsg);
    return CStatic::PreTranslateMessage(pMsg);
}

HBRUSH CHyperLink::CtlColor(CDC* pDC, UINT) {
    pDC->SetTextColor(m_hover ? m_hoverColor : m_linkColor);
    if (m_font) pDC->SelectObject(m_font);
    pDC->SetBkMode(TRANSPARENT);
    if (!m_opaque) return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    return IsWindowEnabled() ? (HBRUSH)m_backBrush : (HBRUSH)m_disabledBrush;
}

BOOL CHyperLink::OnSetCursor(CWnd*, UINT, UINT) {
    if (!m_cursor) return FALSE;
    ::SetCursor(m_cursor);
    return TRUE;
}

void CHyperLink::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_hover) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        if (_TrackMouseEvent(&tme)) {
            m_hover = 1;
            RedrawTransparent();
        }
    }
    CStatic::OnMouseMove(nFlags, point);
}

void CHyperLink::OnMouseLeave() {
    m_hover = 0;
    RedrawTransparent();
    CStatic::OnMouseLeave();
}

void CHyperLink::OnClicked() {
    m_hover = 0;
    if (!m_url.IsEmpty()) GotoURL(m_url);
}

bool CHyperLink::GotoURL(LPCWSTR url) {
    if (m_openMode == 0) {
        // By its full path: the shell would look for a bare name in our own
        // folder first.
        CString browser = WindowsFolderProgramPath(FixedText::kLinkBrowserProgram);
        if (browser.IsEmpty()) return false;
        return reinterpret_cast<INT_PTR>(g_opener->ShellExecute(nullptr, browser, url, SW_SHOW)) > 32;
    }
    // Web links take their targets from the configuration, which arrives over
    // plain HTTP: only a web address is ever opened, never a program path.
    // It opens as the signed-in user: a browser started by this elevated
    // program would run as administrator.
    return OpenWebPage(url);
}

bool OpenWebPage(const CString& target) {
    if (!IsWebAddress(target)) return false;
    if (OpenWebTarget(target)) return true;
    MyMessageBox(MB_ICONWARNING, FALSE,
                 CString(FixedText::kWebPageNotOpened) + FixedText::kMsgBoxLineSeparator + target, 0);
    return false;
}
