// CMyusbListbox: the USB page's owner-drawn list of USB disks. Each item's
// text is a disk's interface path; drawing turns it into the disk's drive
// letters, device number, model and size beside a check picture that marks
// the selected disk. Main thread only.
#pragma once

#include "controls/skin_picture.h"
#include "disk/usb_disk_inventory.h"
#include "winlib/winlib.h"

class CMyusbListbox : public CListBox {
public:
    CMyusbListbox();
    ~CMyusbListbox() override;

    // Refreshes the inventory and lists every disk with media that is
    // removable, or every one when allDisks is nonzero.
    void FillDisks(int allDisks);
    // An interface path becomes the display line; other text stays as it is.
    void DiskItemText(CString& text);
    // The start text followed by the device's letters, in inventory order.
    CString LettersOfDevice(int deviceNumber);

    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    void MeasureItem(LPMEASUREITEMSTRUCT lpMeasureItemStruct) override;

    CUsbDiskInventory* m_inventory;  // the page's, not owned
    CString m_scratch;

    static const int kItemHeight = 30;

protected:
    BOOL PreCreateWindow(CREATESTRUCTW& cs) override;
    void OnLButtonUp(UINT nFlags, CPoint point);
    DECLARE_MESSAGE_MAP()

private:
    Gdiplus::Image* m_unchecked;
    Gdiplus::Image* m_checked;
};
