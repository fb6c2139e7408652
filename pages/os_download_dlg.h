// Step 4 of the install flow: the download page. Not built yet: it carries
// what the main window reads and calls (the busy state, StopTask, the
// download folder, the update link).
#pragma once

#include "pages/flow_page.h"

#define IDD_OS_DOWNLOAD 136

class COsDownloadDlg : public CFlowPage {
public:
    COsDownloadDlg(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
    // Starts a run of the page's queue (the picker's OK, after it has shown
    // the page); FALSE while a run is already running. Nothing to run yet.
    BOOL BuildTaskQueue() { return FALSE; }
    // Stops the running download.
    void StopTask();
    // Shows the data folder the downloads go to.
    void ShowDownloadFolder();
    bool HoldsTasks() const { return m_downloadState != 0; }

    // 0 idle, 1 running, 2 paused.
    volatile LONG m_downloadState;
};
