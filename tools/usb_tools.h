// Our four tools for the USB disk, each a library function over the storage
// and host seams (so tests run the logic against a simulated machine) and a
// thin console program in the tools archive:
//
//   kvtprep.exe  <device> /dismount        locks and dismounts the disk's volumes
//   kvtpart.exe  <disk> ...                clears, lays out, formats and activates partitions
//   kvtmbr.exe   /device=<device> ...      orders the partition table, writes the boot record
//   kvtdisk.exe  <device> /restore         returns the disk to one plain data partition
//
// <device> is the device number (\\.\PhysicalDriveN); <disk> is the device
// number + 1. Each tool refuses, with a non-zero exit code and nothing
// changed, a number that maps to no disk, a disk that is not on the USB bus,
// a disk holding a protected drive (the Windows folder, the program that
// started it and the data folder, from the environment it inherits) and any
// disk while one of those drives cannot be seen on another. The number alone
// is never trusted: the parent hands down the identity of the disk it
// confirmed (its interface path and serial number, in the environment), the
// tool opens the disk by that path and checks on the handle that it is the
// disk of the identity and has the number of the command line. It clears
// and lays out through that handle, waits for the new partition's volume
// and formats that by its volume GUID path: no step names the disk by its
// number.
#pragma once

#include "disk/disk_calls.h"
#include "disk/usb_disk_guard.h"
#include "winlib/collections.h"
#include "winlib/strings.h"

// Exit codes of the tools themselves (the partitioning tools pass diskpart's
// own non-zero result on unchanged, which stays below these).
const int kToolExitUsage = 100;    // a command line the tool does not accept
const int kToolExitRefused = 101;  // no such disk, not USB, or a protected drive on it
const int kToolExitFailed = 102;   // a disk call failed
const int kToolExitRecord = 103;   // the boot record file is missing, a stand-in or malformed

struct ToolContext {
    ProtectedPaths protectedPaths;  // drives never to touch
    UsbDiskIdentity identity;       // the disk the tool is to write (none: every disk is refused)
    CString toolFolder;           // the tool's own folder (the boot record lies there)
    CString scriptFolder;         // where the diskpart script is written (the tool's own folder)
    CString diskpartPath;         // the system's diskpart
    CString formatPath;           // the system's formatter
};

// The context of the running tool: the Windows folder and its own path, the
// paths its parent published, its own folder (the program's work folder,
// also the script folder) and the real System32's diskpart (Sysnative from a
// 32-bit process on 64-bit Windows).
ToolContext OwnToolContext();

typedef int (*ToolFunction)(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host,
                            const ToolContext& context, CString& message);
int RunPrepareTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                   CString& message);
int RunPartitionTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                     CString& message);
int RunBootSectorTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                      CString& message);
int RunDiskTool(int argc, wchar_t** argv, IStorageCalls& storage, IBootHost& host, const ToolContext& context,
                CString& message);

// The diskpart script of a partitioning command line (after the disk
// number), for a disk of `diskBytes`; empty with the reason when the command
// is not one the tool accepts. The tool checks its command lines with it;
// it runs no diskpart.
CStringA PartitionScript(int deviceNumber, const CStringArray& tokens, ULONGLONG diskBytes, CString& reason);
// The boot record prepared for the disk: the record file's sectors with the
// disk's own signature and partition table (from `sector0`) and the boot
// file's name in place of the loader name. FALSE with the reason when the
// record is not usable.
BOOL PrepareBootRecord(const BYTE* record, DWORD recordSize, const BYTE* sector0, const CString& bootFile,
                       CArray<BYTE>& result, CString& reason);
// The length of a disk in bytes (IOCTL_DISK_GET_LENGTH_INFO through its
// interface path), as the partitioning tool reads it; 0 when unknown.
ULONGLONG UsbDiskLength(IStorageCalls& storage, int deviceNumber);

// The system mounts the volume of a partition some time after the layout
// that made it: a tool waits for it up to this many slices of this length.
const int kNewVolumeWaitSlices = 60;
const DWORD kNewVolumeWaitSliceMs = 500;
// The volume GUID path ("\\?\Volume{...}\") of the volume that lies at byte
// `offset` of the held disk and on that disk alone, once it has arrived;
// empty when it has not within the bound. A volume counts as the disk's
// only when the disk answers the same number right after its extents were
// read, so a disk renumbered meanwhile lends it none of its volumes.
CString WaitForPartitionVolume(IStorageCalls& storage, IBootHost& host, HANDLE disk, LONGLONG offset);

// The programs' entry: binds the platform seams (InstallPlatformSeams: the
// Win32 calls in the shipped tools, the scenario in the simulated machine's
// build), runs the tool with them and its own context, prints the message
// (UTF-8) on the error output and returns the code.
int ToolMain(ToolFunction tool, int argc, wchar_t** argv);
