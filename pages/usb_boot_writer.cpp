#include "pages/usb_boot_writer.h"

#include <vector>

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/tool_files.h"
#include "disk/usb_disk_guard.h"
#include "tools/usb_tools.h"

namespace {

// The boot files of the EFI partition: the path on the partition and the
// source in the work folder, in the order they are copied.
struct BootFile {
    const wchar_t* target;
    const wchar_t* source;
};
const BootFile kBootFiles[12] = {
    {L"\\Boot\\Fonts\\wgl4_boot.ttf", L"\\tools\\wgl4_boot.ttf"},
    {L"\\Boot\\Fonts\\chs_boot.ttf", L"\\tools\\chs_boot.ttf"},
    {L"\\EFI\\Microsoft\\Boot\\Fonts\\wgl4_boot.ttf", L"\\tools\\wgl4_boot.ttf"},
    {L"\\EFI\\Microsoft\\Boot\\Fonts\\chs_boot.ttf", L"\\tools\\chs_boot.ttf"},
    {L"\\Boot\\zh-CN\\bootmgr.exe.mui", L"\\tools\\bootmgr.exe.mui"},
    {L"\\boot\\bootmgr", L"\\tools\\bootmgr"},
    {L"\\EFI\\Boot\\bootx64.efi", L"\\tools\\bootmgfw.efi"},
    {L"\\EFI\\Boot\\zh-CN\\bootx64.efi.mui", L"\\tools\\bootmgfw.efi.mui"},
    {L"\\waldr", L"\\tools\\waldr"},
    {L"\\boot\\boot.sdi", L"\\tools\\boot.sdi"},
    {L"\\boot\\bcd", L"\\tools\\bhd"},
    {L"\\efi\\microsoft\\boot\\bcd", L"\\tools\\efibcd"},
};

// A tool run that outlived RunProcessAndWait's limit comes back with this.
const int kStillRunning = 259;

bool Verified(const COnlinefileinfo& record) { return record.m_checkState == 2 || record.m_checkState == 3; }

const ULONGLONG kMiB = 1048576;
const ULONGLONG kFat32LargestFile = 0xFFFFFFFFull;
// A boot record is at most 63 sectors: a buffer one sector larger shows a
// file that is too long.
const DWORD kBootRecordReadBytes = 64 * 512;

volatile LONG g_diskMakerRunning = 0;

}  // namespace

UsbWriteJob UsbWriteJob::FromApplication(CTarvelApp& app, int deviceNumber, const CString& interfacePath) {
    UsbWriteJob job;
    job.deviceNumber = deviceNumber;
    job.interfacePath = interfacePath;
    job.workFolder = app.m_workFolder;
    job.dataFolder = app.m_dataFolder;
    job.peImages = &app.m_peImages;
    job.usbPeIndex = app.m_usbPeIndex;
    job.toolFile = &app.m_toolFile;
    job.filePrefix = app.m_filePrefix;
    job.usbToolFileName = app.m_usbToolFileName;
    job.volumeLabel = app.m_usbVolumeLabel;
    job.volumeLabelAlt = app.m_usbVolumeLabelAlt;
    job.bootModeFlag = app.m_bootModeFlag;
    job.debugMode = app.m_debugMode ? TRUE : FALSE;
    if (!app.m_dataFolder.IsEmpty()) job.protectedPaths.push_back(app.m_dataFolder);
    if (!app.m_modulePath.IsEmpty()) job.protectedPaths.push_back(app.m_modulePath);
    AddOwnProtectedPaths(job.protectedPaths);
    return job;
}

CUsbBootDiskWriter::CUsbBootDiskWriter(const UsbWriteJob& job, CUsbDiskInventory& inventory, IUsbWriterView& view,
                                       IStorageCalls* storage, IBootHost* host)
    : m_efiSizeMb(0),
      m_job(job),
      m_inventory(inventory),
      m_view(view),
      m_storage(storage ? *storage : CurrentStorageCalls()),
      m_host(host ? *host : CurrentBootHost()) {}

unsigned CUsbBootDiskWriter::EfiSizeMb(ULONGLONG bytesOnEfi) {
    return (unsigned)((double)bytesOnEfi / 1048576.0 + 100.0);
}

CString CUsbBootDiskWriter::ToolPath(const wchar_t* name) const {
    return m_job.workFolder + FixedText::kPathSeparator + name;
}

void CUsbBootDiskWriter::Log(const CString& text) {
    if (m_job.debugMode) m_view.ShowLog(text);
}

void CUsbBootDiskWriter::Logf(const wchar_t* format, const wchar_t* value) {
    CString text;
    text.Format(format, value);
    Log(text);
}

bool CUsbBootDiskWriter::RefuseFile(const CString& path, bool standIn) {
    m_failure.Format(standIn ? FixedText::kUsbRefuseStandInFile : FixedText::kUsbRefuseMissingFile, path.GetString());
    return false;
}

// Builds the copy list of the EFI partition and checks every source, the
// tools and the boot record before anything touches the disk.
bool CUsbBootDiskWriter::PlanFiles() {
    m_copies.RemoveAll();
    m_missingTool.Empty();
    const CArray<COnlinefileinfo>* pe = m_job.peImages;
    if (!pe || pe->GetSize() < 3 || m_job.usbPeIndex < 0 || m_job.usbPeIndex >= pe->GetSize()) {
        m_failure = FixedText::kUsbRefusePeNotReady;
        return false;
    }
    // The boot environment comes from the entry verified for this road; the
    // others only when they were verified too, never a stale file instead.
    const COnlinefileinfo& usbPe = (*pe)[m_job.usbPeIndex];
    auto source = [this](const COnlinefileinfo& record) {
        return m_job.dataFolder + FixedText::kPathSeparator + record.m_fileName;
    };
    if (!Verified(usbPe) || usbPe.m_fileName.IsEmpty() || !m_host.PathExists(source(usbPe))) {
        m_failure = FixedText::kUsbRefusePeNotReady;
        return false;
    }
    const CString secondName = m_job.filePrefix + FixedText::kUsbPeSecondName;
    auto usable = [&](int index) {
        const COnlinefileinfo& record = (*pe)[index];
        return index == m_job.usbPeIndex ||
               (Verified(record) && !record.m_fileName.IsEmpty() && m_host.PathExists(source(record)));
    };
    if (usable(0)) m_copies.Add(PlannedCopy{source((*pe)[0]), FixedText::kUsbPeFolder + (*pe)[0].m_fileName, &(*pe)[0]});
    // The second copy: entry 1 when it is ready, else entry 2.
    int second = usable(1) ? 1 : (usable(2) ? 2 : -1);
    if (second >= 1) m_copies.Add(PlannedCopy{source((*pe)[second]), FixedText::kUsbPeFolder + secondName, &(*pe)[second]});

    // The tool file belongs to the road only when the configuration names it;
    // one the queue gave up (it is optional) is left off the disk.
    const COnlinefileinfo* tool = m_job.toolFile;
    if (tool && !tool->m_sectionName.IsEmpty()) {
        CString path = source(*tool);
        if (Verified(*tool) && !tool->m_fileName.IsEmpty() && m_host.PathExists(path))
            m_copies.Add(PlannedCopy{path, FixedText::kUsbToolFolder + m_job.usbToolFileName, tool});
        else
            m_missingTool = tool->m_title;
    }

    for (const BootFile& file : kBootFiles)
        m_copies.Add(PlannedCopy{m_job.workFolder + file.source, file.target, nullptr});

    // Our tools and every file from the tools archive: present and real.
    CStringArray archiveFiles;
    for (const wchar_t* name : {FixedText::kUsbPrepareTool, FixedText::kUsbPartitionTool, FixedText::kUsbBootSectorTool,
                                FixedText::kUsbBootRecordFile})
        archiveFiles.Add(ToolPath(name));
    for (INT_PTR i = 0; i < m_copies.GetSize(); ++i)
        if (!m_copies[i].record) archiveFiles.Add(m_copies[i].source);
    for (INT_PTR i = 0; i < archiveFiles.GetSize(); ++i) {
        ToolFileState state = CheckToolFile(m_host, archiveFiles[i]);
        if (state != kToolFileReady) return RefuseFile(archiveFiles[i], state == kToolFileStandIn);
    }
    if (!CheckBootRecord(ToolPath(FixedText::kUsbBootRecordFile))) return false;

    ULONGLONG bytes = 0;
    for (INT_PTR i = 0; i < m_copies.GetSize(); ++i) {
        const ULONGLONG size = m_host.FileSize(m_copies[i].source);
        // The EFI partition is FAT32: no file there may pass 4 GiB less one byte.
        if (size > kFat32LargestFile) {
            m_failure.Format(FixedText::kUsbRefuseFileOverFat32, m_copies[i].source.GetString());
            return false;
        }
        bytes += size;
    }
    m_efiSizeMb = EfiSizeMb(bytes);
    return true;
}

bool CUsbBootDiskWriter::CheckBootRecord(const CString& path) {
    std::vector<BYTE> record(kBootRecordReadBytes);
    DWORD got = 0;
    CString reason;
    if (!m_host.ReadFileBytes(path, record.data(), (DWORD)record.size(), &got)) {
        reason = FixedText::kUsbBootRecordFile;
    } else {
        // The disk's own sector is not known before the clearing; the record's
        // checks do not depend on it.
        BYTE sector0[512] = {};
        CArray<BYTE> prepared;
        if (PrepareBootRecord(record.data(), got, sector0, FixedText::kUsbBootLoaderName, prepared, reason))
            return true;
    }
    m_failure.Format(FixedText::kUsbRefuseBootRecord, path.GetString(), reason.GetString());
    return false;
}

bool CUsbBootDiskWriter::CheckDiskLength() {
    const ULONGLONG length = UsbDiskLength(m_storage, m_job.deviceNumber);
    if (length == 0) {
        m_failure = FixedText::kUsbRefuseDiskSizeUnknown;
        return false;
    }
    ULONGLONG dataMb = (m_job.dataBytes + kMiB - 1) / kMiB;
    if (dataMb < FixedText::kUsbMinimumDataPartitionMb) dataMb = FixedText::kUsbMinimumDataPartitionMb;
    const ULONGLONG needed = ((ULONGLONG)m_efiSizeMb + FixedText::kUsbPartitionSlackMb + dataMb) * kMiB;
    if (length >= needed) return true;
    m_failure.Format(FixedText::kUsbRefuseDiskTooSmall, FormatByteSize(length).GetString(),
                     FormatByteSize(needed).GetString());
    return false;
}

bool CUsbBootDiskWriter::DiskStillOurs() {
    UsbDiskCheck check = CheckUsbDiskForWriting(m_storage, m_job.deviceNumber, m_job.interfacePath,
                                                m_job.protectedPaths);
    if (check == kUsbDiskAccepted) return true;
    m_failure = UsbDiskRefusalText(check, m_job.deviceNumber);
    return false;
}

bool CUsbBootDiskWriter::PublishJobDisk() {
    UsbDiskIdentity identity;
    // The disk at the path must still be the one the user confirmed.
    if (!ReadUsbDiskIdentity(m_storage, m_job.interfacePath, identity) ||
        (m_job.serialTaken && identity.serial.CompareNoCase(m_job.serial) != 0)) {
        m_failure = UsbDiskRefusalText(kUsbDiskChanged, m_job.deviceNumber);
        Log(m_failure);
        return false;
    }
    PublishDiskIdentity(identity);
    return true;
}

bool CUsbBootDiskWriter::RunTool(const CString& tool, const CString& arguments, const wchar_t* logFormat,
                                 int maxRuns, int& code, DWORD pauseMs) {
    code = -1;
    for (int run = 0; run < maxRuns; ++run) {
        if (!DiskStillOurs()) return false;
        code = m_host.RunProcessAndWait(tool, arguments);
        if (code == kStillRunning) break;
        if (code == 0) break;
    }
    if (code != kStillRunning && pauseMs) m_host.Wait(pauseMs);
    CString log;
    log.Format(logFormat, code);
    Log(log + arguments);
    if (code == kStillRunning) {
        // It may still be writing: never start another tool on this disk.
        NoteToolHung(m_job.interfacePath);
        m_failure.Format(FixedText::kUsbToolTimedOutLog, tool.GetString());
        Log(m_failure);
        return false;
    }
    return true;
}

int CUsbBootDiskWriter::FailTool(const CString& tool, int code) {
    m_failure.Format(FixedText::kUsbToolFailedLog, tool.GetString(), code);
    Log(m_failure);
    return 0;
}

bool CUsbBootDiskWriter::WaitForLetterOfKey(const CString& key) {
    for (DWORD waited = 0;; waited += FixedText::kUsbLetterPollMs) {
        if (m_inventory.FindLetterByKey(key, m_driveLetter, TRUE)) return true;
        if (waited >= FixedText::kUsbLetterPollLimitMs) return false;
        m_host.Wait(FixedText::kUsbLetterPollMs);
    }
}

// The data partition is known by its volume: NTFS with the label the
// creating command gave it.
bool CUsbBootDiskWriter::IsDataVolume(const CString& drive) {
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!m_storage.VolumeInformation(drive + FixedText::kRootSuffix, label, MAX_PATH, fileSystem, MAX_PATH))
        return false;
    return _wcsicmp(fileSystem, FixedText::kUsbDataFileSystem) == 0 &&
           _wcsicmp(label, FixedText::kUsbDataVolumeLabel) == 0;
}

// 1 found (m_driveLetter is the data partition), 0 not found after the
// bounded wait (the failure is logged).
int CUsbBootDiskWriter::FindDataPartition() {
    const int device = m_job.deviceNumber;
    int count = 0;
    const wchar_t* failure = FixedText::kUsbNoLetterLog;
    for (DWORD waited = 0;; waited += FixedText::kUsbLetterPollMs) {
        CString last;
        m_inventory.LetterOfDevice(device, count, last);
        if (count == 1) {
            failure = FixedText::kUsbNoDataVolumeLog;
            if (IsDataVolume(last)) {
                m_driveLetter = last;
                Logf(FixedText::kUsbOneLetterLog, m_driveLetter);
                return 1;
            }
        } else if (count >= 2) {
            failure = FixedText::kUsbNoPartition2Log;
            CString second;
            if (m_inventory.FindLetterByKey(MakePartitionKey(device, 2), second, FALSE) && IsDataVolume(second)) {
                m_driveLetter = second;
                Logf(FixedText::kUsbPartition2Log, m_driveLetter);
                return 1;
            }
            // After the table was ordered the data partition may carry another number.
            for (INT_PTR i = 0; i < m_inventory.m_letters.GetSize(); ++i) {
                const usb_driver_letter_info& record = m_inventory.m_letters[i];
                if (record.device_number == device && IsDataVolume(record.letter)) {
                    m_driveLetter = record.letter;
                    Logf(FixedText::kUsbDataByVolumeLog, m_driveLetter);
                    return 1;
                }
            }
        }
        if (waited >= FixedText::kUsbLetterPollLimitMs) break;
        m_host.Wait(FixedText::kUsbLetterPollMs);
    }
    m_driveLetter = FixedText::kNoLetter;
    Log(failure);
    return 0;
}

int CUsbBootDiskWriter::WriteBootDisk() {
    m_failure.Empty();
    const int device = m_job.deviceNumber;
    const int diskNumber = device + 1;
    const CString prepareTool = ToolPath(FixedText::kUsbPrepareTool);
    const CString partitionTool = ToolPath(FixedText::kUsbPartitionTool);
    const CString bootSectorTool = ToolPath(FixedText::kUsbBootSectorTool);
    if (!DiskStillOurs() || !PlanFiles() || !CheckDiskLength()) {
        Log(m_failure);
        return 0;
    }
    // Our tools learn what they must never touch, and which disk they are to
    // write, from the environment they inherit.
    PublishProtectedPaths(m_job.protectedPaths);
    if (!PublishJobDisk()) return 0;

    CString text;
    text.Format(FixedText::kUsbWriterStartLog, device);
    Log(text);
    m_view.SetStatusText(FixedText::kUsbPreparingText);

    CString args;
    int code = 0;
    args.Format(FixedText::kUsbPrepareArgsFormat, device);
    // The preparatory command only helps the clearing along; its result is not judged.
    if (!RunTool(prepareTool, args, FixedText::kUsbPrepareLog, 2, code, FixedText::kUsbAfterPrepareMs)) return 0;

    args.Format(FixedText::kUsbClearArgsFormat, diskNumber);
    if (!RunTool(partitionTool, args, FixedText::kUsbClearLog, 2, code)) return 0;
    if (code != 0) return FailTool(partitionTool, code);

    m_view.SetStatusText(FixedText::kUsbCreatingEfiText);
    args.Format(FixedText::kUsbCreateEfiArgsFormat, diskNumber, (int)m_efiSizeMb);
    if (!RunTool(partitionTool, args, FixedText::kUsbCreateEfiLog, 1, code)) return 0;
    if (code != 0) return FailTool(partitionTool, code);

    args.Format(FixedText::kUsbActivateArgsFormat, diskNumber);
    if (!RunTool(partitionTool, args, FixedText::kUsbActivateLog, 1, code)) return 0;
    if (code != 0) return FailTool(partitionTool, code);

    if (!WaitForLetterOfKey(MakePartitionKey(device, 1))) {
        Log(FixedText::kUsbNoEfiLetterLog);
        return 0;
    }
    Logf(FixedText::kUsbEfiLetterLog, m_driveLetter);

    // The boot environment, then the tool file, with progress; then the boot files.
    if (!CopyPlanned(false)) return 0;
    Log(FixedText::kUsbPeCopiedLog);
    if (!CopyPlanned(true)) return 0;
    if (m_missingTool.IsEmpty())
        Log(FixedText::kUsbToolCopiedLog);
    else
        Logf(FixedText::kUsbToolFileMissingLog, m_missingTool);
    m_view.SetStatusText(FixedText::kUsbWritingBootFilesText);
    if (!CopyPlanned(false, true)) return 0;
    Log(FixedText::kUsbBootFilesLog);

    m_view.SetStatusText(FixedText::kUsbCreatingDataText);
    args.Format(FixedText::kUsbCreateDataArgsFormat, diskNumber);
    if (!RunTool(partitionTool, args, FixedText::kUsbCreateDataLog, 1, code)) return 0;
    if (code != 0) return FailTool(partitionTool, code);

    m_view.SetStatusText(FixedText::kUsbOrderingText);
    args.Format(FixedText::kUsbOrderArgsFormat, device);
    if (!RunTool(bootSectorTool, args, FixedText::kUsbOrderLog, 1, code)) return 0;
    if (code != 0) return FailTool(bootSectorTool, code);

    m_view.SetStatusText(FixedText::kUsbWritingRecordText);
    args.Format(FixedText::kUsbBootRecordArgsFormat, device);
    if (!RunTool(bootSectorTool, args, FixedText::kUsbBootRecordLog, 1, code)) return 0;
    if (code != 0) return FailTool(bootSectorTool, code);

    m_view.SetStatusText(FixedText::kUsbCheckingDataText);
    if (!FindDataPartition()) return 0;

    m_view.SetStatusText(FixedText::kUsbLabellingText);
    const CString label = m_job.bootModeFlag ? m_job.volumeLabelAlt : m_job.volumeLabel;
    if (!m_storage.SetVolumeLabel(m_driveLetter + FixedText::kRootSuffix, label)) {
        m_failure.Format(FixedText::kUsbLabelFailedLog, label.GetString());
        Log(m_failure);
        return 0;
    }
    Logf(FixedText::kUsbLabelLog, label);
    m_view.SetStatusText(FixedText::kUsbFinishedText);
    return 1;
}

int CUsbBootDiskWriter::RunUsbDiskTool() {
    m_failure.Empty();
    const CString tool = ToolPath(FixedText::kUsbDiskTool);
    if (CheckToolFile(m_host, tool) != kToolFileReady) {
        RefuseFile(tool, false);
        return 0;
    }
    PublishProtectedPaths(m_job.protectedPaths);
    if (!PublishJobDisk()) return 0;
    CString args;
    args.Format(FixedText::kUsbDiskToolArgsFormat, m_job.deviceNumber);
    int code = 0;
    if (!RunTool(tool, args, FixedText::kUsbDiskToolLog, 2, code)) return 0;
    return code == 0 ? 1 : FailTool(tool, code);
}

bool CUsbBootDiskWriter::CopyPlanned(bool toolFile, bool bootFiles) {
    for (INT_PTR i = 0; i < m_copies.GetSize(); ++i) {
        const PlannedCopy& copy = m_copies[i];
        if ((copy.record == nullptr) != bootFiles) continue;
        if (!bootFiles && (copy.record == m_job.toolFile) != toolFile) continue;
        const CString target = m_driveLetter + copy.target;
        bool copied = bootFiles ? m_host.CopyFileEnsureFolder(copy.source, target, TRUE) > 0
                                : CopyFileWithProgress(*copy.record, target) == 1;
        if (!copied) {
            m_failure.Format(FixedText::kUsbCopyFailedLog, target.GetString());
            Log(m_failure);
            return false;
        }
    }
    return true;
}

int CUsbBootDiskWriter::CopyFileWithProgress(const COnlinefileinfo& record, const CString& target) {
    const CString source = m_job.dataFolder + FixedText::kPathSeparator + record.m_fileName;
    if (record.m_fileName.IsEmpty() || !m_host.PathExists(source)) return 0;
    if (target.GetLength() >= MAX_PATH) return 0;
    int cut = target.ReverseFind(L'\\');
    if (cut <= 0) return 0;
    CString folder = target.Left(cut);
    // "E:" alone is the root: it exists when the drive does.
    if (folder.GetLength() == 2) folder += FixedText::kRootSuffix;
    if (!m_host.IsFolder(folder) && !m_host.CreateFolderTree(folder)) return 0;
    m_copyName = record.m_title;
    m_view.SetCopying(TRUE, m_copyName);
    BOOL copied = m_host.CopyFileProgress(source, target, CopyProgressRoutine, this);
    m_view.SetCopying(FALSE, m_copyName);
    return copied ? 1 : 0;
}

CUsbBootDiskWriter::DataCopy CUsbBootDiskWriter::CopyDataFile(const COnlinefileinfo& record, const CString& target) {
    // A file of the same name that was never verified may be partial or stale.
    if (!Verified(record)) return kDataNotVerified;
    // The job may have waited hours for the file: the stick may have been
    // pulled meanwhile and another USB drive given its letter.
    if (!DiskStillOurs()) return kDataDiskChanged;
    if (!DriveIsOnDevice(m_storage, m_driveLetter, m_job.deviceNumber)) {
        m_failure.Format(FixedText::kUsbDataLetterMoved, m_driveLetter.GetString());
        return kDataDiskChanged;
    }
    const CString source = m_job.dataFolder + FixedText::kPathSeparator + record.m_fileName;
    ULONGLONG freeBytes = 0;
    if (!m_storage.FreeBytesForCaller(m_driveLetter + FixedText::kRootSuffix, &freeBytes) ||
        freeBytes < m_host.FileSize(source))
        return kDataNoRoom;
    return CopyFileWithProgress(record, target) ? kDataCopied : kDataCopyFailed;
}

DWORD CALLBACK CUsbBootDiskWriter::CopyProgressRoutine(LARGE_INTEGER totalSize, LARGE_INTEGER transferred,
                                                       LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                                                       LPVOID data) {
    CUsbBootDiskWriter* writer = static_cast<CUsbBootDiskWriter*>(data);
    // An empty file is done as soon as it starts.
    int percent = totalSize.QuadPart > 0
                      ? (int)((float)transferred.QuadPart / (float)totalSize.QuadPart * 100.0f)
                      : 100;
    CString text;
    text.Format(FixedText::kUsbCopyProgressFormat, writer->m_copyName.GetString(), percent);
    writer->m_view.SetStatusText(text);
    return PROGRESS_CONTINUE;
}

BOOL TryEnterDiskMaker() { return InterlockedCompareExchange(&g_diskMakerRunning, 1, 0) == 0; }
void LeaveDiskMaker() { InterlockedExchange(&g_diskMakerRunning, 0); }
BOOL DiskMakerRunning() { return InterlockedCompareExchange(&g_diskMakerRunning, 0, 0) != 0; }

CUsbJobEvents::CUsbJobEvents()
    : m_image(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_extra(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_imageGivenUp(0),
      m_extraGivenUp(0),
      m_queueEnded(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CUsbJobEvents::~CUsbJobEvents() {
    CloseHandle(m_image);
    CloseHandle(m_extra);
    CloseHandle(m_queueEnded);
    CloseHandle(m_stopped);
}

void CUsbJobEvents::ResetForJob() {
    ResetEvent(m_image);
    ResetEvent(m_extra);
    InterlockedExchange(&m_imageGivenUp, 0);
    InterlockedExchange(&m_extraGivenUp, 0);
    ResetEvent(m_queueEnded);
    ResetEvent(m_stopped);
}

void CUsbJobEvents::SignalImage(BOOL ready) {
    InterlockedExchange(&m_imageGivenUp, ready ? 0 : 1);
    SetEvent(m_image);
}

void CUsbJobEvents::SignalExtra(BOOL ready) {
    InterlockedExchange(&m_extraGivenUp, ready ? 0 : 1);
    SetEvent(m_extra);
}

void CUsbJobEvents::SignalQueueEnded() { SetEvent(m_queueEnded); }
void CUsbJobEvents::Stop() { SetEvent(m_stopped); }
bool CUsbJobEvents::Stopped() const { return WaitForSingleObject(m_stopped, 0) == WAIT_OBJECT_0; }
UsbWaitResult CUsbJobEvents::WaitImage() { return WaitFor(m_image, m_imageGivenUp); }
UsbWaitResult CUsbJobEvents::WaitExtra() { return WaitFor(m_extra, m_extraGivenUp); }

UsbWaitResult CUsbJobEvents::WaitFor(HANDLE file, volatile LONG& givenUp) {
    // A stop wins over everything; a file that was signalled wins over the
    // end of the queue (the lowest signalled index is the one reported).
    HANDLE events[3] = {m_stopped, file, m_queueEnded};
    DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1)
        return InterlockedCompareExchange(&givenUp, 0, 0) ? kUsbFileGivenUp : kUsbFileReady;
    if (which == WAIT_OBJECT_0 + 2) return kUsbQueueEnded;
    return kUsbJobStopped;
}
