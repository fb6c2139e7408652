// The USB boot-disk writer: clears the chosen USB disk, creates the EFI
// partition and fills it with the boot environment, the tool file and the
// boot files, creates the NTFS data partition, has the boot-sector tool order
// the partition table and write the GRUB4DOS boot record, finds the data
// partition and labels it. The USB page runs it on its disk-maker worker:
//
//     UsbWriteJob job = UsbWriteJob::FromApplication(*GetTarvelApp(), number, path);
//     CUsbBootDiskWriter writer(job, m_usbInventory, view);   // view: the page's IUsbWriterView
//     if (writer.WriteBootDisk()) { ... writer.m_driveLetter is the data partition ...
//         writer.CopyFileWithProgress(image, writer.m_driveLetter + imagePath + image.m_fileName); }
//     else notice = writer.m_failure, or the page's own failure text when it is empty;
//
// Nothing erases a disk the writer cannot finish: every file it will write
// and the boot record are checked (present, and no stand-in on a real
// machine; the record as the boot-sector tool will check it), and the disk
// must be long enough for the EFI partition and a data partition, before the
// first tool runs. The disk is checked again before
// every tool run: the device number must still belong to the USB disk the
// user confirmed (its interface path), and none of its volumes may hold the
// Windows folder, the program or the data folder. Every command, copy and
// the label are judged; a tool that outlives its time limit fails the job
// and no tool is ever started on that disk again.
#pragma once

#include "core/catalogue.h"
#include "disk/disk_calls.h"
#include "disk/usb_disk_guard.h"
#include "disk/usb_disk_inventory.h"

class CTarvelApp;

// Where the writer reports; called on the writer's thread.
class IUsbWriterView {
public:
    virtual ~IUsbWriterView() {}
    // The page's first status line.
    virtual void SetStatusText(const wchar_t* text) = 0;
    // A step's log line; called only in debug mode. The page shows it in a
    // modal information box owned by the main window and returns when it is closed.
    virtual void ShowLog(const wchar_t* text) = 0;
    // Around each copy with progress (the page's m_copying and m_copyName).
    virtual void SetCopying(BOOL copying, const wchar_t* name) = 0;
};

// Everything the writer needs, taken when the job starts.
struct UsbWriteJob {
    int deviceNumber = -1;
    CString interfacePath;  // the confirmed disk's identity
    // The serial number the disk answered when the user confirmed it (empty:
    // none), when it was taken then; the tools are handed this one.
    bool serialTaken = false;
    CString serial;
    CString workFolder;     // our tools, the boot files and the boot record
    CString dataFolder;     // the downloads
    const CArray<COnlinefileinfo>* peImages = nullptr;
    int usbPeIndex = 2;
    const COnlinefileinfo* toolFile = nullptr;
    CString filePrefix;
    CString usbToolFileName;
    CString volumeLabel;
    CString volumeLabelAlt;
    int bootModeFlag = 0;
    BOOL debugMode = FALSE;
    // Bytes already known to go onto the data partition (the image and the
    // extra file when they were ready before the disk is written).
    ULONGLONG dataBytes = 0;
    // Paths whose drives the tools must never touch (also handed to the tools).
    ProtectedPaths protectedPaths;

    // From the application object: its folders, lists and texts; the
    // protected paths are the data folder, the program and the Windows folder.
    static UsbWriteJob FromApplication(CTarvelApp& app, int deviceNumber, const CString& interfacePath);
};

class CUsbBootDiskWriter {
public:
    // Null seams mean the installed ones (the Win32 ones in the product).
    CUsbBootDiskWriter(const UsbWriteJob& job, CUsbDiskInventory& inventory, IUsbWriterView& view,
                       IStorageCalls* storage = nullptr, IBootHost* host = nullptr);

    // 1 when the disk was written and checked, 0 when it was refused or failed
    // (m_failure then says why when there is more to say than "failed").
    int WriteBootDisk();
    // The disk tool on the confirmed disk (the page's disk-tool worker; it
    // erases too, so the page asks the same question as for Start): the same
    // disk checks before each of at most two runs. 1 when it returned 0.
    int RunUsbDiskTool();
    // Copies a downloaded file (from the data folder) to a full target path,
    // creating the target's folders; an existing target is never replaced.
    // 1 only when the copy succeeded.
    int CopyFileWithProgress(const COnlinefileinfo& record, const CString& target);
    // A file for the data partition (the image, the extra file), after the
    // disk was written: copied only from a record that was verified (check
    // state 2 or 3), only while the drive letter is still a volume of the
    // confirmed disk (kDataDiskChanged, m_failure says why), and only when
    // the partition has room for it.
    enum DataCopy { kDataCopied, kDataNotVerified, kDataNoRoom, kDataCopyFailed, kDataDiskChanged };
    DataCopy CopyDataFile(const COnlinefileinfo& record, const CString& target);
    // CopyFileExW's progress routine; data is the writer.
    static DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER totalSize, LARGE_INTEGER transferred,
                                              LARGE_INTEGER streamSize, LARGE_INTEGER streamTransferred,
                                              DWORD streamNumber, DWORD reason, HANDLE source, HANDLE destination,
                                              LPVOID data);

    // The EFI partition in MB for a total of bytes to put on it.
    static unsigned EfiSizeMb(ULONGLONG bytesOnEfi);

    // The EFI partition's drive text while it is being filled, then the data
    // partition's ("E:", no separator).
    CString m_driveLetter;
    CString m_failure;
    unsigned m_efiSizeMb;

private:
    struct PlannedCopy {
        CString source;
        CString target;  // relative to the partition's root
        const COnlinefileinfo* record;  // null: a boot file from the work folder
    };
    bool PlanFiles();
    // The boot record the boot-sector tool will write, checked as it checks it.
    bool CheckBootRecord(const CString& path);
    // The disk holds the EFI partition and the data partition.
    bool CheckDiskLength();
    bool RefuseFile(const CString& path, bool standIn);
    bool DiskStillOurs();
    // Hands the tools the identity of the confirmed disk (its interface path
    // and serial number) in the environment; false (m_failure) when the disk
    // cannot be opened by its path.
    bool PublishJobDisk();
    // Runs a tool up to maxRuns times while it fails, pauses pauseMs when it
    // ended, then logs; false when the disk check refused it or it outlived
    // its time limit (the job fails).
    bool RunTool(const CString& tool, const CString& arguments, const wchar_t* logFormat, int maxRuns, int& code,
                 DWORD pauseMs = 0);
    int FailTool(const CString& tool, int code);
    // Copies the planned files of one kind: the boot environment, the tool
    // file, or the boot files; false (logged) at the first that fails.
    bool CopyPlanned(bool toolFile, bool bootFiles = false);
    void Log(const CString& text);
    void Logf(const wchar_t* format, const wchar_t* value);
    CString ToolPath(const wchar_t* name) const;
    bool WaitForLetterOfKey(const CString& key);
    bool IsDataVolume(const CString& drive);
    int FindDataPartition();

    UsbWriteJob m_job;
    CUsbDiskInventory& m_inventory;
    IUsbWriterView& m_view;
    IStorageCalls& m_storage;
    IBootHost& m_host;
    CArray<PlannedCopy> m_copies;
    CString m_copyName;
    // The title of a configured tool file that is not there to copy.
    CString m_missingTool;
};

// One disk maker at a time in the process: the page takes the flag before it
// starts the worker and the worker gives it back as it ends. The main window
// asks whether a disk is being written before it exits or updates itself.
BOOL TryEnterDiskMaker();
void LeaveDiskMaker();
BOOL DiskMakerRunning();

enum UsbWaitResult {
    kUsbFileReady = 0,   // the file was signalled (finished, needed nothing, or given up)
    kUsbQueueEnded = 1,  // the queue ended or failed without signalling it
    kUsbJobStopped = 2,  // the job was stopped
    kUsbFileGivenUp = 3, // the queue gave the file up: there is nothing to copy
};

// The events between the USB page's download queue and its disk maker. Reset
// when a job starts, so nothing of an earlier job is left pending. A wait
// ends only when the file is signalled, the queue ends or fails, or the job
// is stopped: never on a timer, and never forever once the queue is over.
class CUsbJobEvents {
public:
    CUsbJobEvents();
    ~CUsbJobEvents();
    CUsbJobEvents(const CUsbJobEvents&) = delete;
    CUsbJobEvents& operator=(const CUsbJobEvents&) = delete;

    void ResetForJob();
    // The file is ready (it needed nothing or was accepted), or given up.
    void SignalImage(BOOL ready = TRUE);
    void SignalExtra(BOOL ready = TRUE);
    // The queue has ended (or failed): no file signal will come any more.
    void SignalQueueEnded();
    void Stop();
    // Whether the job was stopped since it started.
    bool Stopped() const;
    UsbWaitResult WaitImage();
    UsbWaitResult WaitExtra();

private:
    UsbWaitResult WaitFor(HANDLE file, volatile LONG& givenUp);
    HANDLE m_image;  // auto-reset
    HANDLE m_extra;  // auto-reset
    volatile LONG m_imageGivenUp;  // set before the file's event
    volatile LONG m_extraGivenUp;
    HANDLE m_queueEnded;  // manual-reset
    HANDLE m_stopped;     // manual-reset
};
