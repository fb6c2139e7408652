#include "tools/usb_tools.h"

#include <stdio.h>
#include <stdarg.h>
#include <stddef.h>
#include <wctype.h>
#include <winioctl.h>

#include <algorithm>
#include <vector>

#include "core/fixed_texts.h"
#include "core/platform_seams.h"
#include "core/process_file_utils.h"
#include "disk/tool_files.h"
#include "tools/boot_entry_tool.h"

namespace {

const ULONGLONG kMiB = 1024ULL * 1024;
const DWORD kSector = 512;
// The boot record goes into the gap before the first partition: at most 63 sectors.
const DWORD kMaxRecordSectors = 63;

CString Token(int argc, wchar_t** argv, int index) { return index < argc && argv[index] ? argv[index] : L""; }

// A whole decimal number, nothing else.
bool ParseNumber(const CString& text, int& value) {
    if (text.IsEmpty() || text.GetLength() > 6) return false;
    for (int i = 0; i < text.GetLength(); ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    value = _wtoi(text);
    return true;
}

int Usage(int argc, wchar_t** argv, CString& message) {
    CString line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? L" " : L"") + Token(argc, argv, i);
    message.Format(FixedText::kToolUsage, line.GetString());
    return kToolExitUsage;
}

bool Refusal(UsbDiskCheck check, int device, CString& message) {
    if (check == kUsbDiskAccepted) return false;
    message.Format(FixedText::kToolRefused, UsbDiskRefusalText(check, device).GetString());
    return true;
}

// The number still leads to the disk of the identity, which is a USB disk
// without a protected drive, and the disk held open (opened by the
// identity's interface path) is that disk with that number.
UsbDiskCheck CheckIdentifiedDisk(IStorageCalls& storage, HANDLE disk, int device, const ToolContext& context) {
    if (context.identity.IsEmpty()) return kUsbDiskNoIdentity;
    UsbDiskCheck check = CheckUsbDiskForWriting(storage, device, context.identity.interfacePath, context.protectedPaths);
    if (check == kUsbDiskAccepted) check = CheckDiskIdentity(storage, disk, device, context.identity);
    return check;
}

// Opens the disk the tool is to write by the interface path it was given and
// checks it on that handle (CheckIdentifiedDisk). The handle, or
// INVALID_HANDLE_VALUE with the refusal in the message.
HANDLE OpenIdentifiedDisk(IStorageCalls& storage, int device, const ToolContext& context, CString& message) {
    UsbDiskCheck check = context.identity.IsEmpty() ? kUsbDiskNoIdentity
                                                    : CheckUsbDiskForWriting(storage, device, context.identity.interfacePath,
                                                                             context.protectedPaths);
    HANDLE disk = INVALID_HANDLE_VALUE;
    if (check == kUsbDiskAccepted) {
        disk = storage.OpenDevice(context.identity.interfacePath);
        check = disk == INVALID_HANDLE_VALUE ? kUsbDiskMissing : CheckDiskIdentity(storage, disk, device, context.identity);
    }
    if (!Refusal(check, device, message)) return disk;
    if (disk != INVALID_HANDLE_VALUE) storage.CloseDevice(disk);
    return INVALID_HANDLE_VALUE;
}

// The disk held open by its interface path, closed on every way out.
class HeldDisk {
public:
    HeldDisk(IStorageCalls& storage, int device, const ToolContext& context, CString& message)
        : m_storage(storage), m_handle(OpenIdentifiedDisk(storage, device, context, message)) {}
    ~HeldDisk() {
        if (m_handle != INVALID_HANDLE_VALUE) m_storage.CloseDevice(m_handle);
    }
    HeldDisk(const HeldDisk&) = delete;
    HeldDisk& operator=(const HeldDisk&) = delete;
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return m_handle; }

private:
    IStorageCalls& m_storage;
    HANDLE m_handle;
};

// The device number the held disk answers now; -1 when it does not answer.
int HeldDiskNumber(IStorageCalls& storage, HANDLE disk) {
    BYTE buffer[sizeof(STORAGE_DEVICE_NUMBER)];
    STORAGE_DEVICE_NUMBER number = {};
    return QueryStorageDeviceNumber(storage, disk, buffer, number) ? (int)number.DeviceNumber : -1;
}

// Locks and dismounts every lettered volume of the held disk, each handle
// kept in `held` (the locks last until they are closed). A volume counts as
// the disk's only when it answers the number the held disk answers right
// after it; when the two stop agreeing, the disk changed under the tool.
// The lock fails while files are open; the dismount goes ahead anyway and
// invalidates those handles, which is what partitioning needs.
int LockVolumesOf(IStorageCalls& storage, HANDLE disk, std::vector<HANDLE>& held, CString& message) {
    const int device = HeldDiskNumber(storage, disk);
    if (device < 0) {
        message.Format(FixedText::kToolDiskIoFailed, L"IOCTL_STORAGE_GET_DEVICE_NUMBER");
        return kToolExitFailed;
    }
    CArray<driver_letter_info> letters;
    BYTE number[sizeof(STORAGE_DEVICE_NUMBER)];
    ReadDriveLetters(storage, true, number, letters);
    for (INT_PTR i = 0; i < letters.GetSize(); ++i) {
        if (letters[i].device_number != device) continue;
        HANDLE volume = storage.OpenDevice(CString(FixedText::kVolumeDevicePrefix) + letters[i].letter);
        if (volume == INVALID_HANDLE_VALUE) {
            message.Format(FixedText::kToolDiskIoFailed, letters[i].letter.GetString());
            return kToolExitFailed;
        }
        held.push_back(volume);
        STORAGE_DEVICE_NUMBER on = {};
        if (!QueryStorageDeviceNumber(storage, volume, number, on) || (int)on.DeviceNumber != device ||
            HeldDiskNumber(storage, disk) != device) {
            message.Format(FixedText::kToolRefused, UsbDiskRefusalText(kUsbDiskChanged, device).GetString());
            return kToolExitRefused;
        }
        DWORD returned = 0;
        storage.IoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned);
        if (!storage.IoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
            message.Format(FixedText::kToolDiskIoFailed, L"FSCTL_DISMOUNT_VOLUME");
            return kToolExitFailed;
        }
    }
    return 0;
}

void ReleaseVolumes(IStorageCalls& storage, std::vector<HANDLE>& held) {
    for (HANDLE volume : held) storage.CloseDevice(volume);
    held.clear();
}

// Writes a layout to the held disk and has the system read it again.
int WriteLayout(IStorageCalls& storage, HANDLE disk, std::vector<BYTE>& layout, CString& message) {
    DWORD returned = 0;
    if (!storage.IoControl(disk, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout.data(), (DWORD)layout.size(), nullptr, 0,
                           &returned)) {
        message.Format(FixedText::kToolDiskIoFailed, L"IOCTL_DISK_SET_DRIVE_LAYOUT_EX");
        return kToolExitFailed;
    }
    storage.IoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned);
    return 0;
}

// A new disk signature: never 0, which would read as no signature.
DWORD NewDiskSignature() {
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    DWORD signature = (DWORD)counter.LowPart ^ (DWORD)counter.HighPart ^ (GetTickCount() << 7) ^ GetCurrentProcessId();
    return signature ? signature : 0x4B565441;
}

// Clears the held disk to an empty MBR table through its handle, with its
// volumes locked and dismounted for the whole time: no number stands between
// the disk checked and the disk cleared.
int EraseHeldDisk(IStorageCalls& storage, HANDLE disk, CString& message) {
    std::vector<HANDLE> volumes;
    int code = LockVolumesOf(storage, disk, volumes, message);
    DWORD returned = 0;
    const DWORD signature = NewDiskSignature();
    if (code == 0) {
        // The old table goes first (a GPT one too), then an MBR table is made:
        // the boot record and the active flag need one.
        storage.IoControl(disk, IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &returned);
        CREATE_DISK create = {};
        create.PartitionStyle = PARTITION_STYLE_MBR;
        create.Mbr.Signature = signature;
        if (!storage.IoControl(disk, IOCTL_DISK_CREATE_DISK, &create, sizeof(create), nullptr, 0, &returned)) {
            message.Format(FixedText::kToolDiskIoFailed, L"IOCTL_DISK_CREATE_DISK");
            code = kToolExitFailed;
        }
    }
    if (code == 0) {
        std::vector<BYTE> out(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + 4 * sizeof(PARTITION_INFORMATION_EX));
        DRIVE_LAYOUT_INFORMATION_EX* empty = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
        empty->PartitionStyle = PARTITION_STYLE_MBR;
        empty->PartitionCount = 4;
        empty->Mbr.Signature = signature;
        for (DWORD i = 0; i < 4; ++i) {
            empty->PartitionEntry[i].PartitionStyle = PARTITION_STYLE_MBR;
            empty->PartitionEntry[i].RewritePartition = TRUE;
        }
        code = WriteLayout(storage, disk, out, message);
    }
    ReleaseVolumes(storage, volumes);
    return code;
}

// The length of an open disk in bytes, 0 when unknown.
ULONGLONG OpenDiskLength(IStorageCalls& storage, HANDLE disk) {
    GET_LENGTH_INFORMATION length = {};
    DWORD returned = 0;
    BOOL ok = storage.IoControl(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof(length), &returned);
    return ok && returned >= sizeof(length) ? (ULONGLONG)length.Length.QuadPart : 0;
}

// The length of a disk in bytes through its interface path, 0 when unknown.
ULONGLONG DiskLength(IStorageCalls& storage, int device) {
    disk_info disk;
    if (!FindDiskByDeviceNumber(storage, device, disk)) return 0;
    HANDLE handle = storage.OpenDeviceForQuery(disk.interface_path);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    const ULONGLONG length = OpenDiskLength(storage, handle);
    storage.CloseDevice(handle);
    return length;
}

// The layout of an open disk, read into `buffer`: null unless the answer
// holds the whole header and every entry its count claims (and no more than
// the buffer); the message names the call then.
const DRIVE_LAYOUT_INFORMATION_EX* ReadLayout(IStorageCalls& storage, HANDLE disk, std::vector<BYTE>& buffer,
                                              CString& message) {
    const DWORD header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    buffer.assign(header + 128 * sizeof(PARTITION_INFORMATION_EX), 0);
    DWORD returned = 0;
    const DRIVE_LAYOUT_INFORMATION_EX* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    if (!storage.IoControl(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), (DWORD)buffer.size(),
                           &returned) ||
        returned < header || returned > buffer.size() ||
        layout->PartitionCount > (returned - header) / sizeof(PARTITION_INFORMATION_EX)) {
        message.Format(FixedText::kToolDiskIoFailed, L"IOCTL_DISK_GET_DRIVE_LAYOUT_EX");
        return nullptr;
    }
    return layout;
}

// Makes partition `number` (as the disk numbers it) the only active one,
// through the held disk's handle: its layout read, the boot flags set, the
// layout written back as it was otherwise.
int ActivatePartition(IStorageCalls& storage, HANDLE disk, int number, CString& message) {
    std::vector<BYTE> buffer;
    const DRIVE_LAYOUT_INFORMATION_EX* layout = ReadLayout(storage, disk, buffer, message);
    if (!layout) return kToolExitFailed;
    bool found = false;
    for (DWORD i = 0; i < layout->PartitionCount; ++i)
        found = found || (layout->PartitionEntry[i].PartitionNumber == (DWORD)number &&
                          layout->PartitionEntry[i].PartitionLength.QuadPart > 0);
    if (layout->PartitionStyle != PARTITION_STYLE_MBR || !found) {
        message.Format(FixedText::kToolDiskIoFailed, L"/p:");
        return kToolExitFailed;
    }
    const DWORD header = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
    std::vector<BYTE> out(buffer.begin(), buffer.begin() + header + layout->PartitionCount * sizeof(PARTITION_INFORMATION_EX));
    DRIVE_LAYOUT_INFORMATION_EX* changed = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
    for (DWORD i = 0; i < changed->PartitionCount; ++i) {
        PARTITION_INFORMATION_EX& entry = changed->PartitionEntry[i];
        entry.Mbr.BootIndicator = entry.PartitionNumber == (DWORD)number && entry.PartitionLength.QuadPart > 0;
        entry.RewritePartition = TRUE;
    }
    return WriteLayout(storage, disk, out, message);
}

CStringA Line(const char* format, ...) {
    CStringA line;
    va_list args;
    va_start(args, format);
    line.FormatV(format, args);
    va_end(args);
    return line + "\r\n";
}

bool HasToken(const CStringArray& tokens, const wchar_t* token) {
    for (INT_PTR i = 0; i < tokens.GetSize(); ++i)
        if (tokens[i].CompareNoCase(token) == 0) return true;
    return false;
}

// The value after "/name" (":" or "=" included in the name), or empty.
CString TokenValue(const CStringArray& tokens, const wchar_t* name) {
    const int length = (int)wcslen(name);
    for (INT_PTR i = 0; i < tokens.GetSize(); ++i)
        if (tokens[i].GetLength() > length && tokens[i].Left(length).CompareNoCase(name) == 0)
            return tokens[i].Mid(length);
    return CString();
}

// A volume label diskpart takes: letters, digits, '_' and '-', at most 11.
bool PlainLabel(const CString& label) {
    if (label.IsEmpty() || label.GetLength() > 11) return false;
    for (int i = 0; i < label.GetLength(); ++i) {
        wchar_t c = label[i];
        if (!iswalnum(c) && c != L'_' && c != L'-') return false;
    }
    return true;
}

// A new partition of the held disk: where it lies, its type, its file
// system and label (empty: it is not formatted) and whether it is active.
struct NewPartition {
    LONGLONG start = 0, length = 0;
    BYTE type = 0x07;
    bool active = false;
    bool quick = false;
    CString fileSystem, label;
};

// Places a partition of `sizeMb` (0: the whole free region) on the held
// disk's MBR table: at its end when `atEnd` (one MiB kept free behind it),
// otherwise in the first free region from the first MiB, on a MiB boundary.
// The table is written with the partition in its first free slot, the
// others where they were. FALSE with the message when it does not fit.
int LayOutNewPartition(IStorageCalls& storage, HANDLE disk, int sizeMb, bool atEnd, NewPartition& made,
                       CString& message) {
    std::vector<BYTE> buffer;
    const DRIVE_LAYOUT_INFORMATION_EX* layout = ReadLayout(storage, disk, buffer, message);
    if (!layout) return kToolExitFailed;
    const LONGLONG diskBytes = (LONGLONG)OpenDiskLength(storage, disk);
    PARTITION_INFORMATION_EX slots[4] = {};
    std::vector<PARTITION_INFORMATION_EX> used;
    if (layout->PartitionStyle == PARTITION_STYLE_MBR) {
        for (DWORD i = 0; i < layout->PartitionCount; ++i) {
            const PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
            if (e.PartitionLength.QuadPart <= 0) continue;
            used.push_back(e);
            // An MBR layout lists the table's four slots in order.
            if (i < 4) slots[i] = e;
            else used.back().PartitionNumber = 0;  // an extended table's entry
        }
    } else if (layout->PartitionStyle != PARTITION_STYLE_RAW) {
        message.Format(FixedText::kToolDiskIoFailed, L"MBR");
        return kToolExitFailed;
    }
    const LONGLONG mib = (LONGLONG)kMiB;
    const LONGLONG end = diskBytes / mib * mib;
    LONGLONG start = -1, length = (LONGLONG)sizeMb * mib;
    if (atEnd) {
        start = diskBytes / mib * mib - mib - length;
    } else {
        std::stable_sort(used.begin(), used.end(), [](const PARTITION_INFORMATION_EX& a, const PARTITION_INFORMATION_EX& b) {
            return a.StartingOffset.QuadPart < b.StartingOffset.QuadPart;
        });
        LONGLONG cursor = mib;
        for (size_t i = 0; i <= used.size() && start < 0; ++i) {
            const LONGLONG regionEnd = i < used.size() ? used[i].StartingOffset.QuadPart : end;
            const LONGLONG from = (cursor + mib - 1) / mib * mib;
            if (regionEnd - from >= (sizeMb ? length : mib)) {
                start = from;
                if (!sizeMb) length = regionEnd - from;
            }
            if (i < used.size()) cursor = std::max(cursor, used[i].StartingOffset.QuadPart + used[i].PartitionLength.QuadPart);
        }
    }
    bool fits = start >= mib && length > 0 && start + length <= diskBytes;
    for (const PARTITION_INFORMATION_EX& e : used)
        fits = fits && (start + length <= e.StartingOffset.QuadPart ||
                        start >= e.StartingOffset.QuadPart + e.PartitionLength.QuadPart);
    int free = -1;
    for (int i = 3; i >= 0; --i)
        if (slots[i].PartitionLength.QuadPart == 0) free = i;
    for (const PARTITION_INFORMATION_EX& e : used) fits = fits && e.PartitionNumber != 0;  // none past the four slots
    if (!fits || free < 0) {
        message.Format(FixedText::kToolDiskIoFailed, atEnd ? L"/END" : L"/cre");
        return kToolExitFailed;
    }
    PARTITION_INFORMATION_EX& entry = slots[free];
    entry.StartingOffset.QuadPart = start;
    entry.PartitionLength.QuadPart = length;
    entry.Mbr.PartitionType = made.type;
    entry.Mbr.BootIndicator = made.active;
    entry.Mbr.RecognizedPartition = TRUE;
    entry.Mbr.HiddenSectors = (DWORD)(start / kSector);
    std::vector<BYTE> out(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + 4 * sizeof(PARTITION_INFORMATION_EX));
    DRIVE_LAYOUT_INFORMATION_EX* table = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
    table->PartitionStyle = PARTITION_STYLE_MBR;
    table->PartitionCount = 4;
    table->Mbr.Signature = layout->PartitionStyle == PARTITION_STYLE_MBR ? layout->Mbr.Signature : NewDiskSignature();
    for (DWORD i = 0; i < 4; ++i) {
        table->PartitionEntry[i] = slots[i];
        table->PartitionEntry[i].PartitionStyle = PARTITION_STYLE_MBR;
        table->PartitionEntry[i].PartitionNumber = i + 1;
        table->PartitionEntry[i].RewritePartition = TRUE;
    }
    made.start = start;
    made.length = length;
    return WriteLayout(storage, disk, out, message);
}

// Gives the volume the first free drive letter from C, unless it has one.
int GiveVolumeALetter(IStorageCalls& storage, const CString& guidPath, CString& message) {
    wchar_t roots[27 * 4 + 1] = {};
    const DWORD n = storage.LogicalDriveStrings(27 * 4, roots);
    bool taken[26] = {};
    for (const wchar_t* root = roots; n > 0 && n <= 27 * 4 && *root; root += wcslen(root) + 1) {
        const wchar_t letter = (wchar_t)towupper(root[0]);
        if (letter < L'A' || letter > L'Z') continue;
        taken[letter - L'A'] = true;
        CString path;
        if (storage.VolumeGuidPath(root, path) == ERROR_SUCCESS && !path.CompareNoCase(guidPath)) return 0;
    }
    for (int i = 2; i < 26; ++i) {
        if (taken[i]) continue;
        const wchar_t root[4] = {(wchar_t)(L'A' + i), L':', L'\\', 0};
        if (storage.MountVolume(root, guidPath)) return 0;
    }
    message.Format(FixedText::kToolDiskIoFailed, L"SetVolumeMountPoint");
    return kToolExitFailed;
}

// Lays the partition out through the held disk's handle, waits for its
// volume and formats that by its volume GUID path (the formatter reads an
// input that ends at once, so no question of its waits for an answer), then
// gives it a letter. No disk number is named on the way.
int MakeHeldPartition(IStorageCalls& storage, IBootHost& host, HANDLE disk, const ToolContext& context, int sizeMb,
                      bool atEnd, NewPartition& made, CString& message) {
    if (!made.fileSystem.IsEmpty() && context.formatPath.IsEmpty()) {
        message.Format(FixedText::kToolDiskIoFailed, FixedText::kFormatProgram);
        return kToolExitFailed;
    }
    int code = LayOutNewPartition(storage, disk, sizeMb, atEnd, made, message);
    if (code != 0 || made.fileSystem.IsEmpty()) return code;
    const CString volume = WaitForPartitionVolume(storage, host, disk, made.start);
    if (volume.IsEmpty()) {
        message = FixedText::kToolNewVolumeMissing;
        return kToolExitFailed;
    }
    // The GUID path goes unquoted: it holds no space, and a backslash before
    // a closing quote would read as an escaped quote.
    CString arguments = volume + L" /FS:" + made.fileSystem + (made.quick ? L" /Q" : L"") + L" /V:" + made.label + L" /Y";
    std::string output;
    code = host.RunProcessAndRead(context.formatPath, arguments, output);
    // A formatter that outlived the wait still writes the stick: this tool
    // does not end before it has.
    if (code == STILL_ACTIVE) WaitForRunningTools(INFINITE);
    if (code != 0) {
        message.Format(FixedText::kToolFormatFailed, code);
        return code;
    }
    return GiveVolumeALetter(storage, volume, message);
}

}  // namespace

ToolContext OwnToolContext() {
    ToolContext context;
    AddOwnProtectedPaths(context.protectedPaths);
    ReadProtectedPathsFromEnvironment(context.protectedPaths);
    ReadDiskIdentityFromEnvironment(context.identity);
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    CString own = n > 0 && n < MAX_PATH ? CString(buffer) : CString();
    int cut = own.ReverseFind(L'\\');
    context.toolFolder = cut > 0 ? own.Left(cut) : CString();
    // The tool's own folder is the program's work folder, which only
    // administrators and the system may change.
    context.scriptFolder = context.toolFolder;
    context.diskpartPath = OwnSystemProgramPath(FixedText::kDiskpartProgram);
    context.formatPath = OwnSystemProgramPath(FixedText::kFormatProgram);
    return context;
}

int RunPrepareTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost&, const ToolContext& context,
                   CString& message) {
    int device = -1;
    if (argc != 3 || !ParseNumber(Token(argc, argv, 1), device) || Token(argc, argv, 2).CompareNoCase(L"/dismount"))
        return Usage(argc, argv, message);
    HeldDisk disk(storage, device, context, message);
    if (!disk.IsOpen()) return kToolExitRefused;
    std::vector<HANDLE> volumes;
    const int code = LockVolumesOf(storage, disk.Handle(), volumes, message);
    ReleaseVolumes(storage, volumes);
    return code;
}

CStringA PartitionScript(int deviceNumber, const CStringArray& tokens, ULONGLONG diskBytes, CString& reason) {
    // Every token must be one the tool knows.
    static const wchar_t* const kKnown[] = {L"/del", L"/all", L"/y", L"/cre", L"/pri", L"/for", L"/q",
                                            L"/NTFS", L"/END", L"/act"};
    static const wchar_t* const kValued[] = {L"/sz:", L"/align:", L"/v:", L"/p:"};
    for (INT_PTR i = 0; i < tokens.GetSize(); ++i) {
        bool known = false;
        for (const wchar_t* k : kKnown) known = known || tokens[i].CompareNoCase(k) == 0;
        for (const wchar_t* k : kValued)
            known = known || (tokens[i].GetLength() > (int)wcslen(k) && tokens[i].Left((int)wcslen(k)).CompareNoCase(k) == 0);
        if (!known) {
            reason = tokens[i];
            return CStringA();
        }
    }
    CStringA script = Line("select disk %d", deviceNumber);
    if (HasToken(tokens, L"/del")) {
        if (!HasToken(tokens, L"/all")) {
            reason = L"/del";
            return CStringA();
        }
        // An MBR table: the GRUB4DOS record and the active flag need one.
        return script + Line("clean") + Line("convert mbr");
    }
    if (HasToken(tokens, L"/act")) {
        int partition = 0;
        if (!ParseNumber(TokenValue(tokens, L"/p:"), partition) || partition < 1) {
            reason = L"/p:";
            return CStringA();
        }
        return script + Line("select partition %d", partition) + Line("active");
    }
    if (!HasToken(tokens, L"/cre") || !HasToken(tokens, L"/pri")) {
        reason = L"/cre /pri";
        return CStringA();
    }
    CStringA create = "create partition primary";
    int sizeMb = 0;
    CString size = TokenValue(tokens, L"/sz:");
    if (!size.IsEmpty()) {
        if (!ParseNumber(size, sizeMb) || sizeMb < 1) {
            reason = L"/sz:";
            return CStringA();
        }
        CStringA part;
        part.Format(" size=%d", sizeMb);
        create += part;
    }
    if (HasToken(tokens, L"/END")) {
        // At the end of the disk, one MiB kept free behind it, on a MiB boundary.
        if (sizeMb < 1 || diskBytes / kMiB < (ULONGLONG)sizeMb + 2) {
            reason = L"/END";
            return CStringA();
        }
        ULONGLONG startMb = diskBytes / kMiB - 1 - (ULONGLONG)sizeMb;
        CStringA offset;
        offset.Format(" offset=%llu", startMb * 1024);
        create += offset;
    }
    CString align = TokenValue(tokens, L"/align:");
    if (!align.IsEmpty()) {
        if (align.CompareNoCase(L"1MB")) {
            reason = L"/align:";
            return CStringA();
        }
        create += " align=1024";
    }
    script += create + "\r\n";
    if (HasToken(tokens, L"/for")) {
        CStringA format = HasToken(tokens, L"/NTFS") ? "format fs=ntfs" : "format fs=fat32";
        if (HasToken(tokens, L"/q")) format += " quick";
        CString label = TokenValue(tokens, L"/v:");
        if (!label.IsEmpty()) {
            if (!PlainLabel(label)) {
                reason = L"/v:";
                return CStringA();
            }
            format += " label=" + CStringA(Utf16ToUtf8(label).GetString());
        }
        script += format + "\r\n" + Line("assign");
    }
    return script;
}

int RunPartitionTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                     CString& message) {
    int diskNumber = 0;
    if (argc < 3 || !ParseNumber(Token(argc, argv, 1), diskNumber) || diskNumber < 1) return Usage(argc, argv, message);
    const int device = diskNumber - 1;
    CStringArray tokens;
    for (int i = 2; i < argc; ++i) tokens.Add(Token(argc, argv, i));
    CString reason;
    // A bad command line is refused before the disk is even looked at.
    if (PartitionScript(device, tokens, 1ULL << 40, reason).IsEmpty()) return Usage(argc, argv, message);
    HeldDisk disk(storage, device, context, message);
    if (!disk.IsOpen()) return kToolExitRefused;
    // The clearing and the active flag go through the handle of the disk identified.
    if (HasToken(tokens, L"/del")) return EraseHeldDisk(storage, disk.Handle(), message);
    if (HasToken(tokens, L"/act")) {
        int partition = 0;
        ParseNumber(TokenValue(tokens, L"/p:"), partition);  // checked with the command line
        return ActivatePartition(storage, disk.Handle(), partition, message);
    }
    if (PartitionScript(device, tokens, OpenDiskLength(storage, disk.Handle()), reason).IsEmpty())
        return Usage(argc, argv, message);
    // The partition is made and formatted through the held disk too.
    int sizeMb = 0;
    if (!TokenValue(tokens, L"/sz:").IsEmpty()) ParseNumber(TokenValue(tokens, L"/sz:"), sizeMb);
    NewPartition made;
    if (HasToken(tokens, L"/for")) {
        const bool ntfs = HasToken(tokens, L"/NTFS");
        made.fileSystem = ntfs ? L"NTFS" : L"FAT32";
        made.type = ntfs ? 0x07 : 0x0C;
        made.quick = HasToken(tokens, L"/q");
        made.label = TokenValue(tokens, L"/v:");
    }
    return MakeHeldPartition(storage, host, disk.Handle(), context, sizeMb, HasToken(tokens, L"/END"), made, message);
}

BOOL PrepareBootRecord(const BYTE* record, DWORD recordSize, const BYTE* sector0, const CString& bootFile,
                       CArray<BYTE>& result, CString& reason) {
    if (recordSize < kSector || recordSize % kSector || recordSize > kMaxRecordSectors * kSector) {
        reason = L"size";
        return FALSE;
    }
    if (record[510] != 0x55 || record[511] != 0xAA) {
        reason = L"0x55AA";
        return FALSE;
    }
    // The loader's name: the record looks for a file of this name; ours
    // takes its place, padded with zeros to the same length.
    static const char kLoaderName[] = "GRLDR";
    const DWORD nameLength = sizeof(kLoaderName) - 1;
    CStringA name = Utf16ToUtf8(bootFile);
    if (name.IsEmpty() || (DWORD)name.GetLength() > nameLength) {
        reason = L"/boot_file=";
        return FALSE;
    }
    result.SetSize(recordSize);
    memcpy(result.GetData(), record, recordSize);
    // The disk keeps its signature and its partition table (bytes 440 to 509).
    memcpy(result.GetData() + 440, sector0 + 440, 70);
    const BYTE* found = std::search(record + kSector, record + recordSize, kLoaderName, kLoaderName + nameLength);
    if (found == record + recordSize) {
        found = std::search(record, record + 440, kLoaderName, kLoaderName + nameLength);
        if (found == record + 440) {
            reason = L"GRLDR";
            return FALSE;
        }
    }
    BYTE* at = result.GetData() + (found - record);
    memset(at, 0, nameLength);
    memcpy(at, name.GetString(), (size_t)name.GetLength());
    return TRUE;
}

ULONGLONG UsbDiskLength(IStorageCalls& storage, int deviceNumber) { return DiskLength(storage, deviceNumber); }

namespace {

// Whether the volume of a GUID path lies, in one extent, at `offset` of disk `device`.
bool VolumeLiesAt(IStorageCalls& storage, const CString& guidPath, int device, LONGLONG offset) {
    // The volume itself opens by its GUID path without the trailing separator.
    CString path = guidPath;
    path.TrimRight(L'\\');
    HANDLE volume = storage.OpenDeviceForQuery(path);
    if (volume == INVALID_HANDLE_VALUE) return false;
    BYTE buffer[sizeof(VOLUME_DISK_EXTENTS) + 7 * sizeof(DISK_EXTENT)] = {};
    DWORD returned = 0;
    const BOOL ok = storage.IoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer,
                                      sizeof(buffer), &returned);
    storage.CloseDevice(volume);
    VOLUME_DISK_EXTENTS extents = {};
    if (!ok || returned < sizeof(extents)) return false;
    memcpy(&extents, buffer, sizeof(extents));
    return extents.NumberOfDiskExtents == 1 && (int)extents.Extents[0].DiskNumber == device &&
           extents.Extents[0].StartingOffset.QuadPart == offset;
}

}  // namespace

CString WaitForPartitionVolume(IStorageCalls& storage, IBootHost& host, HANDLE disk, LONGLONG offset) {
    for (int slice = 0;; ++slice) {
        const int device = HeldDiskNumber(storage, disk);
        std::vector<CString> paths;
        if (device >= 0 && storage.EnumerateVolumeGuidPaths(paths)) {
            for (const CString& path : paths)
                if (VolumeLiesAt(storage, path, device, offset) && HeldDiskNumber(storage, disk) == device) return path;
        }
        if (slice + 1 >= kNewVolumeWaitSlices) return CString();
        host.Wait(kNewVolumeWaitSliceMs);
    }
}

namespace {

// Orders the MBR table: the partitions by their place on the disk, the one
// at position `first` (0-based, in disk order) in the first slot.
int OrderPartitions(IStorageCalls& storage, HANDLE disk, int first, CString& message) {
    std::vector<BYTE> buffer;
    const DRIVE_LAYOUT_INFORMATION_EX* layout = ReadLayout(storage, disk, buffer, message);
    if (!layout) return kToolExitFailed;
    if (layout->PartitionStyle != PARTITION_STYLE_MBR) {
        message.Format(FixedText::kToolDiskIoFailed, L"MBR");
        return kToolExitFailed;
    }
    std::vector<PARTITION_INFORMATION_EX> used;
    for (DWORD i = 0; i < layout->PartitionCount; ++i)
        if (layout->PartitionEntry[i].PartitionLength.QuadPart > 0 && layout->PartitionEntry[i].Mbr.PartitionType)
            used.push_back(layout->PartitionEntry[i]);
    if (used.size() > 4 || first < 0 || (!used.empty() && first >= (int)used.size())) {
        message.Format(FixedText::kToolDiskIoFailed, L"/firstpart=");
        return kToolExitFailed;
    }
    std::stable_sort(used.begin(), used.end(), [](const PARTITION_INFORMATION_EX& a, const PARTITION_INFORMATION_EX& b) {
        return a.StartingOffset.QuadPart < b.StartingOffset.QuadPart;
    });
    if (!used.empty()) std::rotate(used.begin(), used.begin() + first, used.begin() + first + 1);
    std::vector<BYTE> out(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + 4 * sizeof(PARTITION_INFORMATION_EX));
    DRIVE_LAYOUT_INFORMATION_EX* ordered = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
    ordered->PartitionStyle = PARTITION_STYLE_MBR;
    ordered->PartitionCount = 4;
    ordered->Mbr.Signature = layout->Mbr.Signature;
    for (size_t i = 0; i < 4; ++i) {
        PARTITION_INFORMATION_EX& entry = ordered->PartitionEntry[i];
        if (i < used.size()) entry = used[i];
        entry.PartitionStyle = PARTITION_STYLE_MBR;
        entry.PartitionNumber = (DWORD)i + 1;
        entry.RewritePartition = TRUE;
    }
    return WriteLayout(storage, disk, out, message);
}

int WriteBootRecord(IStorageCalls& storage, IBootHost& host, HANDLE disk, const ToolContext& context,
                    const CString& bootFile, CString& message) {
    CString path = context.toolFolder + FixedText::kPathSeparator + FixedText::kUsbBootRecordFile;
    if (CheckToolFile(host, path) != kToolFileReady) {
        message.Format(FixedText::kToolRecordUnusable, path.GetString());
        return kToolExitRecord;
    }
    std::vector<BYTE> record(kMaxRecordSectors * kSector + 1);
    DWORD got = 0;
    if (!host.ReadFileBytes(path, record.data(), (DWORD)record.size(), &got)) {
        message.Format(FixedText::kToolRecordUnusable, path.GetString());
        return kToolExitRecord;
    }
    BYTE sector0[kSector];
    if (!storage.ReadDevice(disk, 0, sector0, kSector)) {
        message.Format(FixedText::kToolDiskIoFailed, L"sector 0");
        return kToolExitFailed;
    }
    CArray<BYTE> prepared;
    CString reason;
    if (!PrepareBootRecord(record.data(), got, sector0, bootFile, prepared, reason)) {
        message.Format(FixedText::kToolRecordUnusable, (path + L" (" + reason + L")").GetString());
        return kToolExitRecord;
    }
    // The record must fit before the first partition: a layout that cannot
    // be read in full leaves that unknown, and nothing is written.
    std::vector<BYTE> buffer;
    const DRIVE_LAYOUT_INFORMATION_EX* layout = ReadLayout(storage, disk, buffer, message);
    if (!layout) return kToolExitFailed;
    for (DWORD i = 0; i < layout->PartitionCount; ++i) {
        const PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
        if (e.PartitionLength.QuadPart > 0 && e.StartingOffset.QuadPart < (LONGLONG)prepared.GetSize()) {
            message.Format(FixedText::kToolRecordUnusable, path.GetString());
            return kToolExitRecord;
        }
    }
    if (!storage.WriteDevice(disk, 0, prepared.GetData(), (DWORD)prepared.GetSize())) {
        message.Format(FixedText::kToolDiskIoFailed, L"write");
        return kToolExitFailed;
    }
    BYTE check[kSector];
    if (!storage.ReadDevice(disk, 0, check, kSector) || memcmp(check, prepared.GetData(), kSector) != 0) {
        message.Format(FixedText::kToolDiskIoFailed, L"verify");
        return kToolExitFailed;
    }
    return 0;
}

}  // namespace

int RunBootSectorTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                      CString& message) {
    CStringArray tokens;
    for (int i = 1; i < argc; ++i) tokens.Add(Token(argc, argv, i));
    int device = -1, first = -1;
    if (!ParseNumber(TokenValue(tokens, L"/device="), device) || !HasToken(tokens, L"/quiet"))
        return Usage(argc, argv, message);
    const bool order = HasToken(tokens, L"/partitions");
    const bool mbr = HasToken(tokens, L"/mbr");
    if (order == mbr) return Usage(argc, argv, message);
    if (order && (argc != 5 || !ParseNumber(TokenValue(tokens, L"/firstpart="), first)))
        return Usage(argc, argv, message);
    const CString bootFile = TokenValue(tokens, L"/boot_file=");
    if (mbr && (argc != 7 || !HasToken(tokens, L"/install") || TokenValue(tokens, L"/type=").CompareNoCase(L"GRUB4DOS") ||
                bootFile.IsEmpty()))
        return Usage(argc, argv, message);
    HeldDisk disk(storage, device, context, message);
    if (!disk.IsOpen()) return kToolExitRefused;
    return order ? OrderPartitions(storage, disk.Handle(), first, message)
                 : WriteBootRecord(storage, host, disk.Handle(), context, bootFile, message);
}

int RunDiskTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                CString& message) {
    int device = -1;
    if (argc != 3 || !ParseNumber(Token(argc, argv, 1), device) || Token(argc, argv, 2).CompareNoCase(L"/restore"))
        return Usage(argc, argv, message);
    HeldDisk disk(storage, device, context, message);
    if (!disk.IsOpen()) return kToolExitRefused;
    // Nothing is cleared that the layout step after it could not finish.
    if (context.formatPath.IsEmpty()) {
        message.Format(FixedText::kToolDiskIoFailed, FixedText::kFormatProgram);
        return kToolExitFailed;
    }
    const int erased = EraseHeldDisk(storage, disk.Handle(), message);
    if (erased != 0) return erased;
    const ULONGLONG length = OpenDiskLength(storage, disk.Handle());
    NewPartition made;
    const bool fat32 = length > 0 && length <= FixedText::kDiskToolFat32LimitBytes;
    made.fileSystem = fat32 ? L"FAT32" : L"NTFS";
    made.type = fat32 ? 0x0C : 0x07;
    made.quick = true;
    made.active = true;
    made.label = FixedText::kDiskToolVolumeLabel;
    return MakeHeldPartition(storage, host, disk.Handle(), context, 0, false, made, message);
}

int ToolMain(ToolFunction tool, int argc, wchar_t** argv) {
    // The shipped tools keep the Win32 calls; the simulated machine's build
    // of the same program binds its scenario here.
    InstallPlatformSeams();
    CString message;
    ToolContext context = OwnToolContext();
    int code = tool(argc, argv, CurrentStorageCalls(), CurrentBootHost(), context, message);
    if (!message.IsEmpty()) {
        // UTF-8 so that the message reads the same in any console code page.
        fputs(Utf16ToUtf8(message).GetString(), stderr);
        fflush(stderr);
    }
    return code;
}
