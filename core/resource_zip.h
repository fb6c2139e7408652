// The in-memory zip reader: a zip item layer over minizip whose file calls
// read from a memory buffer, and CResourceZip, the payload file that holds
// the skin archive and finds entries by name.
#pragma once

#include <windows.h>

#include "core/resource_file.h"

// One entry of the archive as the item layer reports it.
struct ZipEntryRecord {
    int index;  // the entry's index; for the count query (index -1) the number of entries
    WCHAR name[260];  // the entry name, sanitised (no drive, no leading separator, no parent steps)
    DWORD attributes;  // Windows attribute bits: 0x01 read-only, 0x02 hidden, 0x04 system, 0x10 folder, 0x20 archive
    FILETIME accessTime;  // UTC
    FILETIME creationTime;
    FILETIME modificationTime;
    DWORD compressedSize;
    DWORD uncompressedSize;  // 0xFFFFFFFF stands for anything larger
};

// Result codes of the item layer.
enum : DWORD {
    kZipOk = 0,
    kZipCannotOpen = 0x200,
    kZipMoreData = 0x600,        // the buffer is full and the entry has more data
    kZipHeaderMismatch = 0x700,  // the local header does not match the central directory
    kZipExtraField = 0x800,      // the local extra field could not be read
    kZipPassword = 0x1000,       // the entry needs a password
    kZipBadArguments = 0x10000,  // null handle, index out of range
    kZipNotReader = 0x80000,
    kZipAlreadyOpen = 0x1000000,
    kZipInflateFailed = 0x5000000,
};

typedef struct ZipHandleRecord* HZIPARCHIVE;

// Opens the archive held in the buffer (which must outlive the handle).
// Null when minizip cannot read it.
HZIPARCHIVE ZipArchiveOpen(const void* buffer, DWORD size);
// Fills the record of entry `index`; index -1 asks for the entry count.
DWORD ZipArchiveGetEntry(HZIPARCHIVE handle, int index, ZipEntryRecord* record);
// Inflates up to `length` bytes of the entry into the buffer: kZipOk when the
// entry's data ended within it, kZipMoreData when the buffer is full and more
// follows (call again with the same index for the next part), else a failure.
DWORD ZipArchiveExtractEntry(HZIPARCHIVE handle, int index, void* buffer, DWORD length);
// Closes any open entry and the archive, and frees the handle.
DWORD ZipArchiveClose(HZIPARCHIVE handle);
// The code of the most recent call of the layer (process-wide).
DWORD ZipLastError();

// The largest entry that CResourceZip::ExtractEntry inflates. Entry sizes
// come from the archive, so they are bounded before they size a buffer.
const DWORD kMaxZipEntrySize = 64u * 1024 * 1024;

class CResourceZip : public CResourceFile {
public:
    enum { kFindPrefix = 0, kFindSuffix = 1, kFindContains = 2 };

    CResourceZip();
    ~CResourceZip() override;

    // Releases the buffer and closes the archive.
    void Close() override;
    // Load and attach open the archive; when it cannot be opened the object
    // is closed again.
    int LoadFromResource(HMODULE module, UINT id, LPCWSTR type) override;
    void Attach(BYTE* buffer, int size, int notOwned) override;

    // 1 with the record filled, 0 when nothing is open or the entry cannot be read.
    int GetEntryInfo(int index, ZipEntryRecord* record);
    // Searches from m_startIndex for the first entry whose name matches
    // m_searchName (case-insensitive) in m_findMode: 1 found (m_startIndex =
    // its index), 0 not found.
    int FindEntry(ZipEntryRecord* record);
    // The entry's bytes in a malloc block of its size + 10 bytes (the caller
    // frees it); null for folders, oversized entries and failures.
    BYTE* ExtractEntry(int index);

    // Sets the search fields, finds the first match from the first entry and
    // inflates it, all under the archive's lock, so that threads asking at
    // the same time do not disturb each other. `size` receives the entry's size.
    BYTE* FindAndExtract(int mode, const WCHAR* name, DWORD* size);

    // The lock that guards the reader state and the search fields; it may be
    // taken again by the thread that holds it.
    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }

    HZIPARCHIVE m_zip;
    int m_findMode;
    int m_startIndex;
    WCHAR m_searchName[520];

private:
    void OpenArchive();
    void CloseArchive();
    CRITICAL_SECTION m_lock;
};
