#include "core/catalogue.h"

#include <shlwapi.h>
#include <wctype.h>

#include <functional>
#include <mutex>
#include <vector>

#include "core/fixed_texts.h"
#include "core/folder_rule.h"
#include "core/ini.h"
#include "core/md5.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/share_link.h"

CString g_DownloadFolder = FixedText::kInitialDownloadFolder;
CString g_SecondaryFolder = FixedText::kInitialSecondaryFolder;
CString g_RecordIniName = FixedText::kInitialRecordIniName;
CString g_RecordIniPath = FixedText::kInitialRecordIniPath;
CString g_RecordSection = FixedText::kInitialRecordSection;
CString g_RecordPassword = FixedText::kInitialRecordPassword;

namespace {

// Set when the download folder let others in until this run.
bool g_downloadFolderDistrusted = false;

}  // namespace

namespace {

const struct {
    const wchar_t* token;
    const wchar_t* alternative;
    SystemTypeMask bit;
} kSystemTokens[] = {
    {L"xp", L"fxp", kSystemXp},
    {L"win832", L"fwin832", kSystemWin8x86},
    {L"win1032", L"fwin1032", kSystemWin10x86},
    {L"win732", L"fwin732", kSystemWin7x86},
    {L"win864", L"fwin864", kSystemWin8x64},
    {L"win764", L"fwin764", kSystemWin7x64},
    {L"win1064", L"fwin1064", kSystemWin10x64},
};

CString JoinPath(const CString& folder, const CString& name) { return folder + FixedText::kPathSeparator + name; }

bool IsFile(const CString& path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const CString& path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A digest text that can be compared: 32 hexadecimal digits. A file that
// could not be read gives an empty text, which never matches.
bool IsUsableDigest(const CString& digest) {
    if (digest.GetLength() != 32) return false;
    for (int i = 0; i < 32; ++i)
        if (!iswxdigit(digest[i])) return false;
    return true;
}

bool ExpectedContains(const COnlinefileinfo& record, const CString& digest) {
    CString expected = record.m_expectedMd5;
    expected.MakeUpper();
    CString upper = digest;
    upper.MakeUpper();
    return expected.Find(upper) >= 0;
}

// The digest of a held file, read through its handle: the bytes tested are
// the bytes that stay at its name.
CString HasherDigest(Md5Hasher& hasher, const CString& path, HANDLE held) {
    hasher.m_algorithm = Md5Hasher::kAlgorithmMd5;
    hasher.m_sourceKind = Md5Hasher::kKindFile;
    hasher.m_format = Md5Hasher::kFormatUpper;
    hasher.m_filePath = path;
    return hasher.ComputeOpenFile(held);
}

// ---- holds that records share ----
//
// Two records may name one file. The hold of an accepted record lets no
// second opener delete it, so a second record shares the hold instead: a
// duplicate of a holder's handle, with the digest the file was accepted by.
// The file stays held until the last record holding it lets go.

struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileIdentity& o) const { return volume == o.volume && high == o.high && low == o.low; }
};

bool IdentityOf(HANDLE file, FileIdentity& id) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
    return true;
}

struct SharedHold {
    CString path;                 // upper case
    FileIdentity id;
    CString digest;               // what the file was accepted by; empty when it was taken unread
    std::vector<HANDLE> holders;  // the handles the records hold it by
};

std::mutex g_holdLock;
std::vector<SharedHold> g_holds;

void ForgetHolderLocked(HANDLE handle) {
    for (auto it = g_holds.begin(); it != g_holds.end();) {
        auto& holders = it->holders;
        for (auto h = holders.begin(); h != holders.end();) h = *h == handle ? holders.erase(h) : h + 1;
        it = holders.empty() ? g_holds.erase(it) : it + 1;
    }
}

CString UpperPath(const CString& path) {
    CString upper = path;
    upper.MakeUpper();
    return upper;
}

// A record holds `handle` for the file at `path`, accepted by `digest`.
void RegisterHolder(const CString& path, HANDLE handle, const CString& digest) {
    FileIdentity id;
    if (!IdentityOf(handle, id)) return;
    const CString key = UpperPath(path);
    std::lock_guard<std::mutex> guard(g_holdLock);
    ForgetHolderLocked(handle);
    for (SharedHold& hold : g_holds) {
        if (hold.path != key) continue;
        if (!(hold.id == id)) {
            // Whatever was noted for the name is no longer at it.
            hold.id = id;
            hold.holders.clear();
            hold.digest.Empty();
        }
        hold.holders.push_back(handle);
        if (hold.digest.IsEmpty()) hold.digest = digest;
        return;
    }
    g_holds.push_back(SharedHold{key, id, digest, {handle}});
}

// `copy` holds what `original` holds (a record copied with its hold).
void RegisterCopyOfHolder(HANDLE original, HANDLE copy) {
    std::lock_guard<std::mutex> guard(g_holdLock);
    for (SharedHold& hold : g_holds)
        for (HANDLE h : hold.holders)
            if (h == original) {
                hold.holders.push_back(copy);
                return;
            }
}

void ReleaseHolder(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return;
    std::lock_guard<std::mutex> guard(g_holdLock);
    ForgetHolderLocked(handle);
}

// A hold of its own on the file at `path` that an accepted record holds
// now, with the digest it was accepted by; invalid when no record holds it.
// A holder's handle counts only while it still reaches the file noted.
HANDLE ShareHold(const CString& path, CString& digest) {
    const CString key = UpperPath(path);
    std::lock_guard<std::mutex> guard(g_holdLock);
    for (SharedHold& hold : g_holds) {
        if (hold.path != key) continue;
        for (HANDLE h : hold.holders) {
            FileIdentity id;
            HANDLE copy = INVALID_HANDLE_VALUE;
            if (!IdentityOf(h, id) || !(id == hold.id) ||
                !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
                continue;
            digest = hold.digest;
            return copy;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// The record holds `held` (or nothing) from here on, until it is destroyed
// or reset; the size is the held file's. `digest` is what the file was
// accepted by (empty: taken unread), for a record of the same file that
// shares the hold.
void TakeHold(COnlinefileinfo& record, HANDLE held, const CString& digest = CString()) {
    if (record.m_fileHandle != INVALID_HANDLE_VALUE && record.m_fileHandle != held) {
        ReleaseHolder(record.m_fileHandle);
        CloseHandle(record.m_fileHandle);
    }
    record.m_fileHandle = held;
    LARGE_INTEGER size = {};
    if (held != INVALID_HANDLE_VALUE && GetFileSizeEx(held, &size)) record.m_fileSize = size.QuadPart;
    if (held != INVALID_HANDLE_VALUE) RegisterHolder(GetLocalPath(record), held, digest);
}

// One candidate file held while it is tested: closed on every way out,
// unless the record has taken it over. A file that an accepted record holds
// is held by sharing that record's hold: the bytes stay those it accepted.
class HeldCandidate {
public:
    explicit HeldCandidate(const CString& path) : m_path(path), m_handle(HoldFile(path)), m_shared(false) {
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_handle = ShareHold(path, m_knownDigest);
            m_shared = m_handle != INVALID_HANDLE_VALUE;
        }
    }
    ~HeldCandidate() { Release(); }
    HeldCandidate(const HeldCandidate&) = delete;
    HeldCandidate& operator=(const HeldCandidate&) = delete;
    HANDLE Get() const { return m_handle; }
    const CString& Path() const { return m_path; }
    bool Held() const { return m_handle != INVALID_HANDLE_VALUE; }
    // Another record holds it as well: it is never deleted here.
    bool Shared() const { return m_shared; }
    // Hands the handle over to the caller.
    HANDLE Take() {
        HANDLE h = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return h;
    }
    void Release() {
        if (Held()) CloseHandle(Take());
    }
    // The candidate's digest: for a shared hold the one the file was accepted
    // by, else (or when it was taken unread) `digestOf` through a handle of
    // its own, so that no other reader's position moves.
    template <typename Fn>
    CString Digest(const Fn& digestOf) {
        if (!m_shared) return digestOf(m_path, m_handle);
        if (!m_knownDigest.IsEmpty()) return m_knownDigest;
        // The shared hold keeps writers and deleters away meanwhile.
        HANDLE reader = CreateFileW(m_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (reader == INVALID_HANDLE_VALUE) return CString();
        m_knownDigest = digestOf(m_path, reader);
        CloseHandle(reader);
        return m_knownDigest;
    }

private:
    CString m_path;
    HANDLE m_handle;
    bool m_shared;
    CString m_knownDigest;
};

void WriteVerifiedRecord(const COnlinefileinfo& record, const CString& digest) {
    if (g_DownloadFolder.IsEmpty() || !IsUsableDigest(digest)) return;
    CString upper = digest;
    upper.MakeUpper();
    CString value = EncryptToHex(upper, g_RecordPassword);
    if (value.IsEmpty()) return;
    CIni ini(g_RecordIniPath);
    ini.SetSection(g_RecordSection);
    ini.WriteString(record.m_sectionName, value);
}

// The verified digest of one record INI, or the placeholder that matches nothing.
CString ReadVerifiedRecord(const COnlinefileinfo& record, const CString& iniPath) {
    CIni ini(iniPath);
    ini.SetSection(g_RecordSection);
    CString value = ini.ReadWideValue(record.m_sectionName, L"");
    CString plain;
    if (!value.IsEmpty()) {
        value.MakeUpper();
        plain = DecryptFromHex(value, g_RecordPassword);
    }
    return plain.IsEmpty() ? CString(FixedText::kMissingRecordPrefix) + record.m_sectionName : plain;
}

// A place another account can write (or could until now): a file there
// counts only by the catalogue's digest.
bool OthersCanWrite(const CString& folder) {
    if (g_downloadFolderDistrusted && folder.CompareNoCase(g_DownloadFolder) == 0) return true;
    return CurrentFolderRule().OthersCanWrite(folder);
}

// The records INI's key is in the program, so anyone can make one: it
// counts only in the data folder the program wrote it into, and only while
// that folder passes the folder rule.
bool RecordsCountIn(const CString& folder) {
    return !folder.IsEmpty() && folder.CompareNoCase(g_DownloadFolder) == 0 &&
           CurrentFolderRule().JudgeFolder(folder) == FolderState::kTrusted;
}

// kUnreadable: the file could not be read now (another program may hold it
// locked); it is not valid, and it is left where it is.
enum Verdict { kRejected, kAccepted, kNotTested, kUnreadable };

// The digest of a candidate at a path, read through the handle that holds it.
typedef std::function<CString(const CString&, HANDLE)> DigestFn;

// The candidate test under the record's match mode, for a candidate that is
// held; `digest` receives the digest when one was computed. A record that
// carries a digest is accepted only by it (mode 1: or by a verified record),
// mode 0 included: mode 0 takes any file only for a record without one. A
// candidate in a place others can write (`byDigestOnly`) counts only by the
// catalogue's digest, whatever the mode; without one the record is
// downloaded instead. `keepUndigested` keeps mode 0's choice for a record
// that carries no digest at all.
Verdict TestCandidate(COnlinefileinfo& record, HeldCandidate& held, const DigestFn& digestOf, CString& digest,
                      bool byDigestOnly, bool keepUndigested) {
    digest.Empty();
    const bool carriesDigest = CarriesExpectedDigest(record.m_expectedMd5);
    if (keepUndigested && !carriesDigest) byDigestOnly = false;
    switch (record.m_matchMode) {
    case 0:
        if (!byDigestOnly && !carriesDigest) return kAccepted;
        [[fallthrough]];  // by the digest alone
    case 1:
    case 2:
        if (byDigestOnly && !carriesDigest) return kRejected;
        digest = held.Digest(digestOf);
        // No digest: an empty file is no copy; any other could not be read
        // now (another program may hold it) and is left for a later check.
        if (!IsUsableDigest(digest)) return GetFileSize64(held.Path()) == 0 ? kRejected : kUnreadable;
        if (ExpectedContains(record, digest)) return kAccepted;
        if (record.m_matchMode == 1 && !byDigestOnly && MatchesVerifiedRecord(record, digest)) return kAccepted;
        return kRejected;
    default:
        return kNotTested;
    }
}

// Candidate 1 in the download folder (deleted when rejected), then the
// record's own folder and the secondary folder (kept when rejected; a find
// is copied into the download folder). Each candidate is held from before
// its test; one that cannot be held now is left for a later check. A find
// counts only when the file at the record's path is the one just tested
// (or our copy of it), and the record keeps holding that file.
int CheckCandidates(COnlinefileinfo& record, const DigestFn& digestOf, bool writeRecords, bool keepUndigested) {
    record.m_checkState = 1;
    TakeHold(record, INVALID_HANDLE_VALUE);
    const CString localPath = GetLocalPath(record);
    HANDLE accepted = INVALID_HANDLE_VALUE;
    CString digest;
    if (!g_DownloadFolder.IsEmpty()) {
        CString path = JoinPath(g_DownloadFolder, record.m_fileName);
        if (IsFile(path)) {
            HeldCandidate held(path);
            Verdict verdict = held.Held() ? TestCandidate(record, held, digestOf, digest,
                                                          OthersCanWrite(g_DownloadFolder), keepUndigested)
                                          : kUnreadable;
            if (verdict == kAccepted && path.CompareNoCase(localPath) == 0)
                accepted = held.Take();
            else if (verdict == kRejected && !held.Shared())  // another record's file stays
                DeleteHeldFile(held.Get());
        }
    }
    const CString* others[] = {&record.m_localFolder, &g_SecondaryFolder};
    for (const CString* folder : others) {
        if (accepted != INVALID_HANDLE_VALUE || folder->IsEmpty()) continue;
        CString path = JoinPath(*folder, record.m_fileName);
        if (!IsFile(path)) continue;
        HeldCandidate held(path);
        if (!held.Held() ||
            TestCandidate(record, held, digestOf, digest, OthersCanWrite(*folder), keepUndigested) != kAccepted)
            continue;
        if (!g_DownloadFolder.IsEmpty() && IsFolder(g_DownloadFolder)) {
            CString target = JoinPath(g_DownloadFolder, record.m_fileName);
            // The copy is written from the held candidate and held from its
            // creation: it holds the bytes just tested.
            HANDLE copy = target.CompareNoCase(path) != 0
                              ? CopyToHeldFile(held.Get(), target, FALSE, nullptr, nullptr)
                              : INVALID_HANDLE_VALUE;
            if (copy != INVALID_HANDLE_VALUE) {
                if (writeRecords) WriteVerifiedRecord(record, digest);
                if (target.CompareNoCase(localPath) == 0)
                    accepted = copy;
                else
                    CloseHandle(copy);
            }
        }
        if (accepted == INVALID_HANDLE_VALUE && path.CompareNoCase(localPath) == 0) accepted = held.Take();
    }
    if (accepted != INVALID_HANDLE_VALUE) {
        record.m_checkState = 2;
        TakeHold(record, accepted, digest);
    }
    return record.m_checkState == 1 ? 1 : 0;
}

}  // namespace

SystemTypeMask SystemTypeBitOf(const wchar_t* token) {
    for (const auto& t : kSystemTokens)
        if (_wcsicmp(token, t.token) == 0 || _wcsicmp(token, t.alternative) == 0) return t.bit;
    return 0;
}

COsCatInfo::COsCatInfo()
    : m_id(FixedText::kCategoryDefaultId), m_caption(FixedText::kCategoryDefaultCaption),
      m_text(FixedText::kCategoryDefaultText), m_displayGroup(0), m_systemMask(kSystemMaskBase), m_enabled(1) {}

COsCatInfo::COsCatInfo(const CString& token, int group)
    : m_id(token), m_displayGroup(group), m_systemMask(kSystemMaskBase | SystemTypeBitOf(token)), m_enabled(1) {}

CString CFileLinkInfo::GetUrl() const {
    if (m_linkType == 2) {
        CString direct;
        if (ShareLinkResolver(m_url, direct)) return direct;
    }
    return m_url;
}

COnlinefileinfo::COnlinefileinfo() : m_usbOffer(0), m_fileHandle(INVALID_HANDLE_VALUE) { SetDefaults(); }

COnlinefileinfo::COnlinefileinfo(const CString& sectionName, int displayGroup) : COnlinefileinfo() {
    m_sectionName = sectionName;
    m_displayGroup = displayGroup;
}

COnlinefileinfo::COnlinefileinfo(const COnlinefileinfo& other) : m_fileHandle(INVALID_HANDLE_VALUE) { CopyFrom(other); }

COnlinefileinfo& COnlinefileinfo::operator=(const COnlinefileinfo& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

COnlinefileinfo::~COnlinefileinfo() { LetGo(); }

void COnlinefileinfo::LetGo() {
    if (m_fileHandle == INVALID_HANDLE_VALUE) return;
    ReleaseHolder(m_fileHandle);
    CloseHandle(m_fileHandle);
    m_fileHandle = INVALID_HANDLE_VALUE;
}

void COnlinefileinfo::SetDefaults() {
    LetGo();
    m_typeText = FixedText::kRecordTypeText;
    m_number = 1;
    m_sectionName = FixedText::kRecordDefaultSection;
    m_title = FixedText::kRecordDefaultTitle;
    m_description = FixedText::kRecordDefaultText;
    m_detail2 = FixedText::kRecordDefaultText;
    m_detail1 = FixedText::kRecordDefaultText;
    m_fileName = FixedText::kRecordDefaultFileName;
    m_expectedMd5 = FixedText::kRecordDefaultDigest;
    m_knownDigests.Empty();
    m_systemTokens = FixedText::kRecordDefaultTokens;
    m_matchMode = 0;
    m_linkedFileIndex = -1;
    m_required = 1;
    m_requiredUsb = 0;
    m_displayGroup = 0;
    m_systemMask = kSystemMaskBase;
    m_linkCount = 0;
    m_linkCursor = 0;
    for (int& i : m_linkIndices) i = -1;
    m_localFolder = FixedText::kRecordDefaultFolder;
    m_checkState = 0;
    m_fileHandle = INVALID_HANDLE_VALUE;
    m_fileSize = 0;
}

void COnlinefileinfo::Reset() { SetDefaults(); }

void COnlinefileinfo::CopyFrom(const COnlinefileinfo& other) {
    LetGo();
    m_typeText = other.m_typeText;
    m_number = other.m_number;
    m_sectionName = other.m_sectionName;
    m_title = other.m_title;
    m_description = other.m_description;
    m_detail2 = other.m_detail2;
    m_detail1 = other.m_detail1;
    m_fileName = other.m_fileName;
    m_expectedMd5 = other.m_expectedMd5;
    m_knownDigests = other.m_knownDigests;
    m_systemTokens = other.m_systemTokens;
    m_matchMode = other.m_matchMode;
    m_linkedFileIndex = other.m_linkedFileIndex;
    m_required = other.m_required;
    m_requiredUsb = other.m_requiredUsb;
    m_usbOffer = other.m_usbOffer;
    m_displayGroup = other.m_displayGroup;
    m_systemMask = other.m_systemMask;
    m_linkCount = other.m_linkCount;
    m_linkCursor = other.m_linkCursor;
    memcpy(m_linkIndices, other.m_linkIndices, sizeof(m_linkIndices));
    m_localFolder = other.m_localFolder;
    m_checkState = other.m_checkState;
    // The copy holds the accepted file open with a handle of its own, so
    // neither record closes the other's.
    m_fileHandle = INVALID_HANDLE_VALUE;
    if (other.m_fileHandle != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), other.m_fileHandle, GetCurrentProcess(), &m_fileHandle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    if (!m_fileHandle) m_fileHandle = INVALID_HANDLE_VALUE;
    if (m_fileHandle != INVALID_HANDLE_VALUE) RegisterCopyOfHolder(other.m_fileHandle, m_fileHandle);
    m_fileSize = other.m_fileSize;
}

void ParseSystemTokens(COnlinefileinfo& record) {
    if (record.m_systemTokens.IsEmpty()) return;
    int start = 0;
    while (start <= record.m_systemTokens.GetLength()) {
        int dash = record.m_systemTokens.Find(L'-', start);
        int end = dash < 0 ? record.m_systemTokens.GetLength() : dash;
        if (end > start) record.m_systemMask |= SystemTypeBitOf(record.m_systemTokens.Mid(start, end - start));
        if (dash < 0) break;
        start = dash + 1;
    }
}

void SetDownloadFolders(const CString& downloadFolder, const CString& recordIniName, const CString& recordSection,
                        const CString& password, const CString& secondaryFolder) {
    g_DownloadFolder = downloadFolder;
    g_RecordIniName = recordIniName;
    g_RecordIniPath = JoinPath(downloadFolder, recordIniName);
    g_SecondaryFolder = secondaryFolder;
    g_RecordSection = recordSection;
    g_RecordPassword = password;
    g_downloadFolderDistrusted = false;
}

void DistrustDownloadFolderContents() {
    g_downloadFolderDistrusted = true;
    if (!g_RecordIniPath.IsEmpty()) {
        SetFileAttributesW(g_RecordIniPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(g_RecordIniPath);
    }
}

CString GetLocalPath(const COnlinefileinfo& record) {
    if (!record.m_localFolder.IsEmpty()) return JoinPath(record.m_localFolder, record.m_fileName);
    if (!g_DownloadFolder.IsEmpty()) return JoinPath(g_DownloadFolder, record.m_fileName);
    return record.m_fileName;
}

void OpenLocalFile(COnlinefileinfo& record) {
    if (record.m_fileHandle != INVALID_HANDLE_VALUE) return;
    CString path = GetLocalPath(record);
    if (!IsFile(path)) return;
    HeldCandidate held(path);
    TakeHold(record, held.Take());
}

int CheckLocalCopy(COnlinefileinfo& record, Md5Hasher& hasher) {
    return CheckCandidates(
        record, [&hasher](const CString& path, HANDLE held) { return HasherDigest(hasher, path, held); }, false,
        false);
}

void CheckPeFile(COnlinefileinfo& record) {
    if (record.m_checkState != 0) return;
    CheckCandidates(record, [](const CString&, HANDLE held) { return FileMd5Hex(held); }, true, true);
}

bool MatchesVerifiedRecord(COnlinefileinfo& record, const CString& digest) {
    if (!IsUsableDigest(digest)) return false;
    if (record.m_knownDigests.IsEmpty()) {
        // Records beside the program or in the record's own folder are
        // anyone's: only the data folder's count.
        record.m_knownDigests = RecordsCountIn(g_DownloadFolder)
                                    ? ReadVerifiedRecord(record, g_RecordIniPath)
                                    : CString(FixedText::kMissingRecordPrefix) + record.m_sectionName;
    }
    CString upper = digest;
    upper.MakeUpper();
    return record.m_knownDigests.Find(upper) >= 0;
}

bool HeldByAnotherRecord(const COnlinefileinfo& record) {
    CString digest;
    HANDLE shared = ShareHold(GetLocalPath(record), digest);
    if (shared == INVALID_HANDLE_VALUE) return false;
    CloseHandle(shared);
    return true;
}

int AdoptHeldFile(COnlinefileinfo& record, Md5Hasher& hasher) {
    HeldCandidate held(GetLocalPath(record));
    if (!held.Shared()) return 0;
    // Held since its holder accepted it: the record's own rule decides.
    CString digest;
    const Verdict verdict = TestCandidate(
        record, held, [&hasher](const CString& file, HANDLE handle) { return HasherDigest(hasher, file, handle); },
        digest, false, false);
    if (verdict != kAccepted) return -1;
    TakeHold(record, held.Take(), digest);
    record.m_checkState = 3;
    return 1;
}

bool CarriesExpectedDigest(const CString& expected) {
    int run = 0;
    for (int i = 0; i < expected.GetLength(); ++i) {
        run = iswxdigit(expected[i]) ? run + 1 : 0;
        if (run >= 32) return true;
    }
    return false;
}

int VerifyDownloadedFile(COnlinefileinfo& record, Md5Hasher& hasher) {
    if (record.m_checkState != 1) return 1;
    // The engine has closed the file: it is held from here on, so the bytes
    // digested are the bytes used. A file that cannot be held now (someone
    // else has it open) is not accepted, and is left where it is.
    CString path = GetLocalPath(record);
    HeldCandidate held(path);
    if (!held.Held()) return 0;
    // A record without an expected digest keeps the old rules: mode 0, or a
    // download from its last two mirrors, is taken as it is. A record with a
    // digest is always checked by it, whatever its mode and its mirror.
    const bool carriesDigest = CarriesExpectedDigest(record.m_expectedMd5);
    const bool withoutDigest =
        !carriesDigest && (record.m_matchMode == 0 || record.m_linkCursor >= record.m_linkCount - 1);
    CString digest;
    if (!withoutDigest) {
        digest = held.Digest([&hasher](const CString& file, HANDLE handle) { return HasherDigest(hasher, file, handle); });
        // A check stopped half-way says nothing about the file: it stays.
        if (!IsUsableDigest(digest) && hasher.Stopped()) return 0;
        bool accepted;
        if (!IsUsableDigest(digest))
            accepted = false;  // an unreadable file is never a match
        else if (record.m_matchMode == 1)
            accepted = ExpectedContains(record, digest) || MatchesVerifiedRecord(record, digest);
        else if (record.m_matchMode == 2 || carriesDigest)
            accepted = ExpectedContains(record, digest);
        else
            accepted = true;
        if (!accepted) {
            if (!held.Shared()) DeleteHeldFile(held.Get());  // another record's file stays
            return 0;
        }
        WriteVerifiedRecord(record, digest);
    }
    TakeHold(record, held.Take(), digest);
    record.m_checkState = 3;
    return 1;
}
