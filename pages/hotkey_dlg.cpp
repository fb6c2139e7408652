#include "pages/hotkey_dlg.h"

#include "core/fixed_texts.h"
#include "pages/manual_dlg.h"

BEGIN_MESSAGE_MAP(Chotkey, CDialogEx)
    ON_BN_CLICKED(IDC_HOTKEY_TAB_FIRST, OnClickedFirstTab)
    ON_BN_CLICKED(IDC_HOTKEY_TAB_FIRST + 1, OnClickedSecondTab)
    ON_BN_CLICKED(IDC_HOTKEY_TAB_FIRST + 2, OnClickedThirdTab)
    ON_BN_CLICKED(IDC_HOTKEY_CLOSE, OnClickedClose)
END_MESSAGE_MAP()

Chotkey::Chotkey(CWnd* pParent) : CDialogEx(IDD_HOTKEY, pParent), m_currentTab(1) {}

BOOL Chotkey::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetWindowPos(nullptr, 0, 0, 720, 400, SWP_NOMOVE | SWP_NOZORDER);

    m_background.Create(FixedText::kHelpBackgroundCaption, WS_CHILD | WS_VISIBLE, CRect(0, 0, 720, 400), this,
                        (UINT)-1);
    LoadSkinPicture(m_background, FixedText::kSkinHelpBackground);
    m_background.EnableWindow(FALSE);

    const wchar_t* const* close = FixedText::kSkinHelpClose;
    m_closeButton.SetSkin(close[0], close[1], close[2], close[3]);
    m_closeButton.Create(FixedText::kHelpCloseCaption, WS_CHILD | WS_VISIBLE, CRect(687, 0, 720, 30), this,
                         IDC_HOTKEY_CLOSE);

    for (int i = 0; i < 3; ++i) {
        const wchar_t* const* skin = FixedText::kSkinHelpTabs[i];
        m_tabButtons[i].SetSkin(skin[0], skin[1], skin[2], skin[3]);
        const DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0);
        m_tabButtons[i].Create(FixedText::kHelpTabCaptions[i], style, CRect(134 * i, 60, 134 * (i + 1), 100), this,
                               IDC_HOTKEY_TAB_FIRST + i);
    }
    m_tabButtons[0].SendMessage(BM_SETCHECK, 1);

    for (int i = 0; i < 3; ++i) {
        m_pictures[i].Create(FixedText::kHelpPageCaptions[i], WS_CHILD | WS_VISIBLE, CRect(14, 113, 706, 386), this,
                             (UINT)-1);
        LoadSkinPicture(m_pictures[i], FixedText::kSkinHelpPages[i]);
        if (i > 0) m_pictures[i].ShowWindow(SW_HIDE);
    }
    return TRUE;
}

void Chotkey::ShowTab(int n) {
    if (n < 1 || n > 3 || n == m_currentTab) return;
    m_pictures[m_currentTab - 1].ShowWindow(SW_HIDE);
    m_pictures[n - 1].ShowWindow(SW_SHOW);
    m_currentTab = n;
}
