// What one run of the boot setup armed for the next boot, kept so that it
// can be undone when the restart does not happen: the stores in which it
// made entries or set the one-time boot sequence, the boot manager
// descriptions it changed, the files it placed on the boot partitions (and
// those it replaced there), and the files its entries start from. The boot
// setup's worker notes; whoever finds that the restart will not happen
// takes the record and undoes it.
#pragma once

#include <windows.h>

#include <vector>

#include "winlib/strings.h"

struct armed_boot_entry {
    CString store;  // the store's path (the partition's letter and the store path)
    CString entry;
    CString options;
    bool optionsMade = false;
    bool entryMade = false;
    bool sequenceSet = false;
};

struct replaced_boot_file {
    CString path;
    CString backup;
    bool existed = false;    // a file was there before, and its backup holds it
    bool ownBackup = false;  // the backup was made for the undo only: it goes once the file is back
    bool startsEntry = false;  // an entry starts from it: it goes only once no entry is left
};

// The boot manager's description of a store before the setup set its own.
struct replaced_description {
    CString store;
    bool had = false;  // false: the store had none
    CString text;
};

class CBootArming {
public:
    CBootArming();
    ~CBootArming();
    CBootArming(const CBootArming&) = delete;
    CBootArming& operator=(const CBootArming&) = delete;

    // A command of a boot-entry sequence has run against the store:
    // `command` is its number (1-based) in its table of `count` commands,
    // `code` its exit code. A tool that still runs may yet do its work, so
    // it counts as done.
    void NoteCommand(const CString& store, const CString& entry, const CString& options, int command, int count,
                     int code);
    // One of our files is about to replace `path`; `existed` when there was
    // a file there, kept at `backup` (`ownBackup`: a copy made for the undo
    // alone). Only the first note of a path counts: it knows what was there
    // before any of ours.
    void NoteReplacedFile(const CString& path, const CString& backup, bool existed, bool ownBackup = false);
    // A file of ours that an entry starts from (a ramdisk file, the staged
    // copy of the target) is at `path`.
    void NoteEntryFile(const CString& path);
    // Whether `path` was noted.
    bool Noted(const CString& path) const;
    // The boot manager's description of `store` is about to change; what it
    // was. Only the first note of a store counts.
    void NoteDescription(const CString& store, bool had, const CString& text);
    // Hands over everything noted and forgets it, so that a second undo
    // finds nothing to do.
    void Take(std::vector<armed_boot_entry>& entries, std::vector<replaced_boot_file>& files,
              std::vector<replaced_description>& descriptions);
    bool Empty() const;

private:
    // The place of `path` in m_files, or -1; the caller holds the lock.
    int FileIndex(const CString& path) const;

    mutable CRITICAL_SECTION m_lock;
    std::vector<armed_boot_entry> m_entries;
    std::vector<replaced_boot_file> m_files;
    std::vector<replaced_description> m_descriptions;
};
