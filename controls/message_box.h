// CMyMessageBox: the program's only message box, drawn entirely by the
// program (caption band, title, icon picture, message and one or two colour
// buttons), with an optional countdown that ends it by itself.
//
// MyMessageBox shows one modally over the application's main window and
// returns IDOK, IDYES or IDNO; it may be called on any thread (the box then
// runs its modal loop on that thread).
#pragma once

#include "controls/color_controls.h"
#include "controls/skin_picture.h"
#include "winlib/winlib.h"

#define IDD_MYMESSAGEBOX 148

int MyMessageBox(int flags, BOOL autoClose, LPCWSTR text, int seconds);

class CMyMessageBox : public CDialogEx {
public:
    enum { kFirstButtonId = 103, kSecondButtonId = 104, kCountdownTimerId = 2201 };

    CMyMessageBox(LPCWSTR text, int flags, BOOL autoClose, int seconds, CWnd* pParent = nullptr);
    ~CMyMessageBox() override;

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // Measures the message and sets the text and window sizes.
    void CalcLayout();

    COLORREF m_captionColor;
    COLORREF m_bodyColor;
    COLORREF m_messageColor;
    COLORREF m_titleColor;
    COLORREF m_buttonColors[4];
    CString m_fontFace;
    CString m_title;
    int m_titleSize;
    CFont m_titleFont;
    CString m_message;
    int m_messageSize;
    CFont m_messageFont;
    int m_flags;
    int m_result;
    CColorButton m_firstButton;
    CColorButton m_secondButton;
    BOOL m_autoClose;
    UINT_PTR m_timerId;
    int m_remainingSeconds;
    CString m_buttonBaseText;
    Gdiplus::Image* m_icon;
    int m_textWidth;
    int m_textHeight;
    int m_minWidth;
    int m_captionHeight;
    int m_marginX;
    int m_marginY;
    int m_iconWidth;
    int m_iconHeight;
    int m_textGap;
    int m_bottomMargin;
    int m_buttonWidth;
    int m_buttonHeight;
    int m_width;
    int m_height;

protected:
    void OnPaint();
    void OnClickedFirst();
    void OnClickedSecond();
    void OnTimer(UINT_PTR nIDEvent);
    void OnLButtonDown(UINT nFlags, CPoint point);
    DECLARE_MESSAGE_MAP()

private:
    bool IsYesNo() const { return (m_flags & MB_YESNO) == MB_YESNO; }
    bool m_counting;
};
