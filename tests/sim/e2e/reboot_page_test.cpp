// The restart page and its worker on the simulated machine (run through
// with_scenario.sh on the full scenario): the real main window made
// in-process, its check run against the scenario, then the restart worker
// started as the download page starts it. The road that ends in a restart
// copies the chosen user folders, runs the boot setup, leaves the INI and
// the marker and asks the main window for the restart; each refusal
// restarts nothing, leaves no marker and offers the way back.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/os_select_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/usb_maker.h"
#include "core/work_folder.h"
#include "sim/e2e/faulty_boot_host.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/e2e/unsplittable_boot_file.h"
#include "sim/sim_machine.h"
#include "support/boot_store_model.h"
#include "support/fake_shell.h"
#include "support/no_restart.h"
#include "support/scripted_power.h"
#include "support/session_end.h"
#include "support/scripted_encryption.h"
#include "support/test_files.h"
#include "user_folders.h"

namespace {

bool g_scenarioLoaded = false;

bool Shown(CWnd& control) { return (::GetWindowLongW(control.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0; }

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

class RebootPageTest : public SimWindowSuite {
protected:
    void SetUp() override {
        if (!g_scenarioLoaded) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
        app = GetTarvelApp();
        ASSERT_TRUE(window && window->dlg && window->dlg->GetSafeHwnd());
        dlg = window->dlg.get();
        page = dlg->m_rebootPage;
        dlg->ShowWindow(SW_SHOW);
        ASSERT_GT(app->m_osImages.GetSize(), 0) << "the scenario's catalogue has no image";
        ASSERT_GE(app->m_selectedPeIndex, 0);
        ASSERT_LT(app->m_selectedPeIndex, app->m_peImages.GetSize());
        // The last image: its number, not its position, goes into the INI.
        app->m_selectedImageIndex = (int)app->m_osImages.GetSize() - 1;
        dlg->PrepareBackupTarget();
        ASSERT_FALSE(app->m_backupFolder.IsEmpty());
        DeleteFolderTree(app->m_backupFolder);

        bootFile = GetLocalPath(app->m_peImages[app->m_selectedPeIndex]);
        SHCreateDirectoryExW(nullptr, GetParentFolder(bootFile), nullptr);
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)bootFile, "boot environment image"));
        marker = RestartMarkerPath(app->m_systemDrive);
        ASSERT_FALSE(marker.IsEmpty()) << Utf8Of((const wchar_t*)app->m_systemDrive);
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);

        ASSERT_TRUE(folders.Make());
        app->m_rebootAtExit = 0;
        ResetSimRecords();
    }

    void TearDown() override {
        if (!g_scenarioLoaded) return;
        folders.Remove();
        app->m_rebootAtExit = 0;
    }

    void Choose(bool desktopBox, bool documentsBox, bool favoritesBox) {
        const bool boxes[3] = {desktopBox, documentsBox, favoritesBox};
        for (int i = 0; i < 3; ++i)
            dlg->m_backupPage->GetDlgItem(IDC_BACKUP_DESKTOP + i)->SendMessage(BM_SETCHECK, boxes[i] ? 1 : 0);
    }

    // The download page, as the flow shows it before its Next: only the
    // page shown moves the flow.
    void ShowDownloadPage() {
        dlg->m_flowPage = dlg->m_downloadPage;
        dlg->ShowPage(dlg->m_downloadPage);
    }
    // What the download page's Next does: show this page, start the worker.
    void RunWorker() {
        ShowDownloadPage();
        dlg->SendMessage(WM_PAGE_NAVIGATE, IDD_OS_DOWNLOAD, 1);
        ASSERT_EQ((CWnd*)page, dlg->m_shownPage);
        ASSERT_TRUE(page->StartRestart());
        WaitForWorker();
    }
    // Pumps until the worker has ended, noting whether the exit was refused
    // (the boot setup writing the boot partitions) at some moment.
    void WaitForWorker() {
        sawWritesDisk = false;
        ASSERT_TRUE(PumpUntil(
            [&] {
                sawWritesDisk = sawWritesDisk || page->WritesDisk();
                return !page->WorkersRunning();
            },
            300000))
            << "the worker did not end";
        Pump(100);
    }

    CString Status() {
        CString text;
        page->m_rebootStatus.GetWindowText(text);
        return text;
    }

    // A refusal: nothing restarts, nothing stays armed (no entry of the boot
    // setup, no one-time sequence, no marker), the line says why in red,
    // Back leads to the download page.
    void ExpectRefused(CRebootDlg::Outcome outcome, const wchar_t* line, int restartRequests = 0) {
        EXPECT_EQ(outcome, page->LastOutcome());
        EXPECT_EQ(0, app->m_rebootAtExit);
        EXPECT_EQ(restartRequests, GetSimRecords().reboots);
        EXPECT_EQ(L"", BootStoreModel::Of(GetSimRecords().processRuns).Armed());
        EXPECT_FALSE(Exists(marker));
        EXPECT_GE(Status().Find(line), 0) << Utf8Of((const wchar_t*)Status());
        EXPECT_EQ(CRebootDlg::kFailColor, page->m_rebootStatus.m_textColor);
        EXPECT_TRUE(page->m_backButton.IsWindowVisible());
        EXPECT_FALSE(page->m_rebootAnimation.IsWindowVisible());
        EXPECT_FALSE(page->m_rebootAnimation.IsPlaying());
        EXPECT_FALSE(page->WritesDisk());
    }
    // A file in the documents that another program holds open without
    // sharing: the handle that holds it.
    HANDLE HoldDocument() {
        const std::wstring locked = folders.documents + L"\\locked.pst";
        if (!WriteWholeFile(locked, "mail")) return INVALID_HANDLE_VALUE;
        return CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    void ExpectBackLeadsToDownloadPage() {
        page->m_backButton.SendMessage(BM_CLICK);
        Pump(100);
        EXPECT_EQ((CWnd*)dlg->m_downloadPage, dlg->m_shownPage);
    }

    CTarvelApp* app = nullptr;
    CTarvelDlg* dlg = nullptr;
    CRebootDlg* page = nullptr;
    CString bootFile, marker;
    TestUserFolders folders{L"kvt-restart-test"};
    bool sawWritesDisk = false;
};


TEST_F(RebootPageTest, AFileThatCannotBeCopiedStopsBeforeTheBootSetup) {
    Choose(true, true, false);
    HANDLE hold = HoldDocument();
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    RunWorker();
    CloseHandle(hold);

    ExpectRefused(CRebootDlg::kRefusedCopy, FixedText::kRebootUserFolderNames[1]);
    EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
    // The desktop came before and was copied.
    EXPECT_TRUE(FileExists(std::wstring(app->m_backupFolder) + FixedText::kRebootUserFolderSubs[0] +
                           L"\\kvt-restart-test\\笔记.txt"));
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\reboot_page_refused.png";
    EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
    ExpectBackLeadsToDownloadPage();
}

// BitLocker protecting the system volume would meet the changed boot
// configuration with its recovery screen at the next start. The fake stands
// in for BitLocker's WMI provider, which Wine does not have.
TEST_F(RebootPageTest, BitLockerProtectionOnTheSystemVolumeRefusesBeforeAnythingIsCopied) {
    Choose(true, true, false);
    ScopedEncryptionFacts bitLocker;
    ASSERT_FALSE(VolumeIdOf(app->m_systemDrive).empty());
    bool shot = false;
    for (const RefusingState& c : RefusingStates(app->m_systemDrive)) {
        SCOPED_TRACE(c.what);
        bitLocker.script() = ScriptedEncryption();
        c.arrange(bitLocker.script());
        ResetSimRecords();
        RunWorker();
        ExpectRefused(CRebootDlg::kRefusedProtection, c.line);
        EXPECT_EQ(std::wstring(c.line), std::wstring(Status()));
        EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
        EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0])) << "copied for nothing";
        EXPECT_EQ(1, bitLocker.script().reads);
        if (!shot) {
            shot = true;
            Pump(200);
            std::wstring file = TestProgramDirectory() + L"\\reboot_page_bitlocker.png";
            EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), file.c_str()), 20);
        }
        ExpectBackLeadsToDownloadPage();
    }
}

// Suspended protection reads as off: the road goes on to the copies (here
// it stops at a file that cannot be copied, before the boot setup).
TEST_F(RebootPageTest, SuspendedBitLockerProtectionLetsTheRoadGoOn) {
    Choose(false, true, false);
    ScopedEncryptionFacts bitLocker;
    const std::wstring id = VolumeIdOf(app->m_systemDrive);
    ASSERT_FALSE(id.empty());
    bitLocker.script().Knows({VolumeState(id, kFullyEncrypted, kProtectionOff)});
    HANDLE hold = HoldDocument();
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    RunWorker();
    CloseHandle(hold);
    ExpectRefused(CRebootDlg::kRefusedCopy, FixedText::kRebootUserFolderNames[1]);
    EXPECT_EQ(1, bitLocker.script().reads);
    ExpectBackLeadsToDownloadPage();
}

TEST_F(RebootPageTest, NoBootEnvironmentFileRestartsNothing) {
    Choose(true, false, false);
    ASSERT_TRUE(DeleteFileW(bootFile));
    RunWorker();
    ExpectRefused(CRebootDlg::kRefusedNoBootFile, FixedText::kRebootRefusedNoBootFile);
    EXPECT_TRUE(GetSimRecords().processRuns.empty());
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0])) << "copied for nothing";
    ExpectBackLeadsToDownloadPage();
}

TEST_F(RebootPageTest, NoPreparedBootPartitionRestartsNothingAndRemovesAnOldMarker) {
    Choose(false, false, false);
    // An inventory without disks: the boot setup prepares no partition.
    CDiskInventory* real = app->m_diskInventory;
    CDiskInventory empty(&TestMachine().storage, nullptr);
    app->m_diskInventory = &empty;
    // A marker an earlier, unfinished run left behind.
    ASSERT_TRUE(WriteWholeFile((const wchar_t*)marker, ""));
    SetFileAttributesW(marker, FILE_ATTRIBUTE_HIDDEN);
    RunWorker();
    app->m_diskInventory = real;
    // Without disks the firmware's system partition is not found either.
    ExpectRefused(CRebootDlg::kRefusedBootSetup, FixedText::kBootSetupNoSystemPartitionRefusal);
    ExpectBackLeadsToDownloadPage();
}

TEST_F(RebootPageTest, ARefusedBootSetupRestartsNothingAndSaysWhy) {
    // Each fault on the scenario's machine: the boot setup refuses, nothing
    // restarts, the old marker goes and the line gives the setup's reason.
    CString commandFailed;
    commandFailed.Format(FixedText::kBootSetupCommandRefusalFormat, 1);
    const CString stagedRamdisk = app->m_workFolder + L"\\" + FixedText::kRamdiskFile;
    struct Case {
        const char* what;
        const wchar_t* reason;
        std::function<void(FaultyBootHost&, CDiskInventory&)> arrange;
    } cases[] = {
        {"the fallback loader's backup fails", FixedText::kBootSetupLoaderBackupRefusal,
         [&](FaultyBootHost& host, CDiskInventory& inventory) {
             // The loader branch: a 64-bit system of the named kind, and a
             // firmware loader on the EFI partition.
             app->m_is64BitSystem = 1;
             app->m_bootModeText = FixedText::kBootFiles64SystemText;
             inventory.AssignTemporaryLetters();
             for (INT_PTR i = 0; i < inventory.m_totalPartitions.GetSize(); ++i) {
                 const total_partition_info& record = inventory.m_totalPartitions[i];
                 if (record.type_name != FixedText::kEfiTypeName || record.letter == FixedText::kNoLetter) continue;
                 const CString loader = record.letter + FixedText::kBoot64PartitionPaths[0];
                 host.RemoveFile(loader + FixedText::kLoaderBackupSuffix);
                 ASSERT_GT(host.CopyFileEnsureFolder(bootFile, loader, FALSE), 0) << Utf8Of((const wchar_t*)loader);
             }
             host.failCopyEnding = std::wstring(L"bootx64.efi") + FixedText::kLoaderBackupSuffix;
         }},
        {"a boot file never arrives", FixedText::kBootSetupToolsMissingRefusal,
         [&](FaultyBootHost&, CDiskInventory&) { ASSERT_TRUE(DeleteFileW(stagedRamdisk)); }},
        {"the one-time boot sequence fails", commandFailed,
         [&](FaultyBootHost& host, CDiskInventory&) { host.failRunHolding = L"/bootsequence"; }},
    };
    const int is64 = app->m_is64BitSystem;
    const CString bootModeText = app->m_bootModeText;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Choose(false, false, false);
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)marker, ""));
        FaultyBootHost host(CurrentBootHost(), [this] { return page->WritesDisk(); });
        CDiskInventory* real = app->m_diskInventory;
        std::unique_ptr<CDiskInventory> faulty(new CDiskInventory(nullptr, &host));
        faulty->Refresh();
        c.arrange(host, *faulty);
        app->m_diskInventory = faulty.get();
        RunWorker();
        app->m_diskInventory = real;
        // Put back what the case changed.
        app->m_is64BitSystem = is64;
        app->m_bootModeText = bootModeText;
        CopyFileW((std::wstring(KAVETTA_SIM_TOOLS_STAGE) + L"\\" + FixedText::kRamdiskFile).c_str(), stagedRamdisk,
                  TRUE);
        for (INT_PTR i = 0; i < faulty->m_totalPartitions.GetSize(); ++i)
            if (faulty->m_totalPartitions[i].type_name == FixedText::kEfiTypeName)
                host.RemoveFile(faulty->m_totalPartitions[i].letter + FixedText::kBoot64PartitionPaths[0]);
        faulty.reset();
        if (HasFatalFailure()) return;
        ExpectRefused(CRebootDlg::kRefusedBootSetup, c.reason);
        if (!host.failRunHolding.empty()) EXPECT_EQ(1, host.failedRuns);
        if (c.reason == FixedText::kBootSetupToolsMissingRefusal) EXPECT_EQ(0, host.runs);
    }
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\reboot_page_boot_setup_refused.png";
    EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
}

TEST_F(RebootPageTest, AnExitRequestStopsTheRoadBeforeTheBootSetup) {
    Choose(true, true, true);
    ShowDownloadPage();
    dlg->SendMessage(WM_PAGE_NAVIGATE, IDD_OS_DOWNLOAD, 1);
    ASSERT_TRUE(page->StartRestart());
    // The worker waits for this thread to answer its first question; the
    // exit path's request comes before the answer.
    page->StopJobs();
    WaitForWorker();
    ExpectRefused(CRebootDlg::kRefusedStopped, FixedText::kRebootRefusedStopped);
    EXPECT_TRUE(GetSimRecords().processRuns.empty());
    EXPECT_FALSE(sawWritesDisk);
}

// The USB maker's job runs on its own tab while the restart worker copies;
// it stands here as the maker's flag, set for the whole of its job (its
// wait for the image included) and cleared once the maker has finished.
TEST_F(RebootPageTest, TheRestartIsRefusedWhileTheUsbMakerWritesADisk) {
    Choose(true, false, false);
    CUsbMaker& usb = *dlg->m_usbPage;
    usb.m_makingDisk = 1;
    RunWorker();
    // The worker went through the boot setup and asked; the main window refused.
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup did not run";
    ExpectRefused(CRebootDlg::kRefusedDiskJob, FixedText::kRebootRefusedDiskJob);
    EXPECT_TRUE(dlg->IsWindowVisible());
    // The maker was not stopped and finishes its own way.
    EXPECT_EQ(1, usb.m_makingDisk);
    usb.m_makingDisk = 0;
    // Nothing set the restart flag: a later plain exit restarts nothing.
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_TRUE(app->FinishAfterMainWindow(*dlg, 30000, 30000));
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_EQ(0, GetSimRecords().reboots);
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\reboot_page_refused_disk_job.png";
    EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
    ExpectBackLeadsToDownloadPage();
}

// A tool the program started that outlived its wait is counted as running
// until it ends; it stands here as such a count.
TEST_F(RebootPageTest, TheRestartIsRefusedWhileAToolStillRuns) {
    Choose(false, false, false);
    {
        RunningToolScope tool;
        RunWorker();
    }
    // The boot setup ran; nothing was handed over or restarted.
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup did not run";
    ExpectRefused(CRebootDlg::kRefusedToolRunning, FixedText::kRebootRefusedToolRunning);
    EXPECT_TRUE(dlg->IsWindowVisible());
}

TEST_F(RebootPageTest, ABootEnvironmentPathTheSetupCannotSplitSaysSoNotAnEarlierReason) {
    // An earlier run's reason is still on the inventory.
    Choose(false, false, false);
    app->m_diskInventory->m_bootSetupRefusal = FixedText::kBootSetupToolHungRefusal;
    {
        UnsplittableBootFile file(app->m_peImages[app->m_selectedPeIndex], bootFile.Left(2), "boot environment image");
        ASSERT_TRUE(file.Made());
        RunWorker();
    }
    ExpectRefused(CRebootDlg::kRefusedBootSetup, FixedText::kBootSetupTargetRefusal);
    for (const std::wstring& run : GetSimRecords().processRuns)
        EXPECT_EQ(std::wstring::npos, run.find(L"/create")) << "the boot setup ran without a target";
}

// A refusal after the boot setup undoes all of it, not only the marker.
TEST_F(RebootPageTest, AnImageNameTheCodePageCannotHoldUndoesTheBootSetup) {
    Choose(false, false, false);
    COnlinefileinfo& image = app->m_osImages[app->m_selectedImageIndex];
    const CString name = image.m_fileName;
    image.m_fileName = L"\u0E01\u0E02.gho";  // no Chinese or Western code page holds these
    ASSERT_FALSE(FitsAnsiCodePage(image.m_fileName)) << "code page " << GetACP();
    RunWorker();
    image.m_fileName = name;
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup did not run";
    ExpectRefused(CRebootDlg::kRefusedHandOver, FixedText::kRebootRefusedHandOver);
    EXPECT_FALSE(Exists(RestartIniPath(*app)));
    ExpectBackLeadsToDownloadPage();
}

// The main window asks for the restart while it still runs. When Windows
// refuses, or the user cancels the session's end, the boot setup, the INI
// and the marker are undone, and the page says so with its way back.
TEST_F(RebootPageTest, ARestartThatDoesNotHappenIsUndoneAndSaidOnThePage) {
    const struct {
        const char* what;
        SimRestartAnswer answer;
    } cases[] = {
        {"the session's end is cancelled", SimRestartAnswer::kCancelled},
        {"Windows refuses the request", SimRestartAnswer::kRefused},
    };
    Choose(false, false, false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSimRecords();
        SetSimRestartAnswer(c.answer);
        RunWorker();
        ASSERT_TRUE(PumpUntil([&] { return page->LastOutcome() != CRebootDlg::kRestartRequested; }, 60000))
            << Utf8Of((const wchar_t*)Status());
        EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup did not run";
        ExpectRefused(CRebootDlg::kRestartNotDone, FixedText::kRestartUndoneNotice, 1);
        EXPECT_FALSE(Exists(RestartIniPath(*app)));
        EXPECT_TRUE(dlg->IsWindowVisible());
        Pump(200);
        std::wstring shot = TestProgramDirectory() + L"\\reboot_page_restart_not_done.png";
        EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
        ExpectBackLeadsToDownloadPage();
    }
}

// A session end forced in the middle of the boot-entry sequence (a user's
// "restart anyway", an update's restart): the main window refused it,
// naming the boot setup, but the session ends all the same. Before the
// main window returns from hearing that, what the sequence armed is undone,
// the one-time boot sequence first, and no restart of ours is asked.
TEST_F(RebootPageTest, ASessionEndForcedDuringTheBootSetupIsUndoneBeforeTheProcessEnds) {
    Choose(false, false, false);
    ScriptedPowerControl power(ScriptedPowerControl::kEnd);
    IPowerControl* previousPower = SetPowerControl(&power);
    const DWORD windowThread = GetWindowThreadProcessId(dlg->GetSafeHwnd(), nullptr);
    FaultyBootHost host(CurrentBootHost(), nullptr);
    std::unique_ptr<SessionEndDelivery> end;
    size_t runsBefore = 0;
    // In the middle of the sequence: a few commands have run, the one-time
    // boot sequence among them or not.
    host.onRun = [&] {
        if (end || host.runs < 4) return;
        runsBefore = GetSimRecords().processRuns.size();
        end.reset(new SessionEndDelivery(windowThread, true));
        end->WaitQueried(120000);
    };
    CDiskInventory* real = app->m_diskInventory;
    std::unique_ptr<CDiskInventory> watched(new CDiskInventory(nullptr, &host));
    watched->Refresh();
    app->m_diskInventory = watched.get();
    RunWorker();
    ASSERT_TRUE(end) << "the boot setup ran fewer than four tool runs";
    ASSERT_TRUE(PumpUntil([&] { return end->Done(); }, 300000));
    // Read at once: the process may end as soon as the main window returned.
    const std::vector<std::wstring> runs = GetSimRecords().processRuns;
    const bool markerLeft = Exists(marker), iniLeft = Exists(RestartIniPath(*app));
    app->m_diskInventory = real;
    watched.reset();
    SetPowerControl(previousPower);

    EXPECT_TRUE(end->refused) << "the session end was let through during the boot setup";
    EXPECT_TRUE(end->ended);
    const std::vector<std::wstring> calls = power.BlockCalls();
    EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(),
                                     std::wstring(L"create ") + FixedText::kSessionBlockBootEntries));
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), L"refused"));
    EXPECT_EQ(L"", BootStoreModel::Of(runs).Armed()) << "the next boot stays armed";
    EXPECT_FALSE(markerLeft);
    EXPECT_FALSE(iniLeft);
    // The undo's first command removes the one-time boot sequence.
    size_t firstUndo = runs.size();
    for (size_t i = runsBefore; i < runs.size() && firstUndo == runs.size(); ++i)
        if (runs[i].find(FixedText::kUndoBootSequenceCommand) != std::wstring::npos ||
            runs[i].find(FixedText::kUndoDeleteEntryCommand) != std::wstring::npos)
            firstUndo = i;
    ASSERT_LT(firstUndo, runs.size()) << "nothing was undone; the page's outcome " << (int)page->LastOutcome()
                                      << ", its line " << Utf8Of((const wchar_t*)Status());
    EXPECT_NE(std::wstring::npos, runs[firstUndo].find(FixedText::kUndoBootSequenceCommand))
        << "the one-time boot sequence goes first";
    EXPECT_EQ(0, power.requests) << "a restart was asked after the session ended";
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_NE(CRebootDlg::kRestartRequested, page->LastOutcome());
}

namespace {
// The scenario's host, with a session end that comes in the middle of the
// first file the user backup copies.
class SessionEndDuringBackupHost : public PassingBootHost {
public:
    SessionEndDuringBackupHost(IBootHost& inner, DWORD windowThread) : PassingBootHost(inner), m_thread(windowThread) {}
    DWORD CopyUserFile(const wchar_t* source, const wchar_t* target, bool* readFailed) override {
        if (!end) {
            end.reset(new SessionEndDelivery(m_thread, false));
            end->Wait(120000);
        }
        return m_inner.CopyUserFile(source, target, readFailed);
    }
    std::unique_ptr<SessionEndDelivery> end;

private:
    DWORD m_thread;
};
}  // namespace

// A shutdown while the user backup copies files is refused, naming the
// backup, and the road goes on; the reason goes when the road has ended.
TEST_F(RebootPageTest, ASessionEndWaitsForTheUserBackup) {
    Choose(true, false, false);
    ScriptedPowerControl power(ScriptedPowerControl::kCancel);
    IPowerControl* previousPower = SetPowerControl(&power);
    SessionEndDuringBackupHost host(CurrentBootHost(), GetWindowThreadProcessId(dlg->GetSafeHwnd(), nullptr));
    IBootHost* previous = SetBootHost(&host);
    RunWorker();
    SetBootHost(previous);
    ASSERT_TRUE(host.end) << "nothing was copied";
    EXPECT_TRUE(host.end->refused) << "the session end was let through during the backup";
    EXPECT_FALSE(host.end->ended);
    EXPECT_TRUE(PumpUntil([&] { return power.BlockReason().empty(); }, 60000)) << "the reason stayed";
    SetPowerControl(previousPower);
    const std::vector<std::wstring> calls = power.BlockCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(std::wstring(L"create ") + FixedText::kSessionBlockUserBackup, calls.front());
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), L"refused"));
    EXPECT_EQ(1, power.requests) << "the road did not go on to its restart request";
}

TEST_F(RebootPageTest, TheRoadEndsInOneRestart) {
    Choose(true, true, false);
    // A backup over an older one: same paths replaced, others kept.
    const CString desktopBackup = app->m_backupFolder + FixedText::kRebootUserFolderSubs[0] + L"\\kvt-restart-test";
    SHCreateDirectoryExW(nullptr, desktopBackup, nullptr);
    ASSERT_TRUE(WriteWholeFile(std::wstring(desktopBackup) + L"\\笔记.txt", "old note"));
    ASSERT_TRUE(WriteWholeFile(std::wstring(desktopBackup) + L"\\older.txt", "older"));
    // The INI of an earlier run, hidden.
    const CString ini = RestartIniPath(*app);
    WritePrivateProfileStringW(FixedText::kRestartIniSection, L"Stale", L"00", ini);
    SetFileAttributesW(ini, FILE_ATTRIBUTE_HIDDEN);

    // The scenario's machine, seen through a host that watches the exit refusal.
    FaultyBootHost host(CurrentBootHost(), [this] { return page->WritesDisk(); });
    CDiskInventory* real = app->m_diskInventory;
    std::unique_ptr<CDiskInventory> watched(new CDiskInventory(nullptr, &host));
    watched->Refresh();
    app->m_diskInventory = watched.get();
    RunWorker();
    app->m_diskInventory = real;
    watched.reset();
    EXPECT_EQ(CRebootDlg::kRestartRequested, page->LastOutcome()) << Utf8Of((const wchar_t*)Status());
    EXPECT_GT(host.runs, 0);
    EXPECT_EQ(host.runs, host.runsWhileExitRefused) << "the exit was allowed while the boot partitions were written";

    const std::wstring backup = std::wstring(app->m_backupFolder);
    EXPECT_EQ("desktop note", ReadWholeFile(std::wstring(desktopBackup) + L"\\笔记.txt"));
    EXPECT_EQ("deep", ReadWholeFile(std::wstring(desktopBackup) + L"\\子目录\\deep.bin"));
    EXPECT_EQ("older", ReadWholeFile(std::wstring(desktopBackup) + L"\\older.txt"));
    EXPECT_EQ("report",
              ReadWholeFile(backup + FixedText::kRebootUserFolderSubs[1] + L"\\kvt-restart-test\\报告.doc"));
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[2])) << "favorites were not chosen";

    const SimRecords records = GetSimRecords();
    EXPECT_FALSE(records.processRuns.empty()) << "the boot setup ran no boot-entry tool";
    EXPECT_FALSE(page->WritesDisk());

    // The marker: empty, in the system drive's root.
    EXPECT_EQ(app->m_systemDrive + L"\\", marker.Left(3));
    ASSERT_TRUE(Exists(marker));
    EXPECT_EQ(0u, GetFileSize64(marker));
    // The INI: hidden, the earlier run's key gone, five values that decipher.
    EXPECT_TRUE(GetFileAttributesW(ini) & FILE_ATTRIBUTE_HIDDEN);
    const COnlinefileinfo& image = app->m_osImages[app->m_selectedImageIndex];
    CString number;
    number.Format(L"%d", image.m_number);
    const CString expected[5] = {FixedText::kRestartIniFirstValue, app->m_restartIniValue, image.m_fileName,
                                 FixedText::kRestartIniFourthValue, number};
    for (int i = 0; i < 5; ++i) {
        wchar_t value[1024] = {};
        GetPrivateProfileStringW(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[i], L"", value, 1024, ini);
        EXPECT_EQ(expected[i], DecryptFromHex(value, app->m_iniPassword)) << i;
    }
    wchar_t stale[16] = {};
    GetPrivateProfileStringW(FixedText::kRestartIniSection, L"Stale", L"gone", stale, 16, ini);
    EXPECT_EQ(CString(L"gone"), CString(stale));

    // The main window took the request and asked for the restart while it
    // still ran, once; it ended with the session.
    EXPECT_TRUE(PumpUntil([&] { return GetSimRecords().reboots > 0 && !dlg->IsWindowVisible(); }, 60000));
    EXPECT_EQ(1, GetSimRecords().reboots);
    EXPECT_EQ(1, app->m_rebootAtExit);
    EXPECT_EQ(CString(FixedText::kRebootStatusRestarting), Status());
    // The main window has ended (hidden): the controls' own visibility.
    EXPECT_FALSE(Shown(page->m_backButton));
    EXPECT_TRUE(Shown(page->m_rebootAnimation));
    EXPECT_FALSE(page->m_rebootAnimation.IsPlaying());
    EXPECT_EQ(0, page->m_rebootAnimation.GetShownPicture());

    dlg->ShowWindow(SW_SHOW);
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\reboot_page.png";
    EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);

    app->m_rebootAtExit = 0;
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

// A standard user typed an administrator's password at the elevation
// prompt: the process runs as the administrator, the desktop shell as the
// user signed in. (Wine has one account; the fake shell plays Windows.)
class SignedInUserTest : public RebootPageTest {
protected:
    void SetUp() override {
        RebootPageTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::wstring root = std::wstring(app->m_systemDrive) + L"\\Users\\kvt-小红";
        const wchar_t* kinds[3] = {L"\\Desktop", L"\\Documents", L"\\Favorites"};
        RemoveTree(root);
        for (int k = 0; k < 3; ++k) {
            signedInFolders[k] = root + kinds[k];
            ASSERT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, (signedInFolders[k] + L"\\kvt-signedin").c_str(),
                                                          nullptr));
        }
        ASSERT_TRUE(WriteWholeFile(signedInFolders[0] + L"\\kvt-signedin\\她的笔记.txt", "her note"));
        ASSERT_TRUE(WriteWholeFile(signedInFolders[1] + L"\\kvt-signedin\\她的报告.doc", "her report"));
        ASSERT_TRUE(WriteWholeFile(signedInFolders[2] + L"\\kvt-signedin\\her.url", "[InternetShortcut]"));
        // The process's own folders are the prefix's, where the fixture put its files.
        const int csidl[3] = {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_FAVORITES};
        for (int k = 0; k < 3; ++k) {
            shell.shellUserFolders[k] = signedInFolders[k];
            shell.processUserFolders[k] = UserFolder(csidl[k]);
        }
        previousShell = SetShellCalls(&shell);
    }
    void TearDown() override {
        if (previousShell) SetShellCalls(previousShell);
        if (!signedInFolders[0].empty()) RemoveTree(GetParentFolder(signedInFolders[0].c_str()).GetString());
        RebootPageTest::TearDown();
    }
    // Runs the road to its restart request; true when it asked for it. The
    // main window ends with the session, as on the road of a reinstall.
    bool RunToRestart() {
        RunWorker();
        const bool asked = page->LastOutcome() == CRebootDlg::kRestartRequested;
        EXPECT_TRUE(asked) << Utf8Of((const wchar_t*)Status());
        PumpUntil([&] { return GetSimRecords().reboots > 0 && !dlg->IsWindowVisible(); }, 60000);
        app->m_rebootAtExit = 0;
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);
        return asked;
    }
    FakeShell shell;
    IShellCalls* previousShell = nullptr;
    std::wstring signedInFolders[3];
};

TEST_F(SignedInUserTest, TheSignedInUsersFoldersAreBackedUpNotTheElevatingAccounts) {
    Choose(true, true, true);
    ASSERT_TRUE(RunToRestart());
    const std::wstring backup = std::wstring(app->m_backupFolder);
    const std::wstring subs[3] = {FixedText::kRebootUserFolderSubs[0], FixedText::kRebootUserFolderSubs[1],
                                  FixedText::kRebootUserFolderSubs[2]};
    EXPECT_EQ("her note", ReadWholeFile(backup + subs[0] + L"\\kvt-signedin\\她的笔记.txt"));
    EXPECT_EQ("her report", ReadWholeFile(backup + subs[1] + L"\\kvt-signedin\\她的报告.doc"));
    EXPECT_EQ("[InternetShortcut]", ReadWholeFile(backup + subs[2] + L"\\kvt-signedin\\her.url"));
    for (const std::wstring& sub : subs)
        EXPECT_FALSE(Exists((backup + sub + L"\\kvt-restart-test").c_str())) << "the administrator's folders were copied";
    EXPECT_EQ(0, shell.openTokens) << "the shell's token was not closed";
}

// Without the desktop shell's token (no shell window, or access refused)
// the folders are the process's own: copied when its account is the one
// signed in, refused before anything is copied or armed when it is not.
TEST_F(SignedInUserTest, WithoutTheShellsTokenOnlyTheSignedInAccountsOwnFoldersAreCopied) {
    shell.shellToken = false;
    Choose(true, true, false);
    RunWorker();
    ExpectRefused(CRebootDlg::kRefusedOtherAccount, FixedText::kRebootRefusedOtherAccount);
    EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0])) << "copied for nothing";
    // The backup page named both accounts.
    CbackupDlg* backupPage = dlg->m_backupPage;
    backupPage->ShowFolderOwner();
    EXPECT_TRUE(Shown(backupPage->m_accountNote));
    CString note;
    backupPage->m_accountNote.GetWindowText(note);
    EXPECT_GE(note.Find(L"KVT-PC\\Administrator"), 0) << Utf8Of((const wchar_t*)note);
    EXPECT_GE(note.Find(L"KVT-PC\\小明"), 0) << Utf8Of((const wchar_t*)note);
    ExpectBackLeadsToDownloadPage();

    // The account that elevated is the one signed in: its folders are its own.
    shell.signedIn = shell.processAccount;
    ResetSimRecords();
    ASSERT_TRUE(RunToRestart());
    EXPECT_EQ("desktop note", ReadWholeFile(std::wstring(app->m_backupFolder) + FixedText::kRebootUserFolderSubs[0] +
                                            L"\\kvt-restart-test\\笔记.txt"));
    EXPECT_EQ("report", ReadWholeFile(std::wstring(app->m_backupFolder) + FixedText::kRebootUserFolderSubs[1] +
                                      L"\\kvt-restart-test\\报告.doc"));
}

// The test's hand on the boxes of the sequence below: the restart question
// is answered Yes as it shows (as its countdown would); the older Back
// question stays open until the restart page's worker has run its road, and
// is then answered Yes.
struct LateBackAnswers {
    static LateBackAnswers* current;
    CRebootDlg* page = nullptr;
    int restartQuestions = 0;
    int backQuestions = 0;
    bool backAnswered = false;
    DWORD start = GetTickCount();
    std::vector<HWND> answered;

    static BOOL CALLBACK Collect(HWND window, LPARAM boxes) {
        CMyMessageBox* box = dynamic_cast<CMyMessageBox*>(CWnd::FromHandlePermanent(window));
        if (box) reinterpret_cast<std::vector<CMyMessageBox*>*>(boxes)->push_back(box);
        return TRUE;
    }
    static void Yes(HWND box) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(CMyMessageBox::kFirstButtonId, BN_CLICKED),
                     (LPARAM)GetDlgItem(box, CMyMessageBox::kFirstButtonId));
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        LateBackAnswers* self = current;
        if (!self) return;
        std::vector<CMyMessageBox*> boxes;
        EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&boxes));
        bool restartOpen = false;
        for (CMyMessageBox* box : boxes) {
            const HWND h = box->GetSafeHwnd();
            if (std::find(self->answered.begin(), self->answered.end(), h) != self->answered.end()) continue;
            if (box->m_message == FixedText::kDownloadRestartQuestion) {
                restartOpen = true;
                ++self->restartQuestions;
                self->answered.push_back(h);
                Yes(h);
            }
        }
        for (CMyMessageBox* box : boxes) {
            const HWND h = box->GetSafeHwnd();
            if (box->m_message != FixedText::kDownloadStopQuestion ||
                std::find(self->answered.begin(), self->answered.end(), h) != self->answered.end())
                continue;
            if (self->backQuestions == 0) self->backQuestions = 1;
            // The restart was asked for and the worker has ended; past a
            // generous bound the question is answered anyway (and the test
            // fails on what it finds).
            const bool roadRun = self->restartQuestions > 0 && GetSimRecords().reboots > 0 &&
                                 !self->page->WorkersRunning();
            if (restartOpen || (!roadRun && GetTickCount() - self->start < 300000)) continue;
            self->answered.push_back(h);
            self->backAnswered = true;
            Yes(h);
        }
    }
};
LateBackAnswers* LateBackAnswers::current = nullptr;

// The user presses Back during a download and leaves its question open. The
// run ends meanwhile; the restart question answers Yes (by itself after its
// 10 s; here the test at once); the restart page shows and its worker runs.
// A Yes on the older Back question then navigates nowhere: the restart page
// stays shown, and the picker never appears. The worker hands over the image
// it took at its start, though the choice changes under it (as the picker's
// OK would have changed it) while it sets up the boot entries.
TEST_F(RebootPageTest, ABackQuestionAnsweredAfterTheRestartPageTookOverNavigatesNowhere) {
    ASSERT_GE(app->m_osImages.GetSize(), 2) << "the scenario's catalogue needs two images";
    const int chosen = app->m_selectedImageIndex;
    const CString chosenName = app->m_osImages[chosen].m_fileName;
    ASSERT_NE(chosenName, app->m_osImages[0].m_fileName) << "the first and the last image share a file name";
    Choose(false, false, false);
    COsDownloadDlg& download = *dlg->m_downloadPage;
    // Nothing left to fetch: the run ends as soon as it is built.
    app->m_selectedImageTab = 2;
    app->m_osImages[chosen].m_checkState = 2;
    app->m_peImages[app->m_selectedPeIndex].m_checkState = 2;
    app->m_extraFile2.m_checkState = 2;
    download.m_autoContinue.SendMessage(BM_SETCHECK, BST_CHECKED);
    ShowDownloadPage();
    ASSERT_EQ((CWnd*)&download, dlg->m_shownPage);

    FaultyBootHost host(CurrentBootHost(), [this] { return page->WritesDisk(); });
    host.onRun = [&] { app->m_selectedImageIndex = 0; };
    CDiskInventory* real = app->m_diskInventory;
    std::unique_ptr<CDiskInventory> watched(new CDiskInventory(nullptr, &host));
    watched->Refresh();
    app->m_diskInventory = watched.get();

    LateBackAnswers answers;
    answers.page = page;
    LateBackAnswers::current = &answers;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, LateBackAnswers::Tick);
    ASSERT_TRUE(download.BuildTaskQueue());
    ASSERT_EQ(1, download.m_downloadState.load());
    // Returns once the Back question has been answered.
    download.m_backButton.SendMessage(BM_CLICK);
    KillTimer(nullptr, timer);
    LateBackAnswers::current = nullptr;
    Pump(200);
    app->m_diskInventory = real;
    watched.reset();

    EXPECT_EQ(1, answers.restartQuestions);
    EXPECT_TRUE(answers.backAnswered);
    EXPECT_GT(host.runs, 0) << "the boot setup did not run";
    EXPECT_EQ((CWnd*)page, dlg->m_shownPage) << "the late Back navigated";
    EXPECT_EQ((CWnd*)page, dlg->m_flowPage);
    EXPECT_FALSE(Shown(*dlg->m_selectPage)) << "the picker appeared";
    EXPECT_EQ(CRebootDlg::kRestartRequested, page->LastOutcome()) << Utf8Of((const wchar_t*)Status());
    // The INI names the image the road began with.
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[2], L"", value, 1024,
                             RestartIniPath(*app));
    EXPECT_EQ(chosenName, DecryptFromHex(value, app->m_iniPassword)) << "the road handed over another image";

    EXPECT_TRUE(PumpUntil([&] { return GetSimRecords().reboots > 0; }, 60000));
    app->m_selectedImageIndex = chosen;
    app->m_rebootAtExit = 0;
    dlg->ShowWindow(SW_SHOW);
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

// A chain of folders below `top` whose path passes 260 characters.
std::wstring MakeDeepFolder(const std::wstring& top, int levels) {
    std::wstring path = top;
    for (int i = 0; i < levels; ++i) {
        path += L"\\项目资料与聊天接收文件_" + std::to_wstring(i) + L"_abcdefghij";
        if (!CreateDirectoryW(LongPathForm(path.c_str()), nullptr)) return std::wstring();
    }
    return path;
}

// After a road that asked for the restart: the window back, nothing to restart.
void ForgetRestart(CTarvelApp* app, CTarvelDlg* dlg, const CString& marker) {
    EXPECT_TRUE(PumpUntil([&] { return GetSimRecords().reboots > 0 && !dlg->IsWindowVisible(); }, 60000));
    app->m_rebootAtExit = 0;
    dlg->ShowWindow(SW_SHOW);
    Pump(100);
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

// Wine's calls take any path length; the simulated machine refuses a plain
// path of 260 characters or more, as Windows does. Today's copy took the
// deep file's plain path and stopped the road with a reason that does not
// fit; the backup reaches it in the long form.
TEST_F(RebootPageTest, ADeepDesktopIsBackedUpWholeAndTheRestartIsAsked) {
    Choose(true, false, false);
    const std::wstring deep = MakeDeepFolder(folders.desktop, 10);
    ASSERT_FALSE(deep.empty());
    ASSERT_GT(deep.size(), (size_t)MAX_PATH);
    ASSERT_TRUE(WriteWholeFile(std::wstring(LongPathForm((deep + L"\\接收的文件.docx").c_str())), "deep file"));
    RunWorker();
    EXPECT_EQ(CRebootDlg::kRestartRequested, page->LastOutcome()) << Utf8Of((const wchar_t*)Status());
    const std::wstring copy = std::wstring(app->m_backupFolder) + FixedText::kRebootUserFolderSubs[0] +
                              deep.substr(folders.desktop.size() - std::wstring(L"\\kvt-restart-test").size()) +
                              L"\\接收的文件.docx";
    EXPECT_EQ("deep file", ReadWholeFile(std::wstring(LongPathForm(copy.c_str()))));
    EXPECT_EQ("desktop note", ReadWholeFile(std::wstring(app->m_backupFolder) + FixedText::kRebootUserFolderSubs[0] +
                                            L"\\kvt-restart-test\\笔记.txt"));
    if (page->LastOutcome() == CRebootDlg::kRestartRequested) ForgetRestart(app, dlg, marker);
    DeleteFolderTree(LongPathForm(folders.desktop.c_str()));
    DeleteFolderTree(LongPathForm(app->m_backupFolder));
}

// A file another program has open for writing (a chat program's database)
// is never copied through a handle that shares writing: the road stops
// before the boot setup, naming the file and what to close.
TEST_F(RebootPageTest, AFileAnotherProgramWritesStopsTheRoadNamingIt) {
    Choose(true, true, false);
    const std::wstring chat = folders.documents + L"\\WeChat Files";
    ASSERT_TRUE(CreateDirectoryW(chat.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(chat + L"\\MSG0.db", "messages"));
    HANDLE writer = CreateFileW((chat + L"\\MSG0.db").c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    RunWorker();
    CloseHandle(writer);
    // The line names the file (its path cut in the middle to fit) and what to close.
    ExpectRefused(CRebootDlg::kRefusedCopy, L"WeChat Files\\MSG0.db");
    EXPECT_GE(Status().Find(L"请关闭"), 0) << Utf8Of((const wchar_t*)Status());
    EXPECT_GE(Status().Find(FixedText::kRebootUserFolderNames[1]), 0);
    EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[1] +
                        L"\\kvt-restart-test\\WeChat Files\\MSG0.db"))
        << "a torn copy";
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\reboot_page_file_in_use.png";
    EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
    if (page->LastOutcome() == CRebootDlg::kRestartRequested) ForgetRestart(app, dlg, marker);
}

// What Windows shows that Wine cannot make here: a folder that denies
// listing, and a link (by its reparse tag) leading out of the desktop. The
// scenario's host, with those entries shown as Windows would show them.
class WindowsListingHost : public PassingBootHost {
public:
    explicit WindowsListingHost(IBootHost& inner) : PassingBootHost(inner) {}
    std::wstring denied;    // listing it is refused
    std::wstring link;      // shown as a symbolic link ...
    std::wstring linkTarget;  // ... leading here
    DWORD ListFolder(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) override {
        if (!denied.empty() && Same(folder, denied)) return ERROR_ACCESS_DENIED;
        const DWORD error = m_inner.ListFolder(folder, entries);
        for (WIN32_FIND_DATAW& entry : entries) {
            if (link.empty() || !Same((std::wstring(folder) + L"\\" + entry.cFileName).c_str(), link)) continue;
            entry.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            entry.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
        }
        return error;
    }
    CString LinkTarget(const wchar_t* path) override {
        return !link.empty() && Same(path, link) ? CString(linkTarget.c_str()) : m_inner.LinkTarget(path);
    }

private:
    static bool Same(const wchar_t* path, const std::wstring& plain) {
        return CompareStringOrdinal(PathFromFinalName(path), -1, plain.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
};

TEST_F(RebootPageTest, AFolderThatCannotBeListedStopsTheRoadNamingIt) {
    Choose(true, true, false);
    const std::wstring secret = folders.desktop + L"\\子目录";
    WindowsListingHost host(CurrentBootHost());
    host.denied = secret;
    IBootHost* previous = SetBootHost(&host);
    RunWorker();
    SetBootHost(previous);
    ExpectRefused(CRebootDlg::kRefusedCopy, L"kvt-restart-test\\子目录");
    EXPECT_GE(Status().Find(Win32ErrorText(ERROR_ACCESS_DENIED)), 0) << Utf8Of((const wchar_t*)Status());
    EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
    // Planned first, copied after: nothing of the desktop was copied.
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0] + L"\\kvt-restart-test\\笔记.txt"));
    if (page->LastOutcome() == CRebootDlg::kRestartRequested) ForgetRestart(app, dlg, marker);
}

// A link leading out of the desktop is named in a question without a
// countdown before anything is armed: Yes goes on without what it points
// to, No stops the road with nothing armed.
TEST_F(RebootPageTest, ALinkOutOfTheDesktopIsPutToTheUserBeforeAnythingIsArmed) {
    const std::wstring link = folders.desktop + L"\\子目录";
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "answered yes" : "answered no");
        ResetSimRecords();
        DeleteFolderTree(app->m_backupFolder);
        Choose(true, false, false);
        WindowsListingHost host(CurrentBootHost());
        host.link = link;
        host.linkTarget = L"E:\\项目";
        IBootHost* previous = SetBootHost(&host);
        BoxAnswerer answers;
        answers.script = {yes};
        answers.onShown = [] {
            std::wstring shot = TestProgramDirectory() + L"\\reboot_page_links_question.png";
            CaptureWindow(FindMessageBox(), shot.c_str());
        };
        RunWorker();
        SetBootHost(previous);
        ASSERT_EQ(1u, answers.texts.size()) << "the question was not asked once";
        EXPECT_NE(std::wstring::npos, answers.texts[0].find(link)) << Utf8Of(answers.texts[0]);
        EXPECT_NE(std::wstring::npos, answers.texts[0].find(FixedText::kBackupLinksOutHeader));
        EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0] +
                            L"\\kvt-restart-test\\子目录\\deep.bin"))
            << "the link was followed";
        if (!yes) {
            ExpectRefused(CRebootDlg::kRefusedNotConfirmed, FixedText::kRebootRefusedNotConfirmed);
            EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
            EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[0])) << "copied for nothing";
            Pump(200);
            std::wstring shot = TestProgramDirectory() + L"\\reboot_page_not_confirmed.png";
            EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
        } else {
            EXPECT_EQ(CRebootDlg::kRestartRequested, page->LastOutcome()) << Utf8Of((const wchar_t*)Status());
            EXPECT_EQ("desktop note", ReadWholeFile(std::wstring(app->m_backupFolder) +
                                                    FixedText::kRebootUserFolderSubs[0] +
                                                    L"\\kvt-restart-test\\笔记.txt"));
        }
        if (page->LastOutcome() == CRebootDlg::kRestartRequested) ForgetRestart(app, dlg, marker);
    }
}

// Which boot files the road copies is the platform's: for a system whose boot
// mode takes them, the 64-bit loaders go onto the EFI partition on 64-bit
// Windows only. The scenario's EFI partition has no letter; its folder lies
// beside the prepared scenario.
TEST_F(RebootPageTest, TheBootFilesAreThePlatformsOwn) {
    const int bits = RunWindowsBits();
    if (!bits) GTEST_SKIP() << "no test run states its Windows' word size (scripts/test.sh does)";
    EXPECT_EQ(bits == 64 ? 1 : 0, app->m_is64BitSystem);
    wchar_t scenario[MAX_PATH] = {};
    GetEnvironmentVariableW(L"KAVETTA_SIM_SCENARIO", scenario, MAX_PATH);
    CString efi = scenario;
    efi = efi.Left(efi.ReverseFind(L'\\') + 1) + L"drives\\part-0-1";
    ASSERT_TRUE(Exists(efi)) << Utf8Of((const wchar_t*)efi);
    for (const wchar_t* path : FixedText::kBoot64PartitionPaths) DeleteFileW(efi + path);
    // The loaders of the tools archive, in this program's work folder.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)(app->m_workFolder + L"\\" + FixedText::kBoot64WorkFiles[i]),
                                   "loader " + std::to_string(i)));

    const CString kept = app->m_bootModeText;
    app->m_bootModeText = FixedText::kBootFiles64SystemText;
    Choose(false, false, false);
    RunWorker();
    app->m_bootModeText = kept;
    EXPECT_EQ(CRebootDlg::kRestartRequested, page->LastOutcome()) << Utf8Of((const wchar_t*)Status());
    for (int i = 0; i < 3; ++i) {
        const CString copy = efi + FixedText::kBoot64PartitionPaths[i];
        if (bits == 64) {
            EXPECT_TRUE(Exists(copy)) << Utf8Of((const wchar_t*)copy);
            EXPECT_EQ("loader " + std::to_string(i), ReadWholeFile((const wchar_t*)copy));
        } else {
            EXPECT_FALSE(Exists(copy)) << Utf8Of((const wchar_t*)copy) << ": 32-bit Windows takes no 64-bit loader";
        }
    }
    app->m_rebootAtExit = 0;
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simreboot", g_scenarioLoaded); }
