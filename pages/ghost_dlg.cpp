#include "pages/ghost_dlg.h"

CGhostDlg::CGhostDlg(CWnd* pParent) : CPageDialog(IDD_GHOST, pParent), m_jobRunning(0) {}

BOOL CGhostDlg::OnInitDialog() {
    CPageDialog::OnInitDialog();
    return TRUE;
}

void CGhostDlg::StopTask() {}

void CGhostDlg::SetDefaultBackupPath() {}
