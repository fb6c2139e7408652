#include <gtest/gtest.h>

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"
#include "core_test_support.h"
#include "support/test_files.h"

CString TestProgramFolder() { return CString(TestProgramDirectory().c_str()); }

TEST(CTarvelApp, ConstructorDefaults) {
    CTarvelApp app;
    struct IntCase {
        const char* name;
        long long actual, expected;
    } ints[] = {
        {"m_gdiplusToken", (long long)app.m_gdiplusToken, 0},
        {"m_stallLimit", app.m_stallLimit, 20},
        {"m_referencePartition", app.m_referencePartition, -1},
        {"m_selectedPeIndex", app.m_selectedPeIndex, 2},
        {"m_usbPeIndex", app.m_usbPeIndex, 2},
        {"m_selectedImageIndex", app.m_selectedImageIndex, -1},
        {"m_bootModeFlag", app.m_bootModeFlag, 0},
        {"m_storagePass", app.m_storagePass, 1},
        {"m_configLoaded", app.m_configLoaded, 0},
        {"m_usbOnlyMode", app.m_usbOnlyMode, 0},
        {"m_selectedImageTab", app.m_selectedImageTab, 1},
        {"m_recommend1Start", app.m_recommend1Start, 0},
        {"m_recommend2Start", app.m_recommend2Start, 0},
        {"m_pickerListOrder", app.m_pickerListOrder, 0},
        {"m_pickerShowMain", app.m_pickerShowMain, 1},
        {"m_pickerShowRecommended", app.m_pickerShowRecommended, 1},
        {"m_usbListOrder", app.m_usbListOrder, 0},
        {"m_usbShowMain", app.m_usbShowMain, 1},
        {"m_usbShowRecommended", app.m_usbShowRecommended, 1},
        {"m_deviceWatchEnabled", app.m_deviceWatchEnabled, 0},
        {"m_debugMode", app.m_debugMode, 0},
        {"m_rebootAtExit", app.m_rebootAtExit, 0},
        {"m_instanceMutex", (long long)(INT_PTR)app.m_instanceMutex, 0},
        {"m_unpackThread", (long long)(INT_PTR)app.m_unpackThread, 0},
        {"m_downloadEngine", (long long)(INT_PTR)app.m_downloadEngine, 0},
        {"m_osCategories", app.m_osCategories.GetSize(), 0},
        {"m_osImages", app.m_osImages.GetSize(), 0},
        {"m_peImages", app.m_peImages.GetSize(), 0},
        {"m_recommendList1", app.m_recommendList1.GetSize(), 0},
        {"m_recommendList2", app.m_recommendList2.GetSize(), 0},
        {"m_linkedFiles", app.m_linkedFiles.GetSize(), 0},
        {"m_fileLinks", app.m_fileLinks.GetSize(), 0},
        {"m_mirrorUrls", app.m_mirrorUrls.GetSize(), 1},
    };
    for (const IntCase& c : ints) EXPECT_EQ(c.expected, c.actual) << c.name;

    struct TextCase {
        const char* name;
        const CString& actual;
        const wchar_t* expected;
    } texts[] = {
        {"m_workFolder", app.m_workFolder, L""},
        {"m_dataFolderName", app.m_dataFolderName, FixedText::kDataFolderName},
        {"m_filePrefix", app.m_filePrefix, FixedText::kFilePrefix},
        {"m_toolBaseName", app.m_toolBaseName, FixedText::kToolBaseName},
        {"m_usbToolFileName", app.m_usbToolFileName, FixedText::kUsbToolFileName},
        {"m_usbVolumeLabel", app.m_usbVolumeLabel, FixedText::kUsbVolumeLabel},
        {"m_usbVolumeLabelAlt", app.m_usbVolumeLabelAlt, FixedText::kUsbVolumeLabelAlt},
        {"m_headerLinkTarget", app.m_headerLinkTarget, FixedText::kHeaderLinkTarget},
        {"m_webLinkTarget", app.m_webLinkTarget, FixedText::kWebLinkTarget},
        {"m_configMarker", app.m_configMarker, FixedText::kConfigMarker},
        {"m_iniPassword", app.m_iniPassword, FixedText::kIniPassword},
        {"m_handOverPassword", app.m_handOverPassword, FixedText::kHandOverPassword},
        {"m_bootEntryTag", app.m_bootEntryTag, FixedText::kBootEntryTag},
        {"m_handOverTextA", app.m_handOverTextA, FixedText::kHandOverTextA},
        {"m_handOverTextB", app.m_handOverTextB, FixedText::kHandOverTextB},
        {"m_handOverTextC", app.m_handOverTextC, FixedText::kHandOverTextC},
        {"m_handOverIniName", app.m_handOverIniName, FixedText::kHandOverIniName},
        {"m_restartIniName", app.m_restartIniName, FixedText::kRestartIniName},
        {"m_bootFileTag", app.m_bootFileTag, FixedText::kBootFileTag},
        {"m_restartIniValue", app.m_restartIniValue, FixedText::kRestartIniValue},
        {"m_payloadKeyText", app.m_payloadKeyText, FixedText::kPayloadKeyText},
        {"m_skinKeyText", app.m_skinKeyText, FixedText::kSkinKeyText},
        {"m_ownVersion", app.m_ownVersion, FixedText::kOwnVersion},
        {"m_noticeVersion", app.m_noticeVersion, L""},
        {"m_forcedUpdateVersion", app.m_forcedUpdateVersion, L""},
        {"m_updateTarget", app.m_updateTarget, L""},
        {"m_bootModeText", app.m_bootModeText, L""},
    };
    for (const TextCase& c : texts) EXPECT_STREQ(c.expected, c.actual) << c.name;

    EXPECT_NE(nullptr, app.m_diskInventory);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_EQ(DetectWow64(L"kernel32.dll", "IsWow64Process"), app.m_is64BitSystem);
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_STREQ(CString(windows).Left(2), app.m_systemDrive);
    EXPECT_EQ(4, CString(app.m_ownVersion).Remove(L'.') + 1);
}

TEST(CTarvelApp, ModulePathsNameTheRunningProgram) {
    CTarvelApp app;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_STREQ(path, app.m_modulePath);
    EXPECT_STREQ(L"core_tests.exe", app.m_moduleFileName);
    EXPECT_STREQ(app.m_modulePath, app.m_moduleFolder + L"\\" + app.m_moduleFileName);
}

TEST(ModulePath, SplitsAsTheShellDoes) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\Program Files\\Kavetta\\kavetta.exe", L"C:\\Program Files\\Kavetta", L"kavetta.exe"},
        {L"C:\\kavetta.exe", L"C:\\", L"kavetta.exe"},
        {L"\\\\server\\share\\k.exe", L"\\\\server\\share", L"k.exe"},
        {L"k.exe", L"", L"k.exe"},
        {L"D:k.exe", L"D:", L"k.exe"},
    };
    for (const Case& c : cases) {
        CString folder, name;
        SplitModulePath(c.path, folder, name);
        EXPECT_STREQ(c.folder, folder) << c.path;
        EXPECT_STREQ(c.name, name) << c.path;
    }
}

namespace {
// Pretends the module's path is 300 characters long: a buffer that is too
// small receives a truncated, cut-off path, as GetModuleFileNameW does.
const std::wstring kLongPath = L"C:\\" + std::wstring(285, L'x') + L"\\prog.exe";
int g_calls = 0;
DWORD WINAPI FakeModuleFileName(HMODULE, LPWSTR buffer, DWORD size) {
    ++g_calls;
    DWORD n = (DWORD)kLongPath.size();
    if (size <= n) {
        memcpy(buffer, kLongPath.data(), (size - 1) * sizeof(wchar_t));
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, kLongPath.c_str(), (n + 1) * sizeof(wchar_t));
    return n;
}
DWORD WINAPI FailingModuleFileName(HMODULE, LPWSTR, DWORD) { return 0; }
}  // namespace

TEST(ModulePath, TruncatedResultIsDetectedAndRetried) {
    g_calls = 0;
    CString path = QueryModulePath(nullptr, FakeModuleFileName);
    EXPECT_STREQ(kLongPath.c_str(), path);
    EXPECT_GE(g_calls, 2);
    CString folder, name;
    SplitModulePath(path, folder, name);
    EXPECT_STREQ(L"prog.exe", name);
    EXPECT_TRUE(QueryModulePath(nullptr, FailingModuleFileName).IsEmpty());
}

TEST(SystemDrive, FromTheWindowsFolder) {
    struct Case {
        const wchar_t* windows;
        const wchar_t* drive;
    } cases[] = {
        {L"C:\\Windows", L"C:"},
        {L"D:\\WINNT", L"D:"},
        {L"X:\\Windows", L""},  // the boot environment's own folder
        {L"x:\\windows", L""},
        {L"X:\\Windows.old", L"X:"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.drive, SystemDriveFromWindowsFolder(c.windows)) << c.windows;
}

TEST(Wow64, QueryPresentAndMissing) {
    BOOL expected = FALSE;
    IsWow64Process(GetCurrentProcess(), &expected);
    EXPECT_EQ(expected ? 1 : 0, DetectWow64(L"kernel32.dll", "IsWow64Process"));
    EXPECT_EQ(0, DetectWow64(L"kernel32.dll", "NoSuchQueryFunction"));
    EXPECT_EQ(0, DetectWow64(L"no-such-module.dll", "IsWow64Process"));
}

// The program's own 64-bit flag on the Windows of this run: set on 64-bit
// Windows (a 32-bit process under WoW64), clear on 32-bit Windows.
TEST(Wow64, TheProgramKnowsTheWindowsOfTheRun) {
    const int bits = RunWindowsBits();
    if (!bits) GTEST_SKIP() << "no test run states its Windows' word size (scripts/test.sh does)";
    CTarvelApp app;
    EXPECT_EQ(bits == 64 ? 1 : 0, app.m_is64BitSystem) << bits << "-bit Windows";
    EXPECT_EQ(app.m_is64BitSystem, DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction));
}

// The restart is asked for while the program still runs, once; the exit
// itself (the destructor) never restarts, whatever the flag says.
TEST(CTarvelApp, RestartsOnlyWhenAskedAndNeverAtTheProcessEnd) {
    TestPower().steps.clear();
    {
        CTarvelApp app;
        EXPECT_FALSE(app.RestartOrUndo(0));
    }
    EXPECT_TRUE(TestPower().steps.empty());
    {
        CTarvelApp app;
        app.m_rebootAtExit = 1;
        // The session's end never comes here: the restart counts as not happening.
        EXPECT_FALSE(app.RestartOrUndo(0));
        EXPECT_EQ(0, app.m_rebootAtExit);
        app.m_rebootAtExit = 1;
    }
    EXPECT_EQ((std::vector<std::string>{"wait 2000", "privilege", "restart"}), TestPower().steps);
}

TEST(CTarvelApp, ExitInstanceLeavesAFolderItDidNotCreate) {
    CString folder = CString(TestRunDirectory().c_str()) + L"\\not-ours";
    CreateDirectoryW(folder, nullptr);
    CTarvelApp app;
    app.m_workFolder = folder;  // a name only: this process did not create it
    app.ExitInstance();
    EXPECT_TRUE(GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW(folder);
}
