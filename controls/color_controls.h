// Recoloured standard controls: CColorButton (a flat owner-drawn push button
// whose colours change under the mouse), CMyRadioButton (a radio button with
// a transparent background and its own text colour and font) and
// CAdvancedEdit (an edit box with its own text and background colours).
#pragma once

#include "controls/skin_picture.h"
#include "winlib/winlib.h"

class CColorButton : public CButton {
public:
    CColorButton();
    ~CColorButton() override;

    void SetColors(COLORREF normalText, COLORREF normalBack, COLORREF hoverText, COLORREF hoverBack);
    void SetDisabledColors(COLORREF text, COLORREF back);
    // A point font of `points` in `face`, made bold / italic as asked; not redrawn.
    virtual void SetFont(int points, LPCWSTR face, BOOL bold, BOOL italic);
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

    bool IsHovering() const { return m_hover; }
    CFont* GetOwnFont() const { return m_font; }

protected:
    void PreSubclassWindow() override;
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnMouseLeave();
    DECLARE_MESSAGE_MAP()

private:
    bool MessagePointInside() const;

    bool m_tracking;
    COLORREF m_normalText, m_normalBack;
    COLORREF m_disabledText, m_disabledBack;
    COLORREF m_hoverText, m_hoverBack;
    bool m_hover;
    CBrush* m_normalBrush;
    CBrush* m_hoverBrush;
    CBrush* m_disabledBrush;
    Gdiplus::SolidBrush* m_normalFill;
    Gdiplus::SolidBrush* m_hoverFill;
    Gdiplus::SolidBrush* m_disabledFill;
    CFont* m_font;
};

class CMyRadioButton : public CButton {
public:
    CMyRadioButton();
    ~CMyRadioButton() override;
    // Replaces the font and sends it to the control.
    void SetFont(const LOGFONTW* lf);
    // The one background brush shared by every radio button of the process
    // (null until the first colour message of any of them).
    static HBRUSH SharedBrush();

    COLORREF m_textColor;
    COLORREF m_backColor;

protected:
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    DECLARE_MESSAGE_MAP()

private:
    CFont* m_font;
};

class CAdvancedEdit : public CEdit {
public:
    CAdvancedEdit();
    virtual BOOL SetTextColor(COLORREF color);
    virtual BOOL SetBackColor(COLORREF color);

    COLORREF m_backColor;
    COLORREF m_textColor;

protected:
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    DECLARE_MESSAGE_MAP()

private:
    CBrush m_brush;
};
