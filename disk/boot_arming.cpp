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

void CBootArming::NoteReplacedFile(const CString& path, const CString& backup, bool existed) {
    Locked locked(m_lock);
    // The first note of a path knows what was there before any of ours.
    for (const replaced_boot_file& f : m_files)
        if (f.path.CompareNoCase(path) == 0) return;
    replaced_boot_file file;
    file.path = path;
    file.backup = backup;
    file.existed = existed;
    m_files.push_back(file);
}

void CBootArming::Take(std::vector<armed_boot_entry>& entries, std::vector<replaced_boot_file>& files) {
    Locked locked(m_lock);
    entries.swap(m_entries);
    files.swap(m_files);
    m_entries.clear();
    m_files.clear();
}

bool CBootArming::Empty() const {
    Locked locked(m_lock);
    return m_entries.empty() && m_files.empty();
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
    m_armed.Take(entries, files);
    CTarvelApp* app = GetTarvelApp();
    const CString tool = (app ? app->m_workFolder : CString()) + FixedText::kPathSeparator + FixedText::kBootEntryTool;
    auto run = [&](const armed_boot_entry& e, const CString& command) {
        return m_host->RunProcessAndWait(tool, CString(FixedText::kBcdLead) + e.store + command) == 0;
    };
    bool complete = true;
    // The one-time boot sequence first, once per store: without it the next
    // ordinary start is Windows' own, whatever else fails below.
    std::vector<CString> cleared;
    for (const armed_boot_entry& e : entries) {
        if (!e.sequenceSet) continue;
        bool done = false;
        for (const CString& store : cleared) done = done || store.CompareNoCase(e.store) == 0;
        if (done) continue;
        cleared.push_back(e.store);
        complete = run(e, FixedText::kUndoBootSequenceCommand) && complete;
    }
    // Then the entries, the last made first.
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (e->entryMade) complete = run(*e, FixedText::kUndoDeleteEntryCommand + e->entry) && complete;
        if (e->optionsMade) complete = run(*e, FixedText::kUndoDeleteEntryCommand + e->options) && complete;
    }
    // The firmware's files come back from their backups; ours where there
    // was none go.
    for (auto f = files.rbegin(); f != files.rend(); ++f) {
        if (!f->existed) {
            complete = RemoveArmingFile(f->path) && complete;
            continue;
        }
        m_host->SetAttributes(f->path, FILE_ATTRIBUTE_NORMAL);
        const bool back = m_host->CopyFileEnsureFolder(f->backup, f->path, FALSE) > 0 &&
                          m_host->FileSize(f->path) == m_host->FileSize(f->backup);
        complete = back && complete;
    }
    // The hand-over files, the marker last: the boot environment acts on it.
    complete = RemoveArmingFile(restartIni) && complete;
    complete = RemoveArmingFile(marker) && complete;
    return complete;
}
