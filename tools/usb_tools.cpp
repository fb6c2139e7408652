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

// Refuses a disk that must not be touched; the message says why.
bool Refused(IStorageCalls& storage, int device, const ToolContext& context, CString& message) {
    UsbDiskCheck check = CheckUsbDiskForWriting(storage, device, CString(), context.protectedPaths);
    if (check == kUsbDiskAccepted) return false;
    message.Format(FixedText::kToolRefused, UsbDiskRefusalText(check, device).GetString());
    return true;
}

// The length of a disk in bytes through its interface path, 0 when unknown.
ULONGLONG DiskLength(IStorageCalls& storage, int device) {
    disk_info disk;
    if (!FindDiskByDeviceNumber(storage, device, disk)) return 0;
    HANDLE handle = storage.OpenDeviceForQuery(disk.interface_path);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    GET_LENGTH_INFORMATION length = {};
    DWORD returned = 0;
    BOOL ok = storage.IoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof(length), &returned);
    storage.CloseDevice(handle);
    return ok && returned >= sizeof(length) ? (ULONGLONG)length.Length.QuadPart : 0;
}

// Names tried for one script before the tool gives up.
const int kScriptNameAttempts = 8;

// Writes the script under a new name in the script folder, holds it against
// writes while diskpart runs on it and returns diskpart's own result.
int RunDiskpart(IBootHost& host, const ToolContext& context, const CStringA& script, CString& message) {
    if (context.diskpartPath.IsEmpty() || context.scriptFolder.IsEmpty()) {
        message.Format(FixedText::kToolDiskIoFailed, FixedText::kDiskpartProgram);
        return kToolExitFailed;
    }
    CString folder = context.scriptFolder;
    if (folder.Right(1) != L"\\") folder += L"\\";
    static LONG s_scripts = 0;
    CString path;
    HANDLE hold = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kScriptNameAttempts && hold == INVALID_HANDLE_VALUE; ++attempt) {
        CString name;
        name.Format(FixedText::kDiskpartScriptNameFormat, (unsigned long)GetCurrentProcessId(),
                    (unsigned long)GetTickCount(), (long)InterlockedIncrement(&s_scripts));
        path = folder + name;
        hold = host.HoldNewTextFile(path, script);
    }
    if (hold == INVALID_HANDLE_VALUE) {
        message.Format(FixedText::kToolDiskIoFailed, path.GetString());
        return kToolExitFailed;
    }
    CString arguments = L"/s \"" + path + L"\"";
    int code = host.RunProcessAndWait(context.diskpartPath, arguments);
    // A diskpart that outlived the wait is still working on the disk: this
    // tool does not end (nor let its script go) before it has, so the
    // program that waits for this tool never sees the job end under it.
    if (code == STILL_ACTIVE) WaitForRunningTools(INFINITE);
    host.ReleaseHeldFile(hold, path);
    if (code != 0) message.Format(FixedText::kToolDiskpartFailed, code);
    return code;
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

}  // namespace

ToolContext OwnToolContext() {
    ToolContext context;
    AddOwnProtectedPaths(context.protectedPaths);
    ReadProtectedPathsFromEnvironment(context.protectedPaths);
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    CString own = n > 0 && n < MAX_PATH ? CString(buffer) : CString();
    int cut = own.ReverseFind(L'\\');
    context.toolFolder = cut > 0 ? own.Left(cut) : CString();
    // The tool's own folder is the program's work folder, which only
    // administrators and the system may change.
    context.scriptFolder = context.toolFolder;
    context.diskpartPath = OwnSystemProgramPath(FixedText::kDiskpartProgram);
    return context;
}

int RunPrepareTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost&, const ToolContext& context,
                   CString& message) {
    int device = -1;
    if (argc != 3 || !ParseNumber(Token(argc, argv, 1), device) || Token(argc, argv, 2).CompareNoCase(L"/dismount"))
        return Usage(argc, argv, message);
    if (Refused(storage, device, context, message)) return kToolExitRefused;
    CArray<driver_letter_info> letters;
    BYTE number[sizeof(STORAGE_DEVICE_NUMBER)];
    ReadDriveLetters(storage, true, number, letters);
    int failed = 0;
    for (INT_PTR i = 0; i < letters.GetSize(); ++i) {
        if (letters[i].device_number != device) continue;
        HANDLE volume = storage.OpenDevice(CString(FixedText::kVolumeDevicePrefix) + letters[i].letter);
        if (volume == INVALID_HANDLE_VALUE) {
            ++failed;
            continue;
        }
        DWORD returned = 0;
        // The lock fails while files are open; the dismount goes ahead anyway
        // and invalidates those handles, which is what partitioning needs.
        storage.IoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned);
        if (!storage.IoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) ++failed;
        storage.CloseDevice(volume);
    }
    if (failed) {
        message.Format(FixedText::kToolDiskIoFailed, L"FSCTL_DISMOUNT_VOLUME");
        return kToolExitFailed;
    }
    return 0;
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
    int disk = 0;
    if (argc < 3 || !ParseNumber(Token(argc, argv, 1), disk) || disk < 1) return Usage(argc, argv, message);
    const int device = disk - 1;
    CStringArray tokens;
    for (int i = 2; i < argc; ++i) tokens.Add(Token(argc, argv, i));
    CString reason;
    // A bad command line is refused before the disk is even looked at.
    if (PartitionScript(device, tokens, 1ULL << 40, reason).IsEmpty()) return Usage(argc, argv, message);
    if (Refused(storage, device, context, message)) return kToolExitRefused;
    CStringA script = PartitionScript(device, tokens, DiskLength(storage, device), reason);
    if (script.IsEmpty()) return Usage(argc, argv, message);
    return RunDiskpart(host, context, script, message);
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
    DWORD returned = 0;
    if (!storage.IoControl(disk, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, out.data(), (DWORD)out.size(), nullptr, 0,
                           &returned)) {
        message.Format(FixedText::kToolDiskIoFailed, L"IOCTL_DISK_SET_DRIVE_LAYOUT_EX");
        return kToolExitFailed;
    }
    storage.IoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned);
    return 0;
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
    if (Refused(storage, device, context, message)) return kToolExitRefused;
    disk_info disk;
    if (!FindDiskByDeviceNumber(storage, device, disk)) return kToolExitRefused;
    HANDLE handle = storage.OpenDevice(disk.interface_path);
    if (handle == INVALID_HANDLE_VALUE) {
        message.Format(FixedText::kToolDiskIoFailed, disk.interface_path.GetString());
        return kToolExitFailed;
    }
    int code = order ? OrderPartitions(storage, handle, first, message)
                     : WriteBootRecord(storage, host, handle, context, bootFile, message);
    storage.CloseDevice(handle);
    return code;
}

int RunDiskTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                CString& message) {
    int device = -1;
    if (argc != 3 || !ParseNumber(Token(argc, argv, 1), device) || Token(argc, argv, 2).CompareNoCase(L"/restore"))
        return Usage(argc, argv, message);
    if (Refused(storage, device, context, message)) return kToolExitRefused;
    const ULONGLONG length = DiskLength(storage, device);
    CStringA script = Line("select disk %d", device) + Line("clean") + Line("convert mbr") +
                      Line("create partition primary align=1024") +
                      Line("format fs=%s quick label=%s",
                           length > 0 && length <= FixedText::kDiskToolFat32LimitBytes ? "fat32" : "ntfs",
                           Utf16ToUtf8(FixedText::kDiskToolVolumeLabel).GetString()) +
                      Line("active") + Line("assign");
    return RunDiskpart(host, context, script, message);
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
