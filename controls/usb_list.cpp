#include "controls/usb_list.h"

#include "core/fixed_texts.h"

BEGIN_MESSAGE_MAP(CMyusbListbox, CListBox)
    ON_WM_LBUTTONUP()
END_MESSAGE_MAP()

CMyusbListbox::CMyusbListbox()
    : m_inventory(nullptr),
      m_unchecked(LoadControlPicture(FixedText::kSkinUsbListUnchosen)),
      m_checked(LoadControlPicture(FixedText::kSkinUsbListChosen)) {}

CMyusbListbox::~CMyusbListbox() {
    ReleasePicture(m_unchecked);
    ReleasePicture(m_checked);
}

BOOL CMyusbListbox::PreCreateWindow(CREATESTRUCTW& cs) {
    cs.style &= ~(DWORD)LBS_SORT;
    cs.style |= LBS_OWNERDRAWVARIABLE;
    return CListBox::PreCreateWindow(cs);
}

void CMyusbListbox::FillDisks(int allDisks) {
    if (!m_inventory) return;
    m_inventory->Refresh();
    ResetContent();
    for (INT_PTR i = 0; i < m_inventory->m_disks.GetSize(); ++i) {
        const usb_disk_info& disk = m_inventory->m_disks[i];
        if (disk.size_bytes > 0 && (disk.removable || allDisks)) AddString(disk.interface_path);
    }
}

CString CMyusbListbox::LettersOfDevice(int deviceNumber) {
    CString text = FixedText::kUsbListLettersStart;
    if (!m_inventory) return text;
    for (INT_PTR i = 0; i < m_inventory->m_letters.GetSize(); ++i)
        if (m_inventory->m_letters[i].device_number == deviceNumber) text += m_inventory->m_letters[i].letter;
    return text;
}

void CMyusbListbox::DiskItemText(CString& text) {
    if (!m_inventory) return;
    for (INT_PTR i = 0; i < m_inventory->m_disks.GetSize(); ++i) {
        const usb_disk_info& disk = m_inventory->m_disks[i];
        if (disk.interface_path != text) continue;
        CString number, size;
        number.Format(FixedText::kUsbListDiskNumberFormat, disk.device_number);
        size.Format(FixedText::kUsbListSizeFormat, FormatByteSize(disk.size_bytes).GetString());
        text = LettersOfDevice(disk.device_number) + number + disk.model + size;
        return;
    }
}

void CMyusbListbox::MeasureItem(LPMEASUREITEMSTRUCT item) { item->itemHeight = kItemHeight; }

void CMyusbListbox::DrawItem(LPDRAWITEMSTRUCT item) {
    // Every action draws the whole item: a selection moved by the keyboard
    // (or a focus change) must move the check mark with it, since the
    // selection is the disk a job erases.
    if (item->itemID == (UINT)-1) return;
    HDC dc = item->hDC;
    const COLORREF oldText = SetTextColor(dc, 0x676767);
    const COLORREF oldBack = GetBkColor(dc);
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    CRect rect(item->rcItem);
    COLORREF fill = selected ? 0xF5F2EE : oldBack;
    SetBkColor(dc, fill);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);

    CFont font;
    font.CreatePointFont(100, FixedText::kListFontFace, dc);
    HGDIOBJ oldFont = SelectObject(dc, font.GetSafeHandle());
    CRect textRect = rect;
    textRect.left += 55;
    GetText((int)item->itemID, m_scratch);
    DiskItemText(m_scratch);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, m_scratch, m_scratch.GetLength(), &textRect, DT_SINGLELINE | DT_VCENTER);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBack);
    SelectObject(dc, oldFont);

    DrawSkinPicture(dc, selected ? m_checked : m_unchecked, rect.left + 20, rect.top + 8, 13, 13);
}

void CMyusbListbox::OnLButtonUp(UINT nFlags, CPoint point) {
    Invalidate(TRUE);
    CListBox::OnLButtonUp(nFlags, point);
}
