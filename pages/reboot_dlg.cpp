#include "pages/reboot_dlg.h"

CRebootDlg::CRebootDlg(CWnd* pParent) : CFlowPage(IDD_REBOOT, 5, pParent) {}

BOOL CRebootDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    CreateStepStrip();
    return TRUE;
}
