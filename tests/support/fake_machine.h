// A scripted machine for the disk layer's tests and the simulated machine,
// declared as data: disks with their layouts, volumes with their facts, a
// DOS-device table, an in-memory file table and a log of every command and
// change. It answers the storage calls with genuine winioctl.h structures
// (and, when a disk asks for it, with malformed ones), so the inventory's
// parsing is what gets tested.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk/disk_calls.h"

enum class FakeLayout { Mbr, Gpt, Raw, Fails };

struct FakePartition {
    int number = 1;
    bool present = true;  // false: not in the layout (a partition made or removed later)
    LONGLONG startBytes = 1048576;
    LONGLONG lengthBytes = 0;
    // MBR entries
    BYTE mbrType = 0x07;
    bool active = false;
    bool recognized = true;
    DWORD hiddenSectors = 2048;
    // GPT entries
    GUID type = {};
    GUID id = {};
    DWORD64 attributes = 0;
    std::wstring name;
};

struct FakeDisk {
    std::wstring path;
    bool present = true;  // false: not enumerated and not opened (a disk that appears later)
    int device = 0;
    STORAGE_BUS_TYPE bus = BusTypeSata;
    bool removable = false;
    std::string vendor;
    std::string product;
    FakeLayout layout = FakeLayout::Mbr;
    std::vector<FakePartition> partitions;
    LONGLONG cylinders = 1000;
    DWORD tracksPerCylinder = 255, sectorsPerTrack = 63, bytesPerSector = 512;
    // Failures and malformed answers.
    bool openFails = false, propertyFails = false, mediaFails = false, numberFails = false;
    bool descriptorOffsetsPastEnd = false;  // vendor/product offsets beyond the returned bytes
    bool descriptorUnterminated = false;    // product text runs to the end of the answer
    int extraPartitionCount = 0;            // PartitionCount claims this many more than were returned
    bool gptNameUnterminated = false;       // all 36 name characters used, no zero
    bool layoutShortAnswer = false;         // the answer stops inside the layout header
    bool lengthFails = false;               // IOCTL_DISK_GET_LENGTH_INFO fails
    // The layout's disk identity: the MBR signature, or the GPT disk GUID.
    DWORD signature = 0;
    GUID diskGuid = {};
    // The serial number the device answers (STORAGE_DEVICE_DESCRIPTOR); empty: none.
    std::string serial;
};

struct FakeVolume {
    wchar_t letter = 0;  // 0: a volume without a letter (answers once a letter is mapped to it)
    bool present = true;  // false: answers nothing (a letter that appears later)
    UINT driveType = DRIVE_FIXED;
    int device = 0;
    int partition = 0;
    std::wstring fileSystem = L"NTFS";
    std::wstring label;
    ULONGLONG freeBytes = 0;
    bool hasProbe = false;       // the system probe file exists
    std::wstring probeVersion;   // its product version; empty: no readable version
    bool answersNumber = true;   // answers IOCTL_STORAGE_GET_DEVICE_NUMBER
    bool answersVolumeInfo = true;
    bool openFails = false;      // the volume device cannot be opened
    int hiddenWaits = 0;         // the letter shows up only after this many host waits
};

struct FakeFile {
    bool folder = false;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    ULONGLONG size = 0;
    bool standIn = false;  // begins with our stand-in marker
    std::string content;   // what a read returns (after the marker of a stand-in)
    // Who else may write it (the folder rule): a link (reparse point) that
    // points at `finalPath`, another owner, an access list that lets others
    // write, delete or change permissions.
    bool link = false;
    bool otherOwner = false;
    bool runningAccountOwner = false;  // owned by the running account (made where new objects are their creator's)
    bool othersWrite = false;
    std::wstring finalPath;  // where the path really leads; empty: the path itself
    DWORD reparseTag = 0;    // with FILE_ATTRIBUTE_REPARSE_POINT: the tag a listing shows
};

// How the simulated USB tools of the tools archive change the machine
// (partitioning tool, boot-sector tool, preparatory and disk tool).
class FakeMachine;

struct FakeUsbToolScript {
    bool active = true;             // the tool commands change the machine
    bool efiGetsLetter = true;      // the EFI partition (1) shows a letter
    int efiLetterWaits = 0;         // ... after this many host waits
    bool dataGetsLetter = true;     // the data partition (2) shows a letter
    int dataLetterWaits = 0;
    bool efiLetterDropsWithData = false;  // creating the data partition takes the EFI letter away
    bool orderSwapsNumbers = false; // ordering the table makes the data partition number 1
    std::map<std::wstring, int> exitCodes;  // "tool|token" -> exit code, e.g. "kvtpart.exe|/del"
    std::map<std::wstring, int> failTimes;  // how many runs of a key fail before it succeeds (-1 always)
    // Called after a run of the key did its work (the machine changing under the writer).
    std::map<std::wstring, std::function<void(FakeMachine&)>> after;
};

// How the simulated USB tools name a command: "<tool>|<command>" (for
// example "kvtpart.exe|/cre:EFI", the keys of FakeUsbToolScript) and the
// device number it addresses (the partitioning tool's disk number less one);
// empty for a program that is not one of them.
std::wstring UsbToolCommandKey(const std::wstring& program, const std::wstring& arguments, int& device);

struct DosDefinition {
    DWORD flags;
    std::wstring name;
    std::wstring target;
};

class FakeMachine : public IStorageCalls, public IBootHost, public IFolderRule {
public:
    std::vector<FakeDisk> disks;
    std::vector<FakeVolume> volumes;
    // Letters in use by drives that are no disk volume (optical, network, RAM).
    std::map<wchar_t, UINT> otherDrives;
    int extraInterfaces = 0;  // interface paths that cannot be opened, after the disks'
    // The SystemPartition value of the Setup key: the NT name of a volume,
    // "\\Device\\HarddiskVolume<n>", where volume n is volumes[n - 1] (what
    // \\?\GLOBALROOT plus the name opens). Empty: the value cannot be read.
    std::wstring systemPartition;
    // Names the volume of that partition as the system partition.
    void SetSystemPartition(int device, int partition);

    // The running Windows as our 32-bit process sees it. `windowsFolder` is
    // its Windows folder. On 64-bit Windows (`wow64`) file-system
    // redirection shows this process SysWOW64 under the name of that
    // folder's System32, and the real System32 only through the Sysnative
    // alias, which 64-bit XP and Server 2003 lack without the update that
    // adds it (`sysnative`). The files of the table, and each volume's system
    // probe, lie where Windows keeps them: the kernel file lies in the real
    // System32 only, as it does on Windows (Wine's syswow64 keeps a copy).
    std::wstring windowsFolder = L"C:\\Windows";
    bool wow64 = false;
    bool sysnative = true;
    // The path a request of this process reaches, redirection applied.
    std::wstring Redirected(const std::wstring& path) const;
    // Whether a path lies in the running system's System32, SysWOW64 or
    // Sysnative folder.
    bool InSystemFolders(const std::wstring& path) const;

    // DOS-device table and every DefineDosDevice call.
    std::map<std::wstring, std::wstring> dosDevices;
    std::vector<DosDefinition> dosCalls;
    bool defineFails = false;

    // Files (keys upper-case), INI values, the change log and the command runs.
    std::map<std::wstring, FakeFile> files;
    std::map<std::wstring, std::wstring> iniValues;  // "PATH|section|key" -> value
    std::vector<std::wstring> log;
    std::vector<std::wstring> runs;  // "program|arguments"
    std::vector<std::string> inputs;  // what each run was handed on its input (empty: an input that ends at once)
    std::map<int, int> exitCodes;    // 1-based run number -> exit code (0 otherwise)
    // The boot manager's description per store (upper-case path), as the
    // boot-entry tool's runs leave it; a store not listed has the default.
    // The reads of it (RunProcessAndRead, "program|arguments"), which the
    // fake answers as the editor lists the boot manager (/enum {bootmgr} /v,
    // Chinese, in the OEM code page) unless readCode or readOutput say otherwise.
    std::map<std::wstring, std::wstring> bootManagerDescriptions;
    std::wstring defaultBootManagerDescription = L"Windows Boot Manager";
    std::set<std::wstring> storesWithoutDescription;  // upper-case paths
    std::vector<std::wstring> reads;
    int readCode = 0;
    bool replaceReadOutput = false;
    std::string readOutput;
    // The description the store at `store` has now; empty when it has none.
    std::wstring BootManagerDescription(const std::wstring& store) const;
    std::vector<std::wstring> debugBoxes;
    std::vector<std::wstring> uncreatableFolders;
    std::vector<std::wstring> failingCopies;  // copy targets that fail
    std::vector<std::wstring> shortCopies;    // copy targets that report success but arrive empty
    bool copyFaultsOnce = false;              // each of those fails or arrives short only once
    FakeUsbToolScript usbTools;
    bool realHostRule = false;
    // The token's default owner for what it makes without naming one: false,
    // Administrators (Windows' own default for administrators); true, the
    // running account, as the policy "System objects: Default owner for
    // objects created by members of the Administrators group" set to the
    // object creator makes it. The folder rule's own folders take the owner
    // their descriptor (OwnFolderSecurity) names, and that only.
    bool creatorOwnsNewObjects = false;
    DWORD waitedMs = 0;
    // The host waits after which the volume of a partition a layout made
    // arrives; negative: it never does.
    int newVolumeWaits = 0;
    // What the boot-sector tool was asked to write: record type and boot file per device.
    std::map<int, std::wstring> bootRecords;
    // Raw sectors written per device (offset -> bytes).
    std::map<int, std::map<LONGLONG, std::vector<BYTE>>> writtenSectors;
    std::map<std::wstring, std::string> textFiles;  // WriteTextFile and HoldNewTextFile, keys upper-case
    // Files held open now (upper-case paths), and every path ever held, in order.
    std::map<std::wstring, HANDLE> heldFiles;
    std::vector<std::wstring> heldNames;
    SYSTEMTIME now = {2026, 2, 2, 3, 9, 5, 0, 0};

    int openHandles = 0;

    void AddFile(const std::wstring& path, ULONGLONG size = 0, bool standIn = false) {
        FakeFile f;
        f.size = size;
        f.standIn = standIn;
        files[Upper(path)] = f;
    }
    void AddFolder(const std::wstring& path) { files[Upper(path)] = FakeFile{true, FILE_ATTRIBUTE_DIRECTORY}; }
    // A directory link (a junction another account made) at `path`, leading to `target`.
    void AddLink(const std::wstring& path, const std::wstring& target) {
        FakeFile f{true, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT};
        f.link = true;
        f.reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
        f.finalPath = target;
        files[Upper(path)] = f;
    }
    bool HasFile(const std::wstring& path) const { return files.count(Upper(path)) != 0; }
    DWORD AttributesOf(const std::wstring& path) const {
        auto it = files.find(Upper(path));
        return it == files.end() ? INVALID_FILE_ATTRIBUTES : it->second.attributes;
    }
    static std::wstring Upper(std::wstring s);

    // IStorageCalls
    int EnumerateDiskInterfaces(CString* paths, int maxPaths) override;
    HANDLE OpenDevice(const wchar_t* path) override;
    void CloseDevice(HANDLE device) override;
    BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) override;
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override;
    UINT DriveType(const wchar_t* root) override;
    BOOL VolumeInformation(const wchar_t* root, wchar_t* label, DWORD labelSize, wchar_t* fileSystem,
                           DWORD fileSystemSize) override;
    BOOL FreeBytesForCaller(const wchar_t* root, ULONGLONG* freeBytes) override;
    // The volume at the root's letter: FakeVolumeGuidPath of its index.
    DWORD VolumeGuidPath(const wchar_t* root, CString& path) override;
    BOOL DefineDosDevice(DWORD flags, const wchar_t* name, const wchar_t* target) override;
    BOOL FindFile(const wchar_t* path) override;
    BOOL ProductVersion(const wchar_t* path, CString& version) override;
    BOOL RunningWindows(CString& folder, BOOL& is64, BOOL& hasSysnative) override;
    // The running system's volume's probe version, major.minor.build.
    BOOL RunningSystemVersion(CString& version) override;
    HANDLE OpenDeviceForQuery(const wchar_t* path) override { return OpenDevice(path); }
    BOOL ReadDevice(HANDLE device, LONGLONG offset, void* buffer, DWORD size) override;
    BOOL WriteDevice(HANDLE device, LONGLONG offset, const void* buffer, DWORD size) override;
    BOOL SetVolumeLabel(const wchar_t* root, const wchar_t* label) override;
    BOOL SystemPartitionDevice(CString& device) override;
    // The present volumes that have arrived (hiddenWaits run out), lettered
    // or not, by FakeVolumeGuidPath of their index.
    BOOL EnumerateVolumeGuidPaths(std::vector<CString>& paths) override;
    // Gives a present volume without that letter taken the letter.
    BOOL MountVolume(const wchar_t* root, const wchar_t* guidPath) override;

    // IBootHost
    BOOL PathExists(const wchar_t* path) override;
    BOOL IsFolder(const wchar_t* path) override;
    BOOL CreateFolder(const wchar_t* path) override;
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override;
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override;
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override;
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override;
    int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) override;
    // The system's converter (convert.exe, by any path) runs as Windows'
    // does: on a volume that has a label it asks for that label and reads it
    // from its input, in the OEM code page, up to a line end; a missing or
    // other answer fails it (kFakeConverterNoLabel). Else it makes the
    // volume NTFS and ends with 0.
    int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) override;
    static const int kFakeConverterNoLabel = 1;
    void LocalTime(SYSTEMTIME* time) override { *time = now; }
    void ShowDebugBox(const wchar_t* text) override { debugBoxes.push_back(text); }
    BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) override;
    ULONGLONG FileSize(const wchar_t* path) override;
    BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                          void* data) override;
    BOOL CreateFolderTree(const wchar_t* path) override;
    BOOL WriteTextFile(const wchar_t* path, const CStringA& text) override;
    BOOL RemoveFile(const wchar_t* path) override;
    HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) override;
    void ReleaseHeldFile(HANDLE hold, const wchar_t* path) override;
    void Wait(DWORD milliseconds) override;
    BOOL RealHostRule() override { return realHostRule ? TRUE : FALSE; }
    // A digest made from the content and size (not MD5, but as unequal).
    CString FileDigest(const wchar_t* path) override;
    IFolderRule& FolderRule() override { return *this; }
    // The backup's calls, refusing as Windows does: a plain path of 260
    // characters or more (248 for a new folder), a folder in deniedFolders
    // (access denied), a file in writerHeld (a sharing violation: another
    // program has it open for writing) or in unreadableFiles.
    DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) override;
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override;
    CString LinkTarget(const wchar_t* path) override;
    CString FileUsers(const wchar_t* path) override;
    void DebugLog(const wchar_t* line) override { debugLog.push_back(line); }
    std::vector<std::wstring> deniedFolders;
    std::vector<std::wstring> writerHeld;
    std::vector<std::wstring> unreadableFiles;
    std::map<std::wstring, std::wstring> fileUsers;  // upper-case path -> the programs FileUsers names
    std::vector<std::wstring> readFiles;             // every source CopyUserFile opened, in order
    std::vector<std::wstring> debugLog;
    // Whether Windows refuses a plain path this long (setting its error).
    static bool TooLongForWindows(const wchar_t* path, size_t limit = MAX_PATH);

    // IFolderRule, over the file table: a volume whose file system is FAT
    // keeps no access lists.
    FolderState JudgeFolder(const wchar_t* path) override;
    bool OthersCanWrite(const wchar_t* folder) override;
    BOOL CreateOwnFolder(const wchar_t* path) override;
    BOOL ProtectFolder(const wchar_t* path) override;
    BOOL RemoveLink(const wchar_t* path) override;
    BOOL MoveAside(const wchar_t* path) override;
    CString FinalPath(const wchar_t* path) override;
    bool ListFolder(const wchar_t* folder, std::vector<FolderEntry>& entries) override;
    BOOL DeletePlainFile(const wchar_t* path) override;

    // The simulated tools (fake_usb_tools.cpp): called for every run when
    // usbTools.active; returns the exit code.
    int SimulateUsbTool(const std::wstring& program, const std::wstring& arguments);
    int SimulateConverter(const std::wstring& arguments, const std::string& input);
    // The disk with this device number, or null.
    FakeDisk* DiskByDevice(int device);
    // The first letter from C: on that no drive uses.
    wchar_t FreeLetter() const;
    // Removes a volume and every file on its letter.
    void RemoveVolume(size_t index);
    // Whether a volume's letter answers yet.
    static bool Shows(const FakeVolume& v) { return v.letter && v.hiddenWaits <= 0; }

private:
    struct OpenThing {
        bool disk;
        int index;
    };
    std::map<int, OpenThing> m_open;
    std::map<std::wstring, int> m_toolRuns;  // runs per failure key
    int m_nextHandle = 0x100;

    // The volume a drive letter reaches: its own letter, or a DOS definition
    // that points at the volume's partition. Null when nothing answers.
    const FakeVolume* VolumeForLetter(wchar_t letter) const;
    // The volume whose system probe a path (redirection applied) names.
    const FakeVolume* ProbeVolume(const std::wstring& reached) const;
    bool DriveExists(wchar_t letter) const;
    bool ParentExists(const std::wstring& upperPath) const;
};

// The volume GUID path the fake machine gives volumes[index]:
// "\\?\Volume{4b565400-0000-0000-0000-<index, 12 hex digits>}\".
std::wstring FakeVolumeGuidPath(size_t index);
// The editor's listing of the boot manager (/enum {bootmgr} /v) on Chinese
// Windows: the localized heading and identifier label, the element names,
// the description when `present`, as the bytes of the OEM code page.
std::string BootManagerListing(const std::wstring& description, bool present);
// The store a boot-entry tool run names ("/store "<path>" ..."), upper-case; empty when none.
std::wstring StoreOfRun(const std::wstring& arguments);

// GUIDs of the partition types the tests use.
extern const GUID kEfiTypeGuid;
extern const GUID kMsrTypeGuid;
extern const GUID kBasicDataGuid;
extern const GUID kRecoveryGuid;
