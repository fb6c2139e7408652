// The installed Windows of a simulated 64-bit Windows (run through
// with_scenario.sh with --outcome=win10_mbr64|win10_gpt64|win7_gpt64, on the
// scenario of that name): our 32-bit program finds the running system's
// kernel file only through Sysnative, as on Windows. The real main window is
// made in-process and its check runs on the scenario; then everything that
// follows the installed system is read off the program: the boot-mode flag
// and text, the memory row, the recommendation table, the backup/restore
// page's image name, the USB disk label and the boot setup's files on the
// boot partitions.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "../../controls/controls_test_support.h"
#include "../../disk/usb_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"
#include "disk/disk_inventory.h"
#include "pages/ghost_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages/usb_boot_writer.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/sim_machine.h"
#include "support/test_files.h"

namespace {

std::string g_outcome;
bool g_scenarioLoaded = false;

// What each simulated Windows is, read off its scenario.
struct Expected {
    const char* outcome;
    const wchar_t* system;     // the system text of C:
    int bootModeFlag;          // Windows 8, 8.1 and 10 set it
    ULONGLONG memoryRowBytes;  // the memory-status total with the flag, else the installed memory
    int table;                 // the recommendation table: 0 (A) a GPT system disk, 1 (B) MBR and Windows 8 to 10
    const wchar_t* label;      // the USB disk's label
    bool mbr;                  // the system disk is MBR: its boot partition holds the boot manager
    bool bootFilesPrepared;    // the loader, INI and menu files on the MBR boot partition
    bool storeBackups;         // the MBR store is backed up beside itself
    bool loadersReplaced;      // the 64-bit loaders on the EFI partition (64-bit Windows 7 on GPT)
};
const ULONGLONG kInstalled = 8ull << 30;
const ULONGLONG kMemoryStatus = 8455716864ull;
const Expected kOutcomes[] = {
    {"win10_mbr64", FixedText::kSystemWin10, 1, kMemoryStatus, 1, FixedText::kUsbVolumeLabelAlt, true, true, false,
     false},
    {"win10_gpt64", FixedText::kSystemWin10, 1, kMemoryStatus, 0, FixedText::kUsbVolumeLabelAlt, false, false, false,
     false},
    {"win7_gpt64", FixedText::kSystemWin7, 0, kInstalled, 0, FixedText::kUsbVolumeLabel, false, false, false, true},
};

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The backing folder of a partition without a letter (the boot partitions).
CString PartitionFolder(int device, int partition) {
    wchar_t scenario[MAX_PATH] = {};
    GetEnvironmentVariableW(kSimScenarioVariable, scenario, MAX_PATH);
    return SimPartitionFolder(scenario, device, partition).c_str();
}

class SimWow64 : public SimWindowSuite {
protected:
    void SetUp() override {
        for (const Expected& e : kOutcomes)
            if (g_outcome == e.outcome) expected = &e;
        if (!expected) GTEST_SKIP() << "no --outcome= given (run through with_scenario.sh)";
        ASSERT_TRUE(g_scenarioLoaded) << "the scenario could not be loaded";
        app = GetTarvelApp();
        ASSERT_TRUE(window && window->dlg && window->dlg->GetSafeHwnd());
        dlg = window->dlg.get();
    }
    const Expected* expected = nullptr;
    CTarvelApp* app = nullptr;
    CTarvelDlg* dlg = nullptr;
};

class RecordingView : public IUsbWriterView {
public:
    void SetStatusText(const wchar_t*) override {}
    void ShowLog(const wchar_t*) override {}
    void SetCopying(BOOL, const wchar_t*) override {}
};

TEST_F(SimWow64, TheCheckReadsTheInstalledWindows) {
    EXPECT_EQ(1, app->m_is64BitSystem);
    EXPECT_EQ(CString(expected->system), app->m_bootModeText);
    EXPECT_EQ(expected->bootModeFlag, app->m_bootModeFlag);
    CDiskInventory& inventory = *app->m_diskInventory;
    ASSERT_GE(app->m_referencePartition, 0);
    EXPECT_EQ(CString(expected->system), inventory.m_totalPartitions[app->m_referencePartition].system_kind);
    // The memory row: the installed memory is asked of the kernel only
    // without the flag.
    COsinfoDlg& page = *dlg->m_osinfoPage;
    EXPECT_EQ(FormatSizeText(expected->memoryRowBytes), page.m_valueRows[5].text);
    // The recommendation table.
    const FixedText::RecommendTable& table = FixedText::kRecommendTables[expected->table];
    CString result;
    page.m_resultText.GetWindowText(result);
    EXPECT_EQ(CString(FixedText::kCheckRecommendPrefix) + table.hint, result);
    ASSERT_EQ(table.list1Count, (int)app->m_recommendList1.GetSize());
    for (int i = 0; i < table.list1Count; ++i)
        EXPECT_EQ(CString(table.list1[i].text), app->m_recommendList1[i].m_sectionName) << i;
}

TEST_F(SimWow64, TheImageBackupIsNamedWithTheSystem) {
    dlg->SendMessage(WM_BACKUP_DEFAULT_PATH);
    CString named = CString(FixedText::kGhostNameInfix) + expected->system + FixedText::kGhostName64;
    named.MakeUpper();
    const CString target = dlg->m_ghostPage->m_targetPath;
    EXPECT_GE(target.Find(named), 0) << Utf8Of((const wchar_t*)target);
    EXPECT_LT(target.Find(FixedText::kNoSystem), 0) << Utf8Of((const wchar_t*)target);
}

// The USB page's job, as it takes it from the application, writes a
// scripted stick: its label follows what the check found.
TEST_F(SimWow64, TheUsbDiskLabelFollowsTheSystem) {
    ForgetHungTools();
    FakeMachine stick;
    BuildUsbMachine(stick, 3);
    const wchar_t* work = L"C:\\Work";
    const wchar_t* data = L"C:\\Data";
    AddUsbWriterSources(stick, work);
    stick.AddFolder(data);
    // The stick's machine has files of its own; the rest is the application's.
    CArray<COnlinefileinfo> pe;
    for (const wchar_t* name : {L"pe7.wim", L"pe8.wim", L"pe10.wim"}) {
        COnlinefileinfo record;
        record.m_fileName = name;
        record.m_title = name;
        pe.Add(record);
    }
    pe[2].m_checkState = 3;
    stick.AddFile(std::wstring(data) + L"\\pe10.wim", 200ull << 20);
    COnlinefileinfo tool;
    tool.m_fileName = L"kvttool.7z";
    tool.m_title = L"tool";
    tool.m_checkState = 3;
    stick.AddFile(std::wstring(data) + L"\\kvttool.7z", 50ull << 20);
    UsbWriteJob job = UsbWriteJob::FromApplication(*app, 3, UsbStickPath(3).c_str());
    job.workFolder = work;
    job.dataFolder = data;
    job.peImages = &pe;
    job.usbPeIndex = 2;
    job.toolFile = &tool;
    RecordingView view;
    CUsbDiskInventory inventory(&stick);
    CUsbBootDiskWriter writer(job, inventory, view, &stick, &stick);
    ASSERT_EQ(1, writer.WriteBootDisk()) << Utf8Of((const wchar_t*)writer.m_failure);
    std::wstring label = L"(no volume)";
    for (const FakeVolume& v : stick.volumes)
        if (v.letter == L'F') label = v.label;
    EXPECT_EQ(std::wstring(expected->label), label);
}

// The boot setup on the scenario's disks: the boot partitions' files follow
// the installed system. (Last: it arms the scenario's boot partitions.)
TEST_F(SimWow64, TheBootSetupFollowsTheSystem) {
    ASSERT_GE(app->m_selectedPeIndex, 0);
    ASSERT_LT(app->m_selectedPeIndex, app->m_peImages.GetSize());
    const CString bootFile = GetLocalPath(app->m_peImages[app->m_selectedPeIndex]);
    // Only ever into the scenario's own data folder (never the program's folder).
    ASSERT_EQ(1, app->m_storagePass);
    ASSERT_EQ(0, bootFile.Find(app->m_dataFolder + L"\\")) << Utf8Of((const wchar_t*)bootFile);
    SHCreateDirectoryExW(nullptr, GetParentFolder(bootFile), nullptr);
    ASSERT_TRUE(WriteWholeFile((const wchar_t*)bootFile, "boot environment image"));
    ASSERT_TRUE(SplitTargetPath(bootFile));
    const CString work = app->m_workFolder + L"\\";
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)(work + FixedText::kBoot64WorkFiles[i]), "loader " + std::to_string(i)));

    CDiskInventory& inventory = *app->m_diskInventory;
    EXPECT_GT(inventory.InstallBootEntries(), 0) << Utf8Of((const wchar_t*)inventory.m_bootSetupRefusal);
    // The firmware's partition: the first of disk 0 in every scenario here.
    const CString boot = PartitionFolder(0, 1);
    ASSERT_TRUE(Exists(boot)) << Utf8Of((const wchar_t*)boot);
    const wchar_t* prepared[] = {FixedText::kBootPartitionLoader, FixedText::kBootPartitionIni,
                                 FixedText::kBootPartitionMenu, FixedText::kBootPartitionStoreCopy,
                                 FixedText::kBootPartitionMbrImage};
    for (const wchar_t* file : prepared)
        EXPECT_EQ(expected->bootFilesPrepared, Exists(boot + file)) << Utf8Of(file);
    if (expected->bootFilesPrepared) {
        wchar_t tag[64] = {};
        GetPrivateProfileStringW(FixedText::kBootIniSection1, FixedText::kBootIniKey2, L"", tag, 64,
                                 boot + FixedText::kBootPartitionIni);
        EXPECT_EQ(app->m_bootFileTag, CString(tag));
    }
    // The MBR store's backups beside it: none on a system whose own boot
    // files were prepared.
    const CString store = boot + FixedText::kMbrStorePath;
    if (expected->mbr) {
        EXPECT_EQ(expected->storeBackups, Exists(store + FixedText::kStoreBackupSuffix));
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(store + L".*", &found);
        int dated = 0;
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const CString name = found.cFileName;
                // "BCD." and eight digits: month, day, hour, minute.
                if (name.GetLength() == 12 && wcsspn(name.Mid(4), L"0123456789") == 8) ++dated;
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        EXPECT_EQ(expected->storeBackups ? 1 : 0, dated);
    }
    // The 64-bit loaders on the EFI partition.
    for (int i = 0; i < 3; ++i) {
        const CString copy = boot + FixedText::kBoot64PartitionPaths[i];
        if (expected->loadersReplaced)
            EXPECT_EQ("loader " + std::to_string(i), ReadWholeFile((const wchar_t*)copy)) << Utf8Of((const wchar_t*)copy);
        else if (i == 0 && Exists(copy))
            EXPECT_NE("loader 0", ReadWholeFile((const wchar_t*)copy));
    }
    if (expected->loadersReplaced) {
        // The firmware's fallback loader was kept beside it first.
        EXPECT_EQ("firmware fallback loader",
                  ReadWholeFile((const wchar_t*)(boot + FixedText::kBoot64PartitionPaths[0] + FixedText::kLoaderBackupSuffix)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 10, "--outcome=") == 0) g_outcome = arg.substr(10);
    }
    return RunSimPageTests(argc, argv, L"simwow64", g_scenarioLoaded);
}
