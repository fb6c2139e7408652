#include "controls/message_box.h"

#include "core/fixed_texts.h"
#include "core/text_utils.h"

int MyMessageBox(int flags, BOOL autoClose, LPCWSTR text, int seconds) {
    CMyMessageBox box(text, flags, autoClose, seconds, AfxGetMainWnd());
    return (int)box.DoModal();
}

BEGIN_MESSAGE_MAP(CMyMessageBox, CDialogEx)
    ON_WM_PAINT()
    ON_BN_CLICKED(CMyMessageBox::kFirstButtonId, OnClickedFirst)
    ON_BN_CLICKED(CMyMessageBox::kSecondButtonId, OnClickedSecond)
    ON_WM_TIMER()
    ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

CMyMessageBox::CMyMessageBox(LPCWSTR text, int flags, BOOL autoClose, int seconds, CWnd* pParent)
    : CDialogEx(IDD_MYMESSAGEBOX, pParent),
      m_captionColor(0xE37800),
      m_bodyColor(0xFFFFFF),
      m_messageColor(0x000000),
      m_titleColor(0xFFFFFF),
      m_buttonColors{0xFFFFFF, 0xFF960D, 0xFFFFFF, 0xE58705},
      m_fontFace(FixedText::kMsgBoxFontFace),
      m_titleSize(10),
      m_message(text ? text : L""),
      m_messageSize(10),
      m_flags(flags),
      m_result(0),
      m_autoClose(autoClose),
      m_timerId(0),
      m_remainingSeconds(seconds),
      m_icon(nullptr),
      m_textWidth(200),
      m_textHeight(100),
      m_minWidth(350),
      m_captionHeight(40),
      m_marginX(20),
      m_marginY(20),
      m_iconWidth(46),
      m_iconHeight(45),
      m_textGap(25),
      m_bottomMargin(20),
      m_buttonWidth(100),
      m_buttonHeight(35),
      m_width(350),
      m_height(200),
      m_counting(false) {
    m_titleFont.CreatePointFont(m_titleSize * 10, m_fontFace);
    m_messageFont.CreatePointFont(m_messageSize * 10, m_fontFace);
    LPCWSTR picture;
    if ((flags & 0x30) == 0x30) {
        m_title = FixedText::kMsgBoxTitleWarning;
        picture = FixedText::kSkinMsgBoxWarning;
    } else if (flags & 0x10) {
        m_title = FixedText::kMsgBoxTitleError;
        picture = FixedText::kSkinMsgBoxError;
    } else if (flags & 0x20) {
        m_title = FixedText::kMsgBoxTitleQuestion;
        picture = FixedText::kSkinMsgBoxQuestion;
    } else {
        m_title = FixedText::kMsgBoxTitleInformation;
        picture = FixedText::kSkinMsgBoxInformation;
    }
    m_icon = LoadControlPicture(picture);
}

CMyMessageBox::~CMyMessageBox() { ReleasePicture(m_icon); }

void CMyMessageBox::CalcLayout() {
    CClientDC dc(this);
    HGDIOBJ old = dc.SelectObject(&m_messageFont);
    // The lines with the blank ones kept (SplitAtChar, not SplitString, which
    // drops them): a blank line takes a line's height when the box is drawn,
    // so it counts when the box is measured.
    CStringArray lines;
    SplitAtChar(m_message, FixedText::kMsgBoxLineSeparator[0], lines);
    int widest = 0, sum = 0;
    for (INT_PTR i = 0; i < lines.GetSize(); ++i) {
        CString piece = lines[i];
        // A blank line is as high as a line of text.
        CSize size = dc.GetTextExtent(piece.IsEmpty() ? CString(L" ") : piece);
        if (piece.IsEmpty()) size.cx = 0;
        if (size.cx > widest) widest = size.cx;
        sum += size.cy;
    }
    dc.SelectObject(old);
    m_textWidth = widest;
    int width = widest + m_iconWidth + 3 * m_marginX;
    m_width = width > m_minWidth ? width : m_minWidth;
    m_textHeight = sum + 5 > m_iconHeight ? sum + 5 : m_iconHeight;
    m_height = m_captionHeight + m_marginY + m_textHeight + m_textGap + m_bottomMargin + m_buttonHeight;
}

BOOL CMyMessageBox::OnInitDialog() {
    CDialogEx::OnInitDialog();
    CalcLayout();
    SetWindowPos(nullptr, 0, 0, m_width, m_height, SWP_NOMOVE | SWP_NOZORDER);
    int halfW = m_width / 2, top = m_height - m_buttonHeight - m_bottomMargin, bottom = m_height - m_bottomMargin;
    if (IsYesNo()) {
        m_buttonBaseText = FixedText::kMsgBoxYes;
        m_firstButton.Create(m_buttonBaseText, WS_CHILD | WS_VISIBLE, CRect(halfW - 110, top, halfW - 10, bottom),
                             this, kFirstButtonId);
        m_secondButton.Create(FixedText::kMsgBoxNo, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                              CRect(halfW + 10, top, halfW + 110, bottom), this, kSecondButtonId);
    } else {
        m_buttonBaseText = FixedText::kMsgBoxOk;
        m_firstButton.Create(m_buttonBaseText, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                             CRect(halfW - 50, top, halfW + 50, bottom), this, kFirstButtonId);
    }
    CColorButton* buttons[] = {&m_firstButton, &m_secondButton};
    for (CColorButton* b : buttons) {
        if (!b->m_hWnd) continue;
        b->SetFont(10, FixedText::kMsgBoxButtonFontFace, FALSE, FALSE);
        b->SetColors(m_buttonColors[0], m_buttonColors[1], m_buttonColors[2], m_buttonColors[3]);
    }
    m_firstButton.SetFocus();
    if (m_autoClose) {
        m_timerId = SetTimer(kCountdownTimerId, 1000);
        m_counting = true;
    }
    return FALSE;
}

void CMyMessageBox::OnOK() {
    m_result = IsYesNo() ? IDYES : IDOK;
    EndDialog(m_result);
}

void CMyMessageBox::OnCancel() {
    m_result = IDNO;
    EndDialog(m_result);
}

void CMyMessageBox::OnClickedFirst() { OnOK(); }
void CMyMessageBox::OnClickedSecond() { OnCancel(); }

BOOL CMyMessageBox::PreTranslateMessage(MSG* pMsg) {
    // Enter answers with the focused button. The dialog manager would send
    // IDOK, which is Yes, even while the focus is on No; owner-drawn buttons
    // never become the default button themselves. Without a focused button
    // (an Enter that arrives as the box appears, before it is active, or
    // while another window holds the activation) Enter means what it means
    // where the focus starts, on the first button: Yes or OK. Only a focus
    // the user moved to No answers No.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN && m_hWnd &&
        (pMsg->hwnd == m_hWnd || ::IsChild(m_hWnd, pMsg->hwnd))) {
        HWND focus = ::GetFocus();
        if (focus && focus == m_secondButton.m_hWnd) OnCancel();
        else OnOK();
        return TRUE;
    }
    return CDialogEx::PreTranslateMessage(pMsg);
}

void CMyMessageBox::OnPaint() {
    CPaintDC dc(this);
    CRect rc;
    GetClientRect(&rc);
    dc.FillSolidRect(CRect(rc.left, rc.top, rc.right, rc.top + m_captionHeight), m_captionColor);
    dc.FillSolidRect(CRect(rc.left, rc.top + m_captionHeight, rc.right, rc.bottom), m_bodyColor);

    int oldMode = dc.SetBkMode(TRANSPARENT);
    COLORREF oldColor = dc.SetTextColor(m_titleColor);
    HGDIOBJ oldFont = dc.SelectObject(&m_titleFont);
    CRect band(rc.left, rc.top, rc.right, rc.top + m_captionHeight);
    dc.DrawText(CString(FixedText::kMsgBoxTitleIndent) + m_title, &band, DT_SINGLELINE | DT_VCENTER);

    if (m_message != FixedText::kMsgBoxNoMessage) {
        dc.SelectObject(&m_messageFont);
        dc.SetTextColor(m_messageColor);
        int textTop = rc.top + m_captionHeight + m_marginY + 5;
        CRect box(rc.left + m_marginX + m_iconWidth + m_marginX, textTop, m_width - m_marginX, textTop + m_textHeight);
        // Drawn as measured: an '&' in a folder name or a disk model is text, never a prefix.
        dc.DrawText(m_message, &box, DT_WORDBREAK | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    dc.SelectObject(oldFont);
    dc.SetTextColor(oldColor);
    dc.SetBkMode(oldMode);
    DrawSkinPicture(dc, m_icon, m_marginX, m_captionHeight + m_marginY, m_iconWidth, m_iconHeight);
}

void CMyMessageBox::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kCountdownTimerId) {
        CDialogEx::OnTimer(nIDEvent);
        return;
    }
    --m_remainingSeconds;
    // A countdown started with less than a second ends at the first tick.
    if (m_remainingSeconds <= 0) {
        m_remainingSeconds = 0;
        KillTimer(kCountdownTimerId);
        m_counting = false;
        OnOK();
        return;
    }
    CString caption;
    caption.Format(FixedText::kMsgBoxCountdownSuffix, m_remainingSeconds);
    m_firstButton.SetWindowText(m_buttonBaseText + caption);
}

void CMyMessageBox::OnLButtonDown(UINT nFlags, CPoint point) {
    if (m_autoClose && m_remainingSeconds != 0 && m_counting) {
        m_firstButton.SetWindowText(m_buttonBaseText);
        KillTimer(kCountdownTimerId);
        m_counting = false;
    }
    // Drag the box by any point of its surface.
    POINT screen = point;
    ClientToScreen(&screen);
    SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
    CDialogEx::OnLButtonDown(nFlags, point);
}
