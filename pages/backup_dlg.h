// Step 2 of the install flow: the backup page, where the user chooses the
// user folders to keep. Not built yet: it carries what the main window uses
// (the three folder boxes, the backup folder link, the update link) and its
// Back and Next buttons, so the road can be walked.
#pragma once

#include "controls/color_text.h"
#include "controls/skin_button.h"
#include "pages/flow_page.h"

#define IDD_BACKUP 134
#define IDC_BACKUP_DESKTOP 1020
#define IDC_BACKUP_DOCUMENTS 1021
#define IDC_BACKUP_FAVORITES 1022
#define IDC_BACKUP_FOLDER_LINK 10141
#define IDC_BACKUP_BACK 10112
#define IDC_BACKUP_NEXT 10109

class CbackupDlg : public CFlowPage {
public:
    CbackupDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;

    CxSkinButton m_desktopBox;
    CxSkinButton m_documentsBox;
    CxSkinButton m_favoritesBox;
    CHyperLink m_folderLink;
    CxSkinButton m_backButton;
    CxSkinButton m_nextButton;

protected:
    void OnClickedBack();
    void OnClickedNext();
    DECLARE_MESSAGE_MAP()
};
