#include "winlib/gdi.h"

#include <unordered_map>

#include "winlib/window.h"

// ---------------------------------------------------------------- CGdiObject

BOOL CGdiObject::Attach(HGDIOBJ h) {
    if (!h) return FALSE;
    DeleteObject();
    m_hObject = h;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL CGdiObject::CreateStockObject(int index) {
    DeleteObject();
    m_hObject = ::GetStockObject(index);
    return m_hObject != nullptr;
}

// --------------------------------------------------------------------- CFont

BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic,
                       BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision,
                       BYTE quality, BYTE pitchAndFamily, LPCWSTR face) {
    return Attach(::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                                outPrecision, clipPrecision, quality, pitchAndFamily, face));
}

BOOL CFont::CreatePointFont(int nPointSize, LPCWSTR face, HDC hDC) {
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = nPointSize;
    if (face) lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return CreatePointFontIndirect(&lf, hDC);
}

BOOL CFont::CreatePointFontIndirect(const LOGFONTW* lf, HDC hDC) {
    HDC dc = hDC ? hDC : ::GetDC(nullptr);
    LOGFONTW copy = *lf;
    // lfHeight holds tenths of a point: convert to logical units of the DC.
    POINT pt = {0, ::MulDiv(::GetDeviceCaps(dc, LOGPIXELSY), copy.lfHeight, 720)};
    ::DPtoLP(dc, &pt, 1);
    POINT origin = {0, 0};
    ::DPtoLP(dc, &origin, 1);
    copy.lfHeight = -abs(pt.y - origin.y);
    if (!hDC) ::ReleaseDC(nullptr, dc);
    return CreateFontIndirect(&copy);
}

// ------------------------------------------------------------------- CBitmap

BOOL CBitmap::CreateDib32(int width, int height, void** bits) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP h = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bits) *bits = pixels;
    return Attach(h);
}

// ----------------------------------------------------------------------- CDC

CDC::~CDC() {
    if (m_owned) DeleteDC();
}

BOOL CDC::Attach(HDC h) {
    if (!h || m_hDC) return FALSE;
    m_hDC = h;
    m_owned = false;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    m_hDC = nullptr;
    m_owned = false;
    return h;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    HDC h = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    if (!h) return FALSE;
    if (m_owned) DeleteDC();
    m_hDC = h;
    m_owned = true;
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    BOOL ok = ::DeleteDC(m_hDC);
    m_hDC = nullptr;
    m_owned = false;
    return ok;
}

void CDC::FillSolidRect(const RECT* r, COLORREF c) {
    COLORREF old = ::SetBkColor(m_hDC, c);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

CDC* CDC::FromHandle(HDC h) {
    if (!h) return nullptr;
    thread_local std::unordered_map<HDC, CDC*>* wrappers = new std::unordered_map<HDC, CDC*>;
    CDC*& dc = (*wrappers)[h];
    if (!dc) {
        dc = new CDC;
        dc->m_hDC = h;
    }
    return dc;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { m_hDC = ::GetDC(m_hWnd); }

CClientDC::~CClientDC() {
    ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}

CWindowDC::CWindowDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { m_hDC = ::GetWindowDC(m_hWnd); }

CWindowDC::~CWindowDC() {
    ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}
