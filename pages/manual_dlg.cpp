#include "pages/manual_dlg.h"

CManualDlg::CManualDlg(CWnd* pParent) : CPageDialog(IDD_MANUAL, pParent) {}

BOOL CManualDlg::OnInitDialog() {
    CPageDialog::OnInitDialog();
    return TRUE;
}
