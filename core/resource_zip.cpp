#include "core/resource_zip.h"

#include <vector>

#include <minizip/unzip.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// ---- minizip's file calls over a memory buffer ----

struct MemoryFile {
    const BYTE* data;
    ZPOS64_T size;
    ZPOS64_T position;
};

voidpf ZCALLBACK MemoryOpen(voidpf, const void* source, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || !source) return nullptr;
    const MemoryFile* from = static_cast<const MemoryFile*>(source);
    MemoryFile* file = new MemoryFile(*from);
    file->position = 0;
    return file;
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
    MemoryFile* file = static_cast<MemoryFile*>(stream);
    ZPOS64_T left = file->position < file->size ? file->size - file->position : 0;
    uLong n = (ZPOS64_T)size < left ? size : (uLong)left;
    if (n) memcpy(buffer, file->data + file->position, n);
    file->position += n;
    return n;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->position; }

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    MemoryFile* file = static_cast<MemoryFile*>(stream);
    ZPOS64_T base;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = file->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = file->size; break;
    default: return -1;
    }
    // minizip passes backward distances from the end as wrapped-around values.
    ZPOS64_T target = base + offset;
    if (target > file->size) return -1;
    file->position = target;
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf stream) {
    delete static_cast<MemoryFile*>(stream);
    return 0;
}

int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

// ---- the item layer ----

const int kKindReader = 1;
// The host systems whose external attributes hold DOS attribute bits.
bool IsDosHost(int host) { return host == 0 || host == 7 || host == 11 || host == 14; }
const LONGLONG kUnixEpochAsFileTime = 116444736000000000LL;

volatile LONG g_lastError = kZipOk;

DWORD SetLast(DWORD code) {
    InterlockedExchange(&g_lastError, (LONG)code);
    return code;
}

struct ZipReader {
    unzFile archive;
    MemoryFile source;
    int entryCount;
    int currentIndex;  // the entry minizip stands on
    int openIndex;     // the entry open for reading, -1 none
    int cachedIndex;   // the entry of `cached`, -1 none
    ZipEntryRecord cached;
};

}  // namespace

struct ZipHandleRecord {
    int kind;
    ZipReader* reader;
};

namespace {

DWORD CheckHandle(HZIPARCHIVE handle) {
    if (!handle) return kZipBadArguments;
    if (handle->kind != kKindReader || !handle->reader) return kZipNotReader;
    return kZipOk;
}

void CloseOpenEntry(ZipReader* r) {
    if (r->openIndex >= 0) unzCloseCurrentFile(r->archive);
    r->openIndex = -1;
}

// Moves minizip to entry `index`: from the first entry when the index lies
// behind, then forward one entry at a time.
bool MoveTo(ZipReader* r, int index) {
    if (index < r->currentIndex) {
        if (unzGoToFirstFile(r->archive) != UNZ_OK) return false;
        r->currentIndex = 0;
    }
    while (r->currentIndex < index) {
        if (unzGoToNextFile(r->archive) != UNZ_OK) return false;
        ++r->currentIndex;
    }
    return true;
}

FILETIME FileTimeFromValue(ULONGLONG value) {
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)value;
    ft.dwHighDateTime = (DWORD)(value >> 32);
    return ft;
}

FILETIME FileTimeFromUnix(LONG seconds) {
    return FileTimeFromValue((ULONGLONG)((LONGLONG)seconds * 10000000LL + kUnixEpochAsFileTime));
}

// The "UT" (extended timestamp) sub-field of a local extra field: a flags
// byte, then a signed 32-bit Unix time for each flag set, in the order
// modification (bit 0), access (bit 1), creation (bit 2). Sub-field sizes
// come from the archive and are checked against what is left.
void ApplyExtendedTimestamp(const BYTE* extra, size_t length, ZipEntryRecord* record) {
    size_t at = 0;
    while (length - at > 4) {
        unsigned tag = extra[at] | (extra[at + 1] << 8);
        size_t size = extra[at + 2] | (extra[at + 3] << 8);
        at += 4;
        if (size > length - at) return;
        if (tag == 0x5455) {
            const BYTE* p = extra + at;
            if (size < 1) return;
            BYTE flags = p[0];
            size_t used = 1;
            FILETIME* targets[3] = {&record->modificationTime, &record->accessTime, &record->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1 << bit))) continue;
                if (size - used < 4) break;
                LONG t = (LONG)((DWORD)p[used] | ((DWORD)p[used + 1] << 8) | ((DWORD)p[used + 2] << 16) |
                                ((DWORD)p[used + 3] << 24));
                *targets[bit] = FileTimeFromUnix(t);
                used += 4;
            }
            return;  // the walk ends after the timestamp
        }
        at += size;
    }
}

// Drops a drive prefix ("C:"), leading separators, a leading parent step
// and everything up to the last inner parent step, until none is left.
void SanitiseName(WCHAR* name) {
    static const WCHAR* const kParentSteps[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        const WCHAR* from = name;
        if (from[0] && from[1] == L':')
            from += 2;
        else if (from[0] == L'\\' || from[0] == L'/')
            from += 1;
        else if (from[0] == L'.' && from[1] == L'.' && (from[2] == L'\\' || from[2] == L'/'))
            from += 3;
        else {
            for (const WCHAR* step : kParentSteps) {
                const WCHAR* hit = wcsstr(name, step);
                if (hit) {
                    from = hit + 4;
                    break;
                }
            }
        }
        if (from == name) return;
        memmove(name, from, (wcslen(from) + 1) * sizeof(WCHAR));
    }
}

DWORD ReadEntry(ZipReader* r, int index, ZipEntryRecord* record) {
    if (!MoveTo(r, index)) return kZipBadArguments;
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(r->archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return kZipHeaderMismatch;
    // The whole name (at most 65535 bytes), so that a long one is cut as text
    // below rather than as bytes in the middle of a character.
    std::vector<char> name((size_t)info.size_filename + 1, 0);
    if (unzGetCurrentFileInfo64(r->archive, &info, name.data(), (uLong)name.size() - 1, nullptr, 0, nullptr, 0) !=
        UNZ_OK)
        return kZipHeaderMismatch;
    // Opening the entry (raw, no inflate) checks its local header against the
    // central directory; then its local extra field can be read.
    int method = 0, level = 0;
    if (unzOpenCurrentFile2(r->archive, &method, &level, 1) != UNZ_OK) return kZipHeaderMismatch;
    int extraLength = unzGetLocalExtrafield(r->archive, nullptr, 0);
    BYTE* extra = nullptr;
    if (extraLength < 0 || extraLength > 0xFFFF) {
        unzCloseCurrentFile(r->archive);
        return kZipExtraField;
    }
    if (extraLength > 0) {
        extra = static_cast<BYTE*>(malloc((size_t)extraLength));
        if (!extra || unzGetLocalExtrafield(r->archive, extra, (unsigned)extraLength) != extraLength) {
            free(extra);
            unzCloseCurrentFile(r->archive);
            return kZipExtraField;
        }
    }
    unzCloseCurrentFile(r->archive);

    memset(record, 0, sizeof(*record));
    record->index = index;
    // Sanitised whole, then cut to the record's 259 characters (never between
    // the two halves of a surrogate pair).
    int units = MultiByteToWideChar(CP_UTF8, 0, name.data(), -1, nullptr, 0);
    std::vector<WCHAR> wide(units > 0 ? (size_t)units : 1, 0);
    if (units <= 0 || MultiByteToWideChar(CP_UTF8, 0, name.data(), -1, wide.data(), units) <= 0) wide[0] = 0;
    SanitiseName(wide.data());
    size_t keep = wcslen(wide.data());
    if (keep > 259) keep = IS_HIGH_SURROGATE(wide[258]) ? 258 : 259;
    memcpy(record->name, wide.data(), keep * sizeof(WCHAR));
    record->name[keep] = 0;

    int host = (int)((info.version >> 8) & 0xFF);
    DWORD external = (DWORD)info.external_fa;
    if (IsDosHost(host)) {
        record->attributes = external & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
    } else {
        record->attributes = FILE_ATTRIBUTE_ARCHIVE;
        if (external & 0x40000000u) record->attributes |= FILE_ATTRIBUTE_DIRECTORY;  // S_IFDIR in the mode
        if (!(external & 0x00800000u)) record->attributes |= FILE_ATTRIBUTE_READONLY;  // no owner write bit
    }

    FILETIME local = {}, utc = {};
    if (DosDateTimeToFileTime(HIWORD(info.dosDate), LOWORD(info.dosDate), &local)) LocalFileTimeToFileTime(&local, &utc);
    record->accessTime = record->creationTime = record->modificationTime = utc;
    if (extra) ApplyExtendedTimestamp(extra, (size_t)extraLength, record);
    free(extra);

    record->compressedSize = info.compressed_size > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)info.compressed_size;
    record->uncompressedSize = info.uncompressed_size > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)info.uncompressed_size;
    r->cached = *record;
    r->cachedIndex = index;
    return kZipOk;
}

}  // namespace

HZIPARCHIVE ZipArchiveOpen(const void* buffer, DWORD size) {
    if (!buffer || !size) {
        SetLast(kZipCannotOpen);
        return nullptr;
    }
    ZipReader* r = new ZipReader();
    r->source.data = static_cast<const BYTE*>(buffer);
    r->source.size = size;
    r->source.position = 0;
    zlib_filefunc64_def calls = {};
    calls.zopen64_file = MemoryOpen;
    calls.zread_file = MemoryRead;
    calls.zwrite_file = MemoryWrite;
    calls.ztell64_file = MemoryTell;
    calls.zseek64_file = MemorySeek;
    calls.zclose_file = MemoryClose;
    calls.zerror_file = MemoryError;
    calls.opaque = nullptr;
    r->archive = unzOpen2_64(&r->source, &calls);
    unz_global_info64 global = {};
    if (!r->archive || unzGetGlobalInfo64(r->archive, &global) != UNZ_OK || global.number_entry > 0x7FFFFFFF) {
        if (r->archive) unzClose(r->archive);
        delete r;
        SetLast(kZipCannotOpen);
        return nullptr;
    }
    r->entryCount = (int)global.number_entry;
    r->currentIndex = 0;  // minizip starts on the first entry
    r->openIndex = -1;
    r->cachedIndex = -1;
    ZipHandleRecord* handle = new ZipHandleRecord;
    handle->kind = kKindReader;
    handle->reader = r;
    SetLast(kZipOk);
    return handle;
}

DWORD ZipArchiveGetEntry(HZIPARCHIVE handle, int index, ZipEntryRecord* record) {
    DWORD check = CheckHandle(handle);
    if (check != kZipOk) return SetLast(check);
    ZipReader* r = handle->reader;
    if (!record || index < -1 || index >= r->entryCount) return SetLast(kZipBadArguments);
    CloseOpenEntry(r);
    if (index == -1) {
        memset(record, 0, sizeof(*record));
        record->index = r->entryCount;
        return SetLast(kZipOk);
    }
    if (index == r->cachedIndex) {
        *record = r->cached;
        return SetLast(kZipOk);
    }
    return SetLast(ReadEntry(r, index, record));
}

DWORD ZipArchiveExtractEntry(HZIPARCHIVE handle, int index, void* buffer, DWORD length) {
    DWORD check = CheckHandle(handle);
    if (check != kZipOk) return SetLast(check);
    ZipReader* r = handle->reader;
    if (!buffer || index < 0) return SetLast(kZipBadArguments);
    if (index != r->openIndex) {
        CloseOpenEntry(r);
        if (index >= r->entryCount) return SetLast(kZipBadArguments);
        if (!MoveTo(r, index)) return SetLast(kZipBadArguments);
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(r->archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return SetLast(kZipHeaderMismatch);
        // No password is ever set, so an enciphered entry cannot be read.
        if (info.flag & 1) return SetLast(kZipPassword);
        if (unzOpenCurrentFile(r->archive) != UNZ_OK) return SetLast(kZipHeaderMismatch);
        r->openIndex = index;
    }
    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD delivered = 0;
    bool ended = false, failed = false;
    while (delivered < length) {
        unsigned chunk = length - delivered > 0x40000000u ? 0x40000000u : (unsigned)(length - delivered);
        int got = unzReadCurrentFile(r->archive, out + delivered, chunk);
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) {
            ended = true;
            break;
        }
        delivered += (DWORD)got;
    }
    if (!ended && !failed && unzeof(r->archive)) ended = true;
    if (ended || failed) {
        // Closing after the whole entry was read also checks its CRC.
        int closed = unzCloseCurrentFile(r->archive);
        r->openIndex = -1;
        if (ended && closed == UNZ_CRCERROR) failed = true;
    }
    if (failed) return SetLast(kZipInflateFailed);
    if (ended) return SetLast(kZipOk);
    return SetLast(kZipMoreData);
}

DWORD ZipArchiveClose(HZIPARCHIVE handle) {
    DWORD check = CheckHandle(handle);
    if (check != kZipOk) return SetLast(check);
    ZipReader* r = handle->reader;
    CloseOpenEntry(r);
    unzClose(r->archive);
    delete r;
    delete handle;
    return SetLast(kZipOk);
}

DWORD ZipLastError() { return (DWORD)g_lastError; }

// ---- CResourceZip ----

namespace {

bool NameMatches(const WCHAR* entry, const WCHAR* wanted, int mode) {
    size_t entryLength = wcslen(entry), wantedLength = wcslen(wanted);
    switch (mode) {
    case CResourceZip::kFindSuffix:
        return entryLength >= wantedLength && _wcsicmp(entry + entryLength - wantedLength, wanted) == 0;
    case CResourceZip::kFindContains: {
        if (wantedLength > entryLength) return false;
        for (size_t at = 0; at + wantedLength <= entryLength; ++at)
            if (_wcsnicmp(entry + at, wanted, wantedLength) == 0) return true;
        return false;
    }
    default:
        return entryLength >= wantedLength && _wcsnicmp(entry, wanted, wantedLength) == 0;
    }
}

}  // namespace

CResourceZip::CResourceZip() : m_zip(nullptr), m_findMode(kFindPrefix), m_startIndex(-1) {
    m_searchName[0] = 0;
    InitializeCriticalSection(&m_lock);
}

CResourceZip::~CResourceZip() {
    CloseArchive();
    CResourceFile::Close();
    DeleteCriticalSection(&m_lock);
}

void CResourceZip::CloseArchive() {
    Lock();
    if (m_zip) ZipArchiveClose(m_zip);
    m_zip = nullptr;
    Unlock();
}

void CResourceZip::OpenArchive() {
    Lock();
    CloseArchive();
    m_zip = ZipArchiveOpen(m_data, (DWORD)m_size);
    Unlock();
    if (!m_zip) Close();
}

void CResourceZip::Close() {
    Lock();
    CloseArchive();  // the reader reads the buffer: close it first
    CResourceFile::Close();
    Unlock();
}

int CResourceZip::LoadFromResource(HMODULE module, UINT id, LPCWSTR type) {
    if (!CResourceFile::LoadFromResource(module, id, type)) return 0;
    OpenArchive();
    return m_zip ? 1 : 0;
}

void CResourceZip::Attach(BYTE* buffer, int size, int notOwned) {
    if (!buffer || size == 0) return;
    Lock();
    CloseArchive();
    CResourceFile::Attach(buffer, size, notOwned);
    OpenArchive();
    Unlock();
}

int CResourceZip::GetEntryInfo(int index, ZipEntryRecord* record) {
    if (!m_loaded || !record) return 0;
    Lock();
    int ok = m_zip && ZipArchiveGetEntry(m_zip, index, record) == kZipOk;
    if (ok) record->name[259] = 0;
    Unlock();
    return ok;
}

int CResourceZip::FindEntry(ZipEntryRecord* record) {
    if (!m_loaded || !record) return 0;
    Lock();
    int found = 0;
    ZipEntryRecord count;
    if (m_zip && ZipArchiveGetEntry(m_zip, -1, &count) == kZipOk && count.index > 0 && m_startIndex >= 0 &&
        m_startIndex < count.index) {
        m_searchName[519] = 0;
        for (int i = m_startIndex; i < count.index; ++i) {
            if (!GetEntryInfo(i, record)) break;
            if (NameMatches(record->name, m_searchName, m_findMode)) {
                m_startIndex = i;
                found = 1;
                break;
            }
        }
    }
    Unlock();
    return found;
}

BYTE* CResourceZip::ExtractEntry(int index) {
    if (!m_loaded) return nullptr;
    Lock();
    BYTE* buffer = nullptr;
    ZipEntryRecord record;
    if (m_zip && GetEntryInfo(index, &record) && !(record.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        record.uncompressedSize <= kMaxZipEntrySize) {
        buffer = static_cast<BYTE*>(malloc((size_t)record.uncompressedSize + 10));
        if (buffer) {
            DWORD code = ZipArchiveExtractEntry(m_zip, index, buffer, record.uncompressedSize + 2);
            if (code != kZipOk && code != kZipMoreData) {
                free(buffer);
                buffer = nullptr;
            }
        }
    }
    Unlock();
    return buffer;
}

BYTE* CResourceZip::FindAndExtract(int mode, const WCHAR* name, DWORD* size) {
    if (size) *size = 0;
    if (!name) return nullptr;
    Lock();
    m_findMode = mode;
    m_startIndex = 0;
    m_searchName[0] = 0;
    wcsncpy(m_searchName, name, 519);
    m_searchName[519] = 0;
    ZipEntryRecord record;
    BYTE* buffer = nullptr;
    if (FindEntry(&record)) {
        buffer = ExtractEntry(m_startIndex);
        if (buffer && size) *size = record.uncompressedSize;
    }
    Unlock();
    return buffer;
}
