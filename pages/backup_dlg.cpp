#include "pages/backup_dlg.h"

#include "core/fixed_texts.h"
#include "core/messages.h"

BEGIN_MESSAGE_MAP(CbackupDlg, CFlowPage)
    ON_BN_CLICKED(IDC_BACKUP_BACK, OnClickedBack)
    ON_BN_CLICKED(IDC_BACKUP_NEXT, OnClickedNext)
END_MESSAGE_MAP()

CbackupDlg::CbackupDlg(CWnd* pParent) : CFlowPage(IDD_BACKUP, 2, pParent) {}

BOOL CbackupDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    struct Box {
        CxSkinButton& button;
        const wchar_t* pictures[4];
        const wchar_t* caption;
        int x;
        UINT id;
    } boxes[3] = {
        {m_desktopBox, {L"kvs_box_desktop_n.png", L"kvs_box_desktop_d.png", L"kvs_box_desktop_h.png", L"kvs_box_desktop_x.png"},
         L"桌面", 300, IDC_BACKUP_DESKTOP},
        {m_documentsBox, {L"kvs_box_documents_n.png", L"kvs_box_documents_d.png", L"kvs_box_documents_h.png",
                          L"kvs_box_documents_x.png"}, L"我的文档", 500, IDC_BACKUP_DOCUMENTS},
        {m_favoritesBox, {L"kvs_box_favorites_n.png", L"kvs_box_favorites_d.png", L"kvs_box_favorites_h.png",
                          L"kvs_box_favorites_x.png"}, L"收藏夹", 700, IDC_BACKUP_FAVORITES},
    };
    for (Box& box : boxes) {
        box.button.SetSkin(box.pictures[0], box.pictures[1], box.pictures[2], box.pictures[3]);
        box.button.Create(box.caption, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, CRect(box.x, 150, box.x + 100, 230), this,
                          box.id);
        box.button.SendMessage(BM_SETCHECK, BST_CHECKED);
    }
    m_folderLink.Create(FixedText::kBackupFolderLinkPrefix, WS_CHILD | WS_VISIBLE, CRect(260, 300, 860, 320), this,
                        IDC_BACKUP_FOLDER_LINK);
    LOGFONTW font = PageFont(-12);
    m_folderLink.SetFont(&font);
    m_backButton.SetSkin(FixedText::kSkinBack[0], FixedText::kSkinBack[1], FixedText::kSkinBack[2], FixedText::kSkinBack[3]);
    m_backButton.Create(FixedText::kBackCaption, WS_CHILD | WS_VISIBLE, CRect(620, 380, 740, 420), this, IDC_BACKUP_BACK);
    m_nextButton.SetSkin(FixedText::kSkinNext[0], FixedText::kSkinNext[1], FixedText::kSkinNext[2], FixedText::kSkinNext[3]);
    m_nextButton.Create(FixedText::kNextCaption, WS_CHILD | WS_VISIBLE, CRect(760, 380, 880, 420), this, IDC_BACKUP_NEXT);
    CreateUpdateLink();
    CreateStepStrip();
    return TRUE;
}

void CbackupDlg::OnClickedBack() { GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 0); }

void CbackupDlg::OnClickedNext() { GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 1); }
