// The work folder and the payloads: in-process with application objects
// that read the built program's payloads, and end to end with the built
// program under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>

#include <atomic>
#include <map>
#include <string>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/seven_zip.h"
#include "core/skin.h"
#include "core/tarvel_app.h"
#include "core/work_folder.h"
#include "core_test_support.h"
#include "payload_test_support.h"
#include "support/test_files.h"
#include "utils_test_support.h"

namespace {

// The file the tools archive carries for now.
const wchar_t kToolsProbe[] = L"tools_readme.txt";
const DWORD kUnpackWaitMs = 60000;

// Points TMP and TEMP elsewhere for the object's life.
class TempVariables {
public:
    explicit TempVariables(const CString& folder) : m_tmp(Get(L"TMP")), m_temp(Get(L"TEMP")) {
        SetEnvironmentVariableW(L"TMP", folder);
        SetEnvironmentVariableW(L"TEMP", folder);
    }
    ~TempVariables() {
        SetEnvironmentVariableW(L"TMP", m_tmp);
        SetEnvironmentVariableW(L"TEMP", m_temp);
    }

private:
    static CString Get(const wchar_t* name) {
        wchar_t value[MAX_PATH * 2] = {};
        GetEnvironmentVariableW(name, value, MAX_PATH * 2);
        return CString(value);
    }
    CString m_tmp, m_temp;
};

class WithGdiplus : public testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&m_token, &input, nullptr));
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }
    ULONG_PTR m_token = 0;
};

bool IsWorkFolderName(const CString& name) {
    if (name.GetLength() != 10) return false;
    for (int i = 0; i < 10; ++i)
        if (!iswalnum(name[i])) return false;
    return true;
}

CString LastPart(const CString& path) { return path.Mid(path.ReverseFind(L'\\') + 1); }

}  // namespace

TEST_F(WithGdiplus, WorkFolderGetsTheToolsAndTheSkinAnswers) {
    ScratchFolder temp(L"work-in-process");
    TempVariables vars(temp.Path());
    ProgramModule program;
    ASSERT_NE(nullptr, program.Get());

    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    EXPECT_STREQ(temp.Path() + L"\\" + LastPart(app.m_workFolder), app.m_workFolder);
    EXPECT_TRUE(IsWorkFolderName(LastPart(app.m_workFolder))) << Narrow(app.m_workFolder);
    ASSERT_TRUE(IsFolder(app.m_workFolder));

    // The skin archive is ready when PrepareWorkFolder returns.
    EXPECT_EQ(1, app.m_skinZip.m_loaded);
    Gdiplus::Image* tile = LoadSkinImage(L"probe_tile.png");
    ASSERT_NE(nullptr, tile);
    EXPECT_EQ(Gdiplus::Ok, tile->GetLastStatus());
    EXPECT_EQ(24u, tile->GetWidth());
    EXPECT_EQ(16u, tile->GetHeight());
    delete tile;
    // Callers may name the folder with a backslash; the animation has two frames.
    Gdiplus::Image* spinner = LoadSkinImage(L"probe\\PROBE_SPINNER.gif");
    ASSERT_NE(nullptr, spinner);
    EXPECT_EQ(Gdiplus::Ok, spinner->GetLastStatus());
    GUID dimension;
    ASSERT_EQ(Gdiplus::Ok, spinner->GetFrameDimensionsList(&dimension, 1));
    EXPECT_EQ(2u, spinner->GetFrameCount(&dimension));
    delete spinner;
    DWORD size = 0;
    BYTE* data = LoadSkinImageData(L"probe\\probe_tile.png", &size);
    ASSERT_NE(nullptr, data);
    {
        // The same bytes as the entry of the plain archive the build made.
        std::string plain = ReadBytes(PayloadFixture(L"program-skin.zip"));
        CResourceZip zip;
        zip.Attach(MallocCopy(plain), (int)plain.size(), 0);
        DWORD plainSize = 0;
        BYTE* expected = zip.FindAndExtract(CResourceZip::kFindSuffix, L"probe/probe_tile.png", &plainSize);
        ASSERT_NE(nullptr, expected);
        EXPECT_EQ(plainSize, size);
        EXPECT_EQ(0, memcmp(expected, data, size));
        free(expected);
    }
    free(data);
    EXPECT_EQ(nullptr, LoadSkinImage(L"no-such-picture.png"));
    EXPECT_EQ(nullptr, LoadSkinImageData(L"no-such-picture.png", &size));
    EXPECT_EQ(0u, size);

    // The unpack thread says when it is done; the tools are there and the
    // library is gone again.
    ASSERT_TRUE(app.WaitForTools(kUnpackWaitMs));
    EXPECT_FALSE(ReadBytes(app.m_workFolder + L"\\" + kToolsProbe).empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app.m_workFolder + FixedText::kSevenZipLibraryFileName));

    // Exit deletes the folder this object created.
    CString folder = app.m_workFolder;
    app.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder));
}

TEST(WorkFolder, TwoCopiesGetFoldersOfTheirOwnAndDeleteOnlyTheirs) {
    ScratchFolder temp(L"work-two");
    TempVariables vars(temp.Path());
    ProgramModule program;
    CTarvelApp first;
    first.m_payloadModule = program.Get();
    first.PrepareWorkFolder();
    CTarvelApp second;
    second.m_payloadModule = program.Get();
    second.PrepareWorkFolder();
    ASSERT_TRUE(first.m_workFolderCreated);
    ASSERT_TRUE(second.m_workFolderCreated);
    EXPECT_STRNE(first.m_workFolder, second.m_workFolder);
    EXPECT_TRUE(first.WaitForTools(kUnpackWaitMs));
    EXPECT_TRUE(second.WaitForTools(kUnpackWaitMs));

    second.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(second.m_workFolder));
    EXPECT_TRUE(IsFolder(first.m_workFolder));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(first.m_workFolder + L"\\" + kToolsProbe));
    first.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(first.m_workFolder));
}

// The pace of an unpack, set through the 7-Zip library's progress reports:
// each report signals `entered` and then waits for `release`, or (with
// `untilStop`) for the application's stop as well. At most 120 s.
struct UnpackPace {
    static HANDLE entered, release;
    static std::atomic<int> reports, reportsAfterStop;
    static CTarvelApp* app;
    static bool untilStop;
    static void Report() {
        ++reports;
        if (app && app->m_unpackStop) ++reportsAfterStop;
        SetEvent(entered);
        const ULONGLONG start = GetTickCount64();
        while (WaitForSingleObject(release, 20) == WAIT_TIMEOUT && GetTickCount64() - start < 120000)
            if (untilStop && app && app->m_unpackStop) break;
    }
    UnpackPace(CTarvelApp& a, bool stop) {
        entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        reports = 0;
        reportsAfterStop = 0;
        app = &a;
        untilStop = stop;
        m_previous = SetExtractProgressObserver(Report);
    }
    ~UnpackPace() {
        SetEvent(release);
        SetExtractProgressObserver(m_previous);
        app = nullptr;
        CloseHandle(entered);
        CloseHandle(release);
    }
    ExtractProgressObserver m_previous;
};
HANDLE UnpackPace::entered, UnpackPace::release;
std::atomic<int> UnpackPace::reports, UnpackPace::reportsAfterStop;
CTarvelApp* UnpackPace::app;
bool UnpackPace::untilStop;

// An application object whose unpack runs at the pace of UnpackPace, in a
// temporary folder of its own; Start returns once the extraction reports.
struct PacedUnpack {
    PacedUnpack(const wchar_t* name, bool untilStop) : temp(name), vars(temp.Path()), pace(app, untilStop) {
        app.m_payloadModule = program.Get();
    }
    ::testing::AssertionResult Start() {
        app.PrepareWorkFolder();
        if (!app.m_workFolderCreated) return ::testing::AssertionFailure() << "no work folder";
        if (WaitForSingleObject(UnpackPace::entered, 60000) != WAIT_OBJECT_0)
            return ::testing::AssertionFailure() << "the extraction never reported its progress";
        return ::testing::AssertionSuccess();
    }
    ScratchFolder temp;
    TempVariables vars;
    ProgramModule program;
    CTarvelApp app;
    UnpackPace pace;
};

// The exit stops an unpack that is still running through the library's
// progress report, waits for it to end and only then deletes the folder.
TEST(WorkFolder, TheExitStopsTheUnpackAndWaitsForItBeforeTheFolderGoes) {
    PacedUnpack unpack(L"work-stop", true);
    CTarvelApp& app = unpack.app;
    ASSERT_TRUE(unpack.Start());
    const CString folder = app.m_workFolder;
    const ULONGLONG started = GetTickCount64();
    app.ExitInstance();
    EXPECT_LT(GetTickCount64() - started, 60000u);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(app.m_toolsReady, 0)) << "the exit returned before the thread ended";
    EXPECT_EQ(0, app.m_toolsUnpacked) << "the extraction went on past the stop";
    EXPECT_LE(UnpackPace::reportsAfterStop.load(), 1) << "a report after the stop, or another attempt";
    EXPECT_FALSE(app.m_unpackOutlived);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder));
}

// An unpack that takes longer than the exit's wait: the exit gives up at its
// bound, and the work folder the library may still write into stays.
TEST(WorkFolder, AnUnpackThatOutlivesTheExitsWaitKeepsTheWorkFolder) {
    PacedUnpack unpack(L"work-outlived", false);
    CTarvelApp& app = unpack.app;
    app.m_unpackExitWaitMs = 2000;
    ASSERT_TRUE(unpack.Start());
    const CString folder = app.m_workFolder;
    const ULONGLONG started = GetTickCount64();
    app.ExitInstance();
    EXPECT_GE(GetTickCount64() - started, 1900u) << "the exit waited its bound";
    EXPECT_TRUE(app.m_unpackOutlived);
    EXPECT_TRUE(app.m_keepWorkFolder);
    EXPECT_TRUE(IsFolder(folder)) << "the folder went while the library could still write into it";
    // Let the library report once more: it sees the stop and ends.
    SetEvent(UnpackPace::release);
    EXPECT_FALSE(app.WaitForTools(60000)) << "stopped, nothing more unpacked";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(app.m_toolsReady, 0));
    EXPECT_TRUE(IsFolder(folder));
    DeleteFolderTree(folder);
}

// The allowed entries of a folder's access list, read back: SID text ->
// (access mask, inheritance flags). `isProtected` tells whether the list
// takes nothing from the parent.
std::map<std::wstring, std::pair<DWORD, BYTE>> AccessEntries(const CString& folder, bool& isProtected,
                                                             int& count) {
    std::map<std::wstring, std::pair<DWORD, BYTE>> entries;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    isProtected = false;
    count = -1;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return entries;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    count = dacl ? dacl->AceCount : -1;
    for (int i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(&ace->SidStart, &sid)) {
            entries[sid] = {ace->Mask, header->AceFlags};
            LocalFree(sid);
        }
    }
    LocalFree(descriptor);
    return entries;
}

// Whether folders here keep the access list they are created with (Wine
// keeps one only where the host file system takes extended attributes).
bool FoldersKeepTheirAccessList(const CString& parent) {
    CString probe = parent + L"\\acl-probe";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    BOOL made = CreateDirectoryW(probe, &security);
    LocalFree(descriptor);
    if (!made) return false;
    bool isProtected = false;
    int count = 0;
    auto entries = AccessEntries(probe, isProtected, count);
    RemoveDirectoryW(probe);
    return isProtected && count == 1 && entries.count(L"S-1-5-18") == 1;
}

TEST(WorkFolder, OnlyAdministratorsAndSystemMayTouchIt) {
    ScratchFolder temp(L"work-acl");
    if (!FoldersKeepTheirAccessList(temp.Path()))
        GTEST_SKIP() << "folders here do not keep the access list they are created with (Wine without extended "
                        "attributes on the host file system)";
    TempVariables vars(temp.Path());
    ProgramModule program;
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    bool isProtected = false;
    int count = 0;
    auto entries = AccessEntries(app.m_workFolder, isProtected, count);
    EXPECT_TRUE(isProtected) << "the list takes nothing from the temporary folder";
    EXPECT_EQ(2, count);
    const BYTE inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    std::map<std::wstring, std::pair<DWORD, BYTE>> expected = {
        {L"S-1-5-32-544", {FILE_ALL_ACCESS, inherited}},  // Administrators
        {L"S-1-5-18", {FILE_ALL_ACCESS, inherited}},      // SYSTEM
    };
    EXPECT_EQ(expected, entries);
    EXPECT_TRUE(app.WaitForTools(kUnpackWaitMs));
    CString folder = app.m_workFolder;
    app.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder)) << "the program's own delete still works";
}

TEST(WorkFolder, FinalNamesLoseTheirPrefix) {
    const struct {
        const wchar_t* finalName;
        const wchar_t* path;
    } cases[] = {
        {L"\\\\?\\C:\\Users\\a\\Temp\\x1", L"C:\\Users\\a\\Temp\\x1"},
        {L"\\\\?\\UNC\\server\\share\\x1", L"\\\\server\\share\\x1"},
        {L"\\\\?\\unc\\server\\share", L"\\\\server\\share"},
        {L"C:\\plain", L"C:\\plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(Narrow(c.path), Narrow(PathFromFinalName(c.finalName))) << Narrow(c.finalName);
}

// TMP may lead through a link that the user's own processes can turn
// elsewhere once the folder is made: the program would then run its tools
// from their folder. Every use of the work folder goes by the folder the
// program made and holds, never again through the path it was made by.
TEST(WorkFolder, ItIsReachedWhereItReallyIsNotThroughALinkOnTheTemporaryPath) {
    // The fixture (made before each CTest run) holds templink, a link to
    // tempreal. On Windows the same stands for a junction in TMP.
    const CString fixture = CString(TestRunDirectory().c_str()) + L"\\fixtures\\reparse";
    const CString link = fixture + L"\\templink";
    DWORD linkAttributes = GetFileAttributesW(link);
    if (linkAttributes == INVALID_FILE_ATTRIBUTES || !(linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the link fixture is made by CTest (core_tests_reparse_fixture)";
    HANDLE real = CreateFileW(fixture + L"\\tempreal", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, real);
    const CString realFolder = HeldFolderPath(real);
    CloseHandle(real);
    ASSERT_FALSE(realFolder.IsEmpty());

    TempVariables vars(link);
    ProgramModule program;
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    const CString folder = app.m_workFolder;
    EXPECT_EQ(Narrow(realFolder + L"\\"), Narrow(folder.Left(realFolder.GetLength() + 1))) << Narrow(folder);
    EXPECT_EQ(-1, folder.Find(L"templink")) << Narrow(folder);
    // The tools are unpacked there, and the exit deletes it there.
    ASSERT_TRUE(app.WaitForTools(kUnpackWaitMs));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder + L"\\" + kToolsProbe));
    app.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder));
}

TEST(WorkFolder, NobodyRenamesItWhileTheProgramRuns) {
    ScratchFolder temp(L"work-held");
    TempVariables vars(temp.Path());
    ProgramModule program;
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    EXPECT_FALSE(app.m_workFolderUnprotected);

    // Held open without delete sharing: another process cannot rename it
    // away (and put its own folder or a link in its place).
    CString elsewhere = temp / L"moved";
    EXPECT_FALSE(MoveFileW(app.m_workFolder, elsewhere));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_TRUE(IsFolder(app.m_workFolder));
    EXPECT_FALSE(IsFolder(elsewhere));
    // Files inside are the program's own business.
    ASSERT_TRUE(app.WaitForTools(kUnpackWaitMs));
    EXPECT_FALSE(ReadBytes(app.m_workFolder + L"\\" + kToolsProbe).empty());

    // The exit lets go of it and deletes it.
    CString folder = app.m_workFolder;
    app.ExitInstance();
    EXPECT_EQ(INVALID_HANDLE_VALUE, app.m_workFolderHandle);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder));
}

TEST(WorkFolder, AnUnusableTemporaryFolderSendsTheWorkFolderBelowTheProgram) {
    ScratchFolder temp(L"work-fallback");
    // A file where the temporary folder should be: nothing can be made below it.
    CString notAFolder = temp / L"plain-file";
    ASSERT_TRUE(WriteBytes(notAFolder, "x"));
    TempVariables vars(notAFolder);
    ProgramModule program;
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    app.PrepareWorkFolder();
    ASSERT_TRUE(app.m_workFolderCreated);
    EXPECT_STREQ(app.m_moduleFolder + FixedText::kWorkFolderFallbackSeparator + LastPart(app.m_workFolder),
                 app.m_workFolder);
    EXPECT_TRUE(app.WaitForTools(kUnpackWaitMs));
    app.ExitInstance();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app.m_workFolder));
}

TEST(WorkFolder, NoFolderMeansNothingIsWrittenAndNobodyWaitsLong) {
    ProgramModule program;
    CTarvelApp app;
    app.m_payloadModule = program.Get();
    // Below a file nothing can be created, on either road.
    ScratchFolder temp(L"work-none");
    CString notAFolder = temp / L"plain-file";
    ASSERT_TRUE(WriteBytes(notAFolder, "x"));
    TempVariables vars(notAFolder);
    app.m_moduleFolder = notAFolder;
    app.PrepareWorkFolder();
    EXPECT_FALSE(app.m_workFolderCreated);
    DWORD started = GetTickCount();
    EXPECT_FALSE(app.WaitForTools(kUnpackWaitMs));
    EXPECT_LT(GetTickCount() - started, 10000u);
    app.ExitInstance();
    EXPECT_EQ("x", ReadBytes(notAFolder));

    // Before PrepareWorkFolder nobody waits at all.
    CTarvelApp idle;
    EXPECT_FALSE(idle.WaitForTools(kUnpackWaitMs));
}

TEST(WorkFolder, PayloadLoadersAndTheirKeys) {
    ProgramModule program;
    {
        // An empty key text takes the resource as stored: the program's skin
        // payload is enciphered, so no zip opens and the target stays empty.
        CResourceZip zip;
        EXPECT_EQ(0, LoadSkinPayload(zip, L"", program.Get()));
        EXPECT_EQ(0, zip.m_loaded);
        // The wrong key deciphers to garbage, which does not open either.
        EXPECT_EQ(0, LoadSkinPayload(zip, L"not the key", program.Get()));
        EXPECT_EQ(1, LoadSkinPayload(zip, FixedText::kSkinKeyText, program.Get()));
        EXPECT_NE(nullptr, zip.m_zip);
    }
    {
        CResourceFile plain;
        EXPECT_EQ(1, LoadToolsPayload(plain, L"", program.Get()));  // stored bytes, as they are
        std::string stored((const char*)plain.m_data, plain.m_size);
        EXPECT_EQ(1, LoadToolsPayload(plain, FixedText::kPayloadKeyText, program.Get()));
        EXPECT_EQ(0, memcmp(plain.m_data, "7z\xBC\xAF\x27\x1C", 6)) << "the 7z signature";
        EXPECT_NE(0, memcmp(stored.data(), "7z\xBC\xAF\x27\x1C", 6));
        EXPECT_EQ(1, LoadLibraryPayload(plain, FixedText::kPayloadKeyText, program.Get()));
        EXPECT_EQ(0, memcmp(plain.m_data, "MZ", 2));
    }
    // The key is the raw MD5 of the key text: MD5("abc").
    BYTE key[16];
    DerivePayloadKey(L"abc", key);
    const BYTE abc[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(0, memcmp(abc, key, 16));
}

TEST_F(WithGdiplus, SkinPicturesAreFreedWithTheirImage) {
    CTarvelApp app;
    std::string zip = ReadBytes(PayloadFixture(L"pictures.zip"));
    ASSERT_FALSE(zip.empty());
    app.m_skinZip.Attach(MallocCopy(zip), (int)zip.size(), 0);
    ASSERT_EQ(1, app.m_skinZip.m_loaded);

    Gdiplus::Image* broken = LoadSkinImage(L"broken.png");
    ASSERT_NE(nullptr, broken) << "bytes that are no picture still give an image object";
    EXPECT_NE(Gdiplus::Ok, broken->GetLastStatus());
    delete broken;

    // Each load copies a 720 KB bitmap into a memory stream; deleting the
    // image must free it, or 150 loads hold more than 100 MB.
    auto privateBytes = [] {
        PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        return (long long)counters.PagefileUsage;
    };
    for (int i = 0; i < 10; ++i) delete LoadSkinImage(L"wide.bmp");  // settle the heaps first
    long long before = privateBytes();
    for (int i = 0; i < 150; ++i) {
        Gdiplus::Image* image = LoadSkinImage(L"wide.bmp");
        ASSERT_NE(nullptr, image);
        ASSERT_EQ(Gdiplus::Ok, image->GetLastStatus());
        ASSERT_EQ(600u, image->GetWidth());
        delete image;
    }
    long long grown = privateBytes() - before;
    EXPECT_LT(grown, 30LL * 1024 * 1024) << "memory grew by " << grown << " bytes";
}
