// The boot setup: the target file, the staging copy, the boot files and INI
// of the boot partitions, and the boot entries on each of them.
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"
#include "disk/tool_files.h"

CString g_TargetDrive = FixedText::kTargetDrivePlaceholder;
CString g_TargetDir = FixedText::kTargetDirPlaceholder;
CString g_TargetFileName = FixedText::kTargetFilePlaceholder;

namespace {

const int kSplitBuffer = 256;

// Splits a path the way _wsplitpath does (drive, folder with its
// separators, name, extension from the last dot of the name), but refuses a
// path whose parts would not fit 256-character buffers instead of cutting them.
bool SplitPath(const CString& path, CString& drive, CString& dir, CString& name, CString& ext) {
    // The file helpers take paths of at most 259 characters.
    if (path.GetLength() >= MAX_PATH) return false;
    int at = 0;
    drive.Empty();
    if (path.GetLength() >= 2 && path[1] == L':') {
        drive = path.Left(2);
        at = 2;
    }
    CString rest = path.Mid(at);
    int lastSep = -1;
    for (int i = 0; i < rest.GetLength(); ++i)
        if (rest[i] == L'\\' || rest[i] == L'/') lastSep = i;
    dir = rest.Left(lastSep + 1);
    CString file = rest.Mid(lastSep + 1);
    int dot = file.ReverseFind(L'.');
    name = dot >= 0 ? file.Left(dot) : file;
    ext = dot >= 0 ? file.Mid(dot) : CString();
    return dir.GetLength() < kSplitBuffer && name.GetLength() < kSplitBuffer && ext.GetLength() < kSplitBuffer;
}

const DWORD kSystemHiddenReadOnly = FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
const DWORD kSystemHidden = FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN;

}  // namespace

CString JoinDrivePath(const CString& drive, const CString& folder, const CString& file) {
    const CString sep = FixedText::kPathSeparator;
    return folder.IsEmpty() ? drive + sep + file : drive + sep + folder + sep + file;
}

BOOL SplitTargetPath(const CString& path) {
    CString drive, dir, name, ext;
    bool ok = SplitPath(path, drive, dir, name, ext);
    if (ok && drive.IsEmpty()) {
        CTarvelApp* app = GetTarvelApp();
        CString full = (app ? app->m_dataFolder : CString()) + FixedText::kPathSeparator + path;
        ok = SplitPath(full, drive, dir, name, ext);
    }
    if (!ok) {
        g_TargetDrive.Empty();
        g_TargetDir.Empty();
        g_TargetFileName.Empty();
        return FALSE;
    }
    g_TargetDrive = drive;
    CString folder = dir;
    folder.TrimRight(L'\\');
    folder.TrimRight(L'/');
    folder.TrimLeft(L'\\');
    folder.TrimLeft(L'/');
    g_TargetDir = folder;
    g_TargetFileName = name + ext;
    return TRUE;
}

namespace {

bool IsBootPartition(const total_partition_info& record) {
    return (record.partition_style == 0 && record.id_or_active == FixedText::kActivePartition) ||
           (record.partition_style == 1 && record.type_name == FixedText::kEfiTypeName);
}

}  // namespace

int CDiskInventory::InstallBootEntries() {
    m_bootSetupRefusal.Empty();
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    // A refused target path leaves nothing to point the entries at.
    if (g_TargetFileName.IsEmpty()) {
        m_bootSetupRefusal = FixedText::kBootSetupTargetRefusal;
        return 0;
    }
    // Disk numbers and letters shift when a disk is plugged in or removed in
    // the hours since the check: each partition's disk is read again before
    // any key becomes a device name (the temporary letters), and a partition
    // that moved gets no letter and nothing written.
    const int count = (int)m_totalPartitions.GetSize();
    for (int i = 0; i < count; ++i) {
        total_partition_info& record = m_totalPartitions[i];
        record.moved = record.bus_type != BusTypeUsb && !StillWhereSeen(record);
    }
    // The firmware starts its own boot manager, which never reads another
    // disk's one-time sequence: without that partition nothing restarts.
    CString systemKey;
    if (!FirmwareSystemPartitionKey(systemKey)) {
        m_bootSetupRefusal = FixedText::kBootSetupNoSystemPartitionRefusal;
        return 0;
    }
    int system = -1;
    for (int i = 0; i < count && system < 0; ++i)
        if (m_totalPartitions[i].key == systemKey) system = i;
    if (system < 0 || m_totalPartitions[system].bus_type == BusTypeUsb || !IsBootPartition(m_totalPartitions[system])) {
        // A key the check never saw, while disks moved: most likely the
        // firmware's partition itself took another number.
        bool anyMoved = false;
        for (int i = 0; i < count; ++i) anyMoved = anyMoved || m_totalPartitions[i].moved;
        m_bootSetupRefusal = system < 0 && anyMoved ? FixedText::kBootSetupDiskMovedRefusal
                                                    : FixedText::kBootSetupSystemPartitionMissedRefusal;
        return 0;
    }
    if (m_totalPartitions[system].moved) {
        m_bootSetupRefusal = FixedText::kBootSetupDiskMovedRefusal;
        return 0;
    }
    AssignTemporaryLetters();
    // The boot files come from the tools archive, which the unpack thread may
    // still be extracting; give it a bounded while. Files that never arrive
    // (or an unpack that failed half-way) refuse the setup before it changes
    // anything.
    const bool unpacked = app->WaitForTools(FixedText::kBootToolsWaitMs) != FALSE;
    // A stand-in of the tools archive never reaches a real boot partition:
    // on a real machine the setup refuses before it changes anything.
    const CString work = app->m_workFolder + FixedText::kPathSeparator;
    const wchar_t* bootFiles[] = {FixedText::kBootEntryTool,      FixedText::kRamdiskFile,
                                  FixedText::kRamdiskFileExtra,   FixedText::kWorkLoaderFile,
                                  FixedText::kWorkMenuFile,       FixedText::kWorkMbrImageFile,
                                  FixedText::kBoot64WorkFiles[0], FixedText::kBoot64WorkFiles[1],
                                  FixedText::kBoot64WorkFiles[2]};
    for (const wchar_t* file : bootFiles) {
        const ToolFileState state = unpacked ? CheckToolFile(*m_host, work + file) : kToolFileMissing;
        if (state == kToolFileMissing) {
            m_bootSetupRefusal = FixedText::kBootSetupToolsMissingRefusal;
            return 0;
        }
        if (state == kToolFileStandIn) {
            m_bootSetupRefusal = FixedText::kBootSetupStandInRefusal;
            return 0;
        }
    }
    // The ramdisk file goes beside the file the entries start; without it no
    // entry can start. It is put in place once, before the first entry points
    // at it, and never taken away under one (but by the undo). It is copied
    // anew: one found there may have been put there by anyone who could write
    // the folder before.
    const CString ramdisk = JoinDrivePath(g_TargetDrive, g_TargetDir, FixedText::kRamdiskFile);
    if (!ReplaceCopy(work + FixedText::kRamdiskFile, ramdisk)) {
        m_bootSetupRefusal = FixedText::kBootSetupRamdiskRefusal;
        return 0;
    }
    m_armed.NoteEntryFile(ramdisk);
    const bool staged = app->m_storagePass == 2 && StageTarget(work);

    const bool referenceKnown = app->m_referencePartition >= 0 && app->m_referencePartition < count;
    const int systemDisk = referenceKnown ? m_totalPartitions[app->m_referencePartition].disk_number : 0;
    int prepared = 0;
    // The firmware's partition first; the others in inventory order.
    for (int step = 0; step <= count; ++step) {
        const int i = step == 0 ? system : step - 1;
        if (step > 0 && i == system) continue;
        // A copy: the sequences below may not change the record, but a
        // later refresh must not pull it from under us either.
        const total_partition_info record = m_totalPartitions[i];
        bool usable = record.bus_type != BusTypeUsb && !record.moved && record.letter != FixedText::kNoLetter &&
                      m_host->PathExists(record.letter) && IsBootPartition(record);
        if (!usable) {
            if (i != system) continue;
            m_bootSetupRefusal = FixedText::kBootSetupSystemPartitionMissedRefusal;
            return 0;
        }
        const bool onSystemDisk = referenceKnown && record.disk_number == systemDisk;
        if (app->m_bootModeFlag && onSystemDisk) PrepareBootFiles(record.letter);
        const int made = RunBootEntryCommands(record.letter, record.partition_style);
        // The first partition refused names the reason.
        if (!made && m_bootSetupRefusal.IsEmpty()) m_bootSetupRefusal = m_sequenceRefusal;
        // Another partition's entry alone restarts nothing.
        if (!made && i == system) return 0;
        prepared += made;
        if (staged && onSystemDisk) RunExtraBootEntryCommands(record.letter, record.partition_style);
    }
    return prepared;
}

bool CDiskInventory::StageTarget(const CString& work) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return false;
    // Any account may make folders on the system drive: the staging folder
    // must be our own, and the copy in it is made anew and must be the file
    // it was copied from.
    const CString target = JoinDrivePath(g_TargetDrive, g_TargetDir, g_TargetFileName);
    const CString folder = app->m_systemDrive + FixedText::kPathSeparator + FixedText::kStagingFolderName;
    const CString staging = app->m_systemDrive + FixedText::kStagingFolder + g_TargetFileName;
    const bool ownFolder = EnsureOwnFolder(m_host->FolderRule(), folder) != OwnFolder::kFailed;
    bool staged = ownFolder && ReplaceCopy(target, staging);
    if (staged) m_armed.NoteEntryFile(staging);
    // The extra entry's ramdisk file, where that entry will look for it.
    const int count = (int)m_totalPartitions.GetSize();
    if (staged && app->m_referencePartition >= 0 && app->m_referencePartition < count) {
        const CString ramdisk = JoinDrivePath(ExtraEntryDrive(), FixedText::kStagingFolderName,
                                              FixedText::kRamdiskFileExtra);
        staged = ReplaceCopy(work + FixedText::kRamdiskFileExtra, ramdisk);
        if (staged) m_armed.NoteEntryFile(ramdisk);
    }
    if (staged) return true;
    // The extra entry is left out; no copy of ours, and nothing found at
    // the staging name, stays there for anyone to start.
    if (ownFolder) ClearName(staging);
    if (app->m_debugMode) m_host->ShowDebugBox(FixedText::kBootSetupStagingSkippedLog);
    return false;
}

CString CDiskInventory::ExtraEntryDrive() const {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return CString();
    const int count = (int)m_totalPartitions.GetSize();
    return app->m_referencePartition >= 0 && app->m_referencePartition < count
               ? m_totalPartitions[app->m_referencePartition].letter
               : app->m_systemDrive;
}

int CDiskInventory::PrepareBootFiles(const CString& letter) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    const CString work = app->m_workFolder + FixedText::kPathSeparator;
    auto on = [&letter](const wchar_t* relative) { return letter + relative; };
    // Each file this run creates is noted for the undo, and the INI, which
    // is changed in place, is copied first; an INI that cannot be copied is
    // left as it is.
    if (!m_host->PathExists(on(FixedText::kBootPartitionLoaderCheck))) return 0;
    PlaceNewFile(work + FixedText::kWorkLoaderFile, on(FixedText::kBootPartitionLoader));
    if (!m_host->PathExists(on(FixedText::kBootPartitionStore))) return 0;
    m_host->SetAttributes(on(FixedText::kBootPartitionLoader), kSystemHiddenReadOnly);
    const CString ini = on(FixedText::kBootPartitionIni);
    const bool iniKept = KeepForUndo(ini);
    if (iniKept) m_host->SetAttributes(ini, FILE_ATTRIBUTE_NORMAL);
    PlaceNewFile(on(FixedText::kBootPartitionStore), on(FixedText::kBootPartitionStoreCopy));
    m_host->SetAttributes(on(FixedText::kBootPartitionStoreCopy), kSystemHiddenReadOnly);
    if (iniKept) {
        m_host->WriteIniString(ini, FixedText::kBootIniSection1, FixedText::kBootIniKey1, FixedText::kBootIniValue1);
        m_host->WriteIniString(ini, FixedText::kBootIniSection1, FixedText::kBootIniKey2, app->m_bootFileTag);
        m_host->WriteIniString(ini, FixedText::kBootIniSection2, FixedText::kBootIniKey3, app->m_bootEntryTag);
        m_host->SetAttributes(ini, kSystemHiddenReadOnly);
    }
    PlaceNewFile(work + FixedText::kWorkMenuFile, on(FixedText::kBootPartitionMenu));
    PlaceNewFile(work + FixedText::kWorkMbrImageFile, on(FixedText::kBootPartitionMbrImage));
    m_host->SetAttributes(on(FixedText::kBootPartitionMenu), kSystemHidden);
    return 1;
}
