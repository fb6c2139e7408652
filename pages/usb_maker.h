// The USB disk maker page. Not built yet: it carries what the main window
// reads and calls (the job flag, StopTask, the disk and image lists).
#pragma once

#include "pages/page_dialog.h"

#define IDD_USB_MAKER 131

class CUsbMaker : public CPageDialog {
public:
    CUsbMaker(CWnd* pParent = nullptr);
    BOOL OnInitDialog() override;
    void StopTask();
    // Re-reads the USB disks and refills the disk list.
    void RefreshDeviceList();
    // Fills the image list from the catalogue.
    void FillImageList();
    bool HoldsTasks() const { return m_jobRunning != 0; }

    volatile LONG m_jobRunning;
};
