#include "pages/os_download_dlg.h"

COsDownloadDlg::COsDownloadDlg(CWnd* pParent) : CFlowPage(IDD_OS_DOWNLOAD, 4, pParent), m_downloadState(0) {}

BOOL COsDownloadDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    CreateUpdateLink();
    CreateStepStrip();
    return TRUE;
}

void COsDownloadDlg::StopTask() { InterlockedExchange(&m_downloadState, 0); }

void COsDownloadDlg::ShowDownloadFolder() {}
