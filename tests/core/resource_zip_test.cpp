// The in-memory zip reader over archives that Python's zipfile made when the
// tests were built (reader.zip, hostile.zip), and damaged copies of them.
#include <gtest/gtest.h>

#include <process.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/resource_zip.h"
#include "payload_test_support.h"
#include "utils_test_support.h"

namespace {

// Entries of reader.zip, in archive order.
enum {
    kStored, kDeflated, kFolder, kDosHidden, kUnixReadOnly, kUnixWritable, kUnixDir,
    kStamped, kMOnly, kOneSame, kTwoSame, kMixedCase, kEmpty, kChinese, kEntryCount
};

std::string DeflatedContent() {
    std::string s;
    for (int i = 0; i < 5000; ++i) s.push_back((char)((i * 7 + i / 13) & 0xFF));
    return s;
}

ULONGLONG Value(const FILETIME& ft) { return ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime; }
ULONGLONG FromUnix(LONGLONG t) { return (ULONGLONG)(t * 10000000LL + 116444736000000000LL); }

// The DOS time of the entries, taken as local time.
ULONGLONG DosTimeAsUtc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return Value(utc);
}

std::string Fixture(const wchar_t* name) { return ReadBytes(PayloadFixture(name)); }

// Offsets of an entry's headers in a zip's bytes, found by its name: the
// local header is the first occurrence, the central one the second.
size_t LocalHeader(const std::string& zip, const char* name) { return zip.find(name) - 30; }
size_t CentralHeader(const std::string& zip, const char* name) { return zip.find(name, zip.find(name) + 1) - 46; }
void Put16(std::string& s, size_t at, unsigned v) { s[at] = (char)v, s[at + 1] = (char)(v >> 8); }
void Put32(std::string& s, size_t at, DWORD v) { for (int i = 0; i < 4; ++i) s[at + i] = (char)(v >> (8 * i)); }

// A CResourceZip over a malloc copy of the bytes.
struct ZipOver {
    CResourceZip zip;
    explicit ZipOver(const std::string& bytes) { zip.Attach(MallocCopy(bytes), (int)bytes.size(), 0); }
};

std::string Extracted(CResourceZip& zip, int index, DWORD size) {
    BYTE* p = zip.ExtractEntry(index);
    if (!p) return "<null>";
    std::string s((const char*)p, size);
    free(p);
    return s;
}

}  // namespace

TEST(ZipReader, EntriesNamesAttributesAndTimes) {
    ZipOver z(Fixture(L"reader.zip"));
    ASSERT_EQ(1, z.zip.m_loaded);
    ASSERT_NE(nullptr, z.zip.m_zip);
    ZipEntryRecord count;
    ASSERT_EQ(kZipOk, ZipArchiveGetEntry(z.zip.m_zip, -1, &count));
    EXPECT_EQ(kEntryCount, count.index);

    const ULONGLONG dos = DosTimeAsUtc(2019, 6, 7, 8, 9, 10);
    struct Case {
        int index;
        const wchar_t* name;
        DWORD attributes;
        DWORD size;
        ULONGLONG modified, accessed, created;
    } cases[] = {
        {kStored, L"pics/Stored.png", 0x20, 25, dos, dos, dos},
        {kDeflated, L"pics/deflated.bin", 0x20, 5000, dos, dos, dos},
        {kFolder, L"folder/", 0x10, 0, dos, dos, dos},
        {kDosHidden, L"dos/hidden.txt", 0x27, 14, dos, dos, dos},
        // Entries from a Unix host: the folder bit from the mode, read-only
        // when the owner may not write, archive always.
        {kUnixReadOnly, L"unix/readonly.txt", 0x21, 14, dos, dos, dos},
        {kUnixWritable, L"unix/writable.txt", 0x20, 13, dos, dos, dos},
        {kUnixDir, L"unix/dir/", 0x30, 0, dos, dos, dos},
        // The "UT" extra field sets each time it carries.
        {kStamped, L"ut/stamped.txt", 0x20, 7, FromUnix(1577934245), FromUnix(1577934300), FromUnix(1577930000)},
        {kEmpty, L"empty.dat", 0x20, 0, dos, dos, dos},
        {kChinese, L"中文/图片.png", 0x20, 12, dos, dos, dos},
    };
    for (const Case& c : cases) {
        ZipEntryRecord r;
        ASSERT_EQ(1, z.zip.GetEntryInfo(c.index, &r)) << c.index;
        EXPECT_EQ(c.index, r.index);
        EXPECT_STREQ(c.name, r.name) << c.index;
        EXPECT_EQ(c.attributes, r.attributes) << c.index;
        EXPECT_EQ(c.size, r.uncompressedSize) << c.index;
        EXPECT_EQ(c.modified, Value(r.modificationTime)) << c.index;
        EXPECT_EQ(c.accessed, Value(r.accessTime)) << c.index;
        EXPECT_EQ(c.created, Value(r.creationTime)) << c.index;
    }
    // A UT field with the modification time only, after another sub-field:
    // the other two times stay the DOS time.
    ZipEntryRecord m;
    ASSERT_EQ(1, z.zip.GetEntryInfo(kMOnly, &m));
    EXPECT_EQ(FromUnix(1577934245), Value(m.modificationTime));
    EXPECT_EQ(Value(m.accessTime), Value(m.creationTime));
    EXPECT_NE(Value(m.modificationTime), Value(m.accessTime));
    // The deflated entry is stored smaller than it is.
    ZipEntryRecord d;
    ASSERT_EQ(1, z.zip.GetEntryInfo(kDeflated, &d));
    EXPECT_LT(d.compressedSize, d.uncompressedSize);

    ZipEntryRecord bad;
    EXPECT_EQ(0, z.zip.GetEntryInfo(kEntryCount, &bad));
    EXPECT_EQ(kZipBadArguments, ZipLastError());
    EXPECT_EQ(kZipBadArguments, ZipArchiveGetEntry(z.zip.m_zip, -2, &bad));
    EXPECT_EQ(kZipBadArguments, ZipArchiveGetEntry(nullptr, 0, &bad));
}

TEST(ZipReader, StoredAndDeflatedEntriesComeBackByteExact) {
    ZipOver z(Fixture(L"reader.zip"));
    EXPECT_EQ("\x89PNG stored picture bytes", Extracted(z.zip, kStored, 25));
    EXPECT_TRUE(DeflatedContent() == Extracted(z.zip, kDeflated, 5000));
    EXPECT_EQ("", Extracted(z.zip, kEmpty, 0));
    // In any order: the reader moves back to the first entry when it must.
    EXPECT_EQ("second same", Extracted(z.zip, kTwoSame, 11));
    EXPECT_EQ("\x89PNG stored picture bytes", Extracted(z.zip, kStored, 25));
    // Folders are never returned.
    EXPECT_EQ("<null>", Extracted(z.zip, kFolder, 0));
    EXPECT_EQ("<null>", Extracted(z.zip, kUnixDir, 0));
    EXPECT_EQ("<null>", Extracted(z.zip, kEntryCount, 0));

    // The layer hands a large entry out in parts.
    std::string parts;
    char buffer[1500];
    DWORD code;
    int calls = 0;
    do {
        code = ZipArchiveExtractEntry(z.zip.m_zip, kDeflated, buffer, sizeof buffer);
        ASSERT_TRUE(code == kZipOk || code == kZipMoreData) << std::hex << code;
        parts.append(buffer, code == kZipMoreData ? sizeof buffer : 5000 % sizeof buffer);
        ++calls;
    } while (code == kZipMoreData && calls < 10);
    EXPECT_EQ(4, calls);
    EXPECT_TRUE(DeflatedContent() == parts);
}

TEST(ZipReader, FindEntryBySuffixPrefixAndContains) {
    ZipOver z(Fixture(L"reader.zip"));
    struct Case {
        int mode;
        int start;
        const wchar_t* name;
        int found;  // index, or -1
    } cases[] = {
        {CResourceZip::kFindSuffix, 0, L"same.png", kOneSame},  // the first in archive order
        {CResourceZip::kFindSuffix, kOneSame, L"same.png", kOneSame},  // a search from the found index finds it again
        {CResourceZip::kFindSuffix, kOneSame + 1, L"same.png", kTwoSame},
        {CResourceZip::kFindSuffix, 0, L"TWO/SAME.PNG", kTwoSame},  // letter case ignored
        {CResourceZip::kFindSuffix, 0, L"casename.gif", kMixedCase},
        {CResourceZip::kFindSuffix, 0, L"xone/same.png", -1},  // longer than the entry name
        {CResourceZip::kFindSuffix, 0, L"图片.png", kChinese},
        {CResourceZip::kFindSuffix, 0, L"no-such.png", -1},
        {CResourceZip::kFindPrefix, 0, L"PICS/", kStored},
        {CResourceZip::kFindPrefix, 0, L"unix/w", kUnixWritable},
        {CResourceZip::kFindPrefix, 0, L"same.png", -1},
        {CResourceZip::kFindContains, 0, L"ixed/Case", kMixedCase},
        {CResourceZip::kFindContains, 0, L"/hid", kDosHidden},
        {7, 0, L"dos/", kDosHidden},  // other modes compare prefixes
        {CResourceZip::kFindSuffix, 0, L"", kStored},  // an empty name matches the first entry examined
        {CResourceZip::kFindSuffix, kEntryCount, L"", -1},  // start beyond the last entry
    };
    for (const Case& c : cases) {
        z.zip.m_findMode = c.mode;
        z.zip.m_startIndex = c.start;
        wcscpy(z.zip.m_searchName, c.name);
        ZipEntryRecord r;
        int found = z.zip.FindEntry(&r);
        EXPECT_EQ(c.found >= 0 ? 1 : 0, found) << Narrow(c.name) << " mode " << c.mode;
        if (found) {
            EXPECT_EQ(c.found, r.index) << Narrow(c.name);
            EXPECT_EQ(c.found, z.zip.m_startIndex) << Narrow(c.name);
        }
    }

    DWORD size = 0;
    BYTE* bytes = z.zip.FindAndExtract(CResourceZip::kFindSuffix, L"SAME.png", &size);
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ("first same", std::string((const char*)bytes, size));
    free(bytes);
    EXPECT_EQ(nullptr, z.zip.FindAndExtract(CResourceZip::kFindSuffix, L"folder/", &size));
    EXPECT_EQ(0u, size);
}

TEST(ZipReader, HostileNamesLoseDrivesLeadingSeparatorsAndParentSteps) {
    ZipOver z(Fixture(L"hostile.zip"));
    const wchar_t* expected[] = {L"drive/a.txt", L"lead/b.txt", L"back/c.txt", L"up/d.txt",
                                 L"e.txt",       L"q/f.txt",    L"g.txt"};
    for (int i = 0; i < 7; ++i) {
        ZipEntryRecord r;
        ASSERT_EQ(1, z.zip.GetEntryInfo(i, &r)) << i;
        EXPECT_STREQ(expected[i], r.name) << i;
    }
}

TEST(ZipReader, LongNamesAreCutToTheRecordsLength) {
    // Names of 260 bytes or more: the record holds 259 characters of them.
    ZipOver z(Fixture(L"hostile.zip"));
    std::wstring chinese150(150, L'\u957f'), chinese300(300, L'\u957f');
    const std::wstring expected[] = {
        (L"long/" + std::wstring(300, L'a') + L".png").substr(0, 259),
        chinese150 + L".png",  // 454 bytes, 154 characters: whole
        chinese300.substr(0, 259),
    };
    for (int i = 0; i < 3; ++i) {
        ZipEntryRecord r;
        ASSERT_EQ(1, z.zip.GetEntryInfo(7 + i, &r)) << i;
        EXPECT_EQ(expected[i], std::wstring(r.name)) << i;
    }
}

TEST(ZipReader, DamagedArchivesFailWithoutReadingOutOfBounds) {
    const std::string good = Fixture(L"reader.zip");
    {
        // A broken local header signature: the local header does not match.
        std::string bytes = good;
        bytes[LocalHeader(bytes, "pics/Stored.png") + 3] = 9;
        ZipOver z(bytes);
        ZipEntryRecord r;
        EXPECT_EQ(0, z.zip.GetEntryInfo(kStored, &r));
        EXPECT_EQ(kZipHeaderMismatch, ZipLastError());
        EXPECT_EQ(1, z.zip.GetEntryInfo(kDeflated, &r));  // the others still read
    }
    {
        // A local extra field that runs past the end of the archive.
        std::string bytes = good;
        Put16(bytes, LocalHeader(bytes, "中文/图片.png") + 28, 0xFFFF);
        ZipOver z(bytes);
        ZipEntryRecord r;
        EXPECT_EQ(0, z.zip.GetEntryInfo(kChinese, &r));
        EXPECT_EQ(kZipExtraField, ZipLastError());
    }
    {
        // A "UT" sub-field longer than the extra field: the walk stops and
        // the DOS times stay.
        std::string bytes = good;
        size_t local = LocalHeader(bytes, "ut/stamped.txt");
        size_t extra = local + 30 + strlen("ut/stamped.txt");
        ASSERT_EQ('U', bytes[extra]);
        Put16(bytes, extra + 2, 0xFF00);
        ZipOver z(bytes);
        ZipEntryRecord r;
        ASSERT_EQ(1, z.zip.GetEntryInfo(kStamped, &r));
        EXPECT_EQ(Value(r.accessTime), Value(r.modificationTime));
        EXPECT_NE(FromUnix(1577934245), Value(r.modificationTime));
    }
    {
        // Sizes from the central directory are bounded before they size a
        // buffer, and a size that understates the data fails its CRC.
        std::string bytes = good;
        // (local and central headers agree, or the entry would not even read.)
        Put32(bytes, CentralHeader(bytes, "pics/deflated.bin") + 24, 0xFFFFFFF0u);
        Put32(bytes, LocalHeader(bytes, "pics/deflated.bin") + 22, 0xFFFFFFF0u);
        Put32(bytes, CentralHeader(bytes, "pics/Stored.png") + 24, 10);
        Put32(bytes, LocalHeader(bytes, "pics/Stored.png") + 22, 10);
        ZipOver z(bytes);
        ZipEntryRecord r;
        ASSERT_EQ(1, z.zip.GetEntryInfo(kDeflated, &r));
        EXPECT_EQ(0xFFFFFFF0u, r.uncompressedSize);
        EXPECT_EQ(nullptr, z.zip.ExtractEntry(kDeflated));
        EXPECT_EQ(nullptr, z.zip.ExtractEntry(kStored));
        EXPECT_EQ("first same", Extracted(z.zip, kOneSame, 10));
    }
    {
        // An entry marked as enciphered needs a password, which is never set.
        std::string bytes = good;
        size_t central = CentralHeader(bytes, "one/same.png"), local = LocalHeader(bytes, "one/same.png");
        bytes[central + 8] |= 1;
        bytes[local + 6] |= 1;
        ZipOver z(bytes);
        char buffer[32];
        EXPECT_EQ(kZipPassword, ZipArchiveExtractEntry(z.zip.m_zip, kOneSame, buffer, sizeof buffer));
        EXPECT_EQ(nullptr, z.zip.ExtractEntry(kOneSame));
    }
    {
        // Not an archive: the object closes again and finds nothing.
        CResourceZip zip;
        zip.Attach(MallocCopy(std::string(300, 'z')), 300, 0);
        EXPECT_EQ(0, zip.m_loaded);
        EXPECT_EQ(nullptr, zip.m_zip);
        EXPECT_EQ(nullptr, ZipArchiveOpen("not a zip", 9));
        EXPECT_EQ(kZipCannotOpen, ZipLastError());
        DWORD size = 1;
        EXPECT_EQ(nullptr, zip.FindAndExtract(CResourceZip::kFindSuffix, L"x", &size));
        EXPECT_EQ(0u, size);
    }
}

namespace {

struct Asker {
    CResourceZip* zip;
    int which;
    int wrong;
};

unsigned __stdcall AskMany(void* p) {
    Asker* a = static_cast<Asker*>(p);
    const wchar_t* names[] = {L"same.png", L"deflated.bin", L"casename.gif", L"stored.png"};
    const std::string contents[] = {"first same", DeflatedContent(), "mixed case", "\x89PNG stored picture bytes"};
    for (int i = 0; i < 150; ++i) {
        int k = (a->which + i) % 4;
        DWORD size = 0;
        BYTE* bytes = a->zip->FindAndExtract(CResourceZip::kFindSuffix, names[k], &size);
        if (!bytes || std::string((const char*)bytes, size) != contents[k]) ++a->wrong;
        free(bytes);
    }
    return 0;
}

}  // namespace

TEST(ZipReader, ThreadsAskingAtOnceGetTheirOwnPictures) {
    ZipOver z(Fixture(L"reader.zip"));
    Asker askers[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        askers[i] = {&z.zip, i, 0};
        threads[i] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, AskMany, &askers[i], 0, nullptr));
        ASSERT_NE(nullptr, threads[i]);
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(4, threads, TRUE, 60000));
    for (int i = 0; i < 4; ++i) {
        CloseHandle(threads[i]);
        EXPECT_EQ(0, askers[i].wrong) << "thread " << i;
    }
}
