#include "pages/os_select_dlg.h"

COsSelectDlg::COsSelectDlg(CWnd* pParent) : CFlowPage(IDD_OS_SELECT, 3, pParent) {}

BOOL COsSelectDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    CreateUpdateLink();
    CreateStepStrip();
    return TRUE;
}

void COsSelectDlg::FillLists() {}
