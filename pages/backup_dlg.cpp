#include "pages/backup_dlg.h"

#include "core/fixed_texts.h"
#include "core/messages.h"

BEGIN_MESSAGE_MAP(CbackupDlg, CFlowPage)
    ON_BN_CLICKED(IDC_NEXT, OnClickedNext)
    ON_BN_CLICKED(IDC_BACK, OnClickedBack)
    ON_BN_CLICKED(IDC_BACKUP_ALL, OnClickedSelectAll)
    ON_WM_SHOWWINDOW()
END_MESSAGE_MAP()

CbackupDlg::CbackupDlg(CWnd* pParent)
    : CFlowPage(IDD_BACKUP, 2, pParent),
      m_desktopBox(m_backupBoxes[0]),
      m_documentsBox(m_backupBoxes[1]),
      m_favoritesBox(m_backupBoxes[2]),
      m_selectAllBox(m_backupBoxes[3]) {}

BOOL CbackupDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    SetButtonSkin(m_nextButton, FixedText::kSkinNext);
    m_nextButton.Create(FixedText::kNextCaption, WS_CHILD | WS_VISIBLE, CRect(760, 380, 880, 420), this, IDC_NEXT);
    SetButtonSkin(m_backButton, FixedText::kSkinBack);
    m_backButton.Create(FixedText::kBackCaption, WS_CHILD | WS_VISIBLE, CRect(600, 380, 720, 420), this, IDC_BACK);
    CreateStepStrip();

    m_folderLink.Create(FixedText::kBackupFolderLinkInitial, WS_CHILD | WS_VISIBLE, CRect(310, 60, 810, 85), this,
                        IDC_BACKUP_FOLDER_LINK);
    LOGFONTW font = PageFont(FixedText::kBackupFolderLinkHeight);
    font.lfUnderline = TRUE;
    m_folderLink.SetFont(&font);
    m_folderLink.SetTransparent();
    m_newWindowsNote.Create(FixedText::kBackupFolderNewWindowsNote, WS_CHILD | WS_VISIBLE, CRect(256, 102, 866, 122),
                            this, IDC_BACKUP_NEW_WINDOWS_NOTE);
    LOGFONTW newWindowsFont = PageFont(-13);
    m_newWindowsNote.SetFont(&newWindowsFont, TRUE);
    m_newWindowsNote.SetTextColor(kNoteColor);

    // The boxes start unchecked: nothing is backed up unless the user asks.
    const struct {
        const wchar_t* const* pictures;
        const wchar_t* caption;
        RECT rect;
    } boxes[4] = {
        {FixedText::kSkinBoxDesktop, FixedText::kBoxDesktopCaption, {330, 160, 430, 240}},
        {FixedText::kSkinBoxDocuments, FixedText::kBoxDocumentsCaption, {510, 160, 610, 240}},
        {FixedText::kSkinBoxFavorites, FixedText::kBoxFavoritesCaption, {690, 160, 790, 240}},
        {FixedText::kSkinSelectAll, FixedText::kSelectAllCaption, {250, 55, 300, 85}},
    };
    // The select-all box first, as the user reads the page.
    const int creationOrder[4] = {3, 0, 1, 2};
    for (int i : creationOrder) {
        m_backupBoxes[i].Create(boxes[i].caption, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, boxes[i].rect, this,
                                IDC_BACKUP_DESKTOP + i);
        SetButtonSkin(m_backupBoxes[i], boxes[i].pictures);
    }
    m_accountNote.Create(L"", WS_CHILD, CRect(256, 262, 866, 322), this, IDC_BACKUP_ACCOUNT_NOTE);
    LOGFONTW noteFont = PageFont(-13);
    m_accountNote.SetFont(&noteFont, TRUE);
    ShowFolderOwner();
    CreateUpdateLink();
    return TRUE;
}

void CbackupDlg::OnShowWindow(BOOL bShow, UINT nStatus) {
    CFlowPage::OnShowWindow(bShow, nStatus);
    if (bShow) ShowFolderOwner();
}

void CbackupDlg::ShowFolderOwner() {
    if (!m_accountNote.GetSafeHwnd()) return;
    UserFolders folders;
    FindUserFolders(folders);
    if (folders.fromDesktopShell) {
        m_accountNote.ShowWindow(SW_HIDE);
        return;
    }
    CString text = CString(FixedText::kBackupAccountPrefix) +
                   (folders.account.IsEmpty() ? CString(FixedText::kBackupAccountUnknown) : folders.account) +
                   FixedText::kBackupAccountSuffix;
    const bool other = !folders.OfSignedInUser();
    if (other)
        text += CString(FixedText::kBackupAccountOtherPrefix) +
                (folders.signedInAccount.IsEmpty() ? CString(FixedText::kBackupAccountUnknown)
                                                   : folders.signedInAccount) +
                FixedText::kBackupAccountOtherSuffix;
    m_accountNote.SetTextColor(other ? kOtherAccountColor : kNoteColor);
    m_accountNote.SetWindowText(text);
    m_accountNote.ShowWindow(SW_SHOW);
    m_accountNote.Invalidate();
}

void CbackupDlg::OnClickedNext() { GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 1); }

void CbackupDlg::OnClickedBack() { GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 0); }

void CbackupDlg::OnClickedSelectAll() {
    // The click has already toggled the box.
    const WPARAM check = m_selectAllBox.SendMessage(BM_GETCHECK) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
    for (int id = IDC_BACKUP_DESKTOP; id <= IDC_BACKUP_FAVORITES; ++id) ::SendDlgItemMessageW(m_hWnd, id, BM_SETCHECK, check, 0);
}
