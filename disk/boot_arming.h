// What one run of the boot setup armed for the next boot, kept so that it
// can be undone when the restart does not happen: the stores in which it
// made entries or set the one-time boot sequence, and the firmware files
// it replaced. The boot setup's worker notes; whoever finds that the
// restart will not happen takes the record and undoes it.
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
    bool existed = false;  // a file of someone else's was there, and its backup holds it
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
    // a file there, kept at `backup`.
    void NoteReplacedFile(const CString& path, const CString& backup, bool existed);
    // Hands over everything noted and forgets it, so that a second undo
    // finds nothing to do.
    void Take(std::vector<armed_boot_entry>& entries, std::vector<replaced_boot_file>& files);
    bool Empty() const;

private:
    mutable CRITICAL_SECTION m_lock;
    std::vector<armed_boot_entry> m_entries;
    std::vector<replaced_boot_file> m_files;
};
