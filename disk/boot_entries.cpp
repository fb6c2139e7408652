// The boot-entry command sequences: one run of the boot-entry tool per
// command, each argument text built from the command tables of the fixed
// texts. The commands that make the entry bootable are tested; the first
// of them that fails ends the sequence, and m_sequenceRefusal says why.
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

// The command that creates the entry (1-based): when it fails, nothing
// after it runs.
const int kCreateCommand = 6;

// The commands (1-based, numbered as in the main tables) without which the
// entry cannot start the image: the ramdisk options and their device
// settings, the entry itself, its device settings and the one-time boot
// sequence. The others (removing an older entry, descriptions, the display
// order) may fail without harm.
bool MakesEntryBootable(int command, bool gpt) {
    static const int gptCommands[] = {3, 4, 5, 6, 7, 9, 16};
    static const int mbrCommands[] = {3, 4, 5, 6, 7, 8, 15};
    for (int n : gpt ? gptCommands : mbrCommands)
        if (n == command) return true;
    return false;
}

}  // namespace

bool CDiskInventory::KeepCopy(const CString& source, const CString& copy) {
    const int copied = m_host->CopyFileEnsureFolder(source, copy, TRUE);
    // A copy an earlier run made is kept as it is: by now the file it was
    // made from may be ours.
    if (copied == -3) return true;
    if (copied > 0 && m_host->FileSize(copy) == m_host->FileSize(source)) return true;
    // A short copy must not pass for the original in a later run.
    if (copied > 0) m_host->RemoveFile(copy);
    return false;
}

bool CDiskInventory::ReplaceCopy(const CString& source, const CString& copy) {
    const CString digest = m_host->FileDigest(source);
    if (digest.IsEmpty()) return false;
    // Whatever is at the name goes first (a link or hard link only loses its
    // name): a copy over it could write through it, or keep it.
    if (m_host->PathExists(copy)) {
        m_host->SetAttributes(copy, FILE_ATTRIBUTE_NORMAL);
        if (!m_host->RemoveFile(copy)) m_host->FolderRule().MoveAside(copy);
        if (m_host->PathExists(copy)) return false;
    }
    const int copied = m_host->CopyFileEnsureFolder(source, copy, TRUE);
    if (copied > 0 && m_host->FileDigest(copy) == digest) return true;
    if (copied > 0) m_host->RemoveFile(copy);
    return false;
}

bool CDiskInventory::ReplaceLoaderFiles(const CString& letter, const CString& work) {
    // A firmware loader these copies replace (the fallback loader) is kept
    // beside itself first, once; every backup is made before the first file
    // is replaced, and without all of them nothing is.
    bool existed[3] = {};
    for (int i = 0; i < 3; ++i) {
        const CString destination = letter + FixedText::kBoot64PartitionPaths[i];
        existed[i] = m_host->PathExists(destination) != FALSE;
        if (existed[i] && !KeepCopy(destination, destination + FixedText::kLoaderBackupSuffix)) {
            m_sequenceRefusal = FixedText::kBootSetupLoaderBackupRefusal;
            return false;
        }
    }
    for (int i = 0; i < 3; ++i) {
        const CString source = work + FixedText::kBoot64WorkFiles[i];
        const CString destination = letter + FixedText::kBoot64PartitionPaths[i];
        m_armed.NoteReplacedFile(destination, destination + FixedText::kLoaderBackupSuffix, existed[i]);
        if (m_host->CopyFileEnsureFolder(source, destination, FALSE) > 0 &&
            m_host->FileSize(destination) == m_host->FileSize(source))
            continue;
        // A loader cut short would leave the firmware nothing to start:
        // every file as it was before.
        for (int j = 0; j <= i; ++j) {
            const CString replaced = letter + FixedText::kBoot64PartitionPaths[j];
            if (existed[j]) m_host->CopyFileEnsureFolder(replaced + FixedText::kLoaderBackupSuffix, replaced, FALSE);
            else m_host->RemoveFile(replaced);
        }
        m_sequenceRefusal = FixedText::kBootSetupLoaderCopyRefusal;
        return false;
    }
    return true;
}

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
    m_sequenceRefusal.Empty();
    // The ramdisk image goes beside the file the entry starts; without it the
    // entry cannot start. It is copied anew each time: one found there may
    // have been put there by anyone who could write the folder before.
    if (!ReplaceCopy(work + v.ramdisk, JoinDrivePath(v.drive, v.folder, v.ramdisk))) {
        m_sequenceRefusal = FixedText::kBootSetupRamdiskRefusal;
        return 0;
    }

    SYSTEMTIME now = {};
    m_host->LocalTime(&now);
    CString timeText;
    timeText.Format(FixedText::kStoreBackupTimeFormat, (unsigned)now.wMonth, (unsigned)now.wDay, (unsigned)now.wHour,
                    (unsigned)now.wMinute);

    if (gpt && !extra && app->m_is64BitSystem && app->m_bootModeText == FixedText::kBootFiles64SystemText &&
        !ReplaceLoaderFiles(letter, work))
        return 0;

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
        m_armed.NoteCommand(store, v.entry, v.options, n, commandCount, code);
        if (code == STILL_ACTIVE) {
            // The tool outlived its wait and may still be writing the store:
            // no other command may meet it there.
            m_sequenceRefusal = FixedText::kBootSetupToolHungRefusal;
            return 0;
        }
        if (code != 0 && MakesEntryBootable(n, gpt)) {
            m_sequenceRefusal.Format(FixedText::kBootSetupCommandRefusalFormat, code);
            // A failed creation leaves nothing to set; after any other
            // failure the remaining commands would only make a broken entry visible.
            return 0;
        }
    }
    return 1;
}

int CDiskInventory::RunBootEntryCommands(const CString& letter, int partitionStyle) {
    return RunCommandList(letter, partitionStyle, false);
}

int CDiskInventory::RunExtraBootEntryCommands(const CString& letter, int partitionStyle) {
    return RunCommandList(letter, partitionStyle, true);
}
