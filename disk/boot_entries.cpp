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

// Whether the editor can be handed the text back in quotes exactly as it
// was read: no quote, no character the code page could not show ("?"), no
// control character, and no backslash before the closing quote.
bool CanPutBack(const CString& text) {
    for (int i = 0; i < text.GetLength(); ++i)
        if (text[i] == L'"' || text[i] == L'?' || text[i] < L' ') return false;
    return text.IsEmpty() || text[text.GetLength() - 1] != L'\\';
}

}  // namespace

bool ParseBootManagerDescription(const std::string& output, bool& had, CString& text) {
    had = false;
    text.Empty();
    CString all;
    if (output.size() >= 2 && (unsigned char)output[0] == 0xFF && (unsigned char)output[1] == 0xFE) {
        // Wide output, as a console program may write it.
        all = CString(reinterpret_cast<const wchar_t*>(output.data() + 2), (int)((output.size() - 2) / 2));
    } else if (!output.empty()) {
        const int n = MultiByteToWideChar(CP_OEMCP, 0, output.data(), (int)output.size(), nullptr, 0);
        if (n <= 0) return false;
        wchar_t* buffer = all.GetBufferSetLength(n);
        MultiByteToWideChar(CP_OEMCP, 0, output.data(), (int)output.size(), buffer, n);
        all.ReleaseBuffer(n);
    }
    CString identifier = FixedText::kBootManagerIdentifier;
    identifier.MakeUpper();
    bool listed = false;
    int start = 0;
    while (start < all.GetLength()) {
        int end = all.Find(L'\n', start);
        if (end < 0) end = all.GetLength();
        CString line = all.Mid(start, end - start);
        start = end + 1;
        line.TrimRight(L" \t\r");
        CString upper = line;
        if (upper.MakeUpper().Find(identifier) >= 0) listed = true;
        const CString element = line.SpanExcluding(L" \t");
        if (element.CompareNoCase(FixedText::kBootManagerDescriptionElement) != 0) continue;
        // One object was asked for: a second description is not its own.
        if (had) return false;
        had = true;
        text = line.Mid(element.GetLength());
        text.TrimLeft(L" \t");
    }
    return listed && (!had || CanPutBack(text));
}

int CDiskInventory::ReadBootManagerDescription(const CString& tool, const CString& lead, bool& had, CString& text) {
    std::string output;
    const int code = m_host->RunProcessAndRead(tool, lead + FixedText::kBootManagerReadCommand, output);
    if (code != 0) return code;
    return ParseBootManagerDescription(output, had, text) ? 0 : 1;
}

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

bool CDiskInventory::ClearName(const CString& path) {
    if (!m_host->PathExists(path)) return true;
    m_host->SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
    if (!m_host->RemoveFile(path)) m_host->FolderRule().MoveAside(path);
    return !m_host->PathExists(path);
}

bool CDiskInventory::ReplaceCopy(const CString& source, const CString& copy) {
    const CString digest = m_host->FileDigest(source);
    if (digest.IsEmpty()) return false;
    // Whatever is at the name goes first (a link or hard link only loses its
    // name): a copy over it could write through it, or keep it.
    if (!ClearName(copy)) return false;
    const int copied = m_host->CopyFileEnsureFolder(source, copy, TRUE);
    if (copied > 0 && m_host->FileDigest(copy) == digest) return true;
    if (copied > 0) m_host->RemoveFile(copy);
    return false;
}

int CDiskInventory::PlaceNewFile(const CString& source, const CString& destination) {
    if (!m_host->PathExists(destination)) m_armed.NoteReplacedFile(destination, CString(), false);
    return m_host->CopyFileEnsureFolder(source, destination, TRUE);
}

bool CDiskInventory::KeepForUndo(const CString& path) {
    // The first note knows the file as it was before this run.
    if (m_armed.Noted(path)) return true;
    if (!m_host->PathExists(path)) {
        m_armed.NoteReplacedFile(path, CString(), false);
        return true;
    }
    const CString copy = path + FixedText::kUndoCopySuffix;
    if (!ReplaceCopy(path, copy)) return false;
    m_armed.NoteReplacedFile(path, copy, true, true);
    return true;
}

bool CDiskInventory::KeepLoaderBackup(const CString& loader, const CString& work) {
    const CString backup = loader + FixedText::kLoaderBackupSuffix;
    if (!m_host->PathExists(backup)) return KeepCopy(loader, backup);
    // A backup an earlier run left holds the firmware's loader, unless it
    // was made when one of ours was already in place (a setup that was
    // never undone): put back, that one would leave ours as the firmware's.
    const CString found = m_host->FileDigest(backup);
    bool ours = found.IsEmpty();
    for (const wchar_t* file : FixedText::kBoot64WorkFiles)
        ours = ours || m_host->FileDigest(work + file) == found;
    return ours ? ReplaceCopy(loader, backup) : true;
}

bool CDiskInventory::ReplaceLoaderFiles(const CString& letter, const CString& work) {
    // A firmware loader these copies replace (the fallback loader) is kept
    // beside itself first, once; every backup is made before the first file
    // is replaced, and without all of them nothing is.
    bool existed[3] = {};
    for (int i = 0; i < 3; ++i) {
        const CString destination = letter + FixedText::kBoot64PartitionPaths[i];
        existed[i] = m_host->PathExists(destination) != FALSE;
        if (existed[i] && !KeepLoaderBackup(destination, work)) {
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
        v.drive = ExtraEntryDrive();
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

    // The ramdisk file beside the file the entry starts was put in place
    // once, before the first partition (InstallBootEntries).
    v.ramdisk = extra ? FixedText::kRamdiskFileExtra : FixedText::kRamdiskFile;
    m_sequenceRefusal.Empty();

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
    if (backups) PlaceNewFile(store, store + timeText);

    const wchar_t* const* commands = gpt ? FixedText::kGptBootCommands : FixedText::kMbrBootCommands;
    const int commandCount = gpt ? 16 : 15;
    const int fileTagCommand = commandCount - 1;  // the extra sequence leaves it out
    const CString tool = work + FixedText::kBootEntryTool;
    const CString lead = CString(FixedText::kBcdLead) + store;
    for (int n = 1; n <= commandCount; ++n) {
        if (extra && n == fileTagCommand) continue;
        // The main sequence backs the store up once more before its last command.
        if (!extra && n == commandCount && backups) PlaceNewFile(store, store + FixedText::kStoreBackupSuffix);
        bool hadDescription = false;
        CString description;
        if (n == fileTagCommand) {
            // The file tag replaces the boot manager's description: what it
            // was is read first, so that the undo can put it back.
            const int read = ReadBootManagerDescription(tool, lead, hadDescription, description);
            if (read == STILL_ACTIVE) {
                m_sequenceRefusal = FixedText::kBootSetupToolHungRefusal;
                return 0;
            }
            // A description that could not be read stays as it is.
            if (read != 0) continue;
        }
        int code = m_host->RunProcessAndWait(tool, lead + ExpandCommand(commands[n - 1], v));
        m_armed.NoteCommand(store, v.entry, v.options, n, commandCount, code);
        if (n == fileTagCommand && (code == 0 || code == STILL_ACTIVE))
            m_armed.NoteDescription(store, hadDescription, description);
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
