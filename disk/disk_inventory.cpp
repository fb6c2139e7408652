#include "disk/disk_inventory.h"

#include <stddef.h>

#include <algorithm>

#include "core/fixed_texts.h"

CString AnsiTextAt(const BYTE* buffer, DWORD returned, DWORD offset, const wchar_t* fallback) {
    if (offset == 0 || offset >= returned) return fallback;
    const char* start = reinterpret_cast<const char*>(buffer + offset);
    DWORD length = 0;
    while (offset + length < returned && start[length] != 0) ++length;
    return CString(CStringA(start, (int)length));
}

CString LayoutDiskId(const DRIVE_LAYOUT_INFORMATION_EX& layout) {
    CString id;
    if (layout.PartitionStyle == PARTITION_STYLE_MBR) id.Format(L"%08X", (unsigned)layout.Mbr.Signature);
    else if (layout.PartitionStyle == PARTITION_STYLE_GPT) id = GuidToText(layout.Gpt.DiskId);
    return id;
}

CString MakePartitionKey(int deviceNumber, int partitionNumber) {
    CString key;
    key.Format(L"%d:%d", deviceNumber, partitionNumber);
    return key;
}

CDiskInventory::CDiskInventory(IStorageCalls* storage, IBootHost* host)
    : m_pathCount(0),
      m_descriptorBuffer(static_cast<BYTE*>(calloc(1, kDescriptorBufferSize))),
      m_geometryBuffer(static_cast<BYTE*>(calloc(1, kGeometryBufferSize))),
      m_deviceNumberBuffer(static_cast<BYTE*>(calloc(1, sizeof(STORAGE_DEVICE_NUMBER)))),
      m_layoutBuffer(static_cast<BYTE*>(calloc(1, kLayoutBufferSize))),
      m_tempLettersAssigned(0),
      m_storage(storage ? storage : &CurrentStorageCalls()),
      m_host(host ? host : &CurrentBootHost()) {}

CDiskInventory::~CDiskInventory() {
    // Removed from the list of what was defined, not from the records: a
    // later refresh may have replaced those.
    if (m_tempLettersAssigned) {
        for (INT_PTR i = 0; i < m_definedLetters.GetSize(); ++i)
            UnmountPartitionLetter(m_definedLetters[i].key, m_definedLetters[i].letter, *m_storage);
    }
    free(m_descriptorBuffer);
    free(m_geometryBuffer);
    free(m_deviceNumberBuffer);
    free(m_layoutBuffer);
}

void CDiskInventory::Refresh() {
    m_disks.RemoveAll();
    m_letters.RemoveAll();
    m_partitions.RemoveAll();
    m_totalPartitions.RemoveAll();
    for (int i = 0; i < kMaxPaths; ++i) m_paths[i].Empty();
    m_pathCount = 0;
    EnumerateDiskInterfaces();
    EnumerateDriveLetters();
    EnumerateDisks();
    EnumeratePartitions();
}

void CDiskInventory::EnumerateDiskInterfaces() {
    int count = m_storage->EnumerateDiskInterfaces(m_paths, kMaxPaths);
    m_pathCount = count < 0 ? 0 : (count > kMaxPaths ? kMaxPaths : count);
}

BOOL QueryStorageDeviceNumber(IStorageCalls& storage, HANDLE device, BYTE* numberBuffer,
                               STORAGE_DEVICE_NUMBER& number) {
    memset(numberBuffer, 0, sizeof(STORAGE_DEVICE_NUMBER));
    DWORD returned = 0;
    if (!storage.IoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, numberBuffer,
                           sizeof(STORAGE_DEVICE_NUMBER), &returned))
        return FALSE;
    if (returned < sizeof(STORAGE_DEVICE_NUMBER)) return FALSE;
    memcpy(&number, numberBuffer, sizeof(number));
    return TRUE;
}

BOOL CDiskInventory::QueryDeviceNumber(HANDLE device, STORAGE_DEVICE_NUMBER& number) {
    return QueryStorageDeviceNumber(*m_storage, device, m_deviceNumberBuffer, number);
}

void ReadDriveLetters(IStorageCalls& storage, bool queryOnly, BYTE* numberBuffer,
                      CArray<driver_letter_info>& letters) {
    DWORD needed = storage.LogicalDriveStrings(0, nullptr);
    if (needed == 0) return;
    wchar_t* roots = static_cast<wchar_t*>(calloc(needed + 1, sizeof(wchar_t)));
    if (!roots) return;
    DWORD written = storage.LogicalDriveStrings(needed, roots);
    if (written > needed) written = needed;
    // The list is "C:\<0>D:\<0><0>"; never walk past what was written.
    for (DWORD at = 0; at < written && roots[at];) {
        CString root = roots + at;
        at += (DWORD)root.GetLength() + 1;
        UINT type = storage.DriveType(root);
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
        CString letter = root.Left(root.GetLength() - 1);
        CString device = CString(FixedText::kVolumeDevicePrefix) + letter;
        HANDLE volume = queryOnly ? storage.OpenDeviceForQuery(device) : storage.OpenDevice(device);
        if (volume == INVALID_HANDLE_VALUE) continue;
        STORAGE_DEVICE_NUMBER number;
        if (QueryStorageDeviceNumber(storage, volume, numberBuffer, number)) {
            driver_letter_info record;
            record.letter = letter;
            record.device_number = (int)number.DeviceNumber;
            record.partition_number = (int)number.PartitionNumber;
            record.key = MakePartitionKey(record.device_number, record.partition_number);
            letters.Add(record);
        }
        storage.CloseDevice(volume);
    }
    free(roots);
}

void CDiskInventory::EnumerateDriveLetters() {
    ReadDriveLetters(*m_storage, false, m_deviceNumberBuffer, m_letters);
}

void ReadDiskRecord(IStorageCalls& storage, HANDLE device, BYTE* descriptorBuffer, BYTE* geometryBuffer,
                    BYTE* numberBuffer, bool trimModel, disk_info& disk) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    memset(descriptorBuffer, 0, CDiskInventory::kDescriptorBufferSize);
    DWORD returned = 0;
    if (storage.IoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), descriptorBuffer,
                          CDiskInventory::kDescriptorBufferSize, &returned)) {
        if (returned > CDiskInventory::kDescriptorBufferSize) returned = CDiskInventory::kDescriptorBufferSize;
        const STORAGE_DEVICE_DESCRIPTOR* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(descriptorBuffer);
        // Each field counts only when the answer reaches it.
        if (returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) + sizeof(d->RemovableMedia))
            disk.removable = d->RemovableMedia ? 1 : 0;
        if (returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(d->BusType))
            disk.bus_type = (int)d->BusType;
        DWORD vendorOffset = 0, productOffset = 0;
        if (returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) + sizeof(DWORD))
            vendorOffset = d->VendorIdOffset;
        if (returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) + sizeof(DWORD))
            productOffset = d->ProductIdOffset;
        CString model = AnsiTextAt(descriptorBuffer, returned, vendorOffset, FixedText::kDefaultVendor) +
                        AnsiTextAt(descriptorBuffer, returned, productOffset, FixedText::kDefaultProduct);
        disk.model = trimModel ? model.Trim() : model;
    }

    BYTE media[CDiskInventory::kMediaTypesBlockSize] = {};
    returned = 0;
    if (storage.IoControl(device, IOCTL_STORAGE_GET_MEDIA_TYPES_EX, nullptr, 0, media, sizeof(media), &returned)) {
        const GET_MEDIA_TYPES* types = reinterpret_cast<const GET_MEDIA_TYPES*>(media);
        const DWORD needed = offsetof(GET_MEDIA_TYPES, MediaInfo) + sizeof(types->MediaInfo[0].DeviceSpecific.DiskInfo);
        if (returned >= needed && returned <= sizeof(media) && types->MediaInfoCount >= 1) {
            const auto& info = types->MediaInfo[0].DeviceSpecific.DiskInfo;
            DISK_GEOMETRY geometry = {};
            geometry.Cylinders = info.Cylinders;
            geometry.MediaType = (MEDIA_TYPE)info.MediaType;
            geometry.TracksPerCylinder = info.TracksPerCylinder;
            geometry.SectorsPerTrack = info.SectorsPerTrack;
            geometry.BytesPerSector = info.BytesPerSector;
            memcpy(geometryBuffer, &geometry, CDiskInventory::kGeometryBufferSize);
            disk.size_bytes = (ULONGLONG)info.Cylinders.QuadPart * info.TracksPerCylinder *
                              info.SectorsPerTrack * info.BytesPerSector;
        }
    }

    STORAGE_DEVICE_NUMBER number;
    if (QueryStorageDeviceNumber(storage, device, numberBuffer, number)) disk.device_number = (int)number.DeviceNumber;
}

void ReadDiskRecords(IStorageCalls& storage, const CString* paths, int count, bool queryOnly, bool trimModel,
                     BYTE* descriptorBuffer, BYTE* geometryBuffer, BYTE* numberBuffer, CArray<disk_info>& disks) {
    for (int i = 0; i < count; ++i) {
        if (paths[i].IsEmpty()) continue;
        HANDLE device = queryOnly ? storage.OpenDeviceForQuery(paths[i]) : storage.OpenDevice(paths[i]);
        if (device == INVALID_HANDLE_VALUE) continue;
        disk_info disk;
        disk.interface_path = paths[i];
        ReadDiskRecord(storage, device, descriptorBuffer, geometryBuffer, numberBuffer, trimModel, disk);
        disks.Add(disk);
        storage.CloseDevice(device);
    }
    // Stable merge sort by device number; equal numbers keep enumeration order.
    std::stable_sort(disks.GetData(), disks.GetData() + disks.GetSize(), CDiskInventory::CompareDiskNumber);
}

void CDiskInventory::EnumerateDisks() {
    ReadDiskRecords(*m_storage, m_paths, m_pathCount, false, true, m_descriptorBuffer, m_geometryBuffer,
                    m_deviceNumberBuffer, m_disks);
}

BOOL CDiskInventory::QueryDriveLayout(HANDLE device, BYTE* buffer, DWORD* returned) {
    memset(buffer, 0, kLayoutBufferSize);
    DWORD got = 0;
    BOOL ok = m_storage->IoControl(device, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer, kLayoutBufferSize, &got);
    if (returned) *returned = got > kLayoutBufferSize ? kLayoutBufferSize : got;
    return ok ? TRUE : FALSE;
}

void CDiskInventory::ReadVolumeFacts(total_partition_info& record) {
    ReadVolumeInfo(record.letter, record.volume_label, record.file_system);
    GetFreeSpaceMB(record.letter, record.free_mb);
    record.system_kind = ClassifyVolumeContent(record.letter);
}

void CDiskInventory::EnumeratePartitions() {
    const DWORD header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    for (INT_PTR d = 0; d < m_disks.GetSize(); ++d) {
        disk_info& disk = m_disks[d];
        HANDLE device = m_storage->OpenDevice(disk.interface_path);
        if (device == INVALID_HANDLE_VALUE) continue;
        DWORD returned = 0;
        if (!QueryDriveLayout(device, m_layoutBuffer, &returned) || returned < header) {
            m_storage->CloseDevice(device);
            continue;
        }
        const DRIVE_LAYOUT_INFORMATION_EX* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(m_layoutBuffer);
        int style = (int)layout->PartitionStyle;
        disk.disk_id = LayoutDiskId(*layout);
        if (style == PARTITION_STYLE_MBR) disk.style_text = FixedText::kStyleMbr;
        else if (style == PARTITION_STYLE_GPT) disk.style_text = FixedText::kStyleGpt;
        else if (style == PARTITION_STYLE_RAW) disk.style_text = FixedText::kStyleRaw;
        if (style != PARTITION_STYLE_MBR && style != PARTITION_STYLE_GPT) {
            m_storage->CloseDevice(device);
            continue;
        }
        // Only the entries the driver actually returned are read.
        DWORD fits = (returned - header) / sizeof(PARTITION_INFORMATION_EX);
        DWORD count = layout->PartitionCount < fits ? layout->PartitionCount : fits;
        for (DWORD e = 0; e < count; ++e) {
            const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[e];
            if (entry.PartitionNumber == 0) continue;
            partition_info raw;
            raw.disk_number = disk.device_number;
            raw.partition_style = style;
            raw.starting_offset = entry.StartingOffset.QuadPart;
            raw.length = entry.PartitionLength.QuadPart;
            raw.partition_number = (int)entry.PartitionNumber;

            total_partition_info record;
            record.disk_number = disk.device_number;
            record.interface_path = disk.interface_path;
            record.model = disk.model;
            record.bus_type = disk.bus_type;
            record.partition_style = style;
            record.partition_number = raw.partition_number;
            record.starting_offset = raw.starting_offset;
            record.key = MakePartitionKey(disk.device_number, raw.partition_number);
            record.mapped_letter = FixedText::kNoMapping;
            record.letter = FindLetterByKey(record.key);
            // A letter this inventory defined stays marked as ours (it goes
            // at exit), whatever refresh finds it again.
            for (INT_PTR m = 0; m < m_definedLetters.GetSize(); ++m)
                if (m_definedLetters[m].key == record.key && m_definedLetters[m].letter == record.letter)
                    record.mapped_letter = record.letter;
            record.disk_id = disk.disk_id;
            record.free_mb = 0.0;
            record.volume_label = FixedText::kDefaultVolumeLabel;
            record.file_system = FixedText::kDefaultFileSystem;
            record.system_kind = FixedText::kDefaultSystemKind;
            if (StringsDiffer(record.letter, FixedText::kNoLetter)) ReadVolumeFacts(record);
            record.size_mb = (double)(ULONGLONG)entry.PartitionLength.QuadPart / 1024.0 / 1024.0;

            if (style == PARTITION_STYLE_GPT) {
                const PARTITION_INFORMATION_GPT& gpt = entry.Gpt;
                memcpy(raw.info, &gpt, sizeof(gpt));
                record.type_name = GptTypeName(GuidToText(gpt.PartitionType));
                record.id_or_active = GuidToText(gpt.PartitionId);
                record.attributes_or_recognized.Format(FixedText::kAttributesFormat, (unsigned)(gpt.Attributes & 0xFFFFFFFFu),
                                                       (unsigned)(gpt.Attributes >> 32));
                // The name field holds 36 characters and need not end with a zero.
                const int nameChars = (int)(sizeof(gpt.Name) / sizeof(gpt.Name[0]));
                int length = 0;
                while (length < nameChars && gpt.Name[length]) ++length;
                record.name_or_hidden = CString(gpt.Name, length);
            } else {
                const PARTITION_INFORMATION_MBR& mbr = entry.Mbr;
                raw.info[0] = mbr.PartitionType;
                raw.info[1] = mbr.BootIndicator ? 1 : 0;
                raw.info[2] = mbr.RecognizedPartition ? 1 : 0;
                memcpy(raw.info + 4, &mbr.HiddenSectors, sizeof(DWORD));
                record.type_name = MbrTypeName(mbr.PartitionType);
                record.id_or_active = mbr.BootIndicator ? FixedText::kActivePartition : FixedText::kInactivePartition;
                record.attributes_or_recognized.Format(FixedText::kRecognizedFormat, (unsigned)(BYTE)mbr.RecognizedPartition);
                record.name_or_hidden.Format(FixedText::kHiddenSectorsFormat, (unsigned)mbr.HiddenSectors);
            }
            record.is_efi_type = record.type_name.Left(6) == FixedText::kEfiTypePrefix &&
                                 record.type_name.GetLength() >= 6;
            m_partitions.Add(raw);
            m_totalPartitions.Add(record);
        }
        m_storage->CloseDevice(device);
    }
}

CString CDiskInventory::FindLetterByKey(const CString& key) const {
    for (INT_PTR i = 0; i < m_letters.GetSize(); ++i)
        if (m_letters[i].key == key) return m_letters[i].letter;
    return FixedText::kNoLetter;
}

void CDiskInventory::ReadVolumeInfo(const CString& letter, CString& label, CString& fileSystem) {
    wchar_t labelBuffer[261] = {};
    wchar_t fsBuffer[261] = {};
    if (!m_storage->VolumeInformation(letter + FixedText::kRootSuffix, labelBuffer, 261, fsBuffer, 261)) return;
    labelBuffer[260] = 0;
    fsBuffer[260] = 0;
    label = labelBuffer;
    fileSystem = fsBuffer;
}

void CDiskInventory::GetFreeSpaceMB(const CString& letter, double& freeMb) {
    ULONGLONG bytes = 0;
    if (!m_storage->FreeBytesForCaller(letter + FixedText::kRootSuffix, &bytes)) return;
    freeMb = (double)bytes / 1024.0 / 1024.0;
}

namespace {

// The system text of a product version: its first three characters against
// the table's prefixes, in table order.
CString SystemOfVersion(const CString& version) {
    struct VersionPrefix {
        const wchar_t* prefix;
        const wchar_t* system;
    };
    static const VersionPrefix kTable[8] = {
        {L"5.0", FixedText::kSystemWin2000}, {L"5.1", FixedText::kSystemWinXp},
        {L"5.2", FixedText::kSystemWin2003}, {L"6.0", FixedText::kSystemVista},
        {L"6.1", FixedText::kSystemWin7},    {L"6.2", FixedText::kSystemWin8},
        {L"6.3", FixedText::kSystemWin81},   {L"10.", FixedText::kSystemWin10},
    };
    CString head = version.Left(3);
    for (const VersionPrefix& entry : kTable)
        if (head == entry.prefix) return entry.system;
    return FixedText::kOtherSystem;
}

}  // namespace

CString CDiskInventory::ClassifyVolumeContent(const CString& letter) {
    CString probe = letter + FixedText::kSystemProbePath;
    const int cut = probe.ReverseFind(L'\\');
    CString windows;
    BOOL wow64 = FALSE, sysnative = FALSE;
    // Our process is 32-bit. On 64-bit Windows the running system's own
    // System32 (and only that folder) is redirected to SysWOW64, which holds
    // no kernel file: there the probe goes through the Sysnative alias.
    // Redirection is never switched off instead: a DLL loaded meanwhile
    // (the delay-loaded version library) would not load.
    if (m_storage->RunningWindows(windows, wow64, sysnative) && wow64 &&
        probe.Left(cut).CompareNoCase(windows + FixedText::kPathSeparator + FixedText::kSystemFolderName) == 0) {
        if (!sysnative) {
            // 64-bit XP and Server 2003 without the update that adds the
            // alias: the running system is installed all the same, and its
            // version comes from the kernel.
            CString running;
            if (!m_storage->RunningSystemVersion(running)) return FixedText::kSystemUnknownVersion;
            return SystemOfVersion(running);
        }
        probe = windows + FixedText::kPathSeparator + FixedText::kSysnativeFolder + probe.Mid(cut);
    }
    if (!m_storage->FindFile(probe)) return FixedText::kNoSystem;
    CString version;
    if (!m_storage->ProductVersion(probe, version)) return FixedText::kSystemUnknownVersion;
    return SystemOfVersion(version);
}

int CDiskInventory::StringsDiffer(const wchar_t* a, const wchar_t* b) { return wcscmp(a ? a : L"", b ? b : L"") ? 1 : 0; }

bool CDiskInventory::CompareDiskNumber(const disk_info& left, const disk_info& right) {
    return left.device_number < right.device_number;
}

bool CDiskInventory::FirmwareSystemPartitionKey(CString& key) {
    CString name;
    // Only an NT device name: anything else would open something of a
    // Win32 name instead.
    if (!m_storage->SystemPartitionDevice(name) || name.IsEmpty() || name[0] != L'\\') return false;
    HANDLE volume = m_storage->OpenDeviceForQuery(CString(FixedText::kGlobalRootPrefix) + name);
    if (volume == INVALID_HANDLE_VALUE) return false;
    STORAGE_DEVICE_NUMBER number;
    const BOOL known = QueryDeviceNumber(volume, number);
    m_storage->CloseDevice(volume);
    if (!known) return false;
    key = MakePartitionKey((int)number.DeviceNumber, (int)number.PartitionNumber);
    return true;
}

bool CDiskInventory::StillWhereSeen(const total_partition_info& record) {
    HANDLE device = m_storage->OpenDeviceForQuery(record.interface_path);
    if (device == INVALID_HANDLE_VALUE) return false;
    STORAGE_DEVICE_NUMBER number;
    bool same = QueryDeviceNumber(device, number) && (int)number.DeviceNumber == record.disk_number;
    DWORD returned = 0;
    const DWORD header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    if (same) same = QueryDriveLayout(device, m_layoutBuffer, &returned) && returned >= header;
    m_storage->CloseDevice(device);
    if (same) {
        const DRIVE_LAYOUT_INFORMATION_EX* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(m_layoutBuffer);
        same = (int)layout->PartitionStyle == record.partition_style && LayoutDiskId(*layout) == record.disk_id;
        bool found = false;
        const DWORD fits = (returned - header) / sizeof(PARTITION_INFORMATION_EX);
        const DWORD entries = layout->PartitionCount < fits ? layout->PartitionCount : fits;
        for (DWORD e = 0; same && e < entries; ++e) {
            const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[e];
            if ((int)entry.PartitionNumber == record.partition_number)
                found = entry.StartingOffset.QuadPart == record.starting_offset;
        }
        same = same && found;
    }
    // The letter's volume must be that partition too.
    const bool lettered = record.letter.GetLength() == 2 && record.letter[1] == L':';
    if (same && lettered) {
        HANDLE volume = m_storage->OpenDeviceForQuery(CString(FixedText::kVolumeDevicePrefix) + record.letter);
        if (volume == INVALID_HANDLE_VALUE) return false;
        same = QueryDeviceNumber(volume, number) && (int)number.DeviceNumber == record.disk_number &&
               (int)number.PartitionNumber == record.partition_number;
        m_storage->CloseDevice(volume);
    }
    return same;
}
