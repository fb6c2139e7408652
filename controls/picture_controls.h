// Display controls drawn with GDI+: CGIFControl (an animated skin picture
// with two optional stills), CPicStaticCtrl (a picture handed over as bytes)
// and CMyProgressCtrl (a rounded anti-aliased progress bar).
#pragma once

#include <objidl.h>

#include "controls/skin_picture.h"
#include "winlib/winlib.h"

class CGIFControl : public CStatic {
public:
    CGIFControl();
    ~CGIFControl() override;

    // Loads the animation and, when their names are not empty, the stills.
    // A missing or undecodable animation leaves nothing to play.
    void LoadImages(LPCWSTR animation, LPCWSTR still1, LPCWSTR still2);
    // Both may be called from any thread: the work is done on the window's own.
    void Play();
    void Stop(int which);
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

    // A frame's display time in ms (stored delay x 10; 0, or no delay stored, gives 70).
    UINT FrameDelayMs(int frame) const;
    int GetFrameCount() const { return m_frameCount; }
    int GetCurrentFrame() const { return m_currentFrame; }
    bool IsPlaying() const { return m_playing; }
    int GetShownPicture() const { return m_shown; }
    // The period of the last frame timer started.
    UINT GetLastTimerPeriod() const { return m_lastPeriod; }

protected:
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnGifControl(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    bool OnOtherThread() const;
    void PlayHere();
    void StopHere(int which);
    void SelectFrame(int frame);
    void StartFrameTimer(int frame);

    Gdiplus::Image* m_animation;
    Gdiplus::Image* m_still1;
    Gdiplus::Image* m_still2;
    GUID* m_dimensions;
    UINT m_dimensionCount;
    int m_frameCount;
    Gdiplus::PropertyItem* m_delays;
    int m_currentFrame;
    bool m_playing;
    int m_shown;
    UINT m_lastPeriod;
};

class CPicStaticCtrl : public CStatic {
public:
    CPicStaticCtrl();
    ~CPicStaticCtrl() override;
    // Copies the picture bytes into a memory stream; FALSE (last error = the
    // COM result) when the stream cannot be made or written.
    BOOL SetImageData(const void* data, DWORD size);
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    bool IsLoaded() const { return m_loaded; }

protected:
    void PreSubclassWindow() override;

private:
    IStream* m_stream;
    bool m_loaded;
};

class CMyProgressCtrl : public CProgressCtrl {
public:
    CMyProgressCtrl();
    ~CMyProgressCtrl() override;

    // Clamps into the bounds, stores and passes it to the control.
    int SetPos(int pos);
    int GetPosition() const { return m_pos; }
    void SetBarColor(Gdiplus::ARGB color);
    void SetTrackColor(Gdiplus::ARGB color);
    void SetTooltipText(LPCWSTR text);
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // Draws the bar into hdc over the control's client rectangle.
    void PaintBar(HDC hdc);
    virtual void DrawBackground(Gdiplus::Graphics& g, const Gdiplus::Rect& full);
    virtual void DrawPercentText(Gdiplus::Graphics& g, int percent, const Gdiplus::Rect& full);

    CToolTipCtrl m_toolTip;
    BOOL m_drawBackgroundBitmap;
    BOOL m_showText;
    BOOL m_border;
    Gdiplus::ARGB m_barColor;
    Gdiplus::ARGB m_trackColor;
    Gdiplus::ARGB m_borderColor;
    Gdiplus::ARGB m_backColor;
    Gdiplus::ARGB m_textColor;
    int m_lower;
    int m_upper;
    int m_range;
    int m_step;
    int m_pos;
    CDC m_memDC;
    CBitmap m_backBitmap;

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    void OnNcPaint();
    DECLARE_MESSAGE_MAP()

private:
    void CreateToolTip();
    void DrawBitmap(Gdiplus::Graphics& g);
};

// The capsule outline of (x, y, w, h): rounded ends 10 pixels wide, spanning x .. x + w + 10.
void AddCapsulePath(Gdiplus::GraphicsPath& path, int x, int y, int w, int h);
