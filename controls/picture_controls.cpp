#include "controls/picture_controls.h"

#include "core/fixed_texts.h"
#include "core/messages.h"

// -------------------------------------------------------------- CGIFControl

BEGIN_MESSAGE_MAP(CGIFControl, CStatic)
    ON_WM_TIMER()
    ON_MESSAGE(WM_GIF_CONTROL, OnGifControl)
END_MESSAGE_MAP()

CGIFControl::CGIFControl()
    : m_animation(nullptr),
      m_still1(nullptr),
      m_still2(nullptr),
      m_dimensions(nullptr),
      m_dimensionCount(0),
      m_frameCount(0),
      m_delays(nullptr),
      m_currentFrame(0),
      m_playing(false),
      m_shown(0),
      m_lastPeriod(0) {}

CGIFControl::~CGIFControl() {
    ReleasePicture(m_animation);
    ReleasePicture(m_still1);
    ReleasePicture(m_still2);
    delete[] m_dimensions;
    free(m_delays);
}

void CGIFControl::LoadImages(LPCWSTR animation, LPCWSTR still1, LPCWSTR still2) {
    ReleasePicture(m_animation);
    delete[] m_dimensions;
    m_dimensions = nullptr;
    m_dimensionCount = 0;
    m_frameCount = 0;
    free(m_delays);
    m_delays = nullptr;

    m_animation = LoadControlPicture(animation);
    if (m_animation && m_animation->GetLastStatus() != Gdiplus::Ok) ReleasePicture(m_animation);
    if (m_animation) {
        m_dimensionCount = m_animation->GetFrameDimensionsCount();
        if (m_dimensionCount > 0) {
            m_dimensions = new GUID[m_dimensionCount];
            if (m_animation->GetFrameDimensionsList(m_dimensions, m_dimensionCount) == Gdiplus::Ok)
                m_frameCount = (int)m_animation->GetFrameCount(&m_dimensions[0]);
        }
        if (m_frameCount < 1) m_frameCount = 1;  // a still picture plays as one frame
        UINT size = m_animation->GetPropertyItemSize(PropertyTagFrameDelay);
        if (size >= sizeof(Gdiplus::PropertyItem)) {
            m_delays = static_cast<Gdiplus::PropertyItem*>(malloc(size));
            if (m_delays && m_animation->GetPropertyItem(PropertyTagFrameDelay, size, m_delays) != Gdiplus::Ok) {
                free(m_delays);
                m_delays = nullptr;
            }
        }
    }
    ReleasePicture(m_still1);
    ReleasePicture(m_still2);
    if (still1 && *still1) m_still1 = LoadControlPicture(still1);
    if (still2 && *still2) m_still2 = LoadControlPicture(still2);
}

UINT CGIFControl::FrameDelayMs(int frame) const {
    if (!m_delays || !m_delays->value || frame < 0) return 70;
    // The item holds one 32-bit delay per frame; never read past what it holds.
    UINT stored = m_delays->length / sizeof(UINT);
    if ((UINT)frame >= stored) return 70;
    UINT delay = static_cast<const UINT*>(m_delays->value)[frame];
    return delay == 0 ? 70 : delay * 10;
}

void CGIFControl::SelectFrame(int frame) {
    if (m_animation && m_dimensionCount > 0)
        m_animation->SelectActiveFrame(&Gdiplus::FrameDimensionTime, (UINT)frame);
}

void CGIFControl::StartFrameTimer(int frame) {
    m_lastPeriod = FrameDelayMs(frame);
    SetTimer(1, m_lastPeriod);
}

bool CGIFControl::OnOtherThread() const {
    return m_hWnd && ::GetWindowThreadProcessId(m_hWnd, nullptr) != ::GetCurrentThreadId();
}

void CGIFControl::Play() {
    if (OnOtherThread()) SendMessage(WM_GIF_CONTROL, 0, 0);
    else PlayHere();
}

void CGIFControl::Stop(int which) {
    if (OnOtherThread()) SendMessage(WM_GIF_CONTROL, 1, which);
    else StopHere(which);
}

LRESULT CGIFControl::OnGifControl(WPARAM wParam, LPARAM lParam) {
    if (wParam == 0) PlayHere();
    else StopHere((int)lParam);
    return 0;
}

void CGIFControl::PlayHere() {
    if (m_playing || !m_animation || !m_hWnd) return;
    m_shown = 0;
    SelectFrame(0);
    StartFrameTimer(0);
    m_currentFrame = 1 % m_frameCount;
    Invalidate(FALSE);
    m_playing = true;
}

void CGIFControl::StopHere(int which) {
    if (m_playing) {
        KillTimer(1);
        m_playing = false;
    }
    m_shown = 0;
    m_currentFrame = 0;
    SelectFrame(0);
    if (m_hWnd) Invalidate(FALSE);
    if (which == 1 && m_still1) m_shown = 1;
    else if (which == 2 && m_still2) m_shown = 2;
}

void CGIFControl::OnTimer(UINT_PTR nIDEvent) {
    KillTimer(nIDEvent);
    if (!m_playing) return;
    SelectFrame(m_currentFrame);
    StartFrameTimer(m_currentFrame);
    m_currentFrame = (m_currentFrame + 1) % m_frameCount;
    Invalidate(FALSE);
}

void CGIFControl::DrawItem(LPDRAWITEMSTRUCT dis) {
    Gdiplus::Image* picture = m_shown == 1 ? m_still1 : m_shown == 2 ? m_still2 : m_animation;
    CRect rc;
    GetClientRect(&rc);
    DrawSkinPicture(dis->hDC, picture, rc.left, rc.top, rc.Width(), rc.Height());
}

// ----------------------------------------------------------- CPicStaticCtrl

CPicStaticCtrl::CPicStaticCtrl() : m_stream(nullptr), m_loaded(false) {}

CPicStaticCtrl::~CPicStaticCtrl() {
    if (m_stream) m_stream->Release();
}

void CPicStaticCtrl::PreSubclassWindow() { ModifyStyle(0, SS_OWNERDRAW); }

BOOL CPicStaticCtrl::SetImageData(const void* data, DWORD size) {
    ::SetLastError(0);
    if (m_stream) m_stream->Release();
    m_stream = nullptr;
    m_loaded = false;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &m_stream);
    if (FAILED(hr) || !m_stream) {
        m_stream = nullptr;
        ::SetLastError((DWORD)hr);
        return FALSE;
    }
    ULONG written = 0;
    hr = m_stream->Write(data, size, &written);
    if (FAILED(hr)) {
        m_stream->Release();
        m_stream = nullptr;
        ::SetLastError((DWORD)hr);
        return FALSE;
    }
    m_loaded = true;
    if (m_hWnd) {
        Invalidate();
        RedrawWindow(nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE);
    }
    return TRUE;
}

void CPicStaticCtrl::DrawItem(LPDRAWITEMSTRUCT dis) {
    if (!m_loaded || !m_stream) return;
    LARGE_INTEGER zero = {};
    m_stream->Seek(zero, STREAM_SEEK_SET, nullptr);  // the image reads from the stream's position
    Gdiplus::Image* image = Gdiplus::Image::FromStream(m_stream);
    CRect rc;
    GetClientRect(&rc);
    DrawSkinPicture(dis->hDC, image, rc.left, rc.top, rc.Width(), rc.Height());
    delete image;
}

// ---------------------------------------------------------- CMyProgressCtrl

static Gdiplus::ARGB OpaqueArgb(COLORREF c) { return OpaqueColor(c).GetValue(); }

BEGIN_MESSAGE_MAP(CMyProgressCtrl, CProgressCtrl)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_NCPAINT()
END_MESSAGE_MAP()

CMyProgressCtrl::CMyProgressCtrl()
    : m_drawBackgroundBitmap(1),
      m_showText(1),
      m_border(1),
      m_barColor(0xFF0000FF),
      m_trackColor(0xFFADD8E6),
      m_borderColor(0xFF808080),
      m_backColor(OpaqueArgb(::GetSysColor(COLOR_BTNFACE))),
      m_textColor(OpaqueArgb(::GetSysColor(COLOR_BTNTEXT))),
      m_lower(0),
      m_upper(100),
      m_range(100),
      m_step(1),
      m_pos(0) {}

CMyProgressCtrl::~CMyProgressCtrl() {}

int CMyProgressCtrl::SetPos(int pos) {
    if (pos < m_lower) pos = m_lower;
    if (pos > m_upper) pos = m_upper;
    int old = m_pos;
    m_pos = pos;
    if (m_hWnd) SendMessage(PBM_SETPOS, (WPARAM)pos);
    return old;
}

void CMyProgressCtrl::SetBarColor(Gdiplus::ARGB color) {
    m_barColor = color;
    if (m_hWnd) Invalidate();
}

void CMyProgressCtrl::SetTrackColor(Gdiplus::ARGB color) {
    m_trackColor = color;
    if (m_hWnd) Invalidate();
}

void CMyProgressCtrl::CreateToolTip() {
    if (m_toolTip.m_hWnd || !m_hWnd) return;
    m_toolTip.Create(this, 0);
    m_toolTip.Activate(FALSE);
    m_toolTip.SetMaxTipWidth(400);
}

void CMyProgressCtrl::SetTooltipText(LPCWSTR text) {
    if (!text) return;
    CreateToolTip();
    if (!m_toolTip.m_hWnd) return;
    if (m_toolTip.GetToolCount() == 0) {
        CRect rc;
        GetClientRect(&rc);
        m_toolTip.AddTool(this, text, &rc, 1);
    }
    m_toolTip.UpdateTipText(text, this, 1);
    m_toolTip.Activate(TRUE);
}

BOOL CMyProgressCtrl::PreTranslateMessage(MSG* pMsg) {
    CreateToolTip();
    if (m_toolTip.m_hWnd) m_toolTip.RelayEvent(pMsg);
    return CProgressCtrl::PreTranslateMessage(pMsg);
}

void CMyProgressCtrl::OnPaint() {
    CPaintDC dc(this);
    PaintBar(dc);
}

BOOL CMyProgressCtrl::OnEraseBkgnd(CDC*) { return FALSE; }

HBRUSH CMyProgressCtrl::CtlColor(CDC*, UINT) { return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)); }

void CMyProgressCtrl::OnNcPaint() {}

void AddCapsulePath(Gdiplus::GraphicsPath& path, int x, int y, int w, int h) {
    path.AddArc(x + w, y, 10, h, 90.0f, -180.0f);
    path.AddArc(x, y, 10, h, 270.0f, -180.0f);
    path.CloseFigure();
}

void CMyProgressCtrl::DrawBitmap(Gdiplus::Graphics& g) {
    if (!m_backBitmap.m_hObject) return;  // no bitmap is ever given: the parent shows through
    Gdiplus::Bitmap bmp(static_cast<HBITMAP>(m_backBitmap.m_hObject), nullptr);
    g.DrawImage(&bmp, 0, 0);
}

void CMyProgressCtrl::DrawBackground(Gdiplus::Graphics& g, const Gdiplus::Rect&) {
    g.Clear(Gdiplus::Color(m_backColor));
}

void CMyProgressCtrl::DrawPercentText(Gdiplus::Graphics& g, int percent, const Gdiplus::Rect& full) {
    if (!m_showText) return;
    CWnd* parent = GetParent();
    HFONT font = parent ? reinterpret_cast<HFONT>(parent->SendMessage(WM_GETFONT)) : nullptr;
    if (!font) return;
    LOGFONTW lf = {};
    if (!::GetObjectW(font, sizeof(lf), &lf)) return;
    Gdiplus::FontFamily family(lf.lfFaceName);
    const Gdiplus::FontFamily* use = &family;
    Gdiplus::FontFamily* generic = nullptr;
    if (!family.IsAvailable()) {
        // Wine may have no generic sans-serif family at all: then no text.
        const Gdiplus::FontFamily* sans = Gdiplus::FontFamily::GenericSansSerif();
        generic = sans ? sans->Clone() : nullptr;
        if (!generic) return;
        use = generic;
    }
    float points = (float)-::MulDiv(lf.lfHeight, 72, (int)g.GetDpiY());
    if (points <= 0) points = 9.0f;
    Gdiplus::Font gfont(use, points, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
    CString text;
    text.Format(FixedText::kProgressPercentFormat, percent);
    Gdiplus::StringFormat format;
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::SolidBrush brush((Gdiplus::Color(m_textColor)));
    Gdiplus::RectF layout((float)full.X, (float)full.Y, (float)full.Width, (float)full.Height);
    g.DrawString(text, text.GetLength(), &gfont, layout, &format, &brush);
    delete generic;
}

static Gdiplus::Color Darken(Gdiplus::ARGB argb) {
    Gdiplus::Color c(argb);
    auto dark = [](BYTE v) { return (BYTE)(int)(v * 0.4 * 0.5 + (v >> 1)); };
    return Gdiplus::Color(c.GetA(), dark(c.GetR()), dark(c.GetG()), dark(c.GetB()));
}

void CMyProgressCtrl::PaintBar(HDC hdc) {
    CRect rc;
    GetClientRect(&rc);
    int W = rc.Width(), H = rc.Height();
    if (W <= 0 || H <= 0) return;
    Gdiplus::Bitmap off(W, H, PixelFormat32bppARGB);
    Gdiplus::Graphics g(&off);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    Gdiplus::Rect full(0, 0, W - 1, H - 1);
    Gdiplus::Rect track(0, 0, W - 11, H - 1);

    if (m_drawBackgroundBitmap) DrawBitmap(g);
    else DrawBackground(g, full);

    int range = m_range != 0 ? m_range : 1;
    int percent = (int)((m_pos - m_lower) * (100.0 / range));
    int m = (int)((float)track.Width / 100.0f * (float)percent);

    Gdiplus::Pen pen((Gdiplus::Color(m_borderColor)), 1.0f);
    {
        Gdiplus::GraphicsPath rest;
        AddCapsulePath(rest, track.X + m, track.Y, track.Width - m, track.Height);
        Gdiplus::SolidBrush trackBrush((Gdiplus::Color(m_trackColor)));
        g.FillPath(&trackBrush, &rest);
        if (m_border) g.DrawPath(&pen, &rest);
    }
    if (percent == 0) {
        Gdiplus::SolidBrush dot(Darken(m_trackColor));
        g.FillEllipse(&dot, track.X, track.Y, 10, track.Height);
        if (m_border) g.DrawEllipse(&pen, track.X, track.Y, 10, track.Height);
    } else {
        Gdiplus::GraphicsPath bar;
        AddCapsulePath(bar, track.X, track.Y, m, track.Height);
        Gdiplus::SolidBrush barBrush((Gdiplus::Color(m_barColor)));
        g.FillPath(&barBrush, &bar);
        if (m_border) g.DrawPath(&pen, &bar);
    }
    DrawPercentText(g, percent, full);

    Gdiplus::Graphics screen(hdc);
    screen.DrawImage(&off, 0, 0);
}
