// The image backup/restore page (its tab is never shown). Not built yet: it
// carries what the main window reads and calls.
#pragma once

#include "pages/page_dialog.h"

#define IDD_GHOST 132

class CGhostDlg : public CPageDialog {
public:
    CGhostDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
    void StopTask();
    void SetDefaultBackupPath();
    bool HoldsTasks() const { return m_jobRunning != 0; }

    volatile LONG m_jobRunning;
};
