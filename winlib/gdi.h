// GDI: points, sizes and rectangles, GDI objects (pens, brushes, fonts,
// bitmaps) and device contexts (CDC, CPaintDC, CClientDC, CWindowDC).
//
// Each class is a thin owner of one GDI handle: the object deletes the handle
// it created when it is destroyed; Attach/Detach hand a handle over without
// deleting it. CDC::SelectObject returns the previously selected object as a
// temporary wrapper that is only valid until the next SelectObject on the
// same DC; callers normally select it back right away.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

class CWnd;

class CPoint : public POINT {
public:
    CPoint() { x = y = 0; }
    CPoint(int ix, int iy) { x = ix; y = iy; }
    CPoint(POINT p) { x = p.x; y = p.y; }
    explicit CPoint(LPARAM lParam) { x = (short)LOWORD(lParam); y = (short)HIWORD(lParam); }
    bool operator==(const POINT& p) const { return x == p.x && y == p.y; }
    bool operator!=(const POINT& p) const { return !(*this == p); }
    void Offset(int dx, int dy) { x += dx; y += dy; }
};

class CSize : public SIZE {
public:
    CSize() { cx = cy = 0; }
    CSize(int w, int h) { cx = w; cy = h; }
    CSize(SIZE s) { cx = s.cx; cy = s.cy; }
    bool operator==(const SIZE& s) const { return cx == s.cx && cy == s.cy; }
};

class CRect : public RECT {
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) { left = r.left; top = r.top; right = r.right; bottom = r.bottom; }
    CRect(POINT p, SIZE s) { left = p.x; top = p.y; right = p.x + s.cx; bottom = p.y + s.cy; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    bool IsRectEmpty() const { return ::IsRectEmpty(this) != FALSE; }
    bool PtInRect(POINT p) const { return ::PtInRect(this, p) != FALSE; }
    void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    void SetRectEmpty() { left = top = right = bottom = 0; }
    void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
    void DeflateRect(int dx, int dy) { ::InflateRect(this, -dx, -dy); }
    void InflateRect(int dx, int dy) { ::InflateRect(this, dx, dy); }
    BOOL IntersectRect(const RECT* a, const RECT* b) { return ::IntersectRect(this, a, b); }
    bool operator==(const RECT& r) const { return ::EqualRect(this, &r) != FALSE; }
    bool operator!=(const RECT& r) const { return !(*this == r); }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

class CGdiObject {
public:
    CGdiObject() : m_hObject(nullptr) {}
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int size, void* buffer) const { return ::GetObjectW(m_hObject, size, buffer); }
    BOOL CreateStockObject(int index);
};

class CPen : public CGdiObject {
public:
    CPen() {}
    CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
    BOOL CreatePen(int style, int width, COLORREF color) { return Attach(::CreatePen(style, width, color)); }
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CBrush : public CGdiObject {
public:
    CBrush() {}
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CFont : public CGdiObject {
public:
    CFont() {}
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    BOOL CreateFontIndirect(const LOGFONTW* lf) { return Attach(::CreateFontIndirectW(lf)); }
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                    BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                    BYTE pitchAndFamily, LPCWSTR face);
    // A font of nPointSize tenths of a point on the screen (or on pDC):
    // height = -MulDiv(tenths, LOGPIXELSY, 720), as the stock library does.
    BOOL CreatePointFont(int nPointSize, LPCWSTR face, HDC hDC = nullptr);
    // The same with a LOGFONT whose lfHeight holds tenths of a point.
    BOOL CreatePointFontIndirect(const LOGFONTW* lf, HDC hDC = nullptr);
    int GetLogFont(LOGFONTW* lf) const { return ::GetObjectW(m_hObject, sizeof(LOGFONTW), lf); }
};

class CBitmap : public CGdiObject {
public:
    CBitmap() {}
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    BOOL CreateCompatibleBitmap(HDC hDC, int width, int height) {
        return Attach(::CreateCompatibleBitmap(hDC, width, height));
    }
    BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
        return Attach(::CreateBitmap(width, height, planes, bitsPerPixel, bits));
    }
    // A top-down 32-bit DIB section; *bits receives its pixels when given.
    BOOL CreateDib32(int width, int height, void** bits = nullptr);
    BOOL GetBitmap(BITMAP* bm) const { return ::GetObjectW(m_hObject, sizeof(BITMAP), bm) != 0; }
};

class CDC {
public:
    CDC() : m_hDC(nullptr), m_bPrinting(FALSE), m_owned(false) {}
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC;
    BOOL m_bPrinting;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL IsPrinting() const { return m_bPrinting; }

    BOOL Attach(HDC h);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();

    // Selection: the previously selected handle.
    HGDIOBJ SelectObject(HGDIOBJ h) { return ::SelectObject(m_hDC, h); }
    HGDIOBJ SelectObject(CGdiObject* obj) { return obj ? ::SelectObject(m_hDC, obj->m_hObject) : nullptr; }
    HGDIOBJ SelectStockObject(int index) { return ::SelectObject(m_hDC, ::GetStockObject(index)); }
    int SaveDC() { return ::SaveDC(m_hDC); }
    BOOL RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved); }

    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    int GetBkMode() const { return ::GetBkMode(m_hDC); }
    int SetMapMode(int mode) { return ::SetMapMode(m_hDC, mode); }
    int GetMapMode() const { return ::GetMapMode(m_hDC); }
    CPoint SetWindowOrg(int x, int y) {
        POINT old = {0, 0};
        ::SetWindowOrgEx(m_hDC, x, y, &old);
        return CPoint(old);
    }
    int GetClipBox(LPRECT r) const { return ::GetClipBox(m_hDC, r); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }

    void FillSolidRect(const RECT* r, COLORREF c);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF c) {
        RECT r = {x, y, x + cx, y + cy};
        FillSolidRect(&r, c);
    }
    void FillRect(const RECT* r, CBrush* brush) { ::FillRect(m_hDC, r, *brush); }
    void FillRect(const RECT* r, HBRUSH brush) { ::FillRect(m_hDC, r, brush); }
    BOOL RoundRect(const RECT* r, POINT corner) {
        return ::RoundRect(m_hDC, r->left, r->top, r->right, r->bottom, corner.x, corner.y);
    }
    BOOL Rectangle(const RECT* r) { return ::Rectangle(m_hDC, r->left, r->top, r->right, r->bottom); }
    CPoint MoveTo(int x, int y) {
        POINT old = {0, 0};
        ::MoveToEx(m_hDC, x, y, &old);
        return CPoint(old);
    }
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL TextOut(int x, int y, const CString& s) { return ::TextOutW(m_hDC, x, y, s, s.GetLength()); }
    int DrawText(const CString& s, LPRECT r, UINT format) { return ::DrawTextW(m_hDC, s, s.GetLength(), r, format); }
    CSize GetTextExtent(const CString& s) const {
        SIZE size = {0, 0};
        ::GetTextExtentPoint32W(m_hDC, s, s.GetLength(), &size);
        return CSize(size);
    }
    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, xs, ys, rop);
    }
    BOOL DrawFrameControl(LPRECT r, UINT type, UINT state) { return ::DrawFrameControl(m_hDC, r, type, state); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }

    // A wrapper for a handle that this object does not own; one per handle
    // and thread, kept for the thread's life (handlers must not delete it).
    static CDC* FromHandle(HDC h);

protected:
    bool m_owned;  // DeleteDC on destruction
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};

class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* wnd);
    ~CWindowDC() override;

private:
    HWND m_hWnd;
};
