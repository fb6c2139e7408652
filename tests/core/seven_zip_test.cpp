// 7z extraction with the real 7-Zip library (7z.dll) under Wine, over
// archives that the host 7zz made when the tests were built.
#include <gtest/gtest.h>

#include <string>

#include "core/seven_zip.h"
#include "payload_test_support.h"
#include "utils_test_support.h"

namespace {

// The modification time of every file in tree.7z: 2021-03-04 05:06:08 UTC.
const ULONGLONG kTreeTime = 1614834368ULL * 10000000ULL + 116444736000000000ULL;
const char kMarker[] = "STORED-MARKER-0123456789-";

CString Library() { return PayloadFixture(L"7z.dll"); }

void LoadArchive(CResourceFile& file, const wchar_t* name) {
    std::string bytes = ReadBytes(PayloadFixture(name));
    ASSERT_FALSE(bytes.empty()) << Narrow(name);
    file.Attach(MallocCopy(bytes), (int)bytes.size(), 0);
}

// One client opened over an archive's bytes (kept alive by the object).
struct OpenedClient {
    std::string bytes;
    SevenZipClient client;
    HRESULT opened = E_FAIL;
    explicit OpenedClient(const std::string& archive) : bytes(archive) {
        if (client.Load(Library()) == SevenZipClient::kLoadOk)
            opened = client.OpenMemory(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    }
};

}  // namespace

TEST(SevenZip, ExtractsFoldersEmptyFilesTimesAndAttributes) {
    ScratchFolder out(L"7z-tree");
    CResourceP7z archive(Library());
    LoadArchive(archive, L"tree.7z");
    int attempts = 0;
    ASSERT_TRUE(archive.ExtractTo(out.Path(), &attempts));
    EXPECT_EQ(1, attempts);

    struct File {
        const wchar_t* path;
        const char* content;
        bool readOnly;
    } files[] = {
        {L"top.txt", "top level file\n", false},
        {L"empty.bin", "", false},
        {L"level1\\level2\\deep.txt", "two folders down\n", false},
        {L"level1\\sibling.txt", "beside level2\n", false},
        {L"readonly.txt", "read-only in the archive\n", true},
    };
    for (const File& f : files) {
        CString path = out / f.path;
        DWORD attributes = GetFileAttributesW(path);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << Narrow(f.path);
        EXPECT_EQ(std::string(f.content), ReadBytes(path)) << Narrow(f.path);
        EXPECT_EQ(f.readOnly, (attributes & FILE_ATTRIBUTE_READONLY) != 0) << Narrow(f.path);
        EXPECT_EQ(kTreeTime, LastWriteTime(path)) << Narrow(f.path);
    }
    EXPECT_TRUE(IsFolder(out / L"emptydir"));
    EXPECT_TRUE(IsFolder(out / L"level1\\level2"));
    SetFileAttributesW(out / L"readonly.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(SevenZip, ASecondRunReplacesEveryFileAndAReadOnlyFileInTheWay) {
    ScratchFolder out(L"7z-again");
    // A read-only file already where an item goes, and a changed one.
    CreateDirectoryW(out / L"level1", nullptr);
    CreateDirectoryW(out / L"level1\\level2", nullptr);
    ASSERT_TRUE(WriteBytes(out / L"top.txt", "old and read-only"));
    SetFileAttributesW(out / L"top.txt", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteBytes(out / L"level1\\level2\\deep.txt", "changed"));

    CResourceP7z archive(Library());
    LoadArchive(archive, L"tree.7z");
    // The folder is given once with and once without the trailing separator.
    ASSERT_TRUE(archive.ExtractTo(out.Path() + L"\\"));
    EXPECT_EQ("top level file\n", ReadBytes(out / L"top.txt"));
    EXPECT_EQ(0u, GetFileAttributesW(out / L"top.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("two folders down\n", ReadBytes(out / L"level1\\level2\\deep.txt"));

    ASSERT_TRUE(WriteBytes(out / L"level1\\sibling.txt", "changed again"));
    ASSERT_TRUE(archive.ExtractTo(out.Path()));
    EXPECT_EQ("beside level2\n", ReadBytes(out / L"level1\\sibling.txt"));
    EXPECT_EQ("read-only in the archive\n", ReadBytes(out / L"readonly.txt"));  // read-only from the first run
    SetFileAttributesW(out / L"readonly.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(SevenZip, AFileLockedByAnotherHandleStopsTheExtraction) {
    ScratchFolder out(L"7z-locked");
    ASSERT_TRUE(WriteBytes(out / L"top.txt", "locked"));
    HANDLE lock = CreateFileW(out / L"top.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    OpenedClient c(ReadBytes(PayloadFixture(L"tree.7z")));
    ASSERT_EQ(S_OK, c.opened);
    EXPECT_EQ(SevenZipClient::kExtractCannotReplace, c.client.Extract(out.Path()));
    c.client.Release();
    CloseHandle(lock);
    EXPECT_EQ("locked", ReadBytes(out / L"top.txt"));
}

TEST(SevenZip, PasswordsAndDamagedItemsFailTheAttempt) {
    ScratchFolder out(L"7z-fail");
    {
        // File data enciphered: the extraction asks for a password.
        OpenedClient c(ReadBytes(PayloadFixture(L"password.7z")));
        ASSERT_EQ(S_OK, c.opened);
        EXPECT_EQ(SevenZipClient::kExtractPassword, c.client.Extract(out.Path()));
    }
    {
        // Headers enciphered too: the archive does not even open.
        OpenedClient c(ReadBytes(PayloadFixture(L"headers.7z")));
        EXPECT_NE(S_OK, c.opened);
    }
    {
        // One byte of a stored item changed: the library reports a CRC error
        // for it, and that fails the extraction.
        std::string bytes = ReadBytes(PayloadFixture(L"stored.7z"));
        size_t at = bytes.find(kMarker);
        ASSERT_NE(std::string::npos, at);
        bytes[at + 3] ^= 0x20;
        OpenedClient c(bytes);
        ASSERT_EQ(S_OK, c.opened);
        EXPECT_EQ(SevenZipClient::kExtractDamagedItem, c.client.Extract(out.Path()));
        c.client.Release();

        CResourceP7z archive(Library());
        archive.Attach(MallocCopy(bytes), (int)bytes.size(), 0);
        int attempts = 0;
        EXPECT_FALSE(archive.ExtractTo(out.Path(), &attempts));
        EXPECT_EQ(5, attempts);
    }
    {
        // Bytes that are no archive.
        OpenedClient c(std::string(512, 'x'));
        EXPECT_NE(S_OK, c.opened);
    }
}

TEST(SevenZip, AMissingLibraryFailsFiveTimesQuicklyAndWritesNothing) {
    ScratchFolder out(L"7z-nolib");
    CResourceP7z archive(out / L"no-such-7z.dll");
    LoadArchive(archive, L"tree.7z");
    DWORD started = GetTickCount();
    int attempts = 0;
    EXPECT_FALSE(archive.ExtractTo(out.Path(), &attempts));
    EXPECT_EQ(5, attempts);
    EXPECT_LT(GetTickCount() - started, 5000u);
    EXPECT_TRUE(FolderEntries(out.Path()).empty());

    SevenZipClient client;
    EXPECT_EQ(SevenZipClient::kLoadNoLibrary, client.Load(out / L"no-such-7z.dll"));
    client.Release();
    SevenZipClient notSevenZip;
    EXPECT_EQ(SevenZipClient::kLoadNoCreateObject, notSevenZip.Load(L"kernel32.dll"));
    notSevenZip.Release();

    CResourceP7z empty(Library());
    EXPECT_FALSE(empty.ExtractTo(out.Path(), &attempts));
    EXPECT_EQ(0, attempts);
}

TEST(SevenZip, MemoryStreamReadsShortAtTheEndAndBoundsItsSeeks) {
    BYTE data[100];
    for (int i = 0; i < 100; ++i) data[i] = (BYTE)i;
    InFileStream* stream = new InFileStream;
    stream->AddRef();
    stream->SetMemory(data, 100);

    enum Op { kRead, kSeek };
    struct Step {
        const char* what;
        Op op;
        INT64 a;   // read size or seek offset
        UINT32 b;  // seek origin
        HRESULT result;
        UINT64 position;
        UINT32 processed;  // reads
    } steps[] = {
        {"seek -8 from the end", kSeek, -8, 2, S_OK, 92, 0},
        {"seek to 95", kSeek, 95, 0, S_OK, 95, 0},
        {"a read past the end is short and succeeds", kRead, 10, 0, S_OK, 100, 5},
        {"a read at the end gives nothing and succeeds", kRead, 4, 0, S_OK, 100, 0},
        {"seek beyond the size is refused", kSeek, 101, 0, E_FAIL, 100, 0},
        {"seek below zero is refused", kSeek, -1, 0, E_FAIL, 100, 0},
        {"seek after the end is refused", kSeek, 1, 2, E_FAIL, 100, 0},
        {"seek before the start from the end is refused", kSeek, -101, 2, E_FAIL, 100, 0},
        {"seek to the start from the end", kSeek, -100, 2, S_OK, 0, 0},
        {"seek back past the start is refused", kSeek, -1, 1, E_FAIL, 0, 0},
        {"seek forward", kSeek, 40, 1, S_OK, 40, 0},
        {"origin 3 stays", kSeek, 7, 3, S_OK, 40, 0},
        {"origin 4 is no function", kSeek, 0, 4, STG_E_INVALIDFUNCTION, 40, 0},
        {"a read within the data", kRead, 3, 0, S_OK, 43, 3},
        {"seek far forward from the current place is refused", kSeek, 61, 1, E_FAIL, 43, 0},
    };
    for (const Step& s : steps) {
        HRESULT hr;
        UINT32 processed = 0xDEAD;
        BYTE buffer[16] = {};
        if (s.op == kRead) {
            UINT64 from = stream->m_position;
            hr = stream->Read(buffer, (UINT32)s.a, &processed);
            EXPECT_EQ(s.processed, processed) << s.what;
            for (UINT32 i = 0; i < processed && i < 16; ++i) EXPECT_EQ((BYTE)(from + i), buffer[i]) << s.what;
        } else {
            UINT64 reported = 0xFFFF;
            hr = stream->Seek(s.a, s.b, &reported);
            if (hr == S_OK) EXPECT_EQ(s.position, reported) << s.what;
        }
        EXPECT_EQ(s.result, hr) << s.what;
        EXPECT_EQ(s.position, stream->m_position) << s.what;
    }
    UINT64 size = 0;
    EXPECT_EQ(S_OK, stream->GetSize(&size));
    EXPECT_EQ(100u, size);

    // The interfaces it answers, by the library's identifiers.
    void* p = nullptr;
    EXPECT_EQ(S_OK, stream->QueryInterface(SevenZip::kIidStreamGetSize, &p));
    EXPECT_EQ(static_cast<SevenZip::IStreamGetSize*>(stream), p);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(S_OK, stream->QueryInterface(SevenZip::kIidInStream, &p));
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(SevenZip::kIidOutStream, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(0u, stream->Release());  // the last reference destroys it
}

TEST(SevenZip, WindowsErrorsAsHResults) {
    struct Case {
        LONG error;
        HRESULT hr;
    } cases[] = {
        {0, E_FAIL},
        {ERROR_ACCESS_DENIED, (HRESULT)0x80070005},
        {ERROR_SHARING_VIOLATION, (HRESULT)0x80070020},
        {0x12345, (HRESULT)0x80072345},
        {-7, -7},
    };
    for (const Case& c : cases) EXPECT_EQ(c.hr, HResultFromError(c.error)) << c.error;
}

TEST(SevenZip, MakeCreateDirectoriesCreatesEveryLevel) {
    ScratchFolder out(L"7z-dirs");
    MakeCreateDirectories(out / L"a\\b\\c");
    EXPECT_TRUE(IsFolder(out / L"a\\b\\c"));
    MakeCreateDirectories(out / L"a\\b\\d\\");  // existing levels are passed over
    EXPECT_TRUE(IsFolder(out / L"a\\b\\d"));
}
