// Catalogue records: system-type masks, record copies, and the local-copy and
// download checks over tiny files whose digests the test computes itself.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <set>
#include <string>

#include "core/catalogue.h"
#include "core/folder_rule.h"
#include "core/ini.h"
#include "core/md5.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "support/test_files.h"

namespace {

// MD5 through CryptoAPI, independent of the program's own digest code.
CString CryptoApiMd5(const std::string& data) {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[16] = {};
    DWORD size = sizeof(digest);
    CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    CryptCreateHash(prov, CALG_MD5, 0, 0, &hash);
    CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), (DWORD)data.size(), 0);
    CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
    CString text;
    for (BYTE b : digest) text.AppendFormat(L"%02X", b);
    return text;
}

TEST(SystemTypeMask, TokensOrTheirBitsIn) {
    struct Case {
        const wchar_t* tokens;
        BYTE before;
        BYTE after;
    } cases[] = {
        {L"win764-fwin1064-unknown", 0x80, 0x80 | 0x20 | 0x40},
        {L"XP", 0x80, 0x81},
        {L"--fxp--win832-", 0x80, 0x83},
        {L"win1032-fwin732-win864", 0x80, 0x80 | 0x04 | 0x08 | 0x10},
        {L"", 0x80, 0x80},
        {L"xp", 0x80 | 0x40, 0x80 | 0x40 | 0x01},  // not cleared first
    };
    for (const Case& c : cases) {
        COnlinefileinfo record;
        record.m_systemTokens = c.tokens;
        record.m_systemMask = c.before;
        ParseSystemTokens(record);
        EXPECT_EQ(c.after, record.m_systemMask) << c.tokens;
    }
    COsCatInfo category(L"Win1032", 3);
    EXPECT_STREQ(L"Win1032", category.m_id);
    EXPECT_EQ(0x84, category.m_systemMask);
    EXPECT_EQ(3, category.m_displayGroup);
    EXPECT_EQ(1, category.m_enabled);
    EXPECT_TRUE(category.m_caption.IsEmpty());
    EXPECT_EQ(0x80, COsCatInfo(L"win11", 0).m_systemMask);
}

TEST(COnlinefileinfo, DefaultsAndReset) {
    COnlinefileinfo record(L"w10", 2);
    EXPECT_STREQ(L"w10", record.m_sectionName);
    EXPECT_EQ(2, record.m_displayGroup);
    EXPECT_EQ(1, record.m_number);
    EXPECT_EQ(-1, record.m_linkedFileIndex);
    EXPECT_EQ(1, record.m_required);
    EXPECT_EQ(0, record.m_requiredUsb);
    EXPECT_EQ(0x80, record.m_systemMask);
    EXPECT_EQ(INVALID_HANDLE_VALUE, record.m_fileHandle);
    for (int i : record.m_linkIndices) EXPECT_EQ(-1, i);
    EXPECT_TRUE(record.m_localFolder.IsEmpty());
    record.m_usbOffer = 1;
    record.m_matchMode = 2;
    record.m_linkCount = 3;
    record.Reset();
    EXPECT_EQ(1, record.m_usbOffer) << "Reset keeps the USB offer";
    EXPECT_EQ(0, record.m_matchMode);
    EXPECT_EQ(0, record.m_linkCount);
    EXPECT_TRUE(record.m_sectionName.IsEmpty());
}

// The folder rule of these tests, over the real files: Wine keeps no owners
// or access lists here, so the test names the folders another account can
// write; every other plain folder passes.
class ScriptedFolders : public IFolderRule {
public:
    std::set<std::wstring> open;  // upper-case paths

    FolderState JudgeFolder(const wchar_t* path) override {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) return FolderState::kMissing;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderState::kNotFolder;
        return open.count(Upper(path)) ? FolderState::kOthersWrite : FolderState::kTrusted;
    }
    bool OthersCanWrite(const wchar_t* folder) override { return JudgeFolder(folder) != FolderState::kTrusted; }
    BOOL CreateOwnFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
    BOOL ProtectFolder(const wchar_t* path) override { return open.erase(Upper(path)) ? TRUE : FALSE; }
    BOOL RemoveLink(const wchar_t*) override { return FALSE; }
    BOOL MoveAside(const wchar_t*) override { return FALSE; }
    CString FinalPath(const wchar_t* path) override { return path; }
    void Open(const std::wstring& folder) { open.insert(Upper(folder)); }

private:
    static std::wstring Upper(std::wstring s) {
        for (auto& c : s) c = (wchar_t)towupper(c);
        return s;
    }
};

class CatalogueFiles : public testing::Test {
protected:
    void SetUp() override {
        m_previousRule = SetFolderRule(&m_folders);
        m_folders.open.clear();
        m_root = MakeTempFolder(L"catalogue");
        m_download = m_root + L"\\data";
        m_secondary = m_root + L"\\program";
        CreateDirectoryW(m_download.c_str(), nullptr);
        CreateDirectoryW(m_secondary.c_str(), nullptr);
        SetDownloadFolders(m_download.c_str(), L"kvt_records.ini", L"kvt_records", L"record-pw", m_secondary.c_str());
    }
    void TearDown() override {
        SetDownloadFolders(L"", L"", L"", L"", L"");
        RemoveTree(m_root);
        SetFolderRule(m_previousRule);
    }
    static std::wstring In(const std::wstring& folder) { return folder + L"\\w10.iso"; }
    COnlinefileinfo Record(int mode, const CString& expected) {
        COnlinefileinfo r(L"w10", 0);
        r.m_fileName = L"w10.iso";
        r.m_matchMode = mode;
        r.m_expectedMd5 = expected;
        return r;
    }
    // A verified record for `digest` in the record INI of `folder`.
    void WriteRecord(const std::wstring& folder, const CString& digest) {
        CIni ini((folder + L"\\kvt_records.ini").c_str());
        ini.SetSection(L"kvt_records");
        ini.WriteString(L"w10", EncryptToHex(digest, L"record-pw"));
    }
    CString ReadRecord(const std::wstring& folder) {
        CIni ini((folder + L"\\kvt_records.ini").c_str());
        ini.SetSection(L"kvt_records");
        CString v = ini.ReadWideValue(L"w10", L"");
        return v.IsEmpty() ? v : DecryptFromHex(v, L"record-pw");
    }

    const std::string m_good = "the good image, tiny";
    const std::string m_bad = "a broken image, tiny!";
    const CString m_goodMd5 = CryptoApiMd5(m_good);
    const CString m_badMd5 = CryptoApiMd5(m_bad);
    std::wstring m_root, m_download, m_secondary;
    ScriptedFolders m_folders;
    IFolderRule* m_previousRule = nullptr;
};

TEST_F(CatalogueFiles, LocalCopyTable) {
    enum Where { kNone, kGood, kBad };
    struct Case {
        const char* what;
        int mode;
        Where download, secondary;
        const wchar_t* recordIn;  // folder tag with a verified record of the bad digest: "d", "s" or null
        int result;               // 1 download needed, 0 accepted
        Where downloadAfter;
        bool secondaryOpen = false;       // another account can write the program's folder (a stick, a data drive)
        bool downloadDistrusted = false;  // the data folder let others in until this run
        bool withoutDigest = false;       // the record carries no expected digest
        bool readOnlyDownload = false;    // the download folder's file is read-only
    } cases[] = {
        {"mode 0 without a digest takes any file unread", 0, kBad, kNone, nullptr, 0, kBad, false, false, true},
        {"mode 0 with a digest: the right file", 0, kGood, kNone, nullptr, 0, kGood},
        {"mode 0 with a digest: a wrong file is deleted", 0, kBad, kNone, nullptr, 1, kNone},
        {"mode 0 with a digest: a wrong file beside the program is kept, not taken", 0, kNone, kBad, nullptr, 1, kNone},
        {"mode 0 with a digest: a wrong file deleted, the right one fetched", 0, kBad, kGood, nullptr, 0, kGood},
        {"mode 0 with a digest: a verified record vouches for nothing", 0, kBad, kNone, L"d", 1, kNone},
        {"mode 0 copies from the program folder", 0, kNone, kGood, nullptr, 0, kGood},
        {"mode 1 good", 1, kGood, kNone, nullptr, 0, kGood},
        {"mode 1 bad is deleted", 1, kBad, kNone, nullptr, 1, kNone},
        {"mode 1 bad and read-only is deleted", 1, kBad, kNone, nullptr, 1, kNone, false, false, false, true},
        {"mode 2 bad deleted, good copy fetched", 2, kBad, kGood, nullptr, 0, kGood},
        {"mode 2 both bad: the program folder's is kept", 2, kBad, kBad, nullptr, 1, kNone},
        {"mode 1 verified record in the download folder", 1, kBad, kNone, L"d", 0, kBad},
        {"mode 2 ignores verified records", 2, kBad, kNone, L"d", 1, kNone},
        {"mode 1: a records file beside the program vouches for nothing", 1, kNone, kBad, L"s", 1, kNone},
        {"mode 1: nor beside the program on a stick", 1, kNone, kBad, L"s", 1, kNone, true},
        {"mode 0 in a folder others can write: a bad copy is not taken", 0, kNone, kBad, nullptr, 1, kNone, true},
        {"mode 0 in a folder others can write: a good copy by its digest", 0, kNone, kGood, nullptr, 0, kGood, true},
        {"mode 1 in a folder others can write: by the digest too", 1, kNone, kGood, nullptr, 0, kGood, true},
        {"no digest: nothing is taken from a folder others can write", 0, kNone, kGood, nullptr, 1, kNone, true, false,
         true},
        {"no digest: from a folder no one else can write, as before", 0, kNone, kGood, nullptr, 0, kGood, false, false,
         true},
        {"a data folder that let others in: a copy there counts only by its digest", 0, kBad, kNone, nullptr, 1, kNone,
         false, true},
        {"a data folder that let others in: a good copy there still counts", 0, kGood, kNone, nullptr, 0, kGood, false,
         true},
        {"a data folder that let others in: its records file is gone", 1, kBad, kNone, L"d", 1, kNone, false, true},
        {"unknown mode tests nothing, deletes nothing", 5, kBad, kNone, nullptr, 1, kBad},
        {"nothing anywhere", 1, kNone, kNone, nullptr, 1, kNone},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        const std::string* content[] = {nullptr, &m_good, &m_bad};
        if (c.download) WriteWholeFile(In(m_download), *content[c.download]);
        if (c.readOnlyDownload) SetFileAttributesW(In(m_download).c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.secondary) WriteWholeFile(In(m_secondary), *content[c.secondary]);
        if (c.recordIn) WriteRecord(c.recordIn[0] == L'd' ? m_download : m_secondary, m_badMd5);
        if (c.secondaryOpen) m_folders.Open(m_secondary);
        if (c.downloadDistrusted) {
            DistrustDownloadFolderContents();
            EXPECT_FALSE(FileExists(m_download + L"\\kvt_records.ini")) << c.what;
        }
        int result;
        {
            COnlinefileinfo r =
                Record(c.mode, c.withoutDigest ? CString(L"W10_NODIGEST")
                                               : L"00000000000000000000000000000000|" + m_goodMd5);
            Md5Hasher hasher;
            result = CheckLocalCopy(r, hasher);
            EXPECT_EQ(c.result, result) << c.what;
            EXPECT_EQ(c.result ? 1 : 2, r.m_checkState) << c.what;
            EXPECT_EQ(c.result == 0, r.m_fileHandle != INVALID_HANDLE_VALUE) << c.what;
            if (c.result == 0) EXPECT_EQ((LONGLONG)content[c.downloadAfter]->size(), r.m_fileSize) << c.what;
        }
        std::string after = ReadWholeFile(In(m_download));
        EXPECT_EQ(c.downloadAfter != kNone, FileExists(In(m_download))) << c.what;
        if (c.downloadAfter != kNone) EXPECT_TRUE(after == *content[c.downloadAfter]) << c.what;
        if (c.secondary) EXPECT_TRUE(FileExists(In(m_secondary))) << c.what << ": the program folder's copy is kept";
    }
}

TEST_F(CatalogueFiles, UnreadableFileIsNeverAMatch) {
    WriteWholeFile(In(m_download), m_good);
    HANDLE lock = CreateFileW(In(m_download).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    COnlinefileinfo r = Record(1, m_goodMd5);
    Md5Hasher hasher;
    EXPECT_EQ(1, CheckLocalCopy(r, hasher));
    EXPECT_EQ(1, r.m_checkState);
    r.m_linkCount = 1;
    r.m_linkCursor = 1;
    EXPECT_EQ(0, VerifyDownloadedFile(r, hasher)) << "not even from the last mirror";
    CloseHandle(lock);
}

TEST_F(CatalogueFiles, AVerificationStoppedHalfWayLeavesTheDownloadedFile) {
    // The exit stops the queue while the finished download is being checked:
    // nothing is known about the file then, so it stays for the next run.
    WriteWholeFile(In(m_download), std::string(5 * 8192, 'g'));
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        COnlinefileinfo r = Record(mode, m_goodMd5);
        r.m_checkState = 1;
        Md5Hasher hasher;
        hasher.m_afterBlock = [&hasher] { hasher.Stop(); };
        EXPECT_EQ(0, VerifyDownloadedFile(r, hasher));
        EXPECT_EQ(1, r.m_checkState);
        EXPECT_TRUE(FileExists(In(m_download)));
    }
    // Not stopped, the same file is the wrong one and goes.
    COnlinefileinfo r = Record(2, m_goodMd5);
    r.m_checkState = 1;
    Md5Hasher hasher;
    EXPECT_EQ(0, VerifyDownloadedFile(r, hasher));
    EXPECT_FALSE(FileExists(In(m_download)));
}

TEST_F(CatalogueFiles, CandidateLockedByAnotherProgramIsLeft) {
    // Another program holds the file open, allowing deletion but no reading
    // (as a copier or a virus scanner may): the check cannot read it now, so
    // it is not valid, and it stays for a later check.
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        WriteWholeFile(In(m_download), m_good);
        HANDLE lock =
            CreateFileW(In(m_download).c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, lock);
        COnlinefileinfo r = Record(mode, m_goodMd5);
        Md5Hasher hasher;
        EXPECT_EQ(1, CheckLocalCopy(r, hasher));
        EXPECT_EQ(1, r.m_checkState);
        CloseHandle(lock);  // a delete asked for meanwhile would take effect now
        EXPECT_TRUE(FileExists(In(m_download)));
        EXPECT_EQ(m_good, ReadWholeFile(In(m_download)));
    }
    // An empty file is read fine and is no copy: it goes.
    WriteWholeFile(In(m_download), "");
    COnlinefileinfo r = Record(1, m_goodMd5);
    Md5Hasher hasher;
    EXPECT_EQ(1, CheckLocalCopy(r, hasher));
    EXPECT_FALSE(FileExists(In(m_download)));
}

TEST_F(CatalogueFiles, FindThatCannotBeCopiedIsNotAccepted) {
    // The download folder is gone: a find in the program folder cannot be
    // copied there, and the record's path would name a missing file.
    WriteWholeFile(In(m_secondary), m_good);
    RemoveTree(m_download);
    COnlinefileinfo r = Record(2, m_goodMd5);
    Md5Hasher hasher;
    EXPECT_EQ(1, CheckLocalCopy(r, hasher));
    EXPECT_EQ(1, r.m_checkState);
    // With the record's own folder, a find there is where its path points.
    r.m_localFolder = m_secondary.c_str();
    EXPECT_EQ(0, CheckLocalCopy(r, hasher));
    EXPECT_EQ(2, r.m_checkState);
    EXPECT_STREQ(In(m_secondary).c_str(), GetLocalPath(r));
}

TEST_F(CatalogueFiles, HeldCandidateInTheDownloadFolderNeverPassesForTheGoodCopy) {
    // A bad candidate 1 that another program holds cannot be deleted, and the
    // good copy from the program folder cannot be written over it: the
    // record's path still names the bad file, so nothing is accepted.
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        WriteWholeFile(In(m_download), m_bad);
        WriteWholeFile(In(m_secondary), m_good);
        HANDLE lock = CreateFileW(In(m_download).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, lock);
        {
            COnlinefileinfo r = Record(mode, m_goodMd5);
            Md5Hasher hasher;
            EXPECT_EQ(1, CheckLocalCopy(r, hasher));
            EXPECT_EQ(1, r.m_checkState);
            EXPECT_EQ(INVALID_HANDLE_VALUE, r.m_fileHandle);
            COnlinefileinfo pe = Record(mode, m_goodMd5);
            CheckPeFile(pe);
            EXPECT_EQ(1, pe.m_checkState);
            EXPECT_TRUE(ReadRecord(m_download).IsEmpty()) << "no record for a copy that was never made";
        }
        CloseHandle(lock);
        EXPECT_EQ(m_bad, ReadWholeFile(In(m_download)));
        // Once the other program lets go, the next check replaces it (mode 0
        // too: the record carries a digest).
        COnlinefileinfo r = Record(mode, m_goodMd5);
        Md5Hasher hasher;
        EXPECT_EQ(0, CheckLocalCopy(r, hasher));
        EXPECT_EQ(2, r.m_checkState);
        r.Reset();
        EXPECT_EQ(m_good, ReadWholeFile(In(m_download)));
    }
}

TEST_F(CatalogueFiles, FileThatAnotherProgramMayStillWriteIsNeverAccepted) {
    // The other program shares everything, so the digest could be read;
    // what it writes after the digest would be the file used.
    struct Case {
        const char* what;
        bool inProgramFolder;  // else the download folder
        bool download;         // VerifyDownloadedFile, else CheckLocalCopy
    } cases[] = {
        {"local copy in the download folder", false, false},
        {"local copy in the program folder", true, false},
        {"finished download", false, true},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        const std::wstring path = In(c.inProgramFolder ? m_secondary : m_download);
        WriteWholeFile(path, m_good);
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, writer) << c.what;
        COnlinefileinfo r = Record(2, m_goodMd5);
        Md5Hasher hasher;
        if (c.download) {
            r.m_checkState = 1;
            r.m_linkCount = 3;
            r.m_linkCursor = 1;
            EXPECT_EQ(0, VerifyDownloadedFile(r, hasher)) << c.what;
        } else {
            EXPECT_EQ(1, CheckLocalCopy(r, hasher)) << c.what;
        }
        EXPECT_EQ(1, r.m_checkState) << c.what;
        // What the other program writes now is what an accepted record would use.
        DWORD written = 0;
        WriteFile(writer, m_bad.data(), (DWORD)m_bad.size(), &written, nullptr);
        CloseHandle(writer);
        EXPECT_FALSE(c.inProgramFolder && FileExists(In(m_download))) << c.what << ": nothing copied";
    }
}

TEST_F(CatalogueFiles, AcceptedFileIsHeldUntilTheRecordGoes) {
    enum How { kInDownloadFolder, kCopiedFromProgramFolder, kDownloaded, kDownloadedUnread };
    for (How how : {kInDownloadFolder, kCopiedFromProgramFolder, kDownloaded, kDownloadedUnread}) {
        SCOPED_TRACE(how);
        TearDown();
        SetUp();
        WriteWholeFile(In(how == kCopiedFromProgramFolder ? m_secondary : m_download), m_good);
        const std::wstring path = In(m_download);
        const std::wstring elsewhere = m_root + L"\\elsewhere\\w10.iso";
        {
            COnlinefileinfo r = how == kDownloadedUnread ? Record(0, L"W10_NODIGEST") : Record(2, m_goodMd5);
            Md5Hasher hasher;
            if (how == kDownloaded || how == kDownloadedUnread) {
                r.m_checkState = 1;
                r.m_linkCount = 3;
                r.m_linkCursor = 1;
                ASSERT_EQ(1, VerifyDownloadedFile(r, hasher));
            } else {
                ASSERT_EQ(0, CheckLocalCopy(r, hasher));
            }
            ASSERT_NE(INVALID_HANDLE_VALUE, r.m_fileHandle);
            EXPECT_EQ((LONGLONG)m_good.size(), r.m_fileSize);
            // Nobody else writes, replaces or deletes it now.
            EXPECT_EQ(INVALID_HANDLE_VALUE,
                      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
            EXPECT_FALSE(DeleteFileW(path.c_str()));
            EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".old").c_str()));
            // The record's copies hold it as well; the program's own copies
            // of it (the staging copy, the USB disk) still read it.
            CArray<COnlinefileinfo> list;
            list.Add(r);
            r.Reset();
            EXPECT_FALSE(DeleteFileW(path.c_str())) << "the copy holds it";
            EXPECT_GT(CopyFileEnsureFolder(path.c_str(), elsewhere.c_str(), TRUE), 0);
            EXPECT_EQ(m_good, ReadWholeFile(elsewhere));
            char buf[64] = {};
            DWORD n = 0;
            SetFilePointer(list[0].m_fileHandle, 0, nullptr, FILE_BEGIN);
            ASSERT_TRUE(ReadFile(list[0].m_fileHandle, buf, sizeof(buf), &n, nullptr));
            EXPECT_EQ(m_good, std::string(buf, n));
        }
        EXPECT_TRUE(DeleteFileW(path.c_str())) << "let go with the last record";
    }
}

TEST_F(CatalogueFiles, DownloadCheckTable) {
    const CString kPlaceholder = L"W10_NODIGEST";
    struct Case {
        const char* what;
        int mode;
        bool withDigest;  // else the placeholder
        bool goodFile;
        int linkCount, cursor;  // the cursor is already past the mirror used
        bool recordOfBad;
        int result;
        bool recordWritten;
    } cases[] = {
        {"mode 0 without a digest: unread", 0, false, false, 3, 1, false, 1, false},
        {"mode 0, digest, good, first mirror", 0, true, true, 3, 1, false, 1, true},
        {"mode 0, digest, bad, first mirror", 0, true, false, 3, 1, false, 0, false},
        {"mode 0, digest, bad, last mirror", 0, true, false, 3, 3, false, 0, false},
        {"mode 0, digest, bad, verified record", 0, true, false, 3, 1, true, 0, false},
        {"mode 1, digest, good, last mirror", 1, true, true, 3, 3, false, 1, true},
        {"mode 1, digest, bad, only mirror", 1, true, false, 1, 1, false, 0, false},
        {"digest, good, first mirror", 2, true, true, 3, 1, false, 1, true},
        {"digest, bad, first mirror", 2, true, false, 3, 1, false, 0, false},
        {"digest, bad, second mirror", 2, true, false, 3, 2, false, 0, false},
        {"digest, bad, last mirror", 2, true, false, 3, 3, false, 0, false},
        {"digest, bad, only mirror", 2, true, false, 1, 1, false, 0, false},
        {"digest, bad, verified record, mode 1", 1, true, false, 3, 1, true, 1, true},
        {"digest, bad, verified record, mode 2", 2, true, false, 3, 1, true, 0, false},
        {"no digest, first of three", 2, false, false, 3, 1, false, 0, false},
        {"no digest, second of three", 2, false, false, 3, 2, false, 1, false},
        {"no digest, last of three", 2, false, false, 3, 3, false, 1, false},
        {"no digest, one mirror", 1, false, false, 1, 1, false, 1, false},
        {"unknown mode, digest, bad: rejected", 7, true, false, 3, 1, false, 0, false},
        {"unknown mode, digest, good: accepted with a record", 7, true, true, 3, 1, false, 1, true},
        {"unknown mode without a digest: accepted with a record", 7, false, false, 3, 1, false, 1, true},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        WriteWholeFile(In(m_download), c.goodFile ? m_good : m_bad);
        if (c.recordOfBad) WriteRecord(m_download, m_badMd5);
        COnlinefileinfo r = Record(c.mode, c.withDigest ? m_goodMd5 : kPlaceholder);
        r.m_checkState = 1;
        r.m_linkCount = c.linkCount;
        r.m_linkCursor = c.cursor;
        Md5Hasher hasher;
        EXPECT_EQ(c.result, VerifyDownloadedFile(r, hasher)) << c.what;
        EXPECT_EQ(c.result ? 3 : 1, r.m_checkState) << c.what;
        EXPECT_EQ(c.result == 1, FileExists(In(m_download))) << c.what << ": a rejected file is deleted";
        CString record = ReadRecord(m_download);
        if (c.recordWritten)
            EXPECT_STREQ(c.goodFile ? m_goodMd5 : m_badMd5, record) << c.what;
        else if (!c.recordOfBad)
            EXPECT_TRUE(record.IsEmpty()) << c.what;
    }
}

TEST_F(CatalogueFiles, DownloadCheckActsOnlyWhileWaiting) {
    WriteWholeFile(In(m_download), m_bad);
    for (int state : {0, 2, 3}) {
        COnlinefileinfo r = Record(2, m_goodMd5);
        r.m_checkState = state;
        Md5Hasher hasher;
        EXPECT_EQ(1, VerifyDownloadedFile(r, hasher));
        EXPECT_EQ(state, r.m_checkState);
        EXPECT_TRUE(FileExists(In(m_download)));
    }
}

TEST_F(CatalogueFiles, VerifiedRecordsCountOnlyInTheDataFolderAndAreReadOnce) {
    std::wstring local = m_root + L"\\own";
    CreateDirectoryW(local.c_str(), nullptr);
    const CString a = CryptoApiMd5("a"), b = CryptoApiMd5("b"), c = CryptoApiMd5("c");
    WriteRecord(m_download, a);
    WriteRecord(m_secondary, b);
    WriteRecord(local, c);
    COnlinefileinfo r = Record(1, L"");
    r.m_localFolder = local.c_str();
    EXPECT_FALSE(MatchesVerifiedRecord(r, L""));
    CString lower = a;
    lower.MakeLower();
    EXPECT_TRUE(MatchesVerifiedRecord(r, lower));
    // Anyone can make a records file: beside the program or in the
    // record's own folder it vouches for nothing.
    EXPECT_FALSE(MatchesVerifiedRecord(r, b));
    EXPECT_FALSE(MatchesVerifiedRecord(r, c));
    EXPECT_FALSE(MatchesVerifiedRecord(r, CryptoApiMd5("d")));
    // Kept for the record's life: a record written later is not seen.
    WriteRecord(m_download, CryptoApiMd5("d"));
    EXPECT_FALSE(MatchesVerifiedRecord(r, CryptoApiMd5("d")));
    // A missing or undecipherable record matches nothing.
    COnlinefileinfo fresh = Record(1, L"");
    CIni ini((m_download + L"\\kvt_records.ini").c_str());
    ini.SetSection(L"kvt_records");
    ini.WriteString(L"w10", L"not hex");
    SetDownloadFolders(m_download.c_str(), L"kvt_records.ini", L"kvt_records", L"record-pw", L"");
    EXPECT_FALSE(MatchesVerifiedRecord(fresh, a));
    // Nor in a data folder that fails the folder rule.
    WriteRecord(m_download, a);
    m_folders.Open(m_download);
    COnlinefileinfo open = Record(1, L"");
    EXPECT_FALSE(MatchesVerifiedRecord(open, a));
}

TEST_F(CatalogueFiles, BootEnvironmentCheckRunsOnceAndRecordsACopiedFind) {
    WriteWholeFile(In(m_secondary), m_bad);
    COnlinefileinfo r = Record(1, m_badMd5);
    r.m_linkCount = 1;
    CheckPeFile(r);
    EXPECT_EQ(2, r.m_checkState);
    EXPECT_TRUE(ReadWholeFile(In(m_download)) == m_bad);
    EXPECT_STREQ(m_badMd5, ReadRecord(m_download)) << "the copy gets a record in the download folder";
    // A second check of the same record does nothing, even with the file gone.
    CloseHandle(r.m_fileHandle);
    r.m_fileHandle = INVALID_HANDLE_VALUE;
    DeleteFileW(In(m_download).c_str());
    CheckPeFile(r);
    EXPECT_EQ(2, r.m_checkState);
    EXPECT_FALSE(FileExists(In(m_download)));
}

TEST_F(CatalogueFiles, BootEnvironmentWithoutAnyDigestKeepsModeZerosChoice) {
    // The run without any configuration: its boot-environment records carry
    // no digest and keep mode 0, so a copy beside the program is taken as it
    // is, even where others can write; the same record in the download
    // check of a configured run is downloaded instead.
    WriteWholeFile(In(m_secondary), m_bad);
    m_folders.Open(m_secondary);
    COnlinefileinfo configured = Record(0, L"");
    Md5Hasher hasher;
    EXPECT_EQ(1, CheckLocalCopy(configured, hasher));
    EXPECT_FALSE(FileExists(In(m_download)));
    COnlinefileinfo r = Record(0, L"");
    CheckPeFile(r);
    EXPECT_EQ(2, r.m_checkState);
    EXPECT_TRUE(ReadWholeFile(In(m_download)) == m_bad);
    // With a digest, the place decides again: only by the digest.
    CloseHandle(r.m_fileHandle);
    r.m_fileHandle = INVALID_HANDLE_VALUE;
    DeleteFileW(In(m_download).c_str());
    COnlinefileinfo digested = Record(0, m_goodMd5);
    CheckPeFile(digested);
    EXPECT_EQ(1, digested.m_checkState);
}

// Two records of one file (two catalogue entries naming the same file):
// the second shares the first one's hold and its digest and is accepted by
// its own rule, whether the first found the file or downloaded it; the file
// stays held until the last of them lets go, and one that the second record
// refuses stays for the first.
TEST_F(CatalogueFiles, TwoRecordsOfOneFileShareItsHold) {
    enum How { kFound, kDownloaded, kFoundUnread };
    const struct {
        const char* what;
        How how;
        int secondMode;
        bool secondRight;  // the second record's digest is the file's
        bool accepted;
    } cases[] = {
        {"found, the same digest", kFound, 2, true, true},
        {"downloaded, the same digest", kDownloaded, 2, true, true},
        {"found, mode 0 without a digest", kFound, 0, false, true},
        {"taken unread by the first, the second digests it", kFoundUnread, 2, true, true},
        {"taken unread by the first, the second's digest differs", kFoundUnread, 2, false, false},
        {"found, the second's digest differs", kFound, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        WriteWholeFile(In(m_download), m_good);
        Md5Hasher hasher;
        auto first = std::make_unique<COnlinefileinfo>(c.how == kFoundUnread ? Record(0, L"W10_NODIGEST")
                                                                              : Record(2, m_goodMd5));
        if (c.how == kDownloaded) {
            first->m_checkState = 1;
            first->m_linkCount = 3;
            first->m_linkCursor = 1;
            ASSERT_EQ(1, VerifyDownloadedFile(*first, hasher));
        } else {
            ASSERT_EQ(0, CheckLocalCopy(*first, hasher));
        }
        ASSERT_NE(INVALID_HANDLE_VALUE, first->m_fileHandle);
        COnlinefileinfo second =
            Record(c.secondMode, c.secondMode == 0 ? CString(L"W10_NODIGEST") : (c.secondRight ? m_goodMd5 : m_badMd5));
        second.m_sectionName = L"w10_again";
        EXPECT_TRUE(HeldByAnotherRecord(second));
        EXPECT_EQ(c.accepted ? 0 : 1, CheckLocalCopy(second, hasher));
        EXPECT_EQ(c.accepted ? 2 : 1, second.m_checkState);
        EXPECT_EQ(c.accepted, second.m_fileHandle != INVALID_HANDLE_VALUE);
        EXPECT_EQ(m_good, ReadWholeFile(In(m_download))) << "the file stays as the first accepted it";
        if (c.accepted) {
            EXPECT_EQ((LONGLONG)m_good.size(), second.m_fileSize);
            // Taken in the queue's way as well: the second counts as downloaded.
            COnlinefileinfo third = second;
            third.Reset();
            third.m_fileName = L"w10.iso";
            third.m_matchMode = 0;
            third.m_expectedMd5 = L"W10_NODIGEST";
            third.m_checkState = 1;
            EXPECT_EQ(1, AdoptHeldFile(third, hasher));
            EXPECT_EQ(3, third.m_checkState);
        } else {
            COnlinefileinfo again = second;
            again.m_checkState = 1;
            EXPECT_EQ(-1, AdoptHeldFile(again, hasher)) << "refused, and never deleted";
            EXPECT_TRUE(FileExists(In(m_download)));
        }
        // Held while any record holds it; the last one lets go.
        first.reset();
        if (c.accepted) {
            EXPECT_FALSE(DeleteFileW(In(m_download).c_str())) << "the second record still holds it";
            second.Reset();
        }
        EXPECT_FALSE(HeldByAnotherRecord(Record(2, m_goodMd5)));
        EXPECT_TRUE(DeleteFileW(In(m_download).c_str())) << "let go with the last record";
    }
}

TEST_F(CatalogueFiles, CopiesNeverShareOrCloseTheOwnersHandle) {
    WriteWholeFile(In(m_download), m_good);
    CArray<COnlinefileinfo> list;
    {
        COnlinefileinfo r = Record(0, L"");
        OpenLocalFile(r);
        ASSERT_NE(INVALID_HANDLE_VALUE, r.m_fileHandle);
        EXPECT_EQ((LONGLONG)m_good.size(), r.m_fileSize);
        list.Add(r);  // a copy, as the parser appends
        EXPECT_NE(r.m_fileHandle, list[0].m_fileHandle);
    }  // the original closes its own handle only
    for (int i = 0; i < 40; ++i) list.Add(COnlinefileinfo());  // growth moves the records
    char buf[64] = {};
    DWORD n = 0;
    SetFilePointer(list[0].m_fileHandle, 0, nullptr, FILE_BEGIN);
    ASSERT_TRUE(ReadFile(list[0].m_fileHandle, buf, sizeof(buf), &n, nullptr));
    EXPECT_EQ(m_good, std::string(buf, n));
    // Held open: the file cannot be deleted while a record holds it...
    EXPECT_FALSE(DeleteFileW(In(m_download).c_str()));
    list.RemoveAll();
    // ...and can be once every record is gone.
    EXPECT_TRUE(DeleteFileW(In(m_download).c_str()));
}

TEST(GetLocalPath, OwnFolderThenDownloadFolderThenName) {
    COnlinefileinfo r;
    r.m_fileName = L"x.iso";
    SetDownloadFolders(L"", L"", L"", L"", L"");
    EXPECT_STREQ(L"x.iso", GetLocalPath(r));
    SetDownloadFolders(L"D:\\kvt", L"r.ini", L"s", L"p", L"C:\\prog");
    EXPECT_STREQ(L"D:\\kvt\\x.iso", GetLocalPath(r));
    EXPECT_STREQ(L"D:\\kvt\\r.ini", g_RecordIniPath);
    EXPECT_STREQ(L"C:\\prog", g_SecondaryFolder);
    r.m_localFolder = L"E:\\own";
    EXPECT_STREQ(L"E:\\own\\x.iso", GetLocalPath(r));
    SetDownloadFolders(L"", L"", L"", L"", L"");
}

TEST(CarriesExpectedDigest, NeedsThirtyTwoHexDigits) {
    EXPECT_TRUE(CarriesExpectedDigest(L"900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_TRUE(CarriesExpectedDigest(L"x|900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_FALSE(CarriesExpectedDigest(L""));
    EXPECT_FALSE(CarriesExpectedDigest(L"10PE_NOMD5"));
    EXPECT_FALSE(CarriesExpectedDigest(L"900150983CD24FB0D6963F7D28E17F7"));
}

}  // namespace
