// The platform calls beneath the disk layer, behind two small interfaces:
// the storage calls (disks, volumes, drive letters) and the host calls of the
// boot setup (files, INI writes, external programs, the clock, the debug
// box). The product uses the Win32 implementations; tests put a scripted
// machine in their place, so that no test ever touches a real disk.
#pragma once

#include <windows.h>

#include <vector>
#include <string>

#include "core/folder_rule.h"
#include "winlib/strings.h"

class IStorageCalls {
public:
    virtual ~IStorageCalls() {}
    // The device-interface paths of the present disks (GUID_DEVINTERFACE_DISK),
    // in enumeration order, at most maxPaths of them; returns how many were stored.
    virtual int EnumerateDiskInterfaces(CString* paths, int maxPaths) = 0;
    // CreateFileW with read and write access, shared read and write, OPEN_EXISTING.
    virtual HANDLE OpenDevice(const wchar_t* path) = 0;
    virtual void CloseDevice(HANDLE device) = 0;
    virtual BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* returned) = 0;
    virtual DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) = 0;
    virtual UINT DriveType(const wchar_t* root) = 0;
    virtual BOOL VolumeInformation(const wchar_t* root, wchar_t* label, DWORD labelSize, wchar_t* fileSystem,
                                   DWORD fileSystemSize) = 0;
    // Free bytes available to the calling user.
    virtual BOOL FreeBytesForCaller(const wchar_t* root, ULONGLONG* freeBytes) = 0;
    // The volume GUID path of the volume mounted at a root ("D:\"):
    // "\\?\Volume{...}\". ERROR_SUCCESS, or the error code.
    virtual DWORD VolumeGuidPath(const wchar_t* root, CString& path) = 0;
    virtual BOOL DefineDosDevice(DWORD flags, const wchar_t* name, const wchar_t* target) = 0;
    // Whether a file exists (a find-first of the path finds something).
    virtual BOOL FindFile(const wchar_t* path) = 0;
    // The product version of a file as dotted text; FALSE when the file has
    // no readable version.
    virtual BOOL ProductVersion(const wchar_t* path, CString& version) = 0;
    // The running Windows as this process sees it: its Windows folder
    // (GetSystemWindowsDirectoryW, no trailing separator), whether this
    // 32-bit process runs on 64-bit Windows (WOW64) and, there, whether the
    // Sysnative alias exists. On 64-bit Windows that folder's System32 is
    // redirected to SysWOW64 and the real one is reached through Sysnative,
    // which 64-bit XP and Server 2003 lack without the update that adds it.
    // FALSE when the folder cannot be read.
    virtual BOOL RunningWindows(CString& windowsFolder, BOOL& wow64, BOOL& sysnative) = 0;
    // The running system's version from the kernel (RtlGetVersion, bound at
    // run time) as "major.minor.build"; FALSE when it cannot be had.
    virtual BOOL RunningSystemVersion(CString& version) = 0;
    // CreateFileW with read access only, every kind of sharing, OPEN_EXISTING:
    // enough for the queries, and it does not need the right to write.
    virtual HANDLE OpenDeviceForQuery(const wchar_t* path) = 0;
    // Reads or writes `size` bytes at a byte offset of an open device (whole
    // sectors); TRUE only when all of them were transferred.
    virtual BOOL ReadDevice(HANDLE device, LONGLONG offset, void* buffer, DWORD size) = 0;
    virtual BOOL WriteDevice(HANDLE device, LONGLONG offset, const void* buffer, DWORD size) = 0;
    // SetVolumeLabelW; the root keeps its trailing separator ("E:\").
    virtual BOOL SetVolumeLabel(const wchar_t* root, const wchar_t* label) = 0;
    // The NT device name of the system partition the firmware started this
    // Windows from ("\Device\HarddiskVolume1"): the SystemPartition value
    // under HKLM\SYSTEM\Setup. FALSE when it cannot be read.
    virtual BOOL SystemPartitionDevice(CString& device) = 0;
    // The volume GUID paths ("\\?\Volume{...}\") of every volume the system
    // knows at this moment (FindFirstVolumeW, FindNextVolumeW), lettered or
    // not; FALSE when they cannot be listed. A volume of a partition just
    // laid out arrives some time later, not with the layout call.
    virtual BOOL EnumerateVolumeGuidPaths(std::vector<CString>& paths) {
        paths.clear();
        return FALSE;
    }
    // Gives a volume a drive letter: SetVolumeMountPointW of a root ("G:\")
    // and the volume's GUID path.
    virtual BOOL MountVolume(const wchar_t* root, const wchar_t* guidPath) {
        (void)root;
        (void)guidPath;
        return FALSE;
    }
};

class IBootHost {
public:
    virtual ~IBootHost() {}
    virtual BOOL PathExists(const wchar_t* path) = 0;
    virtual BOOL IsFolder(const wchar_t* path) = 0;
    // CreateDirectoryW of the last level only.
    virtual BOOL CreateFolder(const wchar_t* path) = 0;
    // The utilities' copy: nonzero copied; 0 failed; -1 no source; -2 source is a
    // folder; -3 destination exists and failIfExists; -4 no destination folder.
    virtual int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) = 0;
    virtual BOOL SetAttributes(const wchar_t* path, DWORD attributes) = 0;
    virtual BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                                const wchar_t* value) = 0;
    // The utilities' process run: the exit code, -1 not started, -2 no exit code.
    virtual int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) = 0;
    // The same, reading what the program writes to its standard output into
    // `output` (bytes as written). A host that cannot read answers -1, as
    // for a program that did not start.
    virtual int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) {
        (void)program;
        (void)arguments;
        output.clear();
        return -1;
    }
    // The same as RunProcessAndWait, handing the program `input` (the answer
    // it will ask for) on its standard input, which ends right after it. A
    // host that cannot hand input answers -1, as for a program that did not start.
    virtual int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) {
        (void)program;
        (void)arguments;
        (void)input;
        return -1;
    }
    virtual void LocalTime(SYSTEMTIME* time) = 0;
    // The debug box (information icon, no auto-close); runs on the calling thread.
    virtual void ShowDebugBox(const wchar_t* text) = 0;
    // Up to `size` bytes from the start of a file; FALSE when it cannot be read.
    virtual BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) = 0;
    // The size of a file in bytes; 0 when it is missing.
    virtual ULONGLONG FileSize(const wchar_t* path) = 0;
    // CopyFileExW with COPY_FILE_FAIL_IF_EXISTS and the progress routine;
    // TRUE only when the copy succeeded.
    virtual BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                                  void* data) = 0;
    // Creates a folder with its missing parents (SHCreateDirectoryExW); TRUE
    // when the folder exists afterwards.
    virtual BOOL CreateFolderTree(const wchar_t* path) = 0;
    // Writes a text file (replacing it) / deletes a file.
    virtual BOOL WriteTextFile(const wchar_t* path, const CStringA& text) = 0;
    virtual BOOL RemoveFile(const wchar_t* path) = 0;
    // Writes a new text file (never one that exists: CREATE_NEW) and holds it
    // open until ReleaseHeldFile: while held, any process may read it but none
    // can write, rename or delete it. The content is read back through the
    // holding handle, so what is held is what was written. The hold, or
    // INVALID_HANDLE_VALUE when the file could not be made or held.
    virtual HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) = 0;
    // Ends the hold and deletes the file.
    virtual void ReleaseHeldFile(HANDLE hold, const wchar_t* path) = 0;
    // Sleep(milliseconds): every wait for the machine to settle goes through here.
    virtual void Wait(DWORD milliseconds) = 0;
    // Whether files of the tools archive must be the real ones (no stand-ins).
    // Always TRUE on a real machine; a simulated machine answers as its
    // scenario says.
    virtual BOOL RealHostRule() = 0;
    // The MD5 digest of a file as 32 upper-case digits; empty when it
    // cannot be read.
    virtual CString FileDigest(const wchar_t* path) = 0;
    // The user-folder backup's calls; paths may be in the long form
    // (LongPathForm), which Windows needs past 260 characters.
    // The entries of a folder as ListFolderEntries gives them: ERROR_SUCCESS,
    // or why the folder could not be listed to its end.
    virtual DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) = 0;
    // Copies a user file as CopyFileSharingReadOnly does (never through a
    // handle that shares writing); ERROR_SUCCESS or why not. `readFailed`
    // says whether it was the source that could not be opened.
    virtual DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) = 0;
    // Where a link (junction, mount point, symbolic link) leads: the final
    // path of what it points to, in the plain form; empty when that cannot
    // be opened (or this Windows cannot say).
    virtual CString LinkTarget(const wchar_t* path) = 0;
    // The programs that have a file open, as the user knows them, joined by
    // "、"; empty when Windows cannot say (before Vista, or not known).
    virtual CString FileUsers(const wchar_t* path) = 0;
    // One line for the debug log (the debugger's output).
    virtual void DebugLog(const wchar_t* line) = 0;
    // Who else may write the folders the boot setup and the data-folder
    // choice use.
    virtual IFolderRule& FolderRule() { return CurrentFolderRule(); }
};

// The Win32 implementations, one each per process.
IStorageCalls& Win32StorageCalls();
IBootHost& Win32BootHost();

// The calls a new inventory uses: the Win32 ones unless a test installed
// others. Each setter returns the previous one; null puts the Win32 one back.
IStorageCalls& CurrentStorageCalls();
IBootHost& CurrentBootHost();
IStorageCalls* SetStorageCalls(IStorageCalls* calls);
IBootHost* SetBootHost(IBootHost* host);
