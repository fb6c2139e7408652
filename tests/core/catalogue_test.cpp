// Catalogue records: system-type masks, record copies, and the local-copy and
// download checks over tiny files whose digests the test computes itself.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "core/catalogue.h"
#include "core/ini.h"
#include "core/md5.h"
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

class CatalogueFiles : public testing::Test {
protected:
    void SetUp() override {
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
    } cases[] = {
        {"mode 0 takes any file unread", 0, kBad, kNone, nullptr, 0, kBad},
        {"mode 0 copies from the program folder", 0, kNone, kGood, nullptr, 0, kGood},
        {"mode 1 good", 1, kGood, kNone, nullptr, 0, kGood},
        {"mode 1 bad is deleted", 1, kBad, kNone, nullptr, 1, kNone},
        {"mode 2 bad deleted, good copy fetched", 2, kBad, kGood, nullptr, 0, kGood},
        {"mode 2 both bad: the program folder's is kept", 2, kBad, kBad, nullptr, 1, kNone},
        {"mode 1 verified record in the download folder", 1, kBad, kNone, L"d", 0, kBad},
        {"mode 2 ignores verified records", 2, kBad, kNone, L"d", 1, kNone},
        {"mode 1 verified record in the program folder", 1, kNone, kBad, L"s", 0, kBad},
        {"unknown mode tests nothing, deletes nothing", 5, kBad, kNone, nullptr, 1, kBad},
        {"nothing anywhere", 1, kNone, kNone, nullptr, 1, kNone},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        const std::string* content[] = {nullptr, &m_good, &m_bad};
        if (c.download) WriteWholeFile(In(m_download), *content[c.download]);
        if (c.secondary) WriteWholeFile(In(m_secondary), *content[c.secondary]);
        if (c.recordIn) WriteRecord(c.recordIn[0] == L'd' ? m_download : m_secondary, m_badMd5);
        int result;
        {
            COnlinefileinfo r = Record(c.mode, L"00000000000000000000000000000000|" + m_goodMd5);
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
        {"mode 0 unread", 0, true, false, 3, 1, false, 1, false},
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
        {"unknown mode with digest: accepted with a record", 7, true, false, 3, 1, false, 1, true},
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

TEST_F(CatalogueFiles, VerifiedRecordsAreReadFromThreeFoldersOnce) {
    std::wstring local = m_root + L"\\own";
    CreateDirectoryW(local.c_str(), nullptr);
    const CString a = CryptoApiMd5("a"), b = CryptoApiMd5("b"), c = CryptoApiMd5("c");
    WriteRecord(m_download, a);
    WriteRecord(m_secondary, b);
    WriteRecord(local, c);
    COnlinefileinfo r = Record(1, L"");
    r.m_localFolder = local.c_str();
    EXPECT_FALSE(MatchesVerifiedRecord(r, L""));
    EXPECT_TRUE(MatchesVerifiedRecord(r, a));
    EXPECT_TRUE(MatchesVerifiedRecord(r, b));
    CString lower = c;
    lower.MakeLower();
    EXPECT_TRUE(MatchesVerifiedRecord(r, lower));
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
}

TEST_F(CatalogueFiles, BootEnvironmentCheckRunsOnceAndRecordsACopiedFind) {
    WriteWholeFile(In(m_secondary), m_bad);
    COnlinefileinfo r = Record(1, L"");
    r.m_linkCount = 1;
    WriteRecord(m_secondary, m_badMd5);  // accepted by the program folder's record
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
