// CxSkinButton: the picture button of the main window and its pages (push
// button, picture check box or tab radio button). The label is part of the
// pictures; the control draws no text.
#pragma once

#include "controls/skin_picture.h"
#include "winlib/winlib.h"

class CxSkinButton : public CButton {
public:
    // Button kinds, decided from the style when the window is attached.
    enum { kPush = 0, kCheck = 2, kRadio = 4 };

    CxSkinButton();
    ~CxSkinButton() override;

    // Releases the held pictures, then loads the normal and down pictures and,
    // when their names are not empty, the hover and disabled ones. Nothing is
    // redrawn.
    void SetSkin(LPCWSTR normal, LPCWSTR down, LPCWSTR hover, LPCWSTR disabled);
    // Creates the tooltip on first use (tool 1 over the current client
    // rectangle) and sets its text; a null text does nothing.
    void SetToolTipText(LPCWSTR text);

    BOOL PreTranslateMessage(MSG* pMsg) override;
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

    int GetKind() const { return m_kind; }
    bool IsHovering() const { return m_hover; }
    bool IsPressed() const { return m_pressed; }
    CToolTipCtrl& GetToolTip() { return m_toolTip; }

protected:
    void PreSubclassWindow() override;
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnKillFocus(CWnd* pNewWnd);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnMouseLeave();
    LRESULT OnRadioUncheck(WPARAM, LPARAM);
    LRESULT OnSetCheck(WPARAM wParam, LPARAM);
    LRESULT OnGetCheck(WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    void CreateToolTip();
    bool HasTool() const;
    // The check change of a click or of the space key.
    void ApplyClick();
    bool ClientContains(POINT clientPoint) const;

    bool m_checked;
    int m_kind;
    bool m_hover;
    bool m_pressed;
    CToolTipCtrl m_toolTip;
    Gdiplus::Image* m_normal;
    Gdiplus::Image* m_down;
    Gdiplus::Image* m_disabled;
    Gdiplus::Image* m_hoverPicture;
    bool m_hoverBorder;
};
