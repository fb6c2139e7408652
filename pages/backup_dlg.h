// Step 2 of the install flow: the backup page. The user chooses which of
// the desktop, documents and favorites folders to save before the
// reinstall; a select-all box sets all three at once. The page does no work
// itself: the boxes' check states are its only output, read by the main
// window when the restart worker asks for each choice. It also shows the
// backup folder as a link (filled in by the main window) with who may open
// it after the reinstall, and, when the folders cannot be read as the
// signed-in user's, whose folders they are.
#pragma once

#include "controls/color_text.h"
#include "controls/skin_button.h"
#include "core/shell_calls.h"
#include "pages/flow_page.h"

#define IDD_BACKUP 134
#define IDC_BACKUP_DESKTOP 1020
#define IDC_BACKUP_DOCUMENTS 1021
#define IDC_BACKUP_FAVORITES 1022
#define IDC_BACKUP_ALL 1023
#define IDC_BACKUP_FOLDER_LINK 10141
#define IDC_BACKUP_ACCOUNT_NOTE 10142
#define IDC_BACKUP_NEW_WINDOWS_NOTE 10143

class CbackupDlg : public CFlowPage {
public:
    CbackupDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    CxSkinButton m_nextButton;
    CxSkinButton m_backButton;
    CHyperLink m_folderLink;
    // Desktop, documents, favorites (ids 1020..1022), then select-all (1023).
    CxSkinButton m_backupBoxes[4];
    CxSkinButton& m_desktopBox;
    CxSkinButton& m_documentsBox;
    CxSkinButton& m_favoritesBox;
    CxSkinButton& m_selectAllBox;
    // Hidden while the folders are read as the signed-in user's; else it
    // names the account whose folders are copied (in red, with the account
    // signed in, when the two differ).
    CColorText_Static m_accountNote;
    // Under the folder link, always shown: after the reinstall the backup
    // folder opens for an administrator of the new Windows.
    CColorText_Static m_newWindowsNote;
    static constexpr COLORREF kNoteColor = 0x333333;
    static constexpr COLORREF kOtherAccountColor = 0x0000FF;

    void OnClickedNext();
    void OnClickedBack();
    // Sets the three folder boxes to the select-all box's new state; the
    // select-all box itself is never changed by the folder boxes.
    void OnClickedSelectAll();
    // Asks again whose folders the backup would copy and shows it (the
    // page does this whenever it is shown).
    void ShowFolderOwner();

protected:
    void OnShowWindow(BOOL bShow, UINT nStatus);
    DECLARE_MESSAGE_MAP()
};
