// The inventory of the machine's disks, partitions and drive letters, and the
// operations on it: temporary drive letters, the data folder choice and the
// boot setup. All platform calls go through the seams of disk/disk_calls.h.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include "disk/boot_arming.h"
#include "disk/disk_calls.h"
#include "winlib/collections.h"
#include "winlib/strings.h"

struct disk_info {
    int device_number = -1;
    CString interface_path;
    CString model;
    int bus_type = 0;
    int removable = 0;
    CString style_text;
    ULONGLONG size_bytes = 0;
    // The layout's disk identity: the MBR signature (8 hex digits) or the GPT
    // disk GUID; set by the partition stage.
    CString disk_id;
};

struct driver_letter_info {
    CString letter;  // "D:"
    int device_number = 0;
    int partition_number = 0;
    CString key;  // "device:partition"
};

struct partition_info {
    int disk_number = 0;
    int partition_style = 0;  // 0 MBR, 1 GPT
    LONGLONG starting_offset = 0;
    LONGLONG length = 0;
    int partition_number = 0;
    BYTE info[112] = {};  // PARTITION_INFORMATION_GPT, or the eight MBR bytes and zeros
};

struct total_partition_info {
    int disk_number = 0;
    CString interface_path;
    CString model;
    int bus_type = 0;
    int partition_style = 0;
    int partition_number = 0;
    CString key;
    LONGLONG starting_offset = 0;
    CString type_name;
    CString id_or_active;
    int is_efi_type = 0;
    CString attributes_or_recognized;
    CString name_or_hidden;
    CString letter;
    CString mapped_letter;
    CString file_system;
    CString volume_label;
    CString system_kind;
    double free_mb = 0.0;
    double size_mb = 0.0;
    CString disk_id;  // the disk's identity (disk_info::disk_id)
    // Set by the boot setup when the partition is no longer where this
    // record saw it: it gets no letter and nothing is written to it.
    int moved = 0;
};

// A temporary letter this inventory defined, with the key it was defined for.
struct temp_letter_mapping {
    CString key;
    CString letter;
};

// The identity a drive layout gives its disk: the MBR signature as 8 hex
// digits, the GPT disk GUID as text, empty for another style.
CString LayoutDiskId(const DRIVE_LAYOUT_INFORMATION_EX& layout);
// The partition key that joins letters to partitions: "device:partition".
CString MakePartitionKey(int deviceNumber, int partitionNumber);

class CDiskInventory {
public:
    // Null seams mean the ones installed at construction (the Win32 ones in the product).
    explicit CDiskInventory(IStorageCalls* storage = nullptr, IBootHost* host = nullptr);
    // Removes the temporary drive letters this inventory defined.
    ~CDiskInventory();
    CDiskInventory(const CDiskInventory&) = delete;
    CDiskInventory& operator=(const CDiskInventory&) = delete;

    // Rebuilds every record from the machine; failures only leave records out.
    void Refresh();
    // The letter of the first letter record with exactly this key, else the no-letter text.
    CString FindLetterByKey(const CString& key) const;
    // Zeroes the layout buffer and asks for the drive layout into it; on
    // success *returned holds the bytes the driver wrote.
    BOOL QueryDriveLayout(HANDLE device, BYTE* buffer, DWORD* returned = nullptr);
    // Both outputs are replaced on success and left as they were on failure.
    void ReadVolumeInfo(const CString& letter, CString& label, CString& fileSystem);
    void GetFreeSpaceMB(const CString& letter, double& freeMb);
    // The installed-system text of a volume.
    CString ClassifyVolumeContent(const CString& letter);
    static int StringsDiffer(const wchar_t* a, const wchar_t* b);
    static bool CompareDiskNumber(const disk_info& left, const disk_info& right);

    // Gives the letter-less partitions of non-USB disks a temporary letter,
    // once per inventory.
    void AssignTemporaryLetters();
    // Chooses and creates the data folder; sets m_storagePass of the application.
    CString PickStorageFolder(const CString& subFolder, int referenceIndex, double neededMb);
    // True when the folder chosen last was an existing one of ours that let
    // others in and has just got our access list: nothing already in it
    // counts as verified in this run.
    bool m_dataFolderReprotected = false;
    // Why the last choice found no folder when a volume's encryption could
    // not be read (empty otherwise: no partition had room).
    CString m_storageRefusal;
    // Prepares the boot partitions, the one the firmware starts Windows from
    // first; returns how many boot partitions got a bootable entry, or 0
    // when that one did not (then nothing else is touched). A setup refused
    // before it changed anything, or the first partition refused, says why
    // in m_bootSetupRefusal.
    int InstallBootEntries();
    // The key of the system partition the firmware started this Windows
    // from (the Setup key's SystemPartition volume); false when unknown.
    bool FirmwareSystemPartitionKey(CString& key);
    // Reads the partition's disk again: true when the disk answers at the
    // record's interface path with the record's device number and disk
    // identity, holds the partition at the same offset, and the record's
    // drive letter (when it has one) still reaches that partition.
    bool StillWhereSeen(const total_partition_info& record);
    CString m_bootSetupRefusal;
    // 1 when the preparation ran to its end, 0 when an expected file is missing.
    int PrepareBootFiles(const CString& letter);
    // The boot-entry sequences of one partition; 1 when the entry is bootable
    // (every command that makes it so succeeded), 0 when the sequence was
    // refused or stopped (m_sequenceRefusal says why).
    int RunBootEntryCommands(const CString& letter, int partitionStyle);
    int RunExtraBootEntryCommands(const CString& letter, int partitionStyle);
    // What the boot setup armed for the next boot in this run.
    CBootArming m_armed;
    // Undoes what this run armed for the next boot when the restart does not
    // happen, before the letters and the work folder's tool are gone: the
    // one-time boot sequences first, then the entries made, the boot
    // manager's descriptions as they were, the files the setup replaced on
    // the boot partitions from their backups, the files it placed there
    // removed, the files its entries start from (once no entry is left),
    // the restart INI and the marker last. True when all of it is undone.
    bool UndoArmedBoot(const CString& restartIni, const CString& marker);

    IStorageCalls& Storage() { return *m_storage; }
    IBootHost& Host() { return *m_host; }

    CArray<disk_info> m_disks;
    CArray<driver_letter_info> m_letters;
    CArray<partition_info> m_partitions;
    CArray<total_partition_info> m_totalPartitions;
    int m_pathCount;
    CString m_paths[64];
    BYTE* m_descriptorBuffer;
    BYTE* m_geometryBuffer;
    BYTE* m_deviceNumberBuffer;
    BYTE* m_layoutBuffer;
    BYTE m_tempLettersAssigned;
    // What AssignTemporaryLetters defined; the destructor removes exactly these.
    CArray<temp_letter_mapping> m_definedLetters;

    static const DWORD kDescriptorBufferSize = 551;
    static const DWORD kGeometryBufferSize = 24;
    static const DWORD kLayoutBufferSize = 14592;
    static const DWORD kMediaTypesBlockSize = 520;
    static const int kMaxPaths = 64;

private:
    void EnumerateDiskInterfaces();
    void EnumerateDriveLetters();
    void EnumerateDisks();
    void EnumeratePartitions();
    BOOL QueryDeviceNumber(HANDLE device, STORAGE_DEVICE_NUMBER& number);
    void ReadVolumeFacts(total_partition_info& record);
    bool StorageCandidate(int index, int referenceIndex, double neededMb, bool excludeSystemDrive);
    // A folder the program may write into at `path` (the folder rule), on the
    // volume of `letter` when one is given; sets m_dataFolderReprotected.
    bool UseFolder(const CString& path, const CString& letter);
    int RunCommandList(const CString& letter, int partitionStyle, bool extra);
    // Stages the target file on the system drive for the extra entry, with
    // the extra entry's ramdisk file: true when both copies are there and
    // equal their sources. Otherwise nothing is left at the staging name,
    // and the debug log says that the extra entry is left out.
    bool StageTarget(const CString& work);
    // The drive the extra entry starts the staged copy from: the system
    // partition's letter (the system drive when the partition is unknown).
    CString ExtraEntryDrive() const;
    // Reads the boot manager's description of the store `lead` names through
    // the tool: 0 when read (`had` false: the store has none), the tool's exit
    // code when it failed or still runs, 1 when its text cannot be read.
    int ReadBootManagerDescription(const CString& tool, const CString& lead, bool& had, CString& text);
    // Removes whatever is at a name (a link loses only its name), or moves
    // it aside; true when nothing is left there.
    bool ClearName(const CString& path);
    // Copies a file of ours to a boot partition without overwriting, noting
    // it for the undo when nothing was there; CopyFileEnsureFolder's result.
    int PlaceNewFile(const CString& source, const CString& destination);
    // Before a file is changed in place: a fresh copy beside it for the undo
    // (or, when it is not there, a note that the undo removes it). False
    // when the copy cannot be made: then the file must stay as it is.
    bool KeepForUndo(const CString& path);
    // Keeps the firmware loader at `loader` beside itself before one of ours
    // replaces it. A backup found there from an earlier run is kept, unless
    // it holds one of our own loader files (of the work folder `work`):
    // then the loader is backed up anew.
    bool KeepLoaderBackup(const CString& loader, const CString& work);
    // Copies a file without overwriting: true when the copy is made and as
    // long as the source, or was already there; a short copy is removed.
    bool KeepCopy(const CString& source, const CString& copy);
    // Copies a file over whatever is at `copy`: true only when the copy's
    // digest then equals the source's; a copy that differs is removed.
    bool ReplaceCopy(const CString& source, const CString& copy);

    // Puts our 64-bit loader files on the partition over the firmware's:
    // every file there is first kept beside itself; a copy that fails or
    // arrives short puts every kept file back (and removes ours where there
    // was none). False with m_sequenceRefusal set when refused.
    bool ReplaceLoaderFiles(const CString& letter, const CString& work);

    // Removes a file whatever its attributes; true when it is gone.
    bool RemoveArmingFile(const CString& path);
    // Why the last sequence was refused or stopped.
    CString m_sequenceRefusal;

    IStorageCalls* m_storage;
    IBootHost* m_host;
};

// The inventory's reading steps, shared with the USB disk inventory.
// The device number of an open disk or volume (through the given buffer).
BOOL QueryStorageDeviceNumber(IStorageCalls& storage, HANDLE device, BYTE* numberBuffer, STORAGE_DEVICE_NUMBER& number);
// Appends a record for every fixed and removable drive whose volume answers
// with its device number; volumes are opened for queries only when asked.
void ReadDriveLetters(IStorageCalls& storage, bool queryOnly, BYTE* numberBuffer, CArray<driver_letter_info>& letters);
// The ANSI text at a driver-supplied offset, read no further than the bytes
// the driver returned; offset 0 (or one outside the answer) gives the default.
CString AnsiTextAt(const BYTE* buffer, DWORD returned, DWORD offset, const wchar_t* fallback);
// Fills model, bus type, removable flag, size and device number of an open
// disk; each query that fails leaves its fields as they were. The model is
// trimmed when asked.
void ReadDiskRecord(IStorageCalls& storage, HANDLE device, BYTE* descriptorBuffer, BYTE* geometryBuffer,
                    BYTE* numberBuffer, bool trimModel, disk_info& disk);
// Appends a record for every non-empty path whose device opens (read-only
// when asked), then sorts the records by device number, stably.
void ReadDiskRecords(IStorageCalls& storage, const CString* paths, int count, bool queryOnly, bool trimModel,
                     BYTE* descriptorBuffer, BYTE* geometryBuffer, BYTE* numberBuffer, CArray<disk_info>& disks);

// Partition type names.
CString GuidToText(const GUID& guid);
CString GptTypeName(const CString& typeGuidText);
CString MbrTypeName(BYTE type);

// Temporary drive letters (the storage calls default to the installed ones).
CString MountPartitionLetter(const CString& key, BOOL broadcast, IStorageCalls& calls = CurrentStorageCalls());
BOOL UnmountPartitionLetter(const CString& key, const CString& letter, IStorageCalls& calls = CurrentStorageCalls());
CString FindFreeDriveLetter(IStorageCalls& calls = CurrentStorageCalls());
// The NT device path a key names; FALSE with the failure text when the key is refused.
BOOL PartitionKeyTarget(const CString& key, CString& target, CString& failure);

// The target file of the boot setup, set by SplitTargetPath.
extern CString g_TargetDrive;
extern CString g_TargetDir;
extern CString g_TargetFileName;
// drive + separator + folder + separator + file, without a doubled
// separator when the folder is empty.
CString JoinDrivePath(const CString& drive, const CString& folder, const CString& file);
// Reads the boot manager's description from the boot-entry tool's listing
// of it (bytes in the OEM code page, or wide with a byte-order mark): true
// when the listing is the boot manager's and the description, if it has
// one (`had`), can be handed back to the tool exactly.
bool ParseBootManagerDescription(const std::string& output, bool& had, CString& text);
// Sets the three target globals from a path (a path without a drive is
// taken inside the data folder). A path whose parts do not fit the split
// buffers is refused: FALSE, and the globals are emptied.
BOOL SplitTargetPath(const CString& path);
