#include "disk/usb_disk_inventory.h"

#include "core/fixed_texts.h"

CUsbDiskInventory::CUsbDiskInventory(IStorageCalls* storage)
    : m_pathCount(0),
      m_descriptorBuffer(static_cast<BYTE*>(calloc(1, CDiskInventory::kDescriptorBufferSize))),
      m_geometryBuffer(static_cast<BYTE*>(calloc(1, CDiskInventory::kGeometryBufferSize))),
      m_deviceNumberBuffer(static_cast<BYTE*>(calloc(1, sizeof(STORAGE_DEVICE_NUMBER)))),
      m_storage(storage ? storage : &CurrentStorageCalls()) {}

CUsbDiskInventory::~CUsbDiskInventory() {
    free(m_descriptorBuffer);
    free(m_geometryBuffer);
    free(m_deviceNumberBuffer);
}

void CUsbDiskInventory::Refresh() {
    m_disks.RemoveAll();
    m_letters.RemoveAll();
    for (int i = 0; i < CDiskInventory::kMaxPaths; ++i) m_paths[i].Empty();
    m_pathCount = 0;
    EnumerateDisks();
    EnumerateDriveLetters();
}

void CUsbDiskInventory::RefreshLetters() { EnumerateDriveLetters(); }

// Every enumerated interface takes its member index; only the USB ones keep
// their path there.
void CUsbDiskInventory::EnumerateUsbInterfaces() {
    CString all[CDiskInventory::kMaxPaths];
    int count = m_storage->EnumerateDiskInterfaces(all, CDiskInventory::kMaxPaths);
    if (count < 0) count = 0;
    if (count > CDiskInventory::kMaxPaths) count = CDiskInventory::kMaxPaths;
    const CString prefix = FixedText::kUsbInterfacePrefix;
    for (int i = 0; i < count; ++i)
        if (all[i].Left(prefix.GetLength()) == prefix) m_paths[i] = all[i];
    m_pathCount = count;
}

void CUsbDiskInventory::EnumerateDisks() {
    EnumerateUsbInterfaces();
    ReadDiskRecords(*m_storage, m_paths, m_pathCount, true, false, m_descriptorBuffer, m_geometryBuffer,
                    m_deviceNumberBuffer, m_disks);
}

void CUsbDiskInventory::EnumerateDriveLetters() {
    m_letters.RemoveAll();
    ReadDriveLetters(*m_storage, true, m_deviceNumberBuffer, m_letters);
}

BOOL DriveIsOnDevice(IStorageCalls& storage, const CString& drive, int deviceNumber) {
    CArray<driver_letter_info> letters;
    BYTE number[sizeof(STORAGE_DEVICE_NUMBER)];
    ReadDriveLetters(storage, true, number, letters);
    for (INT_PTR i = 0; i < letters.GetSize(); ++i)
        if (letters[i].letter.CompareNoCase(drive) == 0) return letters[i].device_number == deviceNumber;
    return FALSE;
}

int CUsbDiskInventory::DeviceNumberOfPath(const CString& path) const {
    for (INT_PTR i = 0; i < m_disks.GetSize(); ++i)
        if (m_disks[i].interface_path == path) return m_disks[i].device_number;
    return -1;
}

void CUsbDiskInventory::LetterOfDevice(int deviceNumber, int& count, CString& letter) {
    EnumerateDriveLetters();
    letter = FixedText::kNoLetter;
    count = 0;
    for (INT_PTR i = 0; i < m_letters.GetSize(); ++i) {
        if (m_letters[i].device_number != deviceNumber) continue;
        letter = m_letters[i].letter;
        ++count;
    }
}

BOOL CUsbDiskInventory::LettersOfPath(const CString& path, CString& letters) const {
    int device = DeviceNumberOfPath(path);
    if (device == -1) return FALSE;
    for (INT_PTR i = 0; i < m_letters.GetSize(); ++i)
        if (m_letters[i].device_number == device) letters += m_letters[i].letter;
    return TRUE;
}

BOOL CUsbDiskInventory::FindLetterByKey(const CString& key, CString& letter, BOOL refresh) {
    if (refresh) EnumerateDriveLetters();
    letter = FixedText::kNoLetter;
    for (INT_PTR i = 0; i < m_letters.GetSize(); ++i) {
        if (m_letters[i].key == key) {
            letter = m_letters[i].letter;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CUsbDiskInventory::LetterOfDeviceNumber(int deviceNumber, CString& letter) const {
    letter = FixedText::kNoLetter;
    for (INT_PTR i = 0; i < m_letters.GetSize(); ++i) {
        if (m_letters[i].device_number == deviceNumber) {
            letter = m_letters[i].letter;
            break;
        }
    }
    return TRUE;
}
