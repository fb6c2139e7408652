// Step 3 of the install flow: the picker. Not built yet: it carries what the
// main window calls (FillLists, the update link).
#pragma once

#include "pages/flow_page.h"

#define IDD_OS_SELECT 135

class COsSelectDlg : public CFlowPage {
public:
    COsSelectDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
    // Fills the three image lists from the catalogue.
    void FillLists();
};
