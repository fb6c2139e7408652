// The USB page's help dialog: a modal popup of three picture tabs and a
// close button. It keeps the stock key handling, so Enter and Escape close it.
#pragma once

#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "winlib/winlib.h"

#define IDD_HOTKEY 149
#define IDC_HOTKEY_TAB_FIRST 10104
#define IDC_HOTKEY_CLOSE 10107

class Chotkey : public CDialogEx {
public:
    Chotkey(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    // Shows picture n (1..3) in place of the current one; nothing when it already shows.
    void ShowTab(int n);

    CxSkinButton m_closeButton;
    CxSkinButton m_tabButtons[3];
    CPicStaticCtrl m_background;
    CPicStaticCtrl m_pictures[3];
    int m_currentTab;

protected:
    void OnClickedFirstTab() { ShowTab(1); }
    void OnClickedSecondTab() { ShowTab(2); }
    void OnClickedThirdTab() { ShowTab(3); }
    void OnClickedClose() { OnOK(); }
    DECLARE_MESSAGE_MAP()
};
