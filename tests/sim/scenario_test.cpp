// The scenario loader and the fakes it installs, in-process.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <string>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/shell_calls.h"
#include "core/system_facts.h"
#include "core/tarvel_app.h"
#include "disk/disk_calls.h"
#include "disk/disk_inventory.h"
#include "sim/sim_machine.h"
#include "sim/sim_scenario.h"
#include "support/test_files.h"

namespace {

std::wstring ShippedScenario(const wchar_t* name) {
    return std::wstring(KAVETTA_SIM_SCENARIO_DIR) + L"\\" + name;
}

// A small machine: one GPT disk with a letter-less EFI partition and C:,
// a data partition D:, and a USB disk F: that appears later.
const char* kSmallMachine = R"({
  "name": "small",
  "disks": [
    {"device": 0, "bus": "sata", "style": "gpt", "product": "Fake Disk 0", "sizeGiB": 100,
     "partitions": [
       {"type": "efi", "sizeMiB": 100, "volume": {"fileSystem": "FAT32"}},
       {"type": "basic", "sizeGiB": 40, "volume": {"letter": "C", "freeGiB": 10, "systemVersion": "10.0.19041.1"}},
       {"type": "basic", "sizeGiB": 50, "volume": {"letter": "D", "label": "数据", "freeMiB": 20480}}]},
    {"device": 1, "bus": "usb", "style": "mbr", "removable": true, "product": "Stick", "sizeGiB": 16,
     "partitions": [{"type": "0x0C", "sizeGiB": 15, "active": true,
                     "volume": {"letter": "F", "fileSystem": "FAT32", "appears": {"whenState": "usb-in"}}}]}],
  "facts": {"osDescription": "Windows 10 专业版", "chassisText": "台式机",
            "properties": {"Win32_BaseBoard.Product": "B450M", "Win32_Processor.Name": "Ryzen 5"},
            "memoryGiB": 8, "memoryStatusBytes": 8000000000},
  "processes": {"defaultExitCode": 0,
                "answers": [{"match": "kvtbcd", "exitCode": 5, "setState": "bcd-ran"}]},
  "server": {"mode": "normal", "mirror": "http://127.0.0.1:18999/small/kavetta.ini"}
})";

class SimScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = MakeTempFolder(L"simscenario");
        m_path = m_folder + L"\\scenario.json";
        ASSERT_TRUE(WriteWholeFile(m_path, kSmallMachine));
    }
    void TearDown() override {
        UnloadSimScenario();
        RemoveTree(m_folder);
    }
    void Load() {
        CString error;
        ASSERT_TRUE(LoadSimScenario(m_path.c_str(), &error)) << Utf8Of((const wchar_t*)error);
    }
    std::wstring Drives() {
        wchar_t buffer[256] = {};
        DWORD n = CurrentStorageCalls().LogicalDriveStrings(255, buffer);
        std::wstring letters;
        for (DWORD i = 0; i < n; i += 4) letters += buffer[i];
        return letters;
    }

    std::wstring m_folder, m_path;
};

TEST(SimScenarioParse, BadScenariosSayWhatAndWhere) {
    struct Case {
        const char* json;
        const char* expected;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "scenario: must be an object"},
        {R"({"disks": []})", "scenario.disks: a machine needs at least one disk"},
        {R"({"disk": []})", "scenario: unknown key \"disk\""},
        {R"({"disks": [{"sizeGiB": 10}]})", "scenario.disks[0]: needs a device number"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "bus": "firewire"}]})", "scenario.disks[0].bus: unknown value"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"type": "swap", "sizeGiB": 1}]}]})",
         "scenario.disks[0].partitions[0].type: unknown GPT type \"swap\""},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "style": "mbr", "partitions": [{"type": "0x1FF", "sizeGiB": 1}]}]})",
         "scenario.disks[0].partitions[0].type: must be an MBR type byte"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 11}]}]})",
         "scenario.disks[0].partitions[0]: does not fit on the disk"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"freeGiB": 2}}]}]})",
         "scenario.disks[0].partitions[0].volume: more free space than the partition holds"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"letter": "D"}},
                                                                   {"sizeGiB": 1, "volume": {"letter": "d:"}}]}]})",
         "scenario.disks[0].partitions[1].volume.letter: is used twice"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"letter": "DE"}}]}]})",
         "volume.letter: must be one drive letter"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"appears": {"afterQueries": 1}}}]}]})",
         "only a volume with a letter can appear later"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}], "facts": {"memoryGiB": "8"}})", "scenario.facts.memoryGiB: must be a number"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}], "facts": {"encryptionQuery": "maybe"}})",
         "scenario.facts.encryptionQuery: unknown value \"maybe\""},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"encryption": {"protection": "paused"}}}]}]})",
         "scenario.disks[0].partitions[0].volume.encryption.protection: unknown value \"paused\""},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"encryption": {"locked": true}}}]}]})",
         "scenario.disks[0].partitions[0].volume.encryption: unknown key \"locked\""},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}], "facts": {"properties": {"Product": "x"}}})",
         "key \"Product\" must be Class.Property"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}], "server": {"mirror": "http://example.com/kavetta.ini"}})",
         "scenario.server.mirror: must be an address on http://127.0.0.1:"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}, {"device": 0, "sizeGiB": 10}]})",
         "scenario.disks[1].device: is used twice"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10}], "windowsBits": 48})", "scenario.windowsBits: must be 32 or 64"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"type": "efi", "sizeGiB": 1}]}],
             "systemPartition": {"device": 0, "partition": 1}})",
         "scenario.systemPartition: names no partition with a volume"},
        // Partitions that tools make and remove.
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "appears": {}}]}]})",
         "scenario.disks[0].partitions[0].appears: needs whenState"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "goes": {"afterQueries": 1}}]}]})",
         "scenario.disks[0].partitions[0].goes: unknown key \"afterQueries\""},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "startMiB": 0}]}]})",
         "scenario.disks[0].partitions[0].startMiB: must be 1 or more"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "startMiB": 9300}]}]})",
         "scenario.disks[0].partitions[0]: does not fit on the disk"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "appears": {"whenState": "a"},
             "volume": {"letter": "E", "appears": {"whenState": "b"}}}]}]})",
         "scenario.disks[0].partitions[0].volume.appears: the partition appears already"},
        // A number is shared only by a partition that goes and one that appears.
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "goes": {"whenState": "a"}},
             {"number": 1, "sizeGiB": 1, "goes": {"whenState": "b"}}]}]})",
         "scenario.disks[0].partitions[1].number: is used twice on this disk"},
        {R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1},
             {"number": 1, "sizeGiB": 1, "appears": {"whenState": "b"}}]}]})",
         "scenario.disks[0].partitions[1].number: is used twice on this disk"},
    };
    for (const Case& c : cases) {
        SimScenario scenario;
        std::wstring problem;
        EXPECT_FALSE(ParseSimScenario(c.json, scenario, problem)) << c.json;
        EXPECT_NE(Utf8Of(problem).find(c.expected), std::string::npos)
            << "for " << c.json << "\n got: " << Utf8Of(problem);
    }
}

TEST(SimScenarioParse, EveryShippedScenarioLoads) {
    for (const wchar_t* name : {L"typical.json", L"full.json", L"fallback.json", L"no_config_local_pe.json",
                                L"no_config_local_pe1.json", L"no_system_letter.json", L"nothing.json",
                                L"no_folder.json", L"legacy.json", L"win10_mbr64.json", L"win10_gpt64.json",
                                L"win7_gpt64.json"}) {
        SimScenario scenario;
        std::wstring problem;
        EXPECT_TRUE(ReadSimScenario(ShippedScenario(name), scenario, problem)) << Utf8Of(problem);
    }
}

TEST(SimScenarioParse, TypicalIsTheDefaultMachine) {
    SimScenario s;
    std::wstring problem;
    ASSERT_TRUE(ReadSimScenario(ShippedScenario(L"typical.json"), s, problem)) << Utf8Of(problem);
    ASSERT_EQ(2u, s.disks.size());
    EXPECT_EQ(FakeLayout::Gpt, s.disks[0].layout);
    EXPECT_EQ(8ULL << 30, s.installedMemoryBytes);
    std::wstring letters;
    bool letterlessEfi = false;
    for (const FakeVolume& v : s.volumes) {
        if (v.letter) letters += v.letter;
        if (!v.letter && v.device == 0 && v.partition == 1) letterlessEfi = true;
    }
    EXPECT_EQ(L"CDE", letters);
    EXPECT_TRUE(letterlessEfi);
    EXPECT_EQ(BusTypeUsb, s.disks[1].bus);
}

TEST(SimScenarioParse, TheFirmwaresSystemPartition) {
    // Unnamed: the first volume on a boot partition of a non-USB disk.
    SimScenario s;
    std::wstring problem;
    ASSERT_TRUE(ReadSimScenario(ShippedScenario(L"typical.json"), s, problem)) << Utf8Of(problem);
    EXPECT_EQ(0, s.systemDevice);
    EXPECT_EQ(1, s.systemPartition);
    // Two disks: the firmware starts the second disk's active partition.
    const char* twoDisks = R"({"disks": [
        {"device": 0, "sizeGiB": 10, "partitions": [{"type": "efi", "sizeMiB": 100, "volume": {}},
                                                   {"sizeGiB": 5, "volume": {"letter": "C", "systemVersion": "10.0.1"}}]},
        {"device": 1, "sizeGiB": 10, "style": "mbr", "partitions": [{"sizeGiB": 1, "active": true, "volume": {"letter": "D"}}]}],
        "systemPartition": {"device": 1, "partition": 1}})";
    ASSERT_TRUE(ParseSimScenario(twoDisks, s, problem)) << Utf8Of(problem);
    EXPECT_EQ(1, s.systemDevice);
    EXPECT_EQ(1, s.systemPartition);
}

TEST(SimScenarioLoad, AMissingFileInstallsNothing) {
    CString error;
    EXPECT_FALSE(LoadSimScenario(L"C:\\no\\such\\scenario.json", &error));
    EXPECT_NE(Utf8Of((const wchar_t*)error).find("C:\\no\\such\\scenario.json: cannot be opened"), std::string::npos)
        << Utf8Of((const wchar_t*)error);
    EXPECT_EQ(&Win32StorageCalls(), &CurrentStorageCalls());
    EXPECT_EQ(&Win32BootHost(), &CurrentBootHost());
}

TEST_F(SimScenarioTest, TheInventorySeesTheScenarioMachine) {
    Load();
    CDiskInventory inventory;
    inventory.Refresh();
    ASSERT_EQ(3, (int)inventory.m_totalPartitions.GetSize());  // F: has not appeared yet
    const total_partition_info& efi = inventory.m_totalPartitions[0];
    EXPECT_EQ(1, efi.is_efi_type);
    const total_partition_info& c = inventory.m_totalPartitions[1];
    EXPECT_EQ(L"C:", CString(c.letter));
    EXPECT_EQ(1, c.partition_style);
    EXPECT_EQ(L"Fake Disk 0", CString(c.model));
    const total_partition_info& d = inventory.m_totalPartitions[2];
    EXPECT_EQ(L"D:", CString(d.letter));
    EXPECT_EQ(L"NTFS", CString(d.file_system));
    EXPECT_DOUBLE_EQ(20480.0, d.free_mb);
    EXPECT_EQ(L"0:3", CString(d.key));
    // The firmware starts Windows from the letter-less EFI partition.
    CString systemKey;
    EXPECT_TRUE(inventory.FirmwareSystemPartitionKey(systemKey));
    EXPECT_EQ(L"0:1", CString(systemKey));
}

TEST_F(SimScenarioTest, AnApplicationMadeBeforeGetsTheScenarioInventoryAndMirror) {
    CTarvelApp app;
    Load();
    app.m_diskInventory->Refresh();
    EXPECT_EQ(3, (int)app.m_diskInventory->m_totalPartitions.GetSize());
    ASSERT_EQ(1, (int)app.m_mirrorUrls.GetSize());
    EXPECT_EQ(L"http://127.0.0.1:18999/small/kavetta.ini", CString(app.m_mirrorUrls[0]));
}

TEST_F(SimScenarioTest, ALetterAppearsWhenTheStateSaysSo) {
    Load();
    EXPECT_EQ(L"CD", Drives());
    SetSimState(L"something-else");
    EXPECT_EQ(L"CD", Drives());
    SetSimState(L"usb-in");
    EXPECT_EQ(L"CDF", Drives());
    EXPECT_EQ(DRIVE_REMOVABLE, CurrentStorageCalls().DriveType(L"F:\\"));
}

TEST_F(SimScenarioTest, PartitionsAndVolumesAppearAndGoOnTheToolsTokens) {
    // A stick whose old partition (F:) goes when it is cleared, and whose new
    // partition 1 (H:) appears when it is made.
    ASSERT_TRUE(WriteWholeFile(m_path, R"({"disks": [
        {"device": 0, "sizeGiB": 10, "partitions": [{"sizeGiB": 1, "volume": {"letter": "C"}}]},
        {"device": 1, "bus": "usb", "style": "mbr", "removable": true, "sizeGiB": 16, "partitions": [
          {"type": "0x0C", "sizeGiB": 15, "volume": {"letter": "F"}, "goes": {"whenState": "kvtpart.exe|/del 1"}},
          {"number": 1, "type": "0x0C", "startMiB": 15000, "sizeMiB": 500, "appears": {"whenState": "kvtpart.exe|/cre:EFI 1"},
           "volume": {"letter": "H", "fileSystem": "FAT32", "label": "EFI"}}]}]})"));
    Load();
    auto partitions = [] {
        CDiskInventory inventory;
        inventory.Refresh();
        std::wstring seen;
        for (INT_PTR i = 0; i < inventory.m_totalPartitions.GetSize(); ++i)
            seen += std::wstring(inventory.m_totalPartitions[i].key) + L" ";
        return seen;
    };
    EXPECT_EQ(L"CF", Drives());
    EXPECT_EQ(L"0:1 1:1 ", partitions());
    SetSimState(L"kvtpart.exe|/del 1");
    EXPECT_EQ(L"C", Drives());
    EXPECT_EQ(L"0:1 ", partitions());
    SetSimState(L"kvtpart.exe|/cre:EFI 1");
    EXPECT_EQ(L"CH", Drives());
    EXPECT_EQ(L"0:1 1:1 ", partitions());
    wchar_t label[32] = {}, fileSystem[32] = {};
    ASSERT_TRUE(CurrentStorageCalls().VolumeInformation(L"H:\\", label, 32, fileSystem, 32));
    EXPECT_EQ(std::wstring(L"FAT32"), fileSystem);
}

TEST(SimScenarioCount, ALetterAppearsAfterSomeQueries) {
    std::wstring folder = MakeTempFolder(L"simcount");
    std::wstring path = folder + L"\\s.json";
    ASSERT_TRUE(WriteWholeFile(path, R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [
        {"sizeGiB": 1, "volume": {"letter": "C"}}, {"sizeGiB": 1, "volume": {"letter": "H", "appears": {"afterQueries": 2}}}]}]})"));
    CString error;
    ASSERT_TRUE(LoadSimScenario(path.c_str(), &error)) << Utf8Of((const wchar_t*)error);
    wchar_t buffer[64];
    std::wstring seen;
    for (int i = 0; i < 4; ++i) {
        DWORD n = CurrentStorageCalls().LogicalDriveStrings(63, buffer);
        seen += std::to_wstring(n / 4);
    }
    EXPECT_EQ(L"1122", seen);  // H: from the third query on
    UnloadSimScenario();
    RemoveTree(folder);
}

// The simulated Windows' word size: named by the scenario, else the one it
// runs on. On 64-bit Windows our 32-bit process finds the running system's
// kernel file only through Sysnative, and the program's flag says 64-bit.
TEST_F(SimScenarioTest, TheWindowsIsAsWideAsTheScenarioSays) {
    CTarvelApp app;
    const BOOL host = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    const char* machine = R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [
        {"sizeGiB": 5, "volume": {"letter": "C", "systemVersion": "10.0.19045.1"}}]}])";
    for (const char* bits : {"", R"(, "windowsBits": 64)", R"(, "windowsBits": 32)"}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(WriteWholeFile(m_path, std::string(machine) + bits + "}"));
        Load();
        const bool is64 = *bits ? std::string(bits).find("64") != std::string::npos : host != FALSE;
        EXPECT_EQ(is64 ? 1 : 0, app.m_is64BitSystem);
        IStorageCalls& calls = CurrentStorageCalls();
        EXPECT_EQ(!is64, calls.FindFile(L"C:\\Windows\\System32\\ntoskrnl.exe") != FALSE);
        EXPECT_EQ(is64, calls.FindFile(L"C:\\Windows\\Sysnative\\ntoskrnl.exe") != FALSE);
        CDiskInventory inventory;
        EXPECT_EQ(CString(FixedText::kSystemWin10), inventory.ClassifyVolumeContent(L"C:"));
        UnloadSimScenario();
        EXPECT_EQ(host, app.m_is64BitSystem) << "the running Windows' flag comes back";
    }
}

TEST_F(SimScenarioTest, FactsAndMemoryComeFromTheScenario) {
    Load();
    IFactsQuery* query = CurrentSystemFacts().OpenQuery();
    ASSERT_NE(nullptr, query);
    CString board = L"unchanged", os, chassis, missing = L"unchanged";
    EXPECT_EQ(1, query->QueryProperty(L"Win32_BaseBoard", L"Product", board));
    EXPECT_EQ(L"B450M", board);
    EXPECT_EQ(0, query->QueryProperty(L"Win32_BIOS", L"Version", missing));
    EXPECT_EQ(L"unchanged", missing);
    query->OsDescription(os);
    EXPECT_EQ(L"Windows 10 专业版", os);
    query->LookupDisplayText(chassis);
    EXPECT_EQ(L"台式机", chassis);
    delete query;
    ULONGLONG memory = 0;
    CurrentSystemFacts().InstalledMemory(memory, 0);
    EXPECT_EQ(8ULL << 30, memory);
    CurrentSystemFacts().InstalledMemory(memory, 1);
    EXPECT_EQ(8000000000ULL, memory);
}

// BitLocker as the scenario gives it, under the volume GUID paths of the
// simulated storage: only the volumes with "encryption" are known.
TEST_F(SimScenarioTest, BitLockerAnswersFromTheScenario) {
    std::string json = kSmallMachine;
    const std::string d = R"("label": "数据", "freeMiB": 20480)";
    json.replace(json.find(d), d.size(), d + R"(, "encryption": {"conversion": "encrypted", "protection": "suspended"})");
    ASSERT_TRUE(WriteWholeFile(m_path, json.c_str()));
    Load();
    std::vector<EncryptableVolumeState> volumes;
    HRESULT failure = E_FAIL;
    ASSERT_EQ(EncryptionAnswer::kRead, CurrentSystemFacts().EncryptableVolumes(volumes, failure));
    EXPECT_EQ(S_OK, failure);
    ASSERT_EQ(1u, volumes.size());
    CString id;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, CurrentStorageCalls().VolumeGuidPath(L"D:\\", id));
    EXPECT_EQ(id, volumes[0].deviceId);
    EXPECT_EQ(1, volumes[0].conversionStatus);
    EXPECT_EQ(0, volumes[0].protectionStatus) << "suspended protection reads as off";
    CString c;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, CurrentStorageCalls().VolumeGuidPath(L"C:\\", c));
    EXPECT_NE(c, id);
    UnloadSimScenario();

    for (const char* query : {"noProvider", "fails"}) {
        std::string other = kSmallMachine;
        const std::string m = R"("memoryGiB": 8,)";
        other.replace(other.find(m), m.size(), m + " \"encryptionQuery\": \"" + query + "\",");
        ASSERT_TRUE(WriteWholeFile(m_path, other.c_str()));
        Load();
        volumes.resize(2);
        const EncryptionAnswer answer = CurrentSystemFacts().EncryptableVolumes(volumes, failure);
        EXPECT_TRUE(volumes.empty());
        if (std::string(query) == "fails") {
            EXPECT_EQ(EncryptionAnswer::kFailed, answer);
            EXPECT_TRUE(FAILED(failure));
        } else {
            EXPECT_EQ(EncryptionAnswer::kNoEncryption, answer);
            EXPECT_EQ((HRESULT)WBEM_E_INVALID_NAMESPACE, failure);
        }
        UnloadSimScenario();
    }
}

TEST_F(SimScenarioTest, ShellTrayAndRestartAreRecordedNeverDone) {
    Load();
    EXPECT_TRUE(OpenWebTarget(L"https://127.0.0.1/update"));
    EXPECT_FALSE(OpenWebTarget(L"C:\\Windows\\notepad.exe"));
    EXPECT_GT(reinterpret_cast<INT_PTR>(
                  CurrentShellCalls().Execute(nullptr, nullptr, L"C:\\KavettaData", nullptr, nullptr, SW_SHOW)),
              32);
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    CurrentShellCalls().NotifyIcon(NIM_ADD, &data);
    CurrentShellCalls().NotifyIcon(NIM_MODIFY, &data);
    CurrentShellCalls().NotifyIcon(NIM_DELETE, &data);
    EXPECT_TRUE(RebootMachine());

    SimRecords records = GetSimRecords();
    // Web pages go through the desktop's shell (as the signed-in user, in
    // the system folder); the open-folder links through the shell.
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_EQ(1u, records.desktopShellOpens.size());
    EXPECT_EQ(L"https://127.0.0.1/update|" + std::wstring(system), records.desktopShellOpens[0]);
    ASSERT_EQ(1u, records.shellExecutes.size());
    EXPECT_EQ(L"|C:\\KavettaData||", records.shellExecutes[0]) << "the default verb";
    EXPECT_EQ(1, records.trayAdds);
    EXPECT_EQ(1, records.trayModifies);
    EXPECT_EQ(1, records.trayDeletes);
    EXPECT_EQ(1, records.reboots);

    std::string journal = ReadWholeFile(m_folder + L"\\sim-journal.txt");
    EXPECT_NE(std::string::npos, journal.find("desktop shell https://127.0.0.1/update|"));
    EXPECT_NE(std::string::npos, journal.find("shell |C:\\KavettaData"));
    EXPECT_NE(std::string::npos, journal.find("tray add"));
    EXPECT_NE(std::string::npos, journal.find("reboot"));

    ResetSimRecords();
    records = GetSimRecords();
    EXPECT_TRUE(records.shellExecutes.empty());
    EXPECT_EQ(0, records.reboots);
}

TEST_F(SimScenarioTest, ProcessRunsAreAnsweredFromTheScenario) {
    Load();
    IBootHost& host = CurrentBootHost();
    EXPECT_EQ(5, host.RunProcessAndWait(L"C:\\work\\KVTBCD.exe", L"/set {bootmgr} path \\EFI\\x.efi"));
    EXPECT_EQ(0, host.RunProcessAndWait(L"C:\\work\\other.exe", L"-x"));
    SimRecords records = GetSimRecords();
    ASSERT_EQ(2u, records.processRuns.size());
    EXPECT_EQ(L"C:\\work\\KVTBCD.exe|/set {bootmgr} path \\EFI\\x.efi", records.processRuns[0]);
    EXPECT_NE(std::string::npos, ReadWholeFile(m_folder + L"\\sim-state.txt").find("bcd-ran"));
}

TEST_F(SimScenarioTest, PathsOnATemporaryLetterLeadToThePartitionFolder) {
    Load();
    // prepare_scenario.py makes the folder of the letter-less EFI partition.
    const std::wstring efi = m_folder + L"\\drives\\part-0-1";
    ASSERT_TRUE(CreateDirectoryW((m_folder + L"\\drives").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(efi.c_str(), nullptr));
    ASSERT_TRUE(CurrentStorageCalls().DefineDosDevice(0, L"S:", L"\\Device\\Harddisk0\\Partition1"));
    IBootHost& host = CurrentBootHost();
    EXPECT_TRUE(host.CreateFolder(L"S:\\EFI"));
    EXPECT_TRUE(host.IsFolder(L"s:\\EFI"));
    EXPECT_TRUE(FileExists(efi + L"\\EFI"));
    const std::wstring source = m_folder + L"\\boot.efi";
    ASSERT_TRUE(WriteWholeFile(source, "boot"));
    EXPECT_GT(host.CopyFileEnsureFolder(source.c_str(), L"S:\\EFI\\Boot\\bootx64.efi", FALSE), 0);
    EXPECT_EQ("boot", ReadWholeFile(efi + L"\\EFI\\Boot\\bootx64.efi"));
    // A letter the fake never defined is left as it is.
    EXPECT_FALSE(host.PathExists(L"Q:\\EFI"));
}

TEST(SimScenarioFolders, FoldersAreRealUnlessTheDriveRefusesThem) {
    std::wstring folder = MakeTempFolder(L"simfolders");
    ASSERT_EQ(L':', folder[1]);
    std::wstring letter(1, folder[0]);
    for (bool refuse : {false, true}) {
        std::wstring path = folder + L"\\s.json";
        std::string json = std::string(R"({"disks": [{"device": 0, "sizeGiB": 10, "partitions": [
            {"sizeGiB": 1, "volume": {"letter": ")") + Utf8Of(letter) + R"(", "refuseNewFolders": )" +
                           (refuse ? "true" : "false") + "}}]}]}";
        ASSERT_TRUE(WriteWholeFile(path, json));
        CString error;
        ASSERT_TRUE(LoadSimScenario(path.c_str(), &error)) << Utf8Of((const wchar_t*)error);
        std::wstring made = folder + (refuse ? L"\\refused" : L"\\made");
        EXPECT_EQ(refuse ? FALSE : TRUE, CurrentBootHost().CreateFolder(made.c_str()));
        EXPECT_EQ(refuse ? 0u : (DWORD)FILE_ATTRIBUTE_DIRECTORY,
                  GetFileAttributesW(made.c_str()) == INVALID_FILE_ATTRIBUTES
                      ? 0u
                      : (GetFileAttributesW(made.c_str()) & FILE_ATTRIBUTE_DIRECTORY));
        UnloadSimScenario();
    }
    RemoveTree(folder);
}

}  // namespace
