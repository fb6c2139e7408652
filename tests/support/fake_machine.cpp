#include "support/fake_machine.h"

#include <sddl.h>

#include <stddef.h>
#include <wctype.h>

#include <algorithm>

#include "core/fixed_texts.h"

const GUID kEfiTypeGuid = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
const GUID kMsrTypeGuid = {0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
const GUID kBasicDataGuid = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
const GUID kRecoveryGuid = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};

namespace {

// "X:", "X:\" or "\\.\X:" -> X; 0 otherwise.
wchar_t DriveOf(const std::wstring& path) {
    std::wstring p = path;
    if (p.compare(0, 4, L"\\\\.\\") == 0 || p.compare(0, 4, L"\\\\?\\") == 0) p = p.substr(4);
    if (p.size() == 2 || (p.size() == 3 && p[2] == L'\\')) {
        if (p[1] == L':' && iswalpha(p[0])) return (wchar_t)towupper(p[0]);
    }
    return 0;
}

// Whether `path` is `folder` or lies inside it (letter case ignored); `rest`
// gets what follows the folder.
bool Inside(const std::wstring& path, const std::wstring& folder, std::wstring& rest) {
    if (folder.empty() || path.size() < folder.size() ||
        FakeMachine::Upper(path.substr(0, folder.size())) != FakeMachine::Upper(folder))
        return false;
    rest = path.substr(folder.size());
    return rest.empty() || rest[0] == L'\\';
}

bool Copy(void* out, DWORD outSize, const std::vector<BYTE>& answer, DWORD* returned) {
    DWORD n = (DWORD)std::min<size_t>(outSize, answer.size());
    if (n) memcpy(out, answer.data(), n);
    if (returned) *returned = n;
    return true;
}

}  // namespace

std::wstring FakeMachine::Upper(std::wstring s) {
    // The long form names the same file.
    if (s.compare(0, 8, L"\\\\?\\UNC\\") == 0) s = L"\\\\" + s.substr(8);
    else if (s.compare(0, 4, L"\\\\?\\") == 0) s = s.substr(4);
    for (auto& c : s) c = (wchar_t)towupper(c);
    while (s.size() > 3 && s.back() == L'\\') s.pop_back();
    return s;
}

int FakeMachine::EnumerateDiskInterfaces(CString* paths, int maxPaths) {
    int count = 0;
    for (const FakeDisk& disk : disks) {
        if (count == maxPaths) return count;
        if (!disk.present) continue;
        paths[count++] = disk.path.c_str();
    }
    for (int i = 0; i < extraInterfaces && count < maxPaths; ++i) {
        CString path;
        path.Format(L"\\\\?\\fake#unopenable#%d", i);
        paths[count++] = path;
    }
    return count;
}

HANDLE FakeMachine::OpenDevice(const wchar_t* path) {
    std::wstring p = path;
    for (size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].path == p) {
            if (disks[i].openFails || !disks[i].present) return INVALID_HANDLE_VALUE;
            int h = m_nextHandle++;
            m_open[h] = OpenThing{true, (int)i};
            ++openHandles;
            return reinterpret_cast<HANDLE>((INT_PTR)h);
        }
    }
    const std::wstring volumePrefix = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume";
    if (p.compare(0, volumePrefix.size(), volumePrefix) == 0) {
        const size_t n = (size_t)_wtoi(p.c_str() + volumePrefix.size());
        if (n < 1 || n > volumes.size() || !volumes[n - 1].present || volumes[n - 1].openFails)
            return INVALID_HANDLE_VALUE;
        int h = m_nextHandle++;
        m_open[h] = OpenThing{false, (int)n - 1};
        ++openHandles;
        return reinterpret_cast<HANDLE>((INT_PTR)h);
    }
    // A volume by its GUID path, which opens the volume only without the
    // trailing separator (with it, Windows opens the volume's root folder).
    for (size_t i = 0; i < volumes.size(); ++i) {
        const std::wstring guid = FakeVolumeGuidPath(i);
        if (p != guid.substr(0, guid.size() - 1)) continue;
        if (!volumes[i].present || volumes[i].hiddenWaits > 0 || volumes[i].openFails) return INVALID_HANDLE_VALUE;
        int h = m_nextHandle++;
        m_open[h] = OpenThing{false, (int)i};
        ++openHandles;
        return reinterpret_cast<HANDLE>((INT_PTR)h);
    }
    wchar_t letter = p.compare(0, 4, L"\\\\.\\") == 0 ? DriveOf(p) : 0;
    if (letter) {
        const FakeVolume* v = VolumeForLetter(letter);
        if (v && !v->openFails) {
            int h = m_nextHandle++;
            m_open[h] = OpenThing{false, (int)(v - volumes.data())};
            ++openHandles;
            return reinterpret_cast<HANDLE>((INT_PTR)h);
        }
    }
    return INVALID_HANDLE_VALUE;
}

void FakeMachine::CloseDevice(HANDLE device) {
    if (m_open.erase((int)reinterpret_cast<INT_PTR>(device))) --openHandles;
}

BOOL FakeMachine::IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                            DWORD* returned) {
    if (returned) *returned = 0;
    auto it = m_open.find((int)reinterpret_cast<INT_PTR>(device));
    if (it == m_open.end()) return FALSE;
    if (!it->second.disk) {
        const FakeVolume& v = volumes[it->second.index];
        if (code == FSCTL_LOCK_VOLUME || code == FSCTL_DISMOUNT_VOLUME || code == FSCTL_UNLOCK_VOLUME) {
            const wchar_t* what = code == FSCTL_LOCK_VOLUME ? L"lock " : code == FSCTL_DISMOUNT_VOLUME ? L"dismount " : L"unlock ";
            log.push_back(what + std::wstring(1, v.letter) + L":");
            return TRUE;
        }
        if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
            // One extent: the volume's partition, where its disk has it now.
            const FakeDisk* d = DiskByDevice(v.device);
            const FakePartition* on = nullptr;
            if (d)
                for (const FakePartition& p : d->partitions)
                    if (p.present && p.number == v.partition) on = &p;
            if (!on || !v.answersNumber) return FALSE;
            VOLUME_DISK_EXTENTS extents = {};
            extents.NumberOfDiskExtents = 1;
            extents.Extents[0].DiskNumber = (DWORD)v.device;
            extents.Extents[0].StartingOffset.QuadPart = on->startBytes;
            extents.Extents[0].ExtentLength.QuadPart = on->lengthBytes;
            std::vector<BYTE> answer((BYTE*)&extents, (BYTE*)&extents + sizeof(extents));
            return Copy(out, outSize, answer, returned);
        }
        if (code != IOCTL_STORAGE_GET_DEVICE_NUMBER || !v.answersNumber) return FALSE;
        STORAGE_DEVICE_NUMBER n = {FILE_DEVICE_DISK, (DWORD)v.device, (DWORD)v.partition};
        std::vector<BYTE> answer((BYTE*)&n, (BYTE*)&n + sizeof(n));
        return Copy(out, outSize, answer, returned);
    }
    FakeDisk& d = disks[it->second.index];
    switch (code) {
        case IOCTL_DISK_GET_LENGTH_INFO: {
            if (d.lengthFails) return FALSE;
            GET_LENGTH_INFORMATION length;
            length.Length.QuadPart = d.cylinders * d.tracksPerCylinder * d.sectorsPerTrack * d.bytesPerSector;
            std::vector<BYTE> answer((BYTE*)&length, (BYTE*)&length + sizeof(length));
            return Copy(out, outSize, answer, returned);
        }
        case IOCTL_DISK_UPDATE_PROPERTIES:
            return TRUE;
        case IOCTL_DISK_DELETE_DRIVE_LAYOUT:
        case IOCTL_DISK_CREATE_DISK: {
            // The table goes, and with it the volumes of the disk.
            const bool create = code == IOCTL_DISK_CREATE_DISK;
            if (create && inSize < sizeof(CREATE_DISK)) return FALSE;
            std::vector<FakePartition> later;
            for (const FakePartition& p : d.partitions)
                if (!p.present) later.push_back(p);
            d.partitions = later;
            for (FakeVolume& v : volumes)
                if (v.device == d.device && v.partition > 0) v.present = false;
            if (!create) {
                d.layout = FakeLayout::Raw;
                log.push_back(L"delete layout " + d.path);
                return TRUE;
            }
            const CREATE_DISK* made = static_cast<const CREATE_DISK*>(in);
            d.layout = made->PartitionStyle == PARTITION_STYLE_GPT ? FakeLayout::Gpt : FakeLayout::Mbr;
            if (d.layout == FakeLayout::Mbr) d.signature = made->Mbr.Signature;
            else d.diskGuid = made->Gpt.DiskId;
            log.push_back(L"create disk " + d.path);
            return TRUE;
        }
        case IOCTL_DISK_SET_DRIVE_LAYOUT_EX: {
            const size_t header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
            if (inSize < header) return FALSE;
            const DRIVE_LAYOUT_INFORMATION_EX* layout = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(in);
            if (inSize < header + layout->PartitionCount * sizeof(PARTITION_INFORMATION_EX)) return FALSE;
            std::vector<FakePartition> table;
            std::wstring order;
            for (DWORD e = 0; e < layout->PartitionCount; ++e) {
                const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[e];
                if (entry.PartitionLength.QuadPart == 0) continue;
                for (const FakePartition& p : d.partitions) {
                    if (!p.present || p.startBytes != entry.StartingOffset.QuadPart) continue;
                    FakePartition moved = p;
                    moved.number = (int)table.size() + 1;
                    moved.active = entry.Mbr.BootIndicator != 0;
                    order += std::to_wstring(p.number);
                    table.push_back(moved);
                }
            }
            // An entry at no partition's place is a new partition; its volume
            // arrives after newVolumeWaits host waits (never when negative).
            for (DWORD e = 0; e < layout->PartitionCount; ++e) {
                const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[e];
                if (entry.PartitionLength.QuadPart == 0) continue;
                bool known = false;
                for (const FakePartition& p : d.partitions)
                    known = known || (p.present && p.startBytes == entry.StartingOffset.QuadPart);
                if (known) continue;
                FakePartition made;
                made.number = (int)e + 1;
                made.startBytes = entry.StartingOffset.QuadPart;
                made.lengthBytes = entry.PartitionLength.QuadPart;
                made.mbrType = entry.Mbr.PartitionType;
                made.active = entry.Mbr.BootIndicator != 0;
                made.hiddenSectors = entry.Mbr.HiddenSectors;
                table.push_back(made);
                order += L"+" + std::to_wstring(made.number);
                FakeVolume volume;
                volume.device = d.device;
                volume.partition = made.number;
                volume.driveType = d.removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
                volume.fileSystem = L"RAW";
                volume.present = newVolumeWaits >= 0;
                volume.hiddenWaits = newVolumeWaits > 0 ? newVolumeWaits : 0;
                volumes.push_back(volume);
            }
            // Partitions the layout does not show yet (or any more) stay as they are.
            for (const FakePartition& p : d.partitions)
                if (!p.present) table.push_back(p);
            d.partitions = table;
            log.push_back(L"layout " + std::to_wstring(d.device) + L" " + order);
            return TRUE;
        }
        case IOCTL_STORAGE_QUERY_PROPERTY: {
            if (d.propertyFails || inSize < sizeof(STORAGE_PROPERTY_QUERY)) return FALSE;
            const STORAGE_PROPERTY_QUERY* q = static_cast<const STORAGE_PROPERTY_QUERY*>(in);
            if (q->PropertyId != StorageDeviceProperty || q->QueryType != PropertyStandardQuery) return FALSE;
            STORAGE_DEVICE_DESCRIPTOR desc = {};
            desc.Version = sizeof(desc);
            desc.RemovableMedia = d.removable;
            desc.BusType = d.bus;
            std::vector<BYTE> answer(sizeof(desc));
            if (!d.vendor.empty()) {
                desc.VendorIdOffset = (DWORD)answer.size();
                answer.insert(answer.end(), d.vendor.begin(), d.vendor.end());
                answer.push_back(0);
            }
            if (!d.product.empty()) {
                desc.ProductIdOffset = (DWORD)answer.size();
                answer.insert(answer.end(), d.product.begin(), d.product.end());
                if (!d.descriptorUnterminated) answer.push_back(0);
            }
            if (!d.serial.empty()) {
                desc.SerialNumberOffset = (DWORD)answer.size();
                answer.insert(answer.end(), d.serial.begin(), d.serial.end());
                answer.push_back(0);
            }
            if (d.descriptorOffsetsPastEnd) {
                desc.VendorIdOffset = 4000;
                desc.ProductIdOffset = (DWORD)answer.size() + 10;
            }
            desc.Size = (DWORD)answer.size();
            memcpy(answer.data(), &desc, sizeof(desc));
            if (d.descriptorUnterminated) {
                // The whole offered buffer is filled with product text.
                while (answer.size() < outSize) answer.push_back('X');
            }
            return Copy(out, outSize, answer, returned);
        }
        case IOCTL_STORAGE_GET_MEDIA_TYPES_EX: {
            if (d.mediaFails) return FALSE;
            GET_MEDIA_TYPES types = {};
            types.DeviceType = FILE_DEVICE_DISK;
            types.MediaInfoCount = 1;
            auto& info = types.MediaInfo[0].DeviceSpecific.DiskInfo;
            info.Cylinders.QuadPart = d.cylinders;
            info.MediaType = (STORAGE_MEDIA_TYPE)FixedMedia;
            info.TracksPerCylinder = d.tracksPerCylinder;
            info.SectorsPerTrack = d.sectorsPerTrack;
            info.BytesPerSector = d.bytesPerSector;
            info.NumberMediaSides = 1;
            std::vector<BYTE> answer((BYTE*)&types, (BYTE*)&types + sizeof(types));
            return Copy(out, outSize, answer, returned);
        }
        case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
            if (d.numberFails) return FALSE;
            STORAGE_DEVICE_NUMBER n = {FILE_DEVICE_DISK, (DWORD)d.device, 0};
            std::vector<BYTE> answer((BYTE*)&n, (BYTE*)&n + sizeof(n));
            return Copy(out, outSize, answer, returned);
        }
        case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
            if (d.layout == FakeLayout::Fails) return FALSE;
            const size_t header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
            std::vector<const FakePartition*> shown;
            if (d.layout != FakeLayout::Raw)
                for (const FakePartition& p : d.partitions)
                    if (p.present) shown.push_back(&p);
            size_t entries = shown.size();
            std::vector<BYTE> answer(header + entries * sizeof(PARTITION_INFORMATION_EX));
            if (answer.size() > outSize) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            DRIVE_LAYOUT_INFORMATION_EX* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(answer.data());
            layout->PartitionStyle = d.layout == FakeLayout::Mbr   ? PARTITION_STYLE_MBR
                                     : d.layout == FakeLayout::Gpt ? PARTITION_STYLE_GPT
                                                                   : PARTITION_STYLE_RAW;
            layout->PartitionCount = (DWORD)(entries + d.extraPartitionCount);
            if (d.layout == FakeLayout::Gpt) layout->Gpt.DiskId = d.diskGuid;
            else if (d.layout == FakeLayout::Mbr) layout->Mbr.Signature = d.signature;
            for (size_t i = 0; i < entries; ++i) {
                const FakePartition& p = *shown[i];
                PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
                e.PartitionStyle = (PARTITION_STYLE)layout->PartitionStyle;
                e.StartingOffset.QuadPart = p.startBytes;
                e.PartitionLength.QuadPart = p.lengthBytes;
                e.PartitionNumber = (DWORD)p.number;
                if (d.layout == FakeLayout::Gpt) {
                    e.Gpt.PartitionType = p.type;
                    e.Gpt.PartitionId = p.id;
                    e.Gpt.Attributes = p.attributes;
                    if (d.gptNameUnterminated) {
                        for (int c = 0; c < 36; ++c) e.Gpt.Name[c] = (wchar_t)(L'A' + c % 26);
                    } else {
                        wcsncpy(e.Gpt.Name, p.name.c_str(), 35);
                    }
                } else {
                    e.Mbr.PartitionType = p.mbrType;
                    e.Mbr.BootIndicator = p.active;
                    e.Mbr.RecognizedPartition = p.recognized;
                    e.Mbr.HiddenSectors = p.hiddenSectors;
                }
            }
            if (d.layoutShortAnswer) answer.resize(header - 8);
            // Whatever follows the answer in the caller's buffer is left alone.
            DWORD n = (DWORD)answer.size();
            memcpy(out, answer.data(), n);
            if (d.extraPartitionCount > 0 && n + sizeof(PARTITION_INFORMATION_EX) <= outSize) {
                // Garbage where the claimed extra entries would be.
                memset(static_cast<BYTE*>(out) + n, 0x5A, sizeof(PARTITION_INFORMATION_EX));
            }
            if (returned) *returned = n;
            return TRUE;
        }
    }
    return FALSE;
}

const FakeVolume* FakeMachine::VolumeForLetter(wchar_t letter) const {
    letter = (wchar_t)towupper(letter);
    for (const FakeVolume& v : volumes)
        if (v.present && v.letter == letter && v.hiddenWaits <= 0) return &v;
    auto it = dosDevices.find(std::wstring(1, letter) + L":");
    if (it == dosDevices.end()) return nullptr;
    for (const FakeVolume& v : volumes) {
        wchar_t target[64];
        swprintf(target, 64, L"\\Device\\Harddisk%d\\Partition%d", v.device, v.partition);
        if (v.present && it->second == target) return &v;
    }
    return nullptr;
}

bool FakeMachine::DriveExists(wchar_t letter) const {
    letter = (wchar_t)towupper(letter);
    return VolumeForLetter(letter) || otherDrives.count(letter);
}

DWORD FakeMachine::LogicalDriveStrings(DWORD length, wchar_t* buffer) {
    std::wstring list;
    for (wchar_t c = L'A'; c <= L'Z'; ++c) {
        if (DriveExists(c)) {
            list += c;
            list += L":\\";
            list += L'\0';
        }
    }
    DWORD needed = (DWORD)list.size() + 1;
    if (length < needed) return needed;
    memcpy(buffer, list.c_str(), list.size() * sizeof(wchar_t));
    buffer[list.size()] = 0;
    return (DWORD)list.size();
}

UINT FakeMachine::DriveType(const wchar_t* root) {
    wchar_t letter = DriveOf(root);
    if (!letter) return DRIVE_NO_ROOT_DIR;
    auto other = otherDrives.find(letter);
    if (other != otherDrives.end()) return other->second;
    const FakeVolume* v = VolumeForLetter(letter);
    return v ? v->driveType : DRIVE_NO_ROOT_DIR;
}

BOOL FakeMachine::VolumeInformation(const wchar_t* root, wchar_t* label, DWORD labelSize, wchar_t* fileSystem,
                                    DWORD fileSystemSize) {
    wchar_t letter = DriveOf(root);
    const FakeVolume* v = letter ? VolumeForLetter(letter) : nullptr;
    if (!v || !v->answersVolumeInfo) return FALSE;
    wcsncpy(label, v->label.c_str(), labelSize - 1);
    label[labelSize - 1] = 0;
    wcsncpy(fileSystem, v->fileSystem.c_str(), fileSystemSize - 1);
    fileSystem[fileSystemSize - 1] = 0;
    return TRUE;
}

BOOL FakeMachine::FreeBytesForCaller(const wchar_t* root, ULONGLONG* freeBytes) {
    wchar_t letter = DriveOf(root);
    const FakeVolume* v = letter ? VolumeForLetter(letter) : nullptr;
    if (!v || !v->answersVolumeInfo) return FALSE;
    *freeBytes = v->freeBytes;
    return TRUE;
}

std::wstring FakeVolumeGuidPath(size_t index) {
    wchar_t path[64] = {};
    swprintf(path, 64, L"\\\\?\\Volume{4b565400-0000-0000-0000-%012x}\\", (unsigned)index);
    return path;
}

BOOL FakeMachine::MountVolume(const wchar_t* root, const wchar_t* guidPath) {
    std::wstring r = root;
    if (r.size() != 3 || r[1] != L':' || r[2] != L'\\' || VolumeForLetter(r[0])) return FALSE;
    for (size_t i = 0; i < volumes.size(); ++i) {
        if (FakeVolumeGuidPath(i) != guidPath || !volumes[i].present || volumes[i].hiddenWaits > 0) continue;
        volumes[i].letter = (wchar_t)towupper(r[0]);
        log.push_back(L"mount " + r + L" " + guidPath);
        return TRUE;
    }
    return FALSE;
}

BOOL FakeMachine::EnumerateVolumeGuidPaths(std::vector<CString>& paths) {
    paths.clear();
    for (size_t i = 0; i < volumes.size(); ++i)
        if (volumes[i].present && volumes[i].hiddenWaits <= 0) paths.push_back(FakeVolumeGuidPath(i).c_str());
    return TRUE;
}

DWORD FakeMachine::VolumeGuidPath(const wchar_t* root, CString& path) {
    wchar_t letter = DriveOf(root);
    const FakeVolume* v = letter ? VolumeForLetter(letter) : nullptr;
    if (!v) return ERROR_FILE_NOT_FOUND;
    path = FakeVolumeGuidPath((size_t)(v - volumes.data())).c_str();
    return ERROR_SUCCESS;
}

BOOL FakeMachine::DefineDosDevice(DWORD flags, const wchar_t* name, const wchar_t* target) {
    dosCalls.push_back(DosDefinition{flags, name, target ? target : L""});
    if (flags & DDD_REMOVE_DEFINITION) {
        auto it = dosDevices.find(name);
        if (it == dosDevices.end()) return FALSE;
        if ((flags & DDD_EXACT_MATCH_ON_REMOVE) && it->second != (target ? target : L"")) return FALSE;
        dosDevices.erase(it);
        return TRUE;
    }
    if (defineFails) return FALSE;
    dosDevices[name] = target ? target : L"";
    return TRUE;
}

std::wstring FakeMachine::Redirected(const std::wstring& path) const {
    if (!wow64) return path;
    std::wstring rest;
    if (Inside(path, windowsFolder + L"\\System32", rest)) {
        // The folders Windows leaves in place for 32-bit processes.
        static const wchar_t* const kExempt[] = {L"\\catroot", L"\\catroot2", L"\\drivers\\etc", L"\\logfiles",
                                                 L"\\spool"};
        std::wstring tail;
        for (const wchar_t* exempt : kExempt)
            if (Inside(rest, exempt, tail)) return path;
        return windowsFolder + L"\\SysWOW64" + rest;
    }
    if (sysnative && Inside(path, windowsFolder + L"\\Sysnative", rest)) return windowsFolder + L"\\System32" + rest;
    return path;
}

bool FakeMachine::InSystemFolders(const std::wstring& path) const {
    std::wstring rest;
    for (const wchar_t* name : {L"\\System32", L"\\SysWOW64", L"\\Sysnative"})
        if (Inside(path, windowsFolder + name, rest)) return true;
    return false;
}

const FakeVolume* FakeMachine::ProbeVolume(const std::wstring& reached) const {
    if (reached.size() <= 2 || reached[1] != L':') return nullptr;
    if (Upper(reached.substr(2)) != Upper(FixedText::kSystemProbePath)) return nullptr;
    return VolumeForLetter(reached[0]);
}

BOOL FakeMachine::FindFile(const wchar_t* path) {
    const std::wstring reached = Redirected(path);
    if (const FakeVolume* v = ProbeVolume(reached)) return v->hasProbe;
    return HasFile(reached);
}

BOOL FakeMachine::ProductVersion(const wchar_t* path, CString& version) {
    const FakeVolume* v = ProbeVolume(Redirected(path));
    if (!v || !v->hasProbe || v->probeVersion.empty()) return FALSE;
    version = v->probeVersion.c_str();
    return TRUE;
}

BOOL FakeMachine::RunningWindows(CString& folder, BOOL& is64, BOOL& hasSysnative) {
    if (windowsFolder.empty()) return FALSE;
    folder = windowsFolder.c_str();
    is64 = wow64 ? TRUE : FALSE;
    hasSysnative = wow64 && sysnative ? TRUE : FALSE;
    return TRUE;
}

BOOL FakeMachine::RunningSystemVersion(CString& version) {
    const FakeVolume* v = windowsFolder.empty() ? nullptr : VolumeForLetter(windowsFolder[0]);
    if (!v || !v->hasProbe || v->probeVersion.empty()) return FALSE;
    // The kernel's answer has three parts.
    std::wstring text = v->probeVersion;
    size_t dots = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == L'.' && ++dots == 3) text.resize(i);
    version = text.c_str();
    return TRUE;
}

bool FakeMachine::ParentExists(const std::wstring& upperPath) const {
    size_t cut = upperPath.find_last_of(L'\\');
    if (cut == std::wstring::npos) return false;
    std::wstring parent = upperPath.substr(0, cut);
    if (parent.size() == 2 && parent[1] == L':') return DriveExists(parent[0]);
    auto it = files.find(parent);
    return it != files.end() && it->second.folder;
}

bool FakeMachine::TooLongForWindows(const wchar_t* path, size_t limit) {
    if (!path || wcsncmp(path, L"\\\\?\\", 4) == 0 || wcslen(path) < limit) return false;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return true;
}

BOOL FakeMachine::PathExists(const wchar_t* path) {
    if (TooLongForWindows(path)) return FALSE;
    wchar_t letter = DriveOf(path);
    if (letter) return DriveExists(letter);
    return HasFile(Redirected(path));
}

BOOL FakeMachine::IsFolder(const wchar_t* path) {
    if (TooLongForWindows(path)) return FALSE;
    if (DriveOf(path)) return DriveExists(DriveOf(path));
    auto it = files.find(Upper(Redirected(path)));
    return it != files.end() && it->second.folder;
}

BOOL FakeMachine::CreateFolder(const wchar_t* path) {
    if (TooLongForWindows(path, MAX_PATH - 12)) return FALSE;
    std::wstring p = Upper(path);
    for (const auto& refused : uncreatableFolders)
        if (Upper(refused) == p) return FALSE;
    if (files.count(p) || !ParentExists(p)) return FALSE;
    files[p] = FakeFile{true, FILE_ATTRIBUTE_DIRECTORY};
    files[p].runningAccountOwner = creatorOwnsNewObjects;
    log.push_back(L"mkdir " + std::wstring(path));
    return TRUE;
}

int FakeMachine::CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) {
    std::wstring src = Upper(source), dst = destination;
    auto s = files.find(src);
    if (s == files.end()) return -1;
    if (s->second.folder) return -2;
    if (failIfExists && HasFile(dst)) return -3;
    // A destination ending with the separator means: into this folder.
    std::wstring target = dst;
    if (!dst.empty() && dst.back() == L'\\') {
        std::wstring name = std::wstring(source).substr(std::wstring(source).find_last_of(L'\\') + 1);
        target = dst + name;
        if (failIfExists && HasFile(target)) return -3;
    }
    // Make the missing folders of the target.
    std::wstring upper = Upper(target);
    for (size_t at = upper.find(L'\\', 3); at != std::wstring::npos; at = upper.find(L'\\', at + 1)) {
        std::wstring folder = upper.substr(0, at);
        if (!files.count(folder)) files[folder] = FakeFile{true, FILE_ATTRIBUTE_DIRECTORY};
    }
    if (!ParentExists(upper)) return -4;
    for (size_t i = 0; i < failingCopies.size(); ++i)
        if (Upper(failingCopies[i]) == upper) {
            if (copyFaultsOnce) failingCopies.erase(failingCopies.begin() + (ptrdiff_t)i);
            return 0;
        }
    FakeFile copy = s->second;
    copy.attributes = FILE_ATTRIBUTE_NORMAL;
    for (size_t i = 0; i < shortCopies.size(); ++i)
        if (Upper(shortCopies[i]) == upper) {
            copy.size = 0;
            copy.content.clear();
            if (copyFaultsOnce) shortCopies.erase(shortCopies.begin() + (ptrdiff_t)i);
            break;
        }
    files[upper] = copy;
    log.push_back(L"copy " + std::wstring(source) + L" -> " + target);
    return 1;
}

BOOL FakeMachine::SetAttributes(const wchar_t* path, DWORD attributes) {
    if (TooLongForWindows(path)) return FALSE;
    auto it = files.find(Upper(path));
    if (it == files.end()) return FALSE;
    it->second.attributes = attributes;
    log.push_back(L"attrib " + std::wstring(path) + L" " + std::to_wstring(attributes));
    return TRUE;
}

BOOL FakeMachine::WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value) {
    if (!ParentExists(Upper(path))) return FALSE;
    auto it = files.find(Upper(path));
    if (it != files.end() && (it->second.attributes & FILE_ATTRIBUTE_READONLY)) return FALSE;
    if (it == files.end()) files[Upper(path)] = FakeFile{};
    // The file's bytes change with it, so that a copy of it keeps what it held.
    FakeFile& file = files[Upper(path)];
    const std::wstring line = L"[" + std::wstring(section) + L"]" + key + L"=" + value + L"\n";
    file.content += Utf16ToUtf8(line.c_str()).GetString();
    file.size = file.content.size();
    iniValues[Upper(path) + L"|" + section + L"|" + key] = value;
    log.push_back(L"ini " + std::wstring(path) + L" [" + section + L"] " + key + L"=" + value);
    return TRUE;
}

std::wstring StoreOfRun(const std::wstring& arguments) {
    const std::wstring lead = L"/store \"";
    if (arguments.compare(0, lead.size(), lead) != 0) return std::wstring();
    const size_t close = arguments.find(L'"', lead.size());
    if (close == std::wstring::npos) return std::wstring();
    return FakeMachine::Upper(arguments.substr(lead.size(), close - lead.size()));
}

std::string BootManagerListing(const std::wstring& description, bool present) {
    std::wstring text = L"\r\nWindows 启动管理器\r\n--------------------\r\n"
                        L"标识符                  {9dea862c-5cdd-4e70-acc1-f32b344d4795}\r\n"
                        L"device                  partition=\\Device\\HarddiskVolume1\r\n"
                        L"path                    \\EFI\\Microsoft\\Boot\\bootmgfw.efi\r\n";
    if (present) text += L"description             " + description + L"\r\n";
    text += L"locale                  zh-CN\r\n"
            L"inherit                 {7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}\r\n"
            L"default                 {a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}\r\n"
            L"displayorder            {a5a30fa2-3d06-4e9f-b5f4-a01df9d1fcba}\r\n"
            L"timeout                 30\r\n";
    const int n = WideCharToMultiByte(CP_OEMCP, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_OEMCP, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring FakeMachine::BootManagerDescription(const std::wstring& store) const {
    const std::wstring key = Upper(store);
    if (storesWithoutDescription.count(key)) return std::wstring();
    auto it = bootManagerDescriptions.find(key);
    return it == bootManagerDescriptions.end() ? defaultBootManagerDescription : it->second;
}

int FakeMachine::RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) {
    return RunProcessWithInput(program, arguments, std::string());
}

namespace {

// Whether a program path names the system's converter.
bool IsConverter(const std::wstring& program) {
    const size_t slash = program.find_last_of(L"\\/");
    return FakeMachine::Upper(program.substr(slash == std::wstring::npos ? 0 : slash + 1)) ==
           FakeMachine::Upper(FixedText::kUsbVolumeTool);
}

}  // namespace

int FakeMachine::SimulateConverter(const std::wstring& arguments, const std::string& input) {
    FakeVolume* volume = arguments.size() >= 2 && arguments[1] == L':'
                             ? const_cast<FakeVolume*>(VolumeForLetter(arguments[0]))
                             : nullptr;
    if (!volume) return kFakeConverterNoLabel;
    if (!volume->label.empty()) {
        // The console's code page is the OEM one; the answer ends at the line end.
        const std::wstring& label = volume->label;
        const int size = WideCharToMultiByte(CP_OEMCP, 0, label.data(), (int)label.size(), nullptr, 0, nullptr, nullptr);
        std::string expected(size > 0 ? size : 0, '\0');
        if (size > 0) WideCharToMultiByte(CP_OEMCP, 0, label.data(), (int)label.size(), &expected[0], size, nullptr, nullptr);
        const size_t end = input.find("\r\n");
        if (end == std::string::npos || input.substr(0, end) != expected) return kFakeConverterNoLabel;
    }
    volume->fileSystem = L"NTFS";
    return 0;
}

int FakeMachine::RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) {
    runs.push_back(std::wstring(program) + L"|" + arguments);
    inputs.push_back(input);
    log.push_back(L"run " + std::wstring(arguments));
    auto it = exitCodes.find((int)runs.size());
    const int code = it != exitCodes.end() ? it->second
                     : IsConverter(program)  ? SimulateConverter(arguments, input)
                     : usbTools.active       ? SimulateUsbTool(program, arguments)
                                             : 0;
    // What the editor does to the boot manager's description.
    const std::wstring store = StoreOfRun(arguments);
    const std::wstring set = L"\" /set {bootmgr} description ";
    const std::wstring args = arguments;
    const size_t at = store.empty() ? std::wstring::npos : args.find(L'"', 8);
    if (code == 0 && at != std::wstring::npos) {
        const std::wstring command = args.substr(at);
        if (command.compare(0, set.size(), set) == 0) {
            std::wstring value = command.substr(set.size());
            if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
            bootManagerDescriptions[store] = value;
            storesWithoutDescription.erase(store);
        }
        if (command == L"\" /deletevalue {bootmgr} description") storesWithoutDescription.insert(store);
    }
    return code;
}

int FakeMachine::RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) {
    reads.push_back(std::wstring(program) + L"|" + arguments);
    log.push_back(L"read " + std::wstring(arguments));
    output.clear();
    if (replaceReadOutput) output = readOutput;
    const std::wstring store = StoreOfRun(arguments);
    if (!replaceReadOutput && !store.empty() && std::wstring(arguments).find(L"/enum {bootmgr} /v") != std::wstring::npos)
        output = BootManagerListing(BootManagerDescription(store), storesWithoutDescription.count(store) == 0);
    return readCode;
}

BOOL FakeMachine::ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) {
    *got = 0;
    auto it = files.find(Upper(path));
    if (it == files.end() || it->second.folder) return FALSE;
    // A stand-in begins with the marker, over whatever its content begins with.
    std::string bytes = it->second.content;
    if (it->second.standIn) {
        const std::string marker = "Kavetta stand-in file: ";
        if (bytes.size() < marker.size()) bytes = marker;
        else bytes.replace(0, marker.size(), marker);
    }
    DWORD n = (DWORD)std::min<size_t>(size, bytes.size());
    memcpy(buffer, bytes.data(), n);
    *got = n;
    return TRUE;
}

ULONGLONG FakeMachine::FileSize(const wchar_t* path) {
    auto it = files.find(Upper(path));
    return it == files.end() || it->second.folder ? 0 : it->second.size;
}

BOOL FakeMachine::CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                                   void* data) {
    auto s = files.find(Upper(source));
    std::wstring upper = Upper(target);
    if (s == files.end() || s->second.folder || files.count(upper) || !ParentExists(upper)) return FALSE;
    for (const auto& failing : failingCopies)
        if (Upper(failing) == upper) return FALSE;
    LARGE_INTEGER total, half;
    total.QuadPart = (LONGLONG)s->second.size;
    half.QuadPart = total.QuadPart / 2;
    if (routine) {
        routine(total, half, total, half, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, data);
        routine(total, total, total, total, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, data);
    }
    FakeFile copy = s->second;
    files[upper] = copy;
    log.push_back(L"copy " + std::wstring(source) + L" -> " + target);
    return TRUE;
}

BOOL FakeMachine::CreateFolderTree(const wchar_t* path) {
    std::wstring upper = Upper(path);
    wchar_t drive = DriveOf(upper.substr(0, 2));
    if (!drive || !DriveExists(drive)) return FALSE;
    for (const auto& refused : uncreatableFolders)
        if (Upper(refused) == upper) return FALSE;
    for (size_t at = upper.find(L'\\', 3); ; at = upper.find(L'\\', at + 1)) {
        std::wstring folder = at == std::wstring::npos ? upper : upper.substr(0, at);
        if (folder.size() > 3 && !files.count(folder)) {
            files[folder] = FakeFile{true, FILE_ATTRIBUTE_DIRECTORY};
            files[folder].runningAccountOwner = creatorOwnsNewObjects;
        }
        if (at == std::wstring::npos) break;
    }
    return TRUE;
}

BOOL FakeMachine::WriteTextFile(const wchar_t* path, const CStringA& text) {
    std::wstring upper = Upper(path);
    if (!ParentExists(upper)) return FALSE;
    FakeFile f;
    f.size = (ULONGLONG)text.GetLength();
    f.content = text.GetString();
    files[upper] = f;
    textFiles[upper] = text.GetString();
    return TRUE;
}

BOOL FakeMachine::RemoveFile(const wchar_t* path) { return files.erase(Upper(path)) ? TRUE : FALSE; }

HANDLE FakeMachine::HoldNewTextFile(const wchar_t* path, const CStringA& text) {
    std::wstring upper = Upper(path);
    if (files.count(upper) || !WriteTextFile(path, text)) return INVALID_HANDLE_VALUE;
    HANDLE hold = reinterpret_cast<HANDLE>((INT_PTR)m_nextHandle++);
    heldFiles[upper] = hold;
    heldNames.push_back(path);
    return hold;
}

void FakeMachine::ReleaseHeldFile(HANDLE hold, const wchar_t* path) {
    std::wstring upper = Upper(path);
    auto it = heldFiles.find(upper);
    if (it != heldFiles.end() && it->second == hold) heldFiles.erase(it);
    files.erase(upper);
}

void FakeMachine::Wait(DWORD milliseconds) {
    waitedMs += milliseconds;
    for (FakeVolume& v : volumes)
        if (v.hiddenWaits > 0) --v.hiddenWaits;
}

BOOL FakeMachine::SetVolumeLabel(const wchar_t* root, const wchar_t* label) {
    std::wstring r = root;
    // The volume calls take a root with its trailing separator.
    if (r.size() != 3 || r[1] != L':' || r[2] != L'\\') return FALSE;
    const FakeVolume* v = VolumeForLetter(r[0]);
    if (!v) return FALSE;
    const_cast<FakeVolume*>(v)->label = label;
    log.push_back(L"label " + r + L" " + label);
    return TRUE;
}

BOOL FakeMachine::ReadDevice(HANDLE device, LONGLONG offset, void* buffer, DWORD size) {
    auto it = m_open.find((int)reinterpret_cast<INT_PTR>(device));
    if (it == m_open.end() || !it->second.disk) return FALSE;
    memset(buffer, 0, size);
    auto written = writtenSectors.find(disks[it->second.index].device);
    if (written == writtenSectors.end()) return TRUE;
    auto at = written->second.find(offset);
    if (at != written->second.end()) memcpy(buffer, at->second.data(), std::min<size_t>(size, at->second.size()));
    return TRUE;
}

BOOL FakeMachine::WriteDevice(HANDLE device, LONGLONG offset, const void* buffer, DWORD size) {
    auto it = m_open.find((int)reinterpret_cast<INT_PTR>(device));
    if (it == m_open.end() || !it->second.disk) return FALSE;
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    int deviceNumber = disks[it->second.index].device;
    writtenSectors[deviceNumber][offset] = std::vector<BYTE>(bytes, bytes + size);
    log.push_back(L"write " + std::to_wstring(deviceNumber) + L" @" + std::to_wstring(offset) + L" " +
                  std::to_wstring(size));
    return TRUE;
}

CString FakeMachine::FileDigest(const wchar_t* path) {
    auto it = files.find(Upper(path));
    if (it == files.end() || it->second.folder) return CString();
    // FNV-1a over the content and the size, four times with different seeds.
    std::string bytes = it->second.content + "|" + std::to_string(it->second.size) + (it->second.standIn ? "s" : "");
    CString digest;
    for (unsigned seed = 0; seed < 4; ++seed) {
        unsigned h = 2166136261u ^ seed;
        for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
        CString part;
        part.Format(L"%08X", h);
        digest += part;
    }
    return digest;
}

FolderState FakeMachine::JudgeFolder(const wchar_t* path) {
    if (DriveOf(path)) return DriveExists(DriveOf(path)) ? FolderState::kTrusted : FolderState::kMissing;
    auto it = files.find(Upper(path));
    if (it == files.end()) return FolderState::kMissing;
    const FakeFile& f = it->second;
    if (f.link) return FolderState::kLink;
    if (!f.folder) return FolderState::kNotFolder;
    if (f.otherOwner) return FolderState::kOtherOwner;
    if (f.runningAccountOwner) return FolderState::kRunningAccountOwner;
    if (f.othersWrite) return FolderState::kOthersWrite;
    return FolderState::kTrusted;
}

bool FakeMachine::OthersCanWrite(const wchar_t* folder) {
    const std::wstring p = folder ? folder : L"";
    if (p.size() >= 2 && p[1] == L':') {
        const FakeVolume* v = VolumeForLetter((wchar_t)towupper(p[0]));
        if (v && Upper(v->fileSystem).compare(0, 3, L"FAT") == 0) return true;
        if (v && Upper(v->fileSystem) == L"EXFAT") return true;
    }
    return JudgeFolder(folder) != FolderState::kTrusted;
}

namespace {

// Whether the program's own folder descriptor names Administrators as the
// owner, read as Windows reads it; a descriptor without an owner leaves the
// token's default owner.
bool OwnDescriptorNamesAdministrators() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(OwnFolderSecurity(), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    const bool named = GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
                       IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(descriptor);
    return named;
}

}  // namespace

BOOL FakeMachine::CreateOwnFolder(const wchar_t* path) {
    if (!CreateFolder(path)) return FALSE;
    files[Upper(path)].runningAccountOwner = creatorOwnsNewObjects && !OwnDescriptorNamesAdministrators();
    return TRUE;
}

BOOL FakeMachine::ProtectFolder(const wchar_t* path) {
    const std::wstring from = Upper(path);
    auto it = files.find(from);
    if (it == files.end() || it->second.link) return FALSE;
    it->second.othersWrite = false;
    // The owner goes with the list, on the folder and what is below it (a
    // link's target is not reached).
    if (OwnDescriptorNamesAdministrators()) {
        for (auto& entry : files) {
            const bool below = entry.first == from || entry.first.compare(0, from.size() + 1, from + L"\\") == 0;
            if (below && !entry.second.link) entry.second.runningAccountOwner = false;
        }
    }
    log.push_back(L"protect " + std::wstring(path));
    return TRUE;
}

BOOL FakeMachine::RemoveLink(const wchar_t* path) {
    auto it = files.find(Upper(path));
    if (it == files.end() || !it->second.link) return FALSE;
    // The link alone goes; what it leads to stays as it is.
    files.erase(it);
    log.push_back(L"unlink " + std::wstring(path));
    return TRUE;
}

bool FakeMachine::ListFolder(const wchar_t* folder, std::vector<FolderEntry>& entries) {
    const std::wstring head = Upper(folder) + L"\\";
    if (!DriveOf(folder) && JudgeFolder(folder) == FolderState::kMissing) return false;
    for (const auto& entry : files) {
        const std::wstring& path = entry.first;
        if (path.size() <= head.size() || path.compare(0, head.size(), head) != 0) continue;
        const std::wstring name = path.substr(head.size());
        if (name.find(L'\\') != std::wstring::npos) continue;
        DWORD attributes = entry.second.attributes;
        if (entry.second.folder) attributes |= FILE_ATTRIBUTE_DIRECTORY;
        if (entry.second.link) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        entries.push_back(FolderEntry{name.c_str(), attributes});
    }
    return true;
}

BOOL FakeMachine::DeletePlainFile(const wchar_t* path) {
    auto it = files.find(Upper(path));
    if (it == files.end() || it->second.folder || it->second.link) return FALSE;
    files.erase(it);
    log.push_back(L"delete " + std::wstring(path));
    return TRUE;
}

BOOL FakeMachine::MoveAside(const wchar_t* path) {
    const std::wstring from = Upper(path);
    if (!files.count(from)) return FALSE;
    std::wstring to;
    for (int n = 1; to.empty() || files.count(to); ++n) to = from + L".ASIDE" + std::to_wstring(n);
    // The thing and everything below it move together.
    std::map<std::wstring, FakeFile> moved;
    for (auto it = files.begin(); it != files.end();) {
        if (it->first == from || it->first.compare(0, from.size() + 1, from + L"\\") == 0) {
            moved[to + it->first.substr(from.size())] = it->second;
            it = files.erase(it);
        } else {
            ++it;
        }
    }
    files.insert(moved.begin(), moved.end());
    log.push_back(L"aside " + std::wstring(path) + L" -> " + to);
    return TRUE;
}

CString FakeMachine::FinalPath(const wchar_t* path) {
    if (DriveOf(path)) return path;
    auto it = files.find(Upper(path));
    if (it == files.end()) return CString();
    return it->second.finalPath.empty() ? CString(path) : CString(it->second.finalPath.c_str());
}

void FakeMachine::SetSystemPartition(int device, int partition) {
    systemPartition.clear();
    for (size_t i = 0; i < volumes.size(); ++i)
        if (volumes[i].device == device && volumes[i].partition == partition)
            systemPartition = L"\\Device\\HarddiskVolume" + std::to_wstring(i + 1);
}

BOOL FakeMachine::SystemPartitionDevice(CString& device) {
    if (systemPartition.empty()) return FALSE;
    device = systemPartition.c_str();
    return TRUE;
}

DWORD FakeMachine::ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) {
    // FindFirstFileW takes the folder with its wildcard.
    if (TooLongForWindows(folder, MAX_PATH - 2)) return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring key = Upper(folder);
    if (!IsFolder(folder)) return ERROR_PATH_NOT_FOUND;
    for (const std::wstring& denied : deniedFolders)
        if (Upper(denied) == key) return ERROR_ACCESS_DENIED;
    const std::wstring prefix = key.back() == L'\\' ? key : key + L"\\";
    for (auto it = files.lower_bound(prefix); it != files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        const std::wstring name = it->first.substr(prefix.size());
        if (name.empty() || name.find(L'\\') != std::wstring::npos) continue;
        WIN32_FIND_DATAW entry = {};
        entry.dwFileAttributes = it->second.folder ? (it->second.attributes | FILE_ATTRIBUTE_DIRECTORY)
                                                   : it->second.attributes;
        entry.nFileSizeHigh = (DWORD)(it->second.size >> 32);
        entry.nFileSizeLow = (DWORD)it->second.size;
        entry.dwReserved0 = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? it->second.reparseTag : 0;
        wcsncpy(entry.cFileName, name.c_str(), MAX_PATH - 1);
        entries.push_back(entry);
    }
    return ERROR_SUCCESS;
}

DWORD FakeMachine::CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) {
    if (readFailed) *readFailed = true;
    if (TooLongForWindows(source)) return ERROR_FILENAME_EXCED_RANGE;
    auto s = files.find(Upper(source));
    if (s == files.end() || s->second.folder) return ERROR_FILE_NOT_FOUND;
    // Opened sharing reading only: a writer's open handle refuses it.
    for (const std::wstring& held : writerHeld)
        if (Upper(held) == s->first) return ERROR_SHARING_VIOLATION;
    for (const std::wstring& denied : unreadableFiles)
        if (Upper(denied) == s->first) return ERROR_ACCESS_DENIED;
    readFiles.push_back(source);
    if (readFailed) *readFailed = false;
    if (TooLongForWindows(target)) return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring upper = Upper(target);
    if (!ParentExists(upper)) return ERROR_PATH_NOT_FOUND;
    for (const std::wstring& failing : failingCopies)
        if (Upper(failing) == upper) return ERROR_DISK_FULL;
    auto t = files.find(upper);
    if (t != files.end() && (t->second.folder || (t->second.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY))))
        return ERROR_ACCESS_DENIED;
    files[upper] = s->second;  // a copy keeps its source's attributes
    log.push_back(L"copy " + std::wstring(source) + L" -> " + target);
    return ERROR_SUCCESS;
}

CString FakeMachine::LinkTarget(const wchar_t* path) {
    if (TooLongForWindows(path)) return CString();
    auto it = files.find(Upper(path));
    if (it == files.end() || !it->second.link) return CString();
    return it->second.finalPath.c_str();
}

CString FakeMachine::FileUsers(const wchar_t* path) {
    auto it = fileUsers.find(Upper(path));
    return it == fileUsers.end() ? CString() : CString(it->second.c_str());
}
