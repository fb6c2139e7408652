// CColorText_Static (a label in its own colour and font on a solid
// background) and CHyperLink (a clickable link text with hover colour, hand
// cursor and tooltip that opens its URL). Both colour the system's static
// control through the reflected colour message.
#pragma once

#include "winlib/winlib.h"

class CColorText_Static : public CStatic {
public:
    CColorText_Static();
    ~CColorText_Static() override;

    void SetBackColor(COLORREF color);
    void SetTextColor(COLORREF color);
    // Replaces the control's own font with one made from lf; a font that
    // cannot be made leaves the control without an own font.
    virtual void SetFont(const LOGFONTW* lf, BOOL bRedraw = TRUE);

    COLORREF m_disabledBackColor;
    COLORREF m_backColor;
    COLORREF m_textColor;
    CFont* m_font;

protected:
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    DECLARE_MESSAGE_MAP()

private:
    CBrush m_backBrush;
    CBrush m_disabledBrush;
};

// How CHyperLink reaches the shell for the open-folder links; tests replace
// it so that nothing is ever opened.
class CLinkOpener {
public:
    virtual ~CLinkOpener() {}
    virtual HINSTANCE ShellExecute(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, int show);
};

// Opens a web address as the user signed in to the desktop (OpenWebTarget);
// when the desktop's shell cannot open it, a box says that the page cannot
// be opened and shows its address. Anything but a web address opens
// nothing and shows nothing. True when the page was opened.
bool OpenWebPage(const CString& target);

class CHyperLink : public CStatic {
public:
    CHyperLink();
    ~CHyperLink() override;

    BOOL Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID = 0xffff) override;
    void SetLink(LPCWSTR toolTip, LPCWSTR url, int openMode);
    void SetBackColor(COLORREF color);
    void SetTransparent();
    // The point form of SetFont: lf->lfHeight holds tenths of a point; never
    // redraws, whatever bRedraw says.
    virtual void SetPointFont(const LOGFONTW* lfPoints, BOOL bRedraw = TRUE);
    virtual void SetFont(const LOGFONTW* lf, BOOL bRedraw = TRUE);
    // Opens the URL by the open mode: mode 0 (a folder) through the shell
    // with this program's rights, any other mode as a web page through
    // OpenWebPage. True when it was opened.
    bool GotoURL(LPCWSTR url);

    BOOL PreTranslateMessage(MSG* pMsg) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Tests only: replaces the opener (null restores the real one).
    static void SetOpener(CLinkOpener* opener);

    COLORREF m_linkColor;
    COLORREF m_hoverColor;
    BOOL m_hover;
    CString m_url;
    CString m_toolTipText;
    int m_openMode;
    CFont* m_font;
    HCURSOR m_cursor;
    CToolTipCtrl m_toolTip;
    BOOL m_opaque;
    COLORREF m_disabledBackColor;
    COLORREF m_backColor;

protected:
    void PreSubclassWindow() override;
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnClicked();
    void OnMouseLeave();
    DECLARE_MESSAGE_MAP()

private:
    void RedrawTransparent();
    void InvalidateParentArea();
    void ReplaceFont(const LOGFONTW* lf, bool points);
    CBrush m_backBrush;
    CBrush m_disabledBrush;
};
