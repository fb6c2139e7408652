// The picture page. Not built yet.
#pragma once

#include "pages/page_dialog.h"

#define IDD_MANUAL 133

class CManualDlg : public CPageDialog {
public:
    CManualDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
};
