// A restart that does not happen leaves nothing armed: the boot setup arms
// the scripted machine (entries, one-time boot sequences, the replaced
// fallback loader, the restart INI and the marker), the power seam answers
// as Windows would, and the recorded boot-entry commands and files show
// what is left.
#include <gtest/gtest.h>

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

    // A fresh machine, armed by the boot setup and the restart worker's files.
    void Arm() {
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
}

}  // namespace
