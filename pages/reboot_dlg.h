// Step 5 of the install flow: the restart page. Not built yet.
#pragma once

#include "pages/flow_page.h"

#define IDD_REBOOT 137

class CRebootDlg : public CFlowPage {
public:
    CRebootDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
};
