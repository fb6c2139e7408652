#include "disk/usb_disk_guard.h"

#include <stddef.h>

#include <mutex>
#include <set>
#include <string>

#include "core/fixed_texts.h"

BOOL FindDiskByDeviceNumber(IStorageCalls& storage, int deviceNumber, disk_info& disk) {
    if (deviceNumber < 0) return FALSE;
    CString paths[CDiskInventory::kMaxPaths];
    int count = storage.EnumerateDiskInterfaces(paths, CDiskInventory::kMaxPaths);
    BYTE descriptor[CDiskInventory::kDescriptorBufferSize];
    BYTE geometry[CDiskInventory::kGeometryBufferSize];
    BYTE number[sizeof(STORAGE_DEVICE_NUMBER)];
    for (int i = 0; i < count && i < CDiskInventory::kMaxPaths; ++i) {
        HANDLE device = storage.OpenDeviceForQuery(paths[i]);
        if (device == INVALID_HANDLE_VALUE) continue;
        disk_info record;
        record.interface_path = paths[i];
        ReadDiskRecord(storage, device, descriptor, geometry, number, true, record);
        storage.CloseDevice(device);
        if (record.device_number == deviceNumber) {
            disk = record;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL DriveIsProtected(const CString& drive, const ProtectedPaths& paths) {
    if (drive.GetLength() < 2) return FALSE;
    for (size_t i = 0; i < paths.size(); ++i) {
        const CString& path = paths[i];
        if (path.GetLength() >= 2 && path[1] == L':' && path.Left(2).CompareNoCase(drive.Left(2)) == 0) return TRUE;
    }
    return FALSE;
}

UsbDiskCheck CheckUsbDiskForWriting(IStorageCalls& storage, int deviceNumber, const CString& expectedPath,
                                    const ProtectedPaths& protectedPaths) {
    disk_info disk;
    if (!FindDiskByDeviceNumber(storage, deviceNumber, disk)) return kUsbDiskMissing;
    if (!expectedPath.IsEmpty() && disk.interface_path.CompareNoCase(expectedPath) != 0) return kUsbDiskChanged;
    const CString prefix = FixedText::kUsbInterfacePrefix;
    if (disk.bus_type != BusTypeUsb && disk.interface_path.Left(prefix.GetLength()) != prefix) return kUsbDiskNotUsb;
    if (ToolHungOn(disk.interface_path)) return kUsbDiskToolHung;
    // A protected drive on this disk refuses it; one that cannot be placed
    // refuses it too, after every path was looked at (on the disk wins).
    UsbDiskCheck result = kUsbDiskAccepted;
    for (size_t i = 0; i < protectedPaths.size(); ++i) {
        UsbDiskCheck check = CheckProtectedPath(storage, deviceNumber, protectedPaths[i]);
        if (check == kUsbDiskProtected) return check;
        if (check != kUsbDiskAccepted) result = check;
    }
    return result;
}

namespace {

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

UsbDiskCheck CheckProtectedPath(IStorageCalls& storage, int deviceNumber, const CString& path) {
    if (path.IsEmpty()) return kUsbDiskAccepted;  // nothing to protect
    CString rest = path;
    // "\\?\C:\..." and "\\?\UNC\server\..." are the long forms of the two below.
    const CString longPrefix = L"\\\\?\\";
    if (rest.Left(4) == longPrefix) {
        rest = rest.Mid(4);
        if (rest.Left(4).CompareNoCase(L"UNC\\") == 0) return kUsbDiskAccepted;
    } else if (rest.Left(2) == L"\\\\" && rest.GetLength() > 2 && rest[2] != L'.' && rest[2] != L'?') {
        return kUsbDiskAccepted;  // a network share, on no disk of this machine
    }
    if (rest.GetLength() < 2 || !IsLetter(rest[0]) || rest[1] != L':' ||
        (rest.GetLength() > 2 && rest[2] != L'\\'))
        return kUsbDiskProtectedUnseen;
    const CString drive = rest.Left(2);
    switch (storage.DriveType(drive + L"\\")) {
        case DRIVE_REMOTE:
        case DRIVE_CDROM:
        case DRIVE_RAMDISK: return kUsbDiskAccepted;
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE: break;
        default: return kUsbDiskProtectedUnseen;
    }
    HANDLE volume = storage.OpenDeviceForQuery(CString(FixedText::kVolumeDevicePrefix) + drive);
    if (volume == INVALID_HANDLE_VALUE) return kUsbDiskProtectedUnseen;
    BYTE buffer[sizeof(STORAGE_DEVICE_NUMBER)];
    STORAGE_DEVICE_NUMBER number = {};
    const BOOL answered = QueryStorageDeviceNumber(storage, volume, buffer, number);
    storage.CloseDevice(volume);
    if (!answered) return kUsbDiskProtectedUnseen;
    return (int)number.DeviceNumber == deviceNumber ? kUsbDiskProtected : kUsbDiskAccepted;
}

CString UsbDiskRefusalText(UsbDiskCheck check, int deviceNumber) {
    CString text;
    switch (check) {
        case kUsbDiskAccepted: break;
        case kUsbDiskMissing: text.Format(FixedText::kUsbRefuseNoDisk, deviceNumber); break;
        case kUsbDiskNotUsb: text.Format(FixedText::kUsbRefuseNotUsb, deviceNumber); break;
        case kUsbDiskProtected: text.Format(FixedText::kUsbRefuseProtected, deviceNumber); break;
        case kUsbDiskChanged: text.Format(FixedText::kUsbRefuseDiskChanged, deviceNumber); break;
        case kUsbDiskToolHung: text = FixedText::kUsbRefuseHungTool; break;
        case kUsbDiskProtectedUnseen: text.Format(FixedText::kUsbRefuseProtectedUnseen, deviceNumber); break;
        case kUsbDiskNoIdentity: text.Format(FixedText::kUsbRefuseNoIdentity, deviceNumber); break;
    }
    return text;
}

void AddOwnProtectedPaths(ProtectedPaths& paths) {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) paths.push_back(buffer);
    n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) paths.push_back(buffer);
}

CString JoinProtectedPaths(const ProtectedPaths& paths) {
    CString text;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (paths[i].IsEmpty()) continue;
        if (!text.IsEmpty()) text += FixedText::kProtectedPathsSeparator;
        text += paths[i];
    }
    return text;
}

void SplitProtectedPaths(const CString& text, ProtectedPaths& paths) {
    int start = 0;
    for (;;) {
        CString token = text.Tokenize(FixedText::kProtectedPathsSeparator, start);
        if (start < 0) break;
        if (!token.IsEmpty()) paths.push_back(token);
    }
}

namespace {

// The value of an environment variable of this process; empty when it is not set.
CString EnvironmentText(const wchar_t* name) {
    CString text;
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return text;
    wchar_t* buffer = text.GetBuffer((int)needed);
    DWORD got = GetEnvironmentVariableW(name, buffer, needed);
    text.ReleaseBuffer(got < needed ? (int)got : 0);
    return text;
}

}  // namespace

void ReadProtectedPathsFromEnvironment(ProtectedPaths& paths) {
    SplitProtectedPaths(EnvironmentText(FixedText::kProtectedPathsVariable), paths);
}

void PublishProtectedPaths(const ProtectedPaths& paths) {
    SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, JoinProtectedPaths(paths));
}

CString ReadDiskSerial(IStorageCalls& storage, HANDLE disk) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    BYTE buffer[CDiskInventory::kDescriptorBufferSize] = {};
    DWORD returned = 0;
    if (!storage.IoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer, sizeof(buffer),
                           &returned))
        return CString();
    if (returned > sizeof(buffer)) returned = sizeof(buffer);
    const STORAGE_DEVICE_DESCRIPTOR* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer);
    if (returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) + sizeof(DWORD)) return CString();
    // A device without one answers 0 (or all bits set, on some drivers).
    const DWORD offset = d->SerialNumberOffset;
    if (offset == 0 || offset == 0xFFFFFFFF || offset >= returned) return CString();
    CString serial = AnsiTextAt(buffer, returned, offset, L"");
    return serial.Trim();
}

BOOL ReadUsbDiskIdentity(IStorageCalls& storage, const CString& interfacePath, UsbDiskIdentity& identity) {
    identity = UsbDiskIdentity();
    if (interfacePath.IsEmpty()) return FALSE;
    HANDLE disk = storage.OpenDeviceForQuery(interfacePath);
    if (disk == INVALID_HANDLE_VALUE) return FALSE;
    identity.interfacePath = interfacePath;
    identity.serial = ReadDiskSerial(storage, disk);
    storage.CloseDevice(disk);
    return TRUE;
}

UsbDiskCheck CheckDiskIdentity(IStorageCalls& storage, HANDLE disk, int deviceNumber, const UsbDiskIdentity& identity) {
    if (identity.IsEmpty()) return kUsbDiskNoIdentity;
    if (ReadDiskSerial(storage, disk).CompareNoCase(identity.serial) != 0) return kUsbDiskChanged;
    // The number last: a caller that goes on to name the disk by its number
    // does so right after this answer.
    BYTE buffer[sizeof(STORAGE_DEVICE_NUMBER)];
    STORAGE_DEVICE_NUMBER number = {};
    if (!QueryStorageDeviceNumber(storage, disk, buffer, number) || (int)number.DeviceNumber != deviceNumber)
        return kUsbDiskChanged;
    return kUsbDiskAccepted;
}

void PublishDiskIdentity(const UsbDiskIdentity& identity) {
    SetEnvironmentVariableW(FixedText::kDiskIdentityVariable,
                            identity.IsEmpty() ? nullptr
                                               : (LPCWSTR)(identity.interfacePath + FixedText::kProtectedPathsSeparator +
                                                           identity.serial));
}

void ReadDiskIdentityFromEnvironment(UsbDiskIdentity& identity) {
    identity = UsbDiskIdentity();
    const CString text = EnvironmentText(FixedText::kDiskIdentityVariable);
    if (text.IsEmpty()) return;
    // An interface path never holds the separator; the serial number is the rest.
    const int cut = text.Find(FixedText::kProtectedPathsSeparator);
    identity.interfacePath = cut < 0 ? text : text.Left(cut);
    identity.serial = cut < 0 ? CString() : text.Mid(cut + 1);
}

namespace {

std::mutex g_hungLock;

std::set<std::wstring>& HungDisks() {
    static std::set<std::wstring> disks;
    return disks;
}

std::wstring HungKey(const CString& path) {
    CString upper = path;
    upper.MakeUpper();
    return std::wstring(upper.GetString());
}

}  // namespace

void NoteToolHung(const CString& interfacePath) {
    std::lock_guard<std::mutex> hold(g_hungLock);
    HungDisks().insert(HungKey(interfacePath));
}

BOOL ToolHungOn(const CString& interfacePath) {
    std::lock_guard<std::mutex> hold(g_hungLock);
    return HungDisks().count(HungKey(interfacePath)) ? TRUE : FALSE;
}

void ForgetHungTools() {
    std::lock_guard<std::mutex> hold(g_hungLock);
    HungDisks().clear();
}
