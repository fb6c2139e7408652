// MD5: the RFC 1321 test suite, the result forms, file mode against the host
// md5sum, and the progress counters.
#include <gtest/gtest.h>
#include <process.h>

#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/md5.h"
#include "support/code_page.h"
#include "utils_test_support.h"

namespace {

struct KnownAnswer {
    const char* text;
    const char* digest;
};

// RFC 1321, appendix A.5.
const KnownAnswer kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string Upper(std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
}

std::string Hex(const BYTE* bytes, int count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

CString TextDigest(const char* text, int format) {
    Md5Hasher hasher;
    hasher.m_algorithm = 5;
    hasher.m_sourceKind = 1;
    hasher.m_sourceText = CString(text);
    hasher.m_format = format;
    return hasher.Compute();
}

}  // namespace

TEST(Md5Hasher, TextModeGivesTheRfc1321SuiteInTheDefaultForm) {
    for (const KnownAnswer& c : kRfc1321Suite) {
        Md5Hasher hasher;
        hasher.m_sourceKind = 1;
        hasher.m_sourceText = CString(c.text);
        CString result = hasher.Compute();
        EXPECT_EQ(Upper(c.digest), Narrow(result)) << "text \"" << c.text << "\"";
        EXPECT_EQ(Narrow(result), Narrow(hasher.m_result));
        EXPECT_EQ(c.digest, Hex(hasher.m_digest, 16)) << "raw digest of \"" << c.text << "\"";
    }
}

TEST(Md5Hasher, TextModeDigestsTheAnsiBytes) {
    // Key texts are digested in the thread's ANSI code page, not as UTF-8:
    // under 1252 "café" is the four bytes 63 61 66 E9, under 936 "中文" the
    // four GBK bytes D6 D0 CE C4. The row of this run's code page is checked.
    struct {
        UINT codePage;
        const wchar_t* text;
        const char* digest;
    } rows[] = {
        {1252, L"caf\u00e9", "961f50f6282239d09e48f812c1ca7276"},
        {936, L"中文", "bcce109775e8e1972e9f5fcda3e12895"},
    };
    bool checked = false;
    for (const auto& row : rows) {
        if (!RunningUnderCodePage(row.codePage)) continue;
        Md5Hasher hasher;
        hasher.m_sourceKind = 1;
        hasher.m_sourceText = row.text;
        hasher.m_format = 1;
        EXPECT_EQ(row.digest, Narrow(hasher.Compute())) << "code page " << row.codePage;
        checked = true;
    }
    if (!checked) GTEST_SKIP() << "no known answer for ANSI code page " << GetACP() << " (1252 and 936 have one)";
}

TEST(Md5Context, ChunkedUpdatesGiveTheRfc1321Suite) {
    // Feeding the bytes in uneven pieces must not change the digest,
    // whatever the pieces do to the 64-byte block boundaries.
    const size_t pieces[] = {1, 3, 7, 63, 64, 65};
    for (const KnownAnswer& c : kRfc1321Suite) {
        for (size_t piece : pieces) {
            Md5Context context;
            context.Init();
            size_t length = strlen(c.text);
            for (size_t at = 0; at < length; at += piece)
                context.Update(c.text + at, length - at < piece ? length - at : piece);
            context.Final();
            EXPECT_EQ(c.digest, Hex(context.digest, 16)) << "\"" << c.text << "\" in pieces of " << piece;
        }
    }
}

TEST(Md5Context, AMillionLettersA) {
    // The long-message vector of FIPS 180's companion tests, for the
    // bit counter across many blocks.
    std::string block(1000, 'a');
    Md5Context context;
    context.Init();
    for (int i = 0; i < 1000; ++i) context.Update(block.data(), block.size());
    context.Final();
    EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", Hex(context.digest, 16));
}

TEST(Md5Hasher, ResultForms) {
    const std::string sep = Narrow(FixedText::kMd5ByteSeparator);
    std::string separated;
    const std::string digits = "900150983cd24fb0d6963f7d28e17f72";
    for (size_t i = 0; i < digits.size(); i += 2) separated += digits.substr(i, 2) + sep;
    struct {
        int format;
        std::string expected;
    } cases[] = {
        {2, separated},              // the separator follows every pair, the last one too
        {3, Upper(digits)},          // the default
        {4, Upper(separated)},
        {0, digits},
        {1, digits},
        {7, digits},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Narrow(TextDigest("abc", c.format))) << "format " << c.format;
}

TEST(Md5Hasher, OtherAlgorithmsGiveTheNoDigestText) {
    Md5Hasher hasher;
    hasher.m_sourceKind = 1;
    hasher.m_sourceText = L"abc";
    hasher.m_algorithm = 4;
    hasher.m_format = 1;
    EXPECT_EQ(Narrow(FixedText::kMd5NoDigestText), Narrow(hasher.Compute()));
}

TEST(Md5Hasher, FileModeMatchesTheHostDigest) {
    for (const char* name : {"md5_large.bin", "md5_blocks.bin"}) {
        std::string expected = HostMd5Of(name);
        ASSERT_EQ(32u, expected.size()) << "no host digest for " << name;
        CString path = FixtureFolder() + L"\\" + CString(name);
        const LONGLONG size = (LONGLONG)ReadBytes(path).size();

        Md5Hasher hasher;
        hasher.m_filePath = path;
        EXPECT_EQ(Upper(expected), Narrow(hasher.Compute())) << name;
        EXPECT_EQ(expected, Hex(hasher.m_digest, 16)) << name;
        EXPECT_EQ(size, hasher.m_totalBytes) << name;
        EXPECT_EQ(size, hasher.m_doneBytes) << name;
        EXPECT_EQ(0, hasher.m_busy) << name;

        EXPECT_EQ(Upper(expected), Narrow(FileMd5Hex(path))) << name;

        // A file the caller holds is read through its handle, from its start
        // whatever its position, and stays open.
        HANDLE held = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held) << name;
        SetFilePointer(held, 1000, nullptr, FILE_BEGIN);
        Md5Hasher fromHandle;
        fromHandle.m_filePath = path + L".not-there";
        EXPECT_EQ(Upper(expected), Narrow(fromHandle.ComputeOpenFile(held))) << name;
        EXPECT_EQ(size, fromHandle.m_totalBytes) << name;
        EXPECT_EQ(size, fromHandle.m_doneBytes) << name;
        EXPECT_EQ(0, fromHandle.m_busy) << name;
        EXPECT_EQ(Upper(expected), Narrow(FileMd5Hex(held))) << name;
        EXPECT_NE(0u, GetFileSize(held, nullptr)) << name << ": still open";
        CloseHandle(held);
    }
}

TEST(Md5Hasher, EmptyFileGivesTheEmptyDigestTextAlone) {
    ScratchFolder folder(L"md5-empty");
    CString path = folder / L"empty.bin";
    ASSERT_TRUE(WriteBytes(path, ""));
    Md5Hasher hasher;
    hasher.m_filePath = path;
    EXPECT_EQ(Narrow(FixedText::kMd5EmptyDigestText), Narrow(hasher.Compute()));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(hasher.m_digest, 16));
    EXPECT_EQ(0, hasher.m_totalBytes);
    EXPECT_EQ(Upper(Narrow(FixedText::kMd5FileInitialText)), Narrow(FileMd5Hex(path)));
}

TEST(Md5Hasher, FileThatCannotBeOpenedKeepsThePreviousDigest) {
    ScratchFolder folder(L"md5-locked");
    CString path = folder / L"locked.bin";
    ASSERT_TRUE(WriteBytes(path, "abc"));
    Md5Hasher hasher;
    hasher.m_filePath = path;
    hasher.Compute();
    ASSERT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(hasher.m_digest, 16));

    // Held open without sharing: it exists but nobody else may read it.
    HANDLE lock = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_EQ("", Narrow(hasher.Compute()));
    EXPECT_EQ(0, hasher.m_busy);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(hasher.m_digest, 16));
    EXPECT_EQ("", Narrow(FileMd5Hex(path)));
    CloseHandle(lock);

    hasher.m_filePath = folder / L"missing.bin";
    EXPECT_EQ("", Narrow(hasher.Compute()));
    EXPECT_EQ(0, hasher.m_busy);
}

TEST(Md5Hasher, EmptyPathGivesTheNoFileTextAndLeavesTheCounters) {
    Md5Hasher hasher;
    hasher.m_filePath = FixtureFolder() + L"\\md5_blocks.bin";
    hasher.Compute();
    hasher.m_filePath = L"";
    hasher.m_format = 1;
    EXPECT_EQ(Narrow(FixedText::kMd5NoFileText), Narrow(hasher.Compute()));
    EXPECT_EQ(65536, hasher.m_doneBytes);
    EXPECT_EQ(65536, hasher.m_totalBytes);
}

TEST(FileMd5Hex, MissingPathGivesTheMissingFileText) {
    ScratchFolder folder(L"md5-missing");
    EXPECT_EQ(Narrow(FixedText::kMd5MissingFileText), Narrow(FileMd5Hex(folder / L"nothing.bin")));
    EXPECT_EQ(Narrow(FixedText::kMd5MissingFileText), Narrow(FileMd5Hex(L"")));
    // A folder exists but is no file that can be read.
    EXPECT_EQ("", Narrow(FileMd5Hex(folder.Path())));
}

namespace {

struct ProgressWatch {
    Md5Hasher* hasher;
    volatile LONG stop;
    std::vector<LONGLONG> seenDone;
    std::vector<LONGLONG> seenTotal;
    volatile LONG seenBusy;
};

unsigned __stdcall WatchProgress(void* arg) {
    ProgressWatch* watch = static_cast<ProgressWatch*>(arg);
    while (!watch->stop) {
        if (watch->hasher->m_busy) {
            InterlockedIncrement(&watch->seenBusy);
            watch->seenTotal.push_back(watch->hasher->m_totalBytes);
            watch->seenDone.push_back(watch->hasher->m_doneBytes);
        }
        Sleep(0);
    }
    return 0;
}

}  // namespace

TEST(Md5Hasher, AnotherThreadSeesOnlyWholeCounterValues) {
    // The counters are read unlocked by a page's progress thread; every value
    // it sees must be one the digesting thread wrote: a multiple of the block
    // size or the final size, never above the file's size.
    CString path = FixtureFolder() + L"\\md5_large.bin";
    const LONGLONG size = (LONGLONG)ReadBytes(path).size();
    Md5Hasher hasher;
    hasher.m_filePath = path;
    ProgressWatch watch = {&hasher, 0, {}, {}, 0};
    HANDLE thread = (HANDLE)_beginthreadex(nullptr, 0, WatchProgress, &watch, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    // Digests again until the watcher has looked in while the hasher was busy
    // often enough, however the threads are scheduled.
    for (int run = 0; run < 500 && (run < 5 || watch.seenBusy < 50); ++run) hasher.Compute();
    InterlockedExchange(&watch.stop, 1);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    ASSERT_GT(watch.seenBusy, 0) << "the watcher never saw the hasher busy";
    bool midway = false;
    for (size_t i = 0; i < watch.seenDone.size(); ++i) {
        midway = midway || (watch.seenDone[i] > 0 && watch.seenDone[i] < size);
        LONGLONG done = watch.seenDone[i];
        EXPECT_TRUE(done % 8192 == 0 || done == size) << "done " << done;
        EXPECT_LE(done, size);
        // The total is measured just after the run starts, so 0 until then.
        EXPECT_TRUE(watch.seenTotal[i] == size || watch.seenTotal[i] == 0) << "total " << watch.seenTotal[i];
    }
    EXPECT_TRUE(midway) << "no value between the start and the end was seen in " << watch.seenBusy << " looks";
    EXPECT_EQ(0, hasher.m_busy);
    EXPECT_EQ(size, hasher.m_doneBytes);
}

namespace {

struct Appender {
    Md5Hasher* hasher;
    HANDLE file;
    int appended;
};

// Appends to the file from the moment the hasher has measured its size
// until the digest ends.
unsigned __stdcall AppendWhileDigesting(void* arg) {
    Appender* a = static_cast<Appender*>(arg);
    DWORD start = GetTickCount();
    while (a->hasher->m_totalBytes == 0 && GetTickCount() - start < 10000) Sleep(0);
    std::string chunk(65536, 'g');
    while (a->hasher->m_busy && a->appended < 256) {
        DWORD written = 0;
        WriteFile(a->file, chunk.data(), (DWORD)chunk.size(), &written, nullptr);
        ++a->appended;
    }
    return 0;
}

}  // namespace

TEST(Md5Hasher, AFileThatGrowsIsReadUpToItsSizeAtTheStart) {
    ScratchFolder scratch(L"md5-growing");
    CString path = scratch / L"growing.bin";
    std::string original = ReadBytes(FixtureFolder() + L"\\md5_large.bin");
    // Tried again until the file really grew while the digest ran, however
    // the threads are scheduled.
    int appended = 0;
    for (int attempt = 0; attempt < 20 && appended == 0; ++attempt) {
        ASSERT_TRUE(WriteBytes(path, original));
        // A download still being written: open for appending, shared for reading.
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        Md5Hasher hasher;
        hasher.m_filePath = path;
        Appender appender = {&hasher, file, 0};
        HANDLE thread = (HANDLE)_beginthreadex(nullptr, 0, AppendWhileDigesting, &appender, 0, nullptr);
        CString digest = hasher.Compute();
        WaitForSingleObject(thread, 20000);
        CloseHandle(thread);
        CloseHandle(file);
        appended = appender.appended;
        EXPECT_EQ(Upper(HostMd5Of("md5_large.bin")), Narrow(digest)) << appended << " chunks appended";
        EXPECT_EQ((LONGLONG)original.size(), hasher.m_doneBytes);
    }
    EXPECT_GT(appended, 0) << "the file never grew while the digest ran";
}

TEST(Md5Hasher, AStopEndsAFileDigestAtItsNextBlockUntilRestart) {
    // The exit stops a queue while its worker digests a large image on
    // another thread: the digest must end within the exit's wait.
    ScratchFolder folder(L"md5-stop");
    CString path = folder / L"image.bin";
    ASSERT_TRUE(WriteBytes(path, std::string(10 * 8192, 'k')));
    Md5Hasher hasher;
    hasher.m_filePath = path;
    int blocks = 0;
    hasher.m_afterBlock = [&] {
        if (++blocks == 3) hasher.Stop();
    };
    EXPECT_EQ("", Narrow(hasher.Compute())) << "a stopped digest is no digest";
    EXPECT_EQ(3, blocks);
    EXPECT_EQ(3 * 8192, hasher.m_doneBytes);
    EXPECT_EQ(0, hasher.m_busy);
    EXPECT_TRUE(hasher.Stopped());
    // Still stopped: a later digest of the stopped run ends at once.
    EXPECT_EQ("", Narrow(hasher.Compute()));
    EXPECT_EQ(3, blocks);
    // A new run digests to the end.
    hasher.Restart();
    hasher.m_afterBlock = nullptr;
    EXPECT_EQ(Narrow(FileMd5Hex(path)), Narrow(hasher.Compute()));
    EXPECT_EQ(10 * 8192, hasher.m_doneBytes);
}
