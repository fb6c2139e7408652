// The boot-entry command sequences: one run of the boot-entry tool per
// command, each argument text built from the command tables of the fixed
// texts. Only the entry creation (command 6) is tested.
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"

namespace {

// The values one sequence puts into its commands.
struct SequenceValues {
    CString entry, options, device, path, drive, folder, file, ramdisk, fileTag;
};

CString ExpandCommand(const wchar_t* pattern, const SequenceValues& v) {
    CString out;
    for (const wchar_t* p = pattern; *p; ++p) {
        if (*p != L'%' || !p[1]) {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
            case L'E': out += v.entry; break;
            case L'O': out += v.options; break;
            case L'V': out += v.device; break;
            case L'P': out += v.path; break;
            case L'D': out += v.drive; break;
            case L'R': out += v.folder; break;
            case L'F': out += v.file; break;
            case L'S': out += v.ramdisk; break;
            case L'T': out += v.fileTag; break;
            default: out += L'%'; out += *p; break;
        }
    }
    return out;
}

// The one command whose exit code counts (1-based): it creates the entry.
const int kTestedCommand = 6;

}  // namespace

int CDiskInventory::RunCommandList(const CString& letter, int partitionStyle, bool extra) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    const CString sep = FixedText::kPathSeparator;
    const CString work = app->m_workFolder + sep;
    const bool gpt = partitionStyle != 0;

    SequenceValues v;
    CString tag = app->m_bootEntryTag;
    if (extra) {
        tag += FixedText::kExtraTagSuffix;
        v.entry = FixedText::kExtraBootEntryId;
        v.options = FixedText::kExtraBootOptionsId;
        const int count = (int)m_totalPartitions.GetSize();
        v.drive = app->m_referencePartition >= 0 && app->m_referencePartition < count
                      ? m_totalPartitions[app->m_referencePartition].letter
                      : app->m_systemDrive;
        v.folder = FixedText::kStagingFolderName;
    } else {
        v.entry = FixedText::kBootEntryId;
        v.options = FixedText::kBootOptionsId;
        v.drive = g_TargetDrive;
        v.folder = g_TargetDir;
    }
    v.device = CString(FixedText::kDeviceValueHead) + tag + FixedText::kDeviceValueTail;
    v.path = CString(FixedText::kPathValueHead) + tag + FixedText::kPathValueTail;
    v.file = g_TargetFileName;
    v.fileTag = app->m_bootFileTag;

    v.ramdisk = extra ? FixedText::kRamdiskFileExtra : FixedText::kRamdiskFile;
    // The ramdisk image goes beside the file the entry starts. The destination
    // names the file itself: "into this folder" (a trailing separator) with
    // no-overwrite would be refused whenever the folder exists.
    m_host->CopyFileEnsureFolder(work + v.ramdisk, JoinDrivePath(v.drive, v.folder, v.ramdisk), TRUE);

    SYSTEMTIME now = {};
    m_host->LocalTime(&now);
    CString timeText;
    timeText.Format(FixedText::kStoreBackupTimeFormat, (unsigned)now.wMonth, (unsigned)now.wDay, (unsigned)now.wHour,
                    (unsigned)now.wMinute);

    if (gpt && !extra && app->m_is64BitSystem && app->m_bootModeText == FixedText::kBootFiles64SystemText) {
        for (int i = 0; i < 3; ++i) {
            // A firmware loader these copies replace (the fallback loader) is
            // kept beside itself first, once.
            const CString destination = letter + FixedText::kBoot64PartitionPaths[i];
            if (m_host->PathExists(destination))
                m_host->CopyFileEnsureFolder(destination, destination + FixedText::kLoaderBackupSuffix, TRUE);
            m_host->CopyFileEnsureFolder(work + FixedText::kBoot64WorkFiles[i], destination, FALSE);
        }
    }

    const CString store = letter + (gpt ? FixedText::kGptStorePath : FixedText::kMbrStorePath);
    // An MBR store on an old system's boot partition is left without backups.
    const bool backups = gpt || !app->m_bootModeFlag;
    if (backups) m_host->CopyFileEnsureFolder(store, store + timeText, TRUE);

    const wchar_t* const* commands = gpt ? FixedText::kGptBootCommands : FixedText::kMbrBootCommands;
    const int commandCount = gpt ? 16 : 15;
    const int fileTagCommand = commandCount - 1;  // the extra sequence leaves it out
    const CString tool = work + FixedText::kBootEntryTool;
    const CString lead = CString(FixedText::kBcdLead) + store;
    for (int n = 1; n <= commandCount; ++n) {
        if (extra && n == fileTagCommand) continue;
        // The main sequence backs the store up once more before its last command.
        if (!extra && n == commandCount && backups)
            m_host->CopyFileEnsureFolder(store, store + FixedText::kStoreBackupSuffix, TRUE);
        int code = m_host->RunProcessAndWait(tool, lead + ExpandCommand(commands[n - 1], v));
        if (n == kTestedCommand && code != 0) return 0;
    }
    return 1;
}

int CDiskInventory::RunBootEntryCommands(const CString& letter, int partitionStyle) {
    return RunCommandList(letter, partitionStyle, false);
}

int CDiskInventory::RunExtraBootEntryCommands(const CString& letter, int partitionStyle) {
    return RunCommandList(letter, partitionStyle, true);
}
