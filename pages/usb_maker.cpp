#include "pages/usb_maker.h"

CUsbMaker::CUsbMaker(CWnd* pParent) : CPageDialog(IDD_USB_MAKER, pParent), m_jobRunning(0) {}

BOOL CUsbMaker::OnInitDialog() {
    CPageDialog::OnInitDialog();
    return TRUE;
}

void CUsbMaker::StopTask() {}

void CUsbMaker::RefreshDeviceList() {}

void CUsbMaker::FillImageList() {}
