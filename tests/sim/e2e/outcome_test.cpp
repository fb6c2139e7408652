// The check scenarios give the outcome their names promise. Run once per
// scenario through with_scenario.sh, with the outcome as the argument
// (--outcome=full|fallback|local_pe|nothing|no_folder|legacy|bitlocker_vhd): the real main
// window is made in-process and its system check runs on the scenario's
// drives and against the local catalogue server. What the check decided by
// is then compared with the answers written down below for each scenario,
// read off its disks, drives and server: the configuration loaded, the pass
// of the data-folder choice and the folder, the system partition, the boot
// environment a check without a configuration found.
#include <gtest/gtest.h>

#include <string>

#include "../../pages/pages_test_support.h"
#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/online_config.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"
#include "sim/e2e/sim_page_main.h"
#include "support/test_files.h"

namespace {

std::string g_outcome;
bool g_scenarioLoaded = false;

struct Expected {
    const char* outcome;
    int configLoaded;
    int storagePass;
    const wchar_t* dataFolder;  // null: the program's folder (no data folder)
    const wchar_t* systemKey;   // the partition key of the system drive C:
    int usbOnly;                // only the USB disk maker is left
    int usbPeIndex;             // the boot environment the USB disk maker takes
};
const Expected kOutcomes[] = {
    // C: is the third partition of disk 0 (EFI, MSR, C:, D:).
    {"full", 1, 1, L"D:\\KavettaData", L"0:3", 0, 2},
    // Beside C: only the USB disk: the data folder on the system drive, USB only.
    {"fallback", 1, 3, L"C:\\KavettaData", L"0:3", 1, 2},
    // No configuration: entry 2, planted in the data folder, makes a USB disk.
    {"local_pe", 0, 1, L"D:\\KavettaData", L"0:3", 1, 2},
    {"nothing", 0, 1, L"D:\\KavettaData", L"0:3", 0, 2},
    {"no_folder", 1, 0, nullptr, L"0:3", 0, 2},
    // An MBR disk: C: is its first partition.
    {"legacy", 1, 1, L"D:\\KavettaData", L"0:1", 0, 2},
    // BitLocker on C: and D:, a VHD with the most room: a plain partition of another disk.
    {"bitlocker_vhd", 1, 2, L"F:\\KavettaData", L"0:3", 0, 2},
};

TEST(SimOutcome, TheScenarioGivesItsOutcome) {
    const Expected* expected = nullptr;
    for (const Expected& e : kOutcomes)
        if (g_outcome == e.outcome) expected = &e;
    if (!expected) GTEST_SKIP() << "no --outcome= given (run through with_scenario.sh)";
    ASSERT_TRUE(g_scenarioLoaded) << "the scenario could not be loaded";

    CTarvelApp* app = GetTarvelApp();
    MainWindowFixture window;
    ASSERT_TRUE(window.Create());
    ASSERT_TRUE(window.WaitForCheck(300000)) << "the check did not end";

    EXPECT_EQ(expected->configLoaded, app->m_configLoaded);
    EXPECT_EQ(expected->storagePass, app->m_storagePass);
    if (expected->dataFolder) {
        EXPECT_EQ(0, app->m_dataFolder.CompareNoCase(expected->dataFolder)) << Utf8Of((const wchar_t*)app->m_dataFolder);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app->m_dataFolder)) << "the data folder is not real";
    } else {
        EXPECT_EQ(app->m_moduleFolder, app->m_dataFolder);
    }
    CDiskInventory& inventory = *app->m_diskInventory;
    ASSERT_GE(app->m_referencePartition, 0) << "no system partition";
    ASSERT_LT(app->m_referencePartition, inventory.m_totalPartitions.GetSize());
    EXPECT_EQ(CString(expected->systemKey), inventory.m_totalPartitions[app->m_referencePartition].key);
    EXPECT_EQ(CString(L"C:"), inventory.m_totalPartitions[app->m_referencePartition].letter);
    EXPECT_EQ(expected->usbOnly, app->m_usbOnlyMode);
    EXPECT_EQ(expected->usbPeIndex, app->m_usbPeIndex);

    if (expected->configLoaded) {
        EXPECT_GT(app->m_osImages.GetSize(), 4);
        EXPECT_EQ(3, (int)app->m_peImages.GetSize());
        ASSERT_EQ(2, app->m_peImages[2].m_linkCount);
        // The served boot environment is whole: its digest is the one the
        // configuration gives, fetched from its first mirror into the download folder.
        if (expected->dataFolder) {
            COnlinefileinfo& pe = app->m_peImages[2];
            CString url = app->m_fileLinks[pe.m_linkIndices[0]].GetUrl();
            CString path = GetLocalPath(pe);
            DWORD status = 0;
            // Far larger than a configuration: the cap is the file's own.
            EXPECT_EQ(kDownloadDone, DownloadUrlToFile(url, path, &status, 0xFFFFFFFFu)) << Utf8Of((const wchar_t*)url);
            EXPECT_EQ(200u, status);
            EXPECT_EQ(pe.m_expectedMd5, FileMd5Hex(path)) << Utf8Of((const wchar_t*)path);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 10, "--outcome=") == 0) g_outcome = arg.substr(10);
    }
    return RunSimPageTests(argc, argv, L"simoutcome", g_scenarioLoaded);
}
