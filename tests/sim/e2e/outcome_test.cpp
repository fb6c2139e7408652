// The five check scenarios give the outcome their names promise. Run once
// per scenario through with_scenario.sh, with the outcome as the argument
// (--outcome=full|fallback|local_pe|nothing|no_folder): in-process, on the
// scenario's real drives and against the local catalogue server, it makes
// the calls the system check makes - the inventory, the data-folder choice,
// the download folders, the recommendation lists, the configuration fetch
// and, without a configuration, the boot-environment search - and checks
// the values the check decides by (the configuration loaded, the pass of the
// data-folder choice, the boot environment found).
#include <gtest/gtest.h>

#include <string>

#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/online_config.h"
#include "core/system_facts.h"
#include "core/tarvel_app.h"
#include "disk/disk_inventory.h"
#include "sim/sim_machine.h"
#include "support/no_restart.h"
#include "support/test_files.h"

namespace {

std::string g_outcome;

struct Expected {
    const char* outcome;
    int configLoaded;
    int storagePass;
    const wchar_t* dataFolder;  // null: the program folder (no data folder)
    int localPe;                // the entry the search takes, -1 none, 0 not searched
};
const Expected kOutcomes[] = {
    {"full", 1, 1, L"D:\\KavettaData", 0},
    {"fallback", 1, 3, L"C:\\KavettaData", 0},
    {"local_pe", 0, 1, L"D:\\KavettaData", 2},
    {"nothing", 0, 1, L"D:\\KavettaData", -1},
    {"no_folder", 1, 0, nullptr, 0},
};

TEST(SimOutcome, TheScenarioGivesItsOutcome) {
    const Expected* expected = nullptr;
    for (const Expected& e : kOutcomes)
        if (g_outcome == e.outcome) expected = &e;
    if (!expected) GTEST_SKIP() << "no --outcome= given (run through with_scenario.sh)";
    CTarvelApp app;
    CString error;
    ASSERT_TRUE(LoadSimScenarioFromEnvironment(&error)) << Utf8Of((const wchar_t*)error);
    const std::wstring work = MakeTempFolder(L"simoutcome");
    app.m_workFolder = work.c_str();
    app.BuildPeList();

    // Rows 1 and 2: the system partition.
    CDiskInventory& inventory = *app.m_diskInventory;
    inventory.Refresh();
    int reference = -1;
    for (INT_PTR i = 0; i < inventory.m_totalPartitions.GetSize(); ++i)
        if (inventory.m_totalPartitions[i].letter == app.m_systemDrive) reference = (int)i;
    ASSERT_NE(-1, reference) << "the system drive " << Utf8Of((const wchar_t*)app.m_systemDrive) << " is not in the inventory";
    app.m_referencePartition = reference;
    CString kind = inventory.ClassifyVolumeContent(app.m_systemDrive);

    // Row 7: the data folder.
    app.m_dataFolder = inventory.PickStorageFolder(app.m_dataFolderName, reference, 10240.0);
    EXPECT_EQ(expected->storagePass, app.m_storagePass);
    if (expected->dataFolder) {
        EXPECT_EQ(0, app.m_dataFolder.CompareNoCase(expected->dataFolder)) << Utf8Of((const wchar_t*)app.m_dataFolder);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app.m_dataFolder)) << "the data folder is not real";
        SetDownloadFolders(app.m_dataFolder, app.m_filePrefix + FixedText::kRecordIniSuffix,
                           app.m_filePrefix + FixedText::kRecordSectionSuffix, app.m_iniPassword, app.m_moduleFolder);
    } else {
        EXPECT_EQ(CString(FixedText::kNoStorageFolder), app.m_dataFolder);
        app.m_dataFolder = app.m_moduleFolder;
        SetDownloadFolders(app.m_dataFolder, app.m_filePrefix + FixedText::kRecordIniSuffixNoData,
                           app.m_filePrefix + FixedText::kRecordSectionSuffixNoData, app.m_iniPassword,
                           FixedText::kSecondaryFolderNoData);
    }

    // Row 8: the lists and the configuration from the local catalogue server.
    ULONGLONG memory = 0;
    CurrentSystemFacts().InstalledMemory(memory, app.m_bootModeFlag);
    app.BuildRecommendLists(kind, memory, inventory.m_totalPartitions[reference].partition_style != 0);
    EXPECT_EQ(expected->configLoaded, app.FetchOnlineConfig());
    if (expected->configLoaded) {
        EXPECT_GT(app.m_osImages.GetSize(), 4);
        EXPECT_EQ(3, (int)app.m_peImages.GetSize());
        ASSERT_EQ(2, app.m_peImages[2].m_linkCount);
        // The served boot environment is whole: its digest is the one the
        // configuration gives, fetched from its first mirror into the download folder.
        if (expected->dataFolder) {
            COnlinefileinfo& pe = app.m_peImages[2];
            CString url = app.m_fileLinks[pe.m_linkIndices[0]].GetUrl();
            CString path = GetLocalPath(pe);
            DWORD status = 0;
            // Far larger than a configuration: the cap is the file's own.
            EXPECT_EQ(kDownloadDone, DownloadUrlToFile(url, path, &status, 0xFFFFFFFFu)) << Utf8Of((const wchar_t*)url);
            EXPECT_EQ(200u, status);
            EXPECT_EQ(pe.m_expectedMd5, FileMd5Hex(path)) << Utf8Of((const wchar_t*)path);
        }
    }

    // The boot-environment search of a check without a configuration.
    if (expected->localPe != 0) {
        int taken = -1;
        for (int k = 0; k < 3 && k < app.m_peImages.GetSize(); ++k) {
            CheckPeFile(app.m_peImages[k]);
            if ((app.m_peImages[k].m_checkState == 2 || app.m_peImages[k].m_checkState == 3) && k >= 1) {
                taken = k;
                break;
            }
        }
        EXPECT_EQ(expected->localPe, taken);
    }
    UnloadSimScenario();
    RemoveTree(work);
}

}  // namespace

int main(int argc, char** argv) {
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 10, "--outcome=") == 0) g_outcome = arg.substr(10);
    }
    return RUN_ALL_TESTS();
}
