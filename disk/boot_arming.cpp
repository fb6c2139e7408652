// The record of what armed the next boot, and its undo.
#include "disk/boot_arming.h"

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"

namespace {

// In both tables of the boot-entry sequences, command 3 creates the ramdisk
// options, command 6 the entry, and the last one sets the one-time boot
// sequence.
const int kOptionsCommand = 3;
const int kEntryCommand = 6;

class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~Locked() { LeaveCriticalSection(&m_lock); }

private:
    CRITICAL_SECTION& m_lock;
};

}  // namespace

CBootArming::CBootArming() { InitializeCriticalSection(&m_lock); }

CBootArming::~CBootArming() { DeleteCriticalSection(&m_lock); }

void CBootArming::NoteCommand(const CString& store, const CString& entry, const CString& options, int command,
                              int count, int code) {
    const bool done = code == 0 || code == STILL_ACTIVE;
    if (!done) return;
    Locked locked(m_lock);
    armed_boot_entry* noted = nullptr;
    for (armed_boot_entry& e : m_entries)
        if (e.store.CompareNoCase(store) == 0 && e.entry == entry) noted = &e;
    if (!noted) {
        m_entries.push_back(armed_boot_entry());
        noted = &m_entries.back();
        noted->store = store;
        noted->entry = entry;
        noted->options = options;
    }
    if (command == kOptionsCommand) noted->optionsMade = true;
    if (command == kEntryCommand) noted->entryMade = true;
    if (command == count) noted->sequenceSet = true;
}

int CBootArming::FileIndex(const CString& path) const {
    for (size_t i = 0; i < m_files.size(); ++i)
        if (m_files[i].path.CompareNoCase(path) == 0) return (int)i;
    return -1;
}

void CBootArming::NoteReplacedFile(const CString& path, const CString& backup, bool existed, bool ownBackup) {
    Locked locked(m_lock);
    // The first note of a path knows what was there before any of ours.
    if (FileIndex(path) >= 0) return;
    replaced_boot_file file;
    file.path = path;
    file.backup = backup;
    file.existed = existed;
    file.ownBackup = ownBackup;
    m_files.push_back(file);
}

void CBootArming::NoteEntryFile(const CString& path) {
    Locked locked(m_lock);
    NoteReplacedFile(path, CString(), false);  // the lock is the thread's own: it enters again
    m_files[(size_t)FileIndex(path)].startsEntry = true;
}

bool CBootArming::Noted(const CString& path) const {
    Locked locked(m_lock);
    return FileIndex(path) >= 0;
}

void CBootArming::NoteDescription(const CString& store, bool had, const CString& text) {
    Locked locked(m_lock);
    for (const replaced_description& d : m_descriptions)
        if (d.store.CompareNoCase(store) == 0) return;
    replaced_description description;
    description.store = store;
    description.had = had;
    description.text = text;
    m_descriptions.push_back(description);
}

void CBootArming::Take(std::vector<armed_boot_entry>& entries, std::vector<replaced_boot_file>& files,
                       std::vector<replaced_description>& descriptions) {
    Locked locked(m_lock);
    entries.swap(m_entries);
    files.swap(m_files);
    descriptions.swap(m_descriptions);
    m_entries.clear();
    m_files.clear();
    m_descriptions.clear();
}

bool CBootArming::Empty() const {
    Locked locked(m_lock);
    return m_entries.empty() && m_files.empty() && m_descriptions.empty();
}

bool CDiskInventory::RemoveArmingFile(const CString& path) {
    if (path.IsEmpty() || !m_host->PathExists(path)) return true;
    m_host->SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
    m_host->RemoveFile(path);
    return !m_host->PathExists(path);
}

bool CDiskInventory::UndoArmedBoot(const CString& restartIni, const CString& marker) {
    std::vector<armed_boot_entry> entries;
    std::vector<replaced_boot_file> files;
    std::vector<replaced_description> descriptions;
    m_armed.Take(entries, files, descriptions);
    CTarvelApp* app = GetTarvelApp();
    const CString tool = (app ? app->m_workFolder : CString()) + FixedText::kPathSeparator + FixedText::kBootEntryTool;
    auto run = [&](const CString& store, const CString& command) {
        return m_host->RunProcessAndWait(tool, CString(FixedText::kBcdLead) + store + command) == 0;
    };
    // The one-time boot sequence first, once per store: without it the next
    // ordinary start is Windows' own, whatever else fails below.
    bool entriesGone = true;
    std::vector<CString> cleared;
    for (const armed_boot_entry& e : entries) {
        if (!e.sequenceSet) continue;
        bool done = false;
        for (const CString& store : cleared) done = done || store.CompareNoCase(e.store) == 0;
        if (done) continue;
        cleared.push_back(e.store);
        entriesGone = run(e.store, FixedText::kUndoBootSequenceCommand) && entriesGone;
    }
    // Then the entries, the last made first.
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (e->entryMade) entriesGone = run(e->store, FixedText::kUndoDeleteEntryCommand + e->entry) && entriesGone;
        if (e->optionsMade)
            entriesGone = run(e->store, FixedText::kUndoDeleteEntryCommand + e->options) && entriesGone;
    }
    bool complete = entriesGone;
    // The boot manager's own description, as it was.
    for (const replaced_description& d : descriptions) {
        CString command = FixedText::kUndoDescriptionDeleteCommand;
        if (d.had) command.Format(FixedText::kUndoDescriptionSetFormat, d.text.GetString());
        complete = run(d.store, command) && complete;
    }
    // The files, the last placed first: those that were there come back
    // from their backups, ours where there was none go. A file an entry
    // starts from stays while any entry may still point at it.
    for (auto f = files.rbegin(); f != files.rend(); ++f) {
        if (f->startsEntry && !entriesGone) {
            complete = false;
            continue;
        }
        if (!f->existed) {
            complete = RemoveArmingFile(f->path) && complete;
            continue;
        }
        m_host->SetAttributes(f->path, FILE_ATTRIBUTE_NORMAL);
        const bool back = m_host->CopyFileEnsureFolder(f->backup, f->path, FALSE) > 0 &&
                          m_host->FileSize(f->path) == m_host->FileSize(f->backup);
        if (back && f->ownBackup) RemoveArmingFile(f->backup);
        complete = back && complete;
    }
    // The hand-over files, the marker last: the boot environment acts on it.
    complete = RemoveArmingFile(restartIni) && complete;
    complete = RemoveArmingFile(marker) && complete;
    return complete;
}
