// The USB disk inventory of the USB page: the disks whose interface path
// marks them as USB mass-storage devices, the drive letters of every fixed
// and removable volume, and the lookups between device numbers, interface
// paths and drive letters that the page, its disk list and the boot-disk
// writer ask. Not thread-safe: one thread at a time uses it.
#pragma once

#include "core/text_utils.h"  // FormatByteSize, the disk list's size text, comes with the inventory
#include "disk/disk_inventory.h"

// Same shapes as the disk inventory's records. The model of a USB disk is not
// trimmed and its style text stays empty.
typedef disk_info usb_disk_info;
typedef driver_letter_info usb_driver_letter_info;

// Whether a drive ("E:") is, right now, a volume of the disk with this device
// number: the letters are read afresh, not taken from an inventory.
BOOL DriveIsOnDevice(IStorageCalls& storage, const CString& drive, int deviceNumber);

class CUsbDiskInventory {
public:
    // Null means the storage calls installed at construction.
    explicit CUsbDiskInventory(IStorageCalls* storage = nullptr);
    ~CUsbDiskInventory();
    CUsbDiskInventory(const CUsbDiskInventory&) = delete;
    CUsbDiskInventory& operator=(const CUsbDiskInventory&) = delete;

    // Starts from empty arrays and path slots, then lists the USB disks and
    // the drive letters.
    void Refresh();
    // The device number of the first disk with exactly this interface path, else -1.
    int DeviceNumberOfPath(const CString& path) const;
    // Re-reads the letters; count = the device's letters, letter = the last
    // of them (the no-letter text and 0 when it has none).
    void LetterOfDevice(int deviceNumber, int& count, CString& letter);
    // Appends the letters of the disk with this path (no separators, the
    // text not cleared first); FALSE when no disk has the path.
    BOOL LettersOfPath(const CString& path, CString& letters) const;
    // The letter of the first record with exactly this key (letters re-read
    // first when asked); the no-letter text and FALSE when none.
    BOOL FindLetterByKey(const CString& key, CString& letter, BOOL refresh);
    // The first letter of the device, or the no-letter text; always TRUE.
    BOOL LetterOfDeviceNumber(int deviceNumber, CString& letter) const;
    // Re-reads the drive letters only.
    void RefreshLetters();

    IStorageCalls& Storage() { return *m_storage; }

    CArray<usb_disk_info> m_disks;
    CArray<usb_driver_letter_info> m_letters;
    int m_pathCount;
    CString m_paths[64];
    BYTE* m_descriptorBuffer;
    BYTE* m_geometryBuffer;
    BYTE* m_deviceNumberBuffer;

private:
    void EnumerateUsbInterfaces();
    void EnumerateDisks();
    void EnumerateDriveLetters();

    IStorageCalls* m_storage;
};
