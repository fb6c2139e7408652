// A restart that does not happen leaves nothing armed: the boot setup arms
// the scripted machine (entries, one-time boot sequences, the replaced
// fallback loader, the restart INI and the marker), the power seam answers
// as Windows would, and the recorded boot-entry commands and files show
// what is left.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "disk_test_support.h"
#include "support/boot_store_model.h"
#include "support/no_restart.h"
#include "support/scripted_power.h"

namespace {

const std::wstring kWork = L"C:\\Temp\\Work Folder";
const std::wstring kLoader = L"H:\\EFI\\Boot\\bootx64.efi";
const std::wstring kMarker = L"C:\\kvtreinstall.mark";
const std::wstring kGptStore = L"H:\\EFI\\Microsoft\\Boot\\BCD";
const std::wstring kMbrStore = L"D:\\Boot\\BCD";

using ScriptedPower = ScriptedPowerControl;

class RestartUndoTest : public DiskTest {
protected:
    void SetUp() override {
        SetPowerControl(&power);
        app.m_workFolder = kWork.c_str();
        app.m_dataFolder = L"D:\\Kavetta Data";
        app.m_systemDrive = L"C:";
        app.m_referencePartition = 2;  // C: in the inventory order
        // The staged copy and its extra entry, and the 64-bit loaders.
        app.m_storagePass = 2;
        app.m_is64BitSystem = 1;
        app.m_bootModeText = FixedText::kBootFiles64SystemText;
        app.m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        app.FinishUnpack(TRUE);
        ini = std::wstring(app.m_dataFolder) + L"\\" + std::wstring(app.m_restartIniName);
    }
    void TearDown() override {
        // The inventory removes its letters through the machine, which goes first.
        delete app.m_diskInventory;
        app.m_diskInventory = nullptr;
        static NoRestartPowerControl none;
        SetPowerControl(&none);
    }

    // A fresh machine, armed by the boot setup and the restart worker's
    // files. `before` runs on the machine first.
    void Arm(const std::function<void(FakeMachine&)>& before = nullptr) {
        delete app.m_diskInventory;
        app.m_diskInventory = nullptr;
        machine = FakeMachine();
        BuildStandardMachine(machine);
        machine.AddFolder(L"C:\\Temp");
        machine.AddFolder(kWork);
        for (const wchar_t* name : {L"kvtbcd.exe", L"kvtboot.sdi", L"kvtboot2.sdi", L"kvtldr", L"kvtmenu.lst",
                                    L"kvtldr.mbr", L"kvtbootmgfw.efi", L"kvtwinload.efi"})
            machine.AddFile(kWork + L"\\" + name);
        machine.AddFile(kWork + L"\\kvtbootx64.efi", 3400);
        machine.files[FakeMachine::Upper(kWork + L"\\kvtbootx64.efi")].content = "our loader";
        // The firmware's own fallback loader, read-only as some firmware tools leave it.
        machine.AddFile(kLoader, 1200);
        machine.files[FakeMachine::Upper(kLoader)].content = "the firmware's loader";
        machine.files[FakeMachine::Upper(kLoader)].attributes = FILE_ATTRIBUTE_READONLY;
        machine.AddFolder(L"D:\\Kavetta Data");
        machine.AddFile(L"D:\\Kavetta Data\\pe image.wim");
        machine.AddFile(L"H:\\EFI\\Microsoft\\Boot\\BCD");
        machine.AddFile(L"D:\\Boot\\BCD");
        if (before) before(machine);
        before_ = Files();
        app.m_diskInventory = new CDiskInventory(&machine, &machine);
        app.m_diskInventory->Refresh();
        ASSERT_TRUE(SplitTargetPath(L"D:\\Kavetta Data\\pe image.wim"));
        ASSERT_EQ(2, app.m_diskInventory->InstallBootEntries());
        ASSERT_EQ("our loader", machine.files[FakeMachine::Upper(kLoader)].content);
        // What the restart worker leaves after the boot setup.
        machine.AddFile(ini);
        machine.files[FakeMachine::Upper(ini)].attributes = FILE_ATTRIBUTE_HIDDEN;
        machine.AddFile(kMarker);
        app.m_rebootAtExit = 1;
        app.m_restartNotice = nullptr;
        armedRuns = machine.runs.size();
        ASSERT_NE(L"", BootStoreModel::Of(machine.runs).Armed()) << "the boot setup armed nothing";
    }

    // The files (not folders) the boot setup may touch: on the boot
    // partitions, in the staging folder and in the data folder, with what
    // they hold.
    std::map<std::wstring, std::string> Files() const {
        std::map<std::wstring, std::string> out;
        for (const auto& f : machine.files) {
            if (f.second.folder) continue;
            for (const wchar_t* place : {L"H:\\", L"D:\\BOOT\\", L"C:\\KAVETTABOOT\\", L"D:\\KAVETTA DATA\\"})
                if (f.first.compare(0, wcslen(place), place) == 0)
                    out[f.first] = f.second.content + "|" + std::to_string(f.second.size);
        }
        return out;
    }

    // The next ordinary start boots Windows as before, and the user is told.
    void ExpectUndone() {
        EXPECT_EQ(L"", BootStoreModel::Of(machine.runs).Armed());
        ASSERT_GT(machine.runs.size(), armedRuns) << "nothing was undone";
        // The one-time sequences go first.
        const std::wstring first = machine.runs[armedRuns];
        EXPECT_NE(std::wstring::npos, first.find(L"bootsequence")) << Narrow(first.c_str());
        EXPECT_EQ(kWork + L"\\kvtbcd.exe", first.substr(0, first.find(L'|')));
        ASSERT_TRUE(machine.HasFile(kLoader));
        EXPECT_EQ("the firmware's loader", machine.files[FakeMachine::Upper(kLoader)].content);
        EXPECT_EQ(1200u, machine.FileSize(kLoader.c_str()));
        EXPECT_TRUE(machine.HasFile(kLoader + L".kvtbak")) << "the backup stays for a later run";
        // Loaders of ours where there was none go.
        EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\kvtbootmgfw.efi"));
        EXPECT_FALSE(machine.HasFile(L"H:\\EFI\\Microsoft\\Boot\\kvtwinload.efi"));
        EXPECT_FALSE(machine.HasFile(ini));
        EXPECT_FALSE(machine.HasFile(kMarker));
        // The boot manager's description as it was, and every file the setup
        // placed gone (the ramdisk files, the staged copy, the store's
        // backups): what was there before, and only that, is there; the
        // firmware loader's backup stays.
        EXPECT_EQ(L"Windows Boot Manager", machine.BootManagerDescription(kGptStore));
        EXPECT_EQ(L"Windows Boot Manager", machine.BootManagerDescription(kMbrStore));
        std::map<std::wstring, std::string> after = Files();
        after.erase(FakeMachine::Upper(kLoader + L".kvtbak"));
        EXPECT_EQ(before_, after);
        EXPECT_EQ(0, app.m_rebootAtExit);
        EXPECT_STREQ(FixedText::kRestartUndoneNotice, app.m_restartNotice);
        // A second look finds nothing more to undo.
        const size_t runs = machine.runs.size();
        EXPECT_TRUE(app.m_diskInventory->UndoArmedBoot(ini.c_str(), kMarker.c_str()));
        EXPECT_EQ(runs, machine.runs.size());
    }

    ScriptedPower power;
    std::wstring ini;
    size_t armedRuns = 0;
    std::map<std::wstring, std::string> before_;
};

TEST_F(RestartUndoTest, ARestartThatDoesNotHappenLeavesNothingArmed) {
    struct Case {
        const char* what;
        ScriptedPower::Answer answer;
        DWORD endWaitMs;  // the bound on the session's end
    } cases[] = {
        {"Windows refuses the request", ScriptedPower::kRefuse, 600000},
        {"the session's end is cancelled", ScriptedPower::kCancel, 600000},
        {"no end within the bound", ScriptedPower::kSilent, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Arm();
        if (HasFatalFailure()) return;
        EXPECT_EQ(L"kvtboot", machine.BootManagerDescription(kGptStore));
        EXPECT_EQ(L"kvtboot", machine.BootManagerDescription(kMbrStore));
        power.answer = c.answer;
        power.requests = 0;
        EXPECT_FALSE(app.RestartOrUndo(c.endWaitMs));
        EXPECT_EQ(1, power.requests);
        ExpectUndone();
    }
}

TEST_F(RestartUndoTest, ASessionThatEndsKeepsEverythingForTheBootEnvironment) {
    Arm();
    power.answer = ScriptedPower::kEnd;
    EXPECT_TRUE(app.RestartOrUndo(600000));
    EXPECT_EQ(1, power.requests);
    EXPECT_EQ(armedRuns, machine.runs.size());
    EXPECT_TRUE(machine.HasFile(kMarker));
    EXPECT_TRUE(machine.HasFile(ini));
    EXPECT_EQ("our loader", machine.files[FakeMachine::Upper(kLoader)].content);
    EXPECT_EQ(nullptr, app.m_restartNotice);
    // No restart was accepted: nothing is asked.
    app.m_rebootAtExit = 0;
    EXPECT_FALSE(app.RestartOrUndo(600000));
    EXPECT_EQ(1, power.requests);
}

TEST_F(RestartUndoTest, AnUndoThatFailsSaysSoAndStillRemovesTheMarker) {
    Arm();
    // The first undo command (a one-time sequence) is refused by the tool.
    machine.exitCodes[(int)armedRuns + 1] = 1;
    power.answer = ScriptedPower::kRefuse;
    EXPECT_FALSE(app.RestartOrUndo(600000));
    EXPECT_STREQ(FixedText::kRestartUndoIncompleteNotice, app.m_restartNotice);
    EXPECT_FALSE(machine.HasFile(kMarker));
    EXPECT_FALSE(machine.HasFile(ini));
    EXPECT_EQ("the firmware's loader", machine.files[FakeMachine::Upper(kLoader)].content);
    // An entry may still point at the ramdisk files and the staged copy: they stay.
    EXPECT_TRUE(machine.HasFile(L"D:\\Kavetta Data\\kvtboot.sdi"));
    EXPECT_TRUE(machine.HasFile(L"C:\\KavettaBoot\\kvtboot2.sdi"));
    EXPECT_TRUE(machine.HasFile(L"C:\\KavettaBoot\\pe image.wim"));
}

TEST_F(RestartUndoTest, TheUndoPutsBackTheBootFilesOfAnOldSystemsBootPartition) {
    // The boot files, the INI and the menu go onto the firmware's partition
    // of the system's disk; an INI and a menu an earlier run left are there.
    struct Case {
        const char* what;
        bool iniBefore, menuBefore, loaderBefore;
    } cases[] = {
        {"nothing of ours before", false, false, false},
        {"an INI, a menu and a loader of an earlier run", true, true, true},
        {"only an INI of an earlier run", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app.m_bootModeFlag = 1;
        Arm([&](FakeMachine& m) {
            m.AddFile(L"H:\\bootmgr", 400);
            m.AddFile(L"H:\\Boot\\BCD", 800);
            m.files[FakeMachine::Upper(L"H:\\Boot\\BCD")].content = "the partition's own store";
            if (c.iniBefore) {
                m.AddFile(L"H:\\kvtldr.ini");
                m.files[FakeMachine::Upper(L"H:\\kvtldr.ini")].content = "[kavetta]mode=earlier\n";
                m.files[FakeMachine::Upper(L"H:\\kvtldr.ini")].size = 22;
                m.files[FakeMachine::Upper(L"H:\\kvtldr.ini")].attributes = 7;
            }
            if (c.menuBefore) {
                m.AddFile(L"H:\\kvtmenu.lst", 17);
                m.files[FakeMachine::Upper(L"H:\\kvtmenu.lst")].content = "the earlier menu";
            }
            if (c.loaderBefore) m.AddFile(L"H:\\kvtldr", 99);
        });
        app.m_bootModeFlag = 0;
        if (HasFatalFailure()) return;
        // Armed: our loader, INI (with this run's values), menu and the store's copy.
        ASSERT_TRUE(machine.HasFile(L"H:\\kvtldr"));
        ASSERT_TRUE(machine.HasFile(L"H:\\Boot\\BCD.kvtorig"));
        ASSERT_TRUE(machine.HasFile(L"H:\\Boot\\kvtldr.mbr"));
        ASSERT_NE(std::string::npos, machine.files[FakeMachine::Upper(L"H:\\kvtldr.ini")].content.find("KavettaPE"));
        power.answer = ScriptedPower::kRefuse;
        EXPECT_FALSE(app.RestartOrUndo(600000));
        ExpectUndone();
        EXPECT_FALSE(machine.HasFile(L"H:\\kvtldr.ini.kvtundo"));
    }
}

TEST_F(RestartUndoTest, TheBootManagersOwnDescriptionComesBackInTheOemCodePage) {
    // An owner's description in Chinese: on Chinese Windows the editor's
    // listing holds it in code page 936 and it is put back as it was; where
    // the OEM code page cannot show it, it is never changed at all.
    const std::wstring own = L"我的电脑 (Windows 10)";
    Arm([&](FakeMachine& m) { m.defaultBootManagerDescription = own; });
    if (HasFatalFailure()) return;
    const bool readable = GetOEMCP() == 936;
    RecordProperty("oem_code_page", (int)GetOEMCP());
    bool changed = false;
    for (const std::wstring& run : machine.runs) changed = changed || run.find(L"description kvtboot") != std::wstring::npos;
    EXPECT_EQ(readable, changed) << "OEM code page " << GetOEMCP();
    power.answer = ScriptedPower::kRefuse;
    EXPECT_FALSE(app.RestartOrUndo(600000));
    EXPECT_EQ(own, machine.BootManagerDescription(kGptStore));
    EXPECT_EQ(own, machine.BootManagerDescription(kMbrStore));
    EXPECT_STREQ(FixedText::kRestartUndoneNotice, app.m_restartNotice);
}

}  // namespace
