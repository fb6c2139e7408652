// The image backup/restore page on the simulated machine (run through
// with_scenario.sh on the full scenario): the real main window made
// in-process with its check run against the scenario, and the page, whose
// tab is hidden, shown directly. The browse dialogs are answered by a
// scripted runner; the page's error boxes by the message-box answerer.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <string>
#include <functional>
#include <utility>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "pages/ghost_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/usb_maker.h"
#include "sim/e2e/faulty_boot_host.h"
#include "sim/e2e/unsplittable_boot_file.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/sim_machine.h"
#include "support/boot_store_model.h"
#include "support/scripted_encryption.h"
#include "support/no_restart.h"
#include "support/test_files.h"

namespace {

bool g_scenarioLoaded = false;

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Answers each file dialog with a scripted path (or a cancel) and notes what it was shown.
class ScriptedFileDialog : public IFileDialogRunner {
public:
    INT_PTR Run(CFileDialog& dialog) override {
        ++runs;
        wasOpen = dialog.IsOpenDialog() != FALSE;
        suggested = dialog.GetPathName();
        title = dialog.m_ofn.lpstrTitle ? dialog.m_ofn.lpstrTitle : L"";
        if (!ok) return IDCANCEL;
        dialog.SetPathName(answer);
        return IDOK;
    }
    CString answer;
    bool ok = true;
    int runs = 0;
    bool wasOpen = false;
    CString suggested, title;
};

class GhostPageTest : public SimWindowSuite {
protected:
    void SetUp() override {
        if (!g_scenarioLoaded) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
        app = GetTarvelApp();
        ASSERT_TRUE(window && window->dlg && window->dlg->GetSafeHwnd());
        dlg = window->dlg.get();
        page = dlg->m_ghostPage;
        dlg->ShowWindow(SW_SHOW);
        // Its tab is hidden: the test shows the page itself.
        if (dlg->m_shownPage) dlg->m_shownPage->ShowWindow(SW_HIDE);
        page->ShowWindow(SW_SHOW);
        page->SwitchView(1);
        ASSERT_EQ(2, app->m_systemDrive.GetLength());
        ASSERT_GE(app->m_selectedPeIndex, 0);
        ASSERT_LT(app->m_selectedPeIndex, app->m_peImages.GetSize());
        // Another drive than the system's: the data folder's.
        ASSERT_TRUE(IsDriveLetterPath(app->m_dataFolder + L"\\"));
        ASSERT_FALSE(IsOnDrive(app->m_dataFolder, app->m_systemDrive));
        dataDrive = app->m_dataFolder.Left(2);

        // The boot environment and the tool file count as accepted earlier:
        // nothing is downloaded.
        COnlinefileinfo& pe = app->m_peImages[app->m_selectedPeIndex];
        bootFile = GetLocalPath(pe);
        SHCreateDirectoryExW(nullptr, GetParentFolder(bootFile), nullptr);
        ASSERT_TRUE(WriteWholeFile((const wchar_t*)bootFile, "boot environment image"));
        pe.m_checkState = 2;
        app->m_toolFile.m_checkState = 2;

        marker = RestartMarkerPath(app->m_systemDrive);
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);
        previousRunner = SetFileDialogRunner(&files);
        app->m_rebootAtExit = 0;
        ResetSimRecords();
    }

    void TearDown() override {
        if (!g_scenarioLoaded) return;
        SetFileDialogRunner(previousRunner);
        app->m_rebootAtExit = 0;
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);
    }

    void Click(UINT id) {
        page->GetDlgItem(id)->SendMessage(BM_CLICK);
        Pump(50);
    }
    CString EditText(CWnd& edit) {
        CString text;
        edit.GetWindowText(text);
        return text;
    }
    // Runs the job (started by `id` unless 0) until its workers end.
    void RunJob(UINT id) {
        if (id) Click(id);
        ASSERT_TRUE(PumpUntil([&] { return !page->WorkersRunning() && page->LastOutcome() != CGhostDlg::kRunning; },
                              300000))
            << "the job did not end";
        Pump(100);
    }
    // The INI rows in order: each key deciphers to its value; nothing else in the section.
    void ExpectIni(const std::vector<std::pair<std::wstring, CString>>& rows) {
        const CString ini = RestartIniPath(*app);
        EXPECT_TRUE(GetFileAttributesW(ini) & FILE_ATTRIBUTE_HIDDEN);
        wchar_t keys[2048] = {};
        const DWORD n = GetPrivateProfileStringW(FixedText::kRestartIniSection, nullptr, L"", keys, 2048, ini);
        std::vector<std::wstring> order;
        for (const wchar_t* k = keys; k < keys + n && *k; k += wcslen(k) + 1) order.push_back(k);
        ASSERT_EQ(rows.size(), order.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].first, order[i]) << i;
            wchar_t value[1024] = {};
            GetPrivateProfileStringW(FixedText::kRestartIniSection, rows[i].first.c_str(), L"", value, 1024, ini);
            const CString cipher(value);
            EXPECT_EQ(cipher, CString(cipher).MakeUpper()) << "upper-case hex, as the cipher writes it";
            EXPECT_EQ(rows[i].second, DecryptFromHex(cipher, app->m_iniPassword)) << i;
        }
    }
    // A run that ended in one restart request with an empty marker.
    void ExpectRestartRequested() {
        EXPECT_EQ(CGhostDlg::kRestartRequested, page->LastOutcome());
        EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup ran no boot-entry tool";
        ASSERT_TRUE(Exists(marker));
        EXPECT_EQ(0u, GetFileSize64(marker));
        // The main window asked for the restart while it still ran, once,
        // and ended with the session.
        EXPECT_TRUE(PumpUntil([&] { return GetSimRecords().reboots > 0 && !dlg->IsWindowVisible(); }, 60000));
        EXPECT_EQ(1, GetSimRecords().reboots);
        EXPECT_EQ(1, app->m_rebootAtExit);
        app->m_rebootAtExit = 0;
    }
    void Shot(const wchar_t* name) {
        dlg->ShowWindow(SW_SHOW);
        Pump(200);
        std::wstring shot = TestProgramDirectory() + L"\\" + name;
        EXPECT_GT(CaptureWindow(dlg->GetSafeHwnd(), shot.c_str()), 20);
    }

    CTarvelApp* app = nullptr;
    CTarvelDlg* dlg = nullptr;
    CGhostDlg* page = nullptr;
    CString bootFile, marker, dataDrive;
    ScriptedFileDialog files;
    IFileDialogRunner* previousRunner = nullptr;
};


TEST_F(GhostPageTest, FormatRadiosSwapTheExtension) {
    struct Case {
        const wchar_t* before;
        int fromFormat;
        UINT click;
        const wchar_t* after;
        int format;
    };
    const Case cases[] = {
        {L"D:\\BAK\\SYS.GHO", 1, IDC_GHOST_FORMAT2, L"D:\\BAK\\SYS.WIM", 2},
        {L"D:\\BAK\\sys.gho", 1, IDC_GHOST_FORMAT2, L"D:\\BAK\\sys.WIM", 2},
        {L"D:\\BAK\\SYS.IMG", 1, IDC_GHOST_FORMAT2, L"D:\\BAK\\SYS.IMG.WIM", 2},
        {L"D:\\BAK\\SYS.WIM", 2, IDC_GHOST_FORMAT1, L"D:\\BAK\\SYS.GHO", 1},
        {L"D:\\BAK\\SYS.GHO", 1, IDC_GHOST_FORMAT1, L"D:\\BAK\\SYS.GHO", 1},  // already format 1
        {L"", 1, IDC_GHOST_FORMAT2, L"", 2},                                 // no target yet
    };
    for (const Case& c : cases) {
        page->SetImageFormat(c.fromFormat);
        page->m_targetPath = c.before;
        Click(c.click);
        EXPECT_EQ(CString(c.after), page->m_targetPath) << Utf8Of(c.before);
        EXPECT_EQ(c.format, page->m_imageFormat) << Utf8Of(c.before);
        // The edit shows it in upper case.
        EXPECT_EQ(CString(c.after).MakeUpper(), EditText(page->m_targetEdit));
        EXPECT_EQ(c.format == 1 ? 1 : 0, page->m_formatButtons[0].SendMessage(BM_GETCHECK));
        EXPECT_EQ(c.format == 2 ? 1 : 0, page->m_formatButtons[1].SendMessage(BM_GETCHECK));
    }
    page->SetImageFormat(1);
}

TEST_F(GhostPageTest, BrowseTargetAppendsTheExtensionAndRefusesTheSystemDrive) {
    const CString sys = app->m_systemDrive;
    CString lowerSys = sys;
    lowerSys.MakeLower();
    CString upperSys = sys;
    upperSys.MakeUpper();
    struct Case {
        CString answer;
        int format;
        CString expected;  // empty: refused with a box, the path unchanged
    };
    const Case cases[] = {
        {dataDrive + L"\\BAK\\mine", 1, dataDrive + L"\\BAK\\mine.GHO"},
        {dataDrive + L"\\BAK\\mine.gho", 1, dataDrive + L"\\BAK\\mine.gho"},
        {dataDrive + L"\\BAK\\mine", 2, dataDrive + L"\\BAK\\mine.WIM"},
        {upperSys + L"\\BAK\\mine", 1, CString()},
        {lowerSys + L"\\BAK\\mine", 1, CString()},
        {L"\\\\server\\share\\mine", 1, CString()},
    };
    for (const Case& c : cases) {
        page->SetImageFormat(c.format);
        page->m_targetPath = L"D:\\OLD.GHO";
        files.answer = c.answer;
        const int answered = MessageBoxesAnswered();
        if (c.expected.IsEmpty()) AnswerNextMessageBox(true);
        Click(IDC_GHOST_BROWSE_TARGET);
        EXPECT_FALSE(files.wasOpen);
        EXPECT_EQ(CString(FixedText::kGhostTargetTitle), files.title);
        if (c.expected.IsEmpty()) {
            EXPECT_EQ(answered + 1, MessageBoxesAnswered()) << Utf8Of((const wchar_t*)c.answer);
            EXPECT_EQ(CString(L"D:\\OLD.GHO"), page->m_targetPath);
        } else {
            EXPECT_EQ(answered, MessageBoxesAnswered());
            EXPECT_EQ(c.expected, page->m_targetPath);
        }
    }
    // A cancelled dialog changes nothing.
    files.ok = false;
    Click(IDC_GHOST_BROWSE_TARGET);
    EXPECT_EQ(CString(L"D:\\OLD.GHO"), page->m_targetPath);
    page->SetImageFormat(1);
}

TEST_F(GhostPageTest, RestoreWithoutAnImageAndBackupWithoutATargetAreRefused) {
    page->m_imagePath = L"";
    AnswerNextMessageBox(true);
    int answered = MessageBoxesAnswered();
    Click(IDC_GHOST_RESTORE);
    EXPECT_EQ(answered + 1, MessageBoxesAnswered());
    EXPECT_EQ(1, page->m_view);
    EXPECT_EQ(0, page->m_jobRunning);
    EXPECT_EQ(0, page->m_downloadState.load());

    const CString targets[3] = {L"", L".GHO", app->m_systemDrive + L"\\SYS.GHO"};
    for (const CString& target : targets) {
        page->m_targetPath = target;
        AnswerNextMessageBox(true);
        answered = MessageBoxesAnswered();
        Click(IDC_GHOST_BACKUP);
        EXPECT_EQ(answered + 1, MessageBoxesAnswered()) << Utf8Of((const wchar_t*)target);
        EXPECT_EQ(1, page->m_view);
        EXPECT_EQ(0, page->m_jobRunning);
    }
    EXPECT_TRUE(GetSimRecords().processRuns.empty());
    EXPECT_FALSE(Exists(marker));
}

TEST_F(GhostPageTest, ChoosingAnImageOnTheSystemDriveIsRefusedAfterTheEditIsCleared) {
    page->m_imagePath = L"";
    page->m_imageEdit.SetWindowText(FixedText::kGhostImageHint);
    page->m_imageEdit.SetTextColor(CGhostDlg::kImageHintColor);
    CString lowerSys = app->m_systemDrive;
    lowerSys.MakeLower();
    files.answer = lowerSys + L"\\IMG\\SYS.GHO";
    AnswerNextMessageBox(true);
    Click(IDC_GHOST_BROWSE_IMAGE);
    EXPECT_TRUE(files.wasOpen);
    EXPECT_TRUE(page->m_imagePath.IsEmpty());
    EXPECT_EQ(CString(), EditText(page->m_imageEdit));
    EXPECT_EQ(CGhostDlg::kPathColor, page->m_imageEdit.m_textColor);
}

TEST_F(GhostPageTest, ABackupRunLeavesTheRowsTheMarkerAndTheFileBesideTheTarget) {
    const CString folder = dataDrive + L"\\KVTBAK";
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    files.answer = folder + L"\\SYSTEM";
    page->SetImageFormat(1);
    Click(IDC_GHOST_BROWSE_TARGET);
    ASSERT_EQ(folder + L"\\SYSTEM.GHO", page->m_targetPath);
    const CString beside = folder + L"\\SYSTEM" + FixedText::kGhostBesideSuffix;
    DeleteFileW(beside);
    // Restore rows an earlier run left must not survive.
    const CString ini = RestartIniPath(*app);
    SetFileAttributesW(ini, FILE_ATTRIBUTE_NORMAL);
    WritePrivateProfileStringW(FixedText::kRestartIniSection, FixedText::kGhostIniRestoreKeys[1], L"00", ini);
    SetFileAttributesW(ini, FILE_ATTRIBUTE_HIDDEN);

    // The progress view, as the run shows it (the run itself is too quick to catch).
    page->SwitchView(2);
    EXPECT_EQ(1, page->m_jobRunning);
    EXPECT_TRUE(page->m_busyPicture.IsPlaying());
    Shot(L"ghost_page_progress.png");
    page->SwitchView(1);
    EXPECT_EQ(0, page->m_jobRunning);
    RunJob(IDC_GHOST_BACKUP);
    ExpectRestartRequested();
    EXPECT_TRUE(Exists(beside));
    EXPECT_EQ(0u, GetFileSize64(beside));
    ExpectIni({{FixedText::kGhostIniBackupKey, FixedText::kGhostIniBackupValue},
               {FixedText::kGhostIniCommonKeys[0], app->m_restartIniValue},
               {FixedText::kGhostIniCommonKeys[1], L"\\KVTBAK\\SYSTEM.GHO"},
               {FixedText::kGhostIniCommonKeys[2], FixedText::kGhostIniLastValue}});
    EXPECT_EQ(CString(FixedText::kGhostStatusFinished), EditText(page->m_statusText));
    page->SwitchView(1);
}

TEST_F(GhostPageTest, ARestoreRunHandsOverTheImagePathWithoutItsDrive) {
    const CString image = dataDrive + L"\\KVTBAK\\OLD.WIM";
    SHCreateDirectoryExW(nullptr, dataDrive + L"\\KVTBAK", nullptr);
    ASSERT_TRUE(WriteWholeFile((const wchar_t*)image, "image"));
    page->m_imagePath = L"";
    files.answer = image;
    Click(IDC_GHOST_BROWSE_IMAGE);
    ASSERT_EQ(image, page->m_imagePath);
    Shot(L"ghost_page.png");
    RunJob(IDC_GHOST_RESTORE);
    ExpectRestartRequested();
    ExpectIni({{FixedText::kGhostIniRestoreKeys[0], FixedText::kGhostIniRestoreValues[0]},
               {FixedText::kGhostIniRestoreKeys[1], FixedText::kGhostIniRestoreValues[1]},
               {FixedText::kGhostIniCommonKeys[0], app->m_restartIniValue},
               {FixedText::kGhostIniCommonKeys[1], L"\\KVTBAK\\OLD.WIM"},
               {FixedText::kGhostIniCommonKeys[2], FixedText::kGhostIniLastValue}});
    page->SwitchView(1);
}

TEST_F(GhostPageTest, AFailedBootSetupRestartsNothingAndRemovesAnOldMarker) {
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    CDiskInventory* real = app->m_diskInventory;
    CDiskInventory empty(&TestMachine().storage, nullptr);
    app->m_diskInventory = &empty;
    ASSERT_TRUE(WriteWholeFile((const wchar_t*)marker, ""));
    AnswerNextMessageBox(true);
    const int answered = MessageBoxesAnswered();
    Click(IDC_GHOST_BACKUP);
    ASSERT_TRUE(PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1; }, 300000));
    app->m_diskInventory = real;
    EXPECT_EQ(CGhostDlg::kRefusedBootSetup, page->LastOutcome());
    EXPECT_EQ(answered + 1, MessageBoxesAnswered());
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_EQ(0, page->m_jobRunning);
}

// The main window refuses the restart while another page writes a disk (the
// USB maker, for hours while it waits for its image): the marker is taken
// back, the page says why and returns to its selection, nothing restarts.
TEST_F(GhostPageTest, ARestartTheMainWindowRefusesTakesTheMarkerBack) {
    const CString folder = dataDrive + L"\\KVTBAK";
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    page->m_targetPath = folder + L"\\SYSTEM.GHO";
    CUsbMaker& usb = *dlg->m_usbPage;
    usb.m_makingDisk = 1;
    BoxAnswerer boxes;
    Click(IDC_GHOST_BACKUP);
    const bool back = PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); },
                                300000);
    usb.m_makingDisk = 0;
    ASSERT_TRUE(back) << "the page did not return to its selection";
    EXPECT_EQ(CGhostDlg::kRefusedDiskJob, page->LastOutcome());
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the refusal comes after the boot setup";
    EXPECT_EQ(std::vector<std::wstring>{FixedText::kRebootRefusedDiskJob}, boxes.texts);
    EXPECT_FALSE(Exists(marker)) << "the marker of a refused restart";
    EXPECT_EQ(L"", BootStoreModel::Of(GetSimRecords().processRuns).Armed()) << "the boot setup of a refused restart";
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_EQ(0, page->m_jobRunning);
    EXPECT_TRUE(dlg->IsWindowVisible());
    EXPECT_EQ(0, GetSimRecords().reboots);
}

// A restart the main window asks for and the user cancels (or Windows
// refuses): the boot setup and the marker are undone, the page says so and
// returns to its selection, and the window stays.
TEST_F(GhostPageTest, ARestartThatDoesNotHappenIsUndoneAndSaid) {
    const CString folder = dataDrive + L"\\KVTBAK";
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    page->m_targetPath = folder + L"\\SYSTEM.GHO";
    SetSimRestartAnswer(SimRestartAnswer::kCancelled);
    BoxAnswerer boxes;
    Click(IDC_GHOST_BACKUP);
    ASSERT_TRUE(PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); },
                          300000))
        << "the page did not return to its selection";
    EXPECT_EQ(CGhostDlg::kRestartNotDone, page->LastOutcome());
    EXPECT_EQ(1, GetSimRecords().reboots) << "asked once";
    EXPECT_FALSE(GetSimRecords().processRuns.empty()) << "the boot setup did not run";
    EXPECT_EQ(L"", BootStoreModel::Of(GetSimRecords().processRuns).Armed());
    EXPECT_EQ(std::vector<std::wstring>{FixedText::kRestartUndoneNotice}, boxes.texts);
    EXPECT_FALSE(Exists(marker));
    EXPECT_FALSE(Exists(RestartIniPath(*app)));
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_EQ(0, page->m_jobRunning);
    EXPECT_TRUE(dlg->IsWindowVisible());
}

TEST_F(GhostPageTest, TheQueueLinesNameTheRecord) {
    // Each line the queue asks for, on the status text: the hooks run on the
    // page's thread, as the queue calls them.
    COnlinefileinfo record;
    record.m_title = L"维护环境 10PE";
    record.m_sectionName = L"kvt10pe";
    const tagDownloadTaskItem item = {&record, 0};
    QueueTransferProgress progress = {};
    progress.percent = 42;
    page->SwitchView(2);
    const CString before = L"(unchanged)";
    struct Case {
        const char* what;
        std::function<void()> call;
        CString line;  // empty: the line stays as it was
    } cases[] = {
        {"build", [&] { page->OnBuildStarted(); }, FixedText::kGhostCheckingFiles},
        {"check", [&] { page->OnCandidateChecking(item); },
         CString(FixedText::kGhostCheckingPrefix) + L"维护环境 10PE" + FixedText::kGhostCheckingSuffix},
        {"entry current: no line", [&] { page->OnEntryCurrent(item); }, CString()},
        {"entry retried: no line", [&] { page->OnEntryRetry(item); }, CString()},
        {"status 2: no line", [&] { page->OnSourceRetry(item); }, CString()},
        {"status 3", [&] { page->OnTransferProgress(item, progress); },
         CString(FixedText::kGhostDownloadingPrefix) + L"kvt10pe" + FixedText::kGhostDownloadingInfix + L"42%"},
        {"status 4", [&] { page->OnTransferFinished(item, true); },
         CString(L"kvt10pe") + FixedText::kGhostDownloadFinished},
        {"status 4 again: no line", [&] { page->OnTransferFinished(item, false); }, CString()},
        {"verification", [&] { page->OnVerifyStarted(item); }, CString(L"维护环境 10PE") + FixedText::kGhostVerifying},
        {"digest each second", [&] { page->OnCheckProgress(57); },
         CString(L"维护环境 10PE") + FixedText::kGhostVerifyingInfix + L"57%"},
        {"digest done", [&] { page->OnCheckEnded(); }, CString(L"维护环境 10PE") + FixedText::kGhostVerifyDone},
        {"entry done: no line", [&] { page->OnEntryDone(item); }, CString()},
    };
    for (const Case& c : cases) {
        page->m_statusText.SetWindowText(before);
        c.call();
        EXPECT_EQ(c.line.IsEmpty() ? before : c.line, EditText(page->m_statusText)) << c.what;
    }
    page->OnTransferProgress(item, progress);
    Shot(L"ghost_page_downloading.png");
    page->SwitchView(1);
}

TEST_F(GhostPageTest, AMissingBootEnvironmentIsFetchedBeforeTheRestart) {
    COnlinefileinfo& pe = app->m_peImages[app->m_selectedPeIndex];
    ASSERT_GT(pe.m_linkCount, 0) << "the scenario's catalogue gives the boot environment no mirror";
    ASSERT_TRUE(DeleteFileW(bootFile));
    pe.m_checkState = 0;
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    SHCreateDirectoryExW(nullptr, dataDrive + L"\\KVTBAK", nullptr);
    BoxAnswerer boxes;
    RunJob(IDC_GHOST_BACKUP);
    EXPECT_TRUE(boxes.texts.empty()) << Utf8Of(boxes.Last());
    // Fetched from the catalogue server, verified, then the boot setup and the restart.
    EXPECT_EQ(3, pe.m_checkState);
    EXPECT_GE(GetFileSize64(bootFile), 5242880u);
    ExpectRestartRequested();
    page->SwitchView(1);
    // The accepted file is held open for reading; the next test writes its own.
    if (pe.m_fileHandle != INVALID_HANDLE_VALUE) CloseHandle(pe.m_fileHandle);
    pe.m_fileHandle = INVALID_HANDLE_VALUE;
}

TEST_F(GhostPageTest, ARequiredFileThatCannotBeFetchedLeadsBackToTheSelection) {
    // The tool file, required and missing, without a mirror: it fails at once.
    COnlinefileinfo& tool = app->m_toolFile;
    ASSERT_FALSE(tool.m_sectionName.IsEmpty());
    const int linkCount = tool.m_linkCount;
    const int required = tool.m_requiredUsb;
    DeleteFileW(GetLocalPath(tool));
    tool.m_checkState = 0;
    tool.m_linkCount = 0;
    tool.m_requiredUsb = 1;
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    BoxAnswerer boxes;
    Click(IDC_GHOST_BACKUP);
    const bool back = PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); },
                                300000);
    tool.m_linkCount = linkCount;
    tool.m_requiredUsb = required;
    ASSERT_TRUE(back) << "the page did not return to its selection";
    EXPECT_EQ(CGhostDlg::kRefusedDownload, page->LastOutcome());
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(std::wstring(tool.m_sectionName) + FixedText::kGhostDownloadFailedSuffix, boxes.texts[0]);
    EXPECT_EQ(0, page->m_jobRunning);
    EXPECT_EQ(0, page->m_downloadState.load());
    EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(0, app->m_rebootAtExit);
}

// The backup/restore page arms the same restart: not while BitLocker
// protects the system volume, nor when its state cannot be read. Nothing is
// written: no entry, no file beside the target, no marker.
TEST_F(GhostPageTest, BitLockerProtectionOnTheSystemVolumeRefusesBeforeAnythingIsWritten) {
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    const CString beside = dataDrive + L"\\KVTBAK\\SYSTEM" + FixedText::kGhostBesideSuffix;
    DeleteFileW(beside);
    ScopedEncryptionFacts bitLocker;
    ASSERT_FALSE(VolumeIdOf(app->m_systemDrive).empty());
    for (const RefusingState& c : RefusingStates(app->m_systemDrive)) {
        SCOPED_TRACE(c.what);
        bitLocker.script() = ScriptedEncryption();
        c.arrange(bitLocker.script());
        ResetSimRecords();
        BoxAnswerer boxes;
        Click(IDC_GHOST_BACKUP);
        ASSERT_TRUE(PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); },
                              300000));
        EXPECT_EQ(CGhostDlg::kRefusedProtection, page->LastOutcome());
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(std::wstring(c.line), boxes.texts[0]);
        EXPECT_TRUE(GetSimRecords().processRuns.empty()) << "the boot setup ran";
        EXPECT_FALSE(Exists(marker));
        EXPECT_FALSE(Exists(beside));
        EXPECT_EQ(0, app->m_rebootAtExit);
        EXPECT_EQ(1, bitLocker.script().reads);
    }
}

TEST_F(GhostPageTest, ARefusedBootSetupShowsTheSetupsReason) {
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    FaultyBootHost host(CurrentBootHost(), [this] { return page->WritesDisk(); });
    host.failRunHolding = L"/bootsequence";
    CDiskInventory* real = app->m_diskInventory;
    std::unique_ptr<CDiskInventory> faulty(new CDiskInventory(nullptr, &host));
    faulty->Refresh();
    app->m_diskInventory = faulty.get();
    ASSERT_TRUE(WriteWholeFile((const wchar_t*)marker, ""));
    BoxAnswerer boxes;
    Click(IDC_GHOST_BACKUP);
    const bool back = PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); },
                                300000);
    app->m_diskInventory = real;
    faulty.reset();
    ASSERT_TRUE(back);
    EXPECT_EQ(CGhostDlg::kRefusedBootSetup, page->LastOutcome());
    EXPECT_EQ(1, host.failedRuns);
    CString why;
    why.Format(FixedText::kBootSetupCommandRefusalFormat, 1);
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(std::wstring(why), boxes.texts[0]);
    // The entry made before the failed command goes with the marker.
    EXPECT_EQ(L"", BootStoreModel::Of(GetSimRecords().processRuns).Armed());
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(0, app->m_rebootAtExit);
}

TEST_F(GhostPageTest, ABootEnvironmentPathTheSetupCannotSplitSaysSoNotAnEarlierReason) {
    // An earlier run's reason is still on the inventory.
    page->m_targetPath = dataDrive + L"\\KVTBAK\\SYSTEM.GHO";
    app->m_diskInventory->m_bootSetupRefusal = FixedText::kBootSetupToolHungRefusal;
    BoxAnswerer boxes;
    bool back = false;
    {
        UnsplittableBootFile file(app->m_peImages[app->m_selectedPeIndex], bootFile.Left(2),
                                  std::string(6 * 1024 * 1024, 'p'));
        ASSERT_TRUE(file.Made());
        Click(IDC_GHOST_BACKUP);
        back = PumpUntil([&] { return !page->WorkersRunning() && page->m_view == 1 && !boxes.texts.empty(); }, 300000);
    }
    ASSERT_TRUE(back);
    EXPECT_EQ(CGhostDlg::kRefusedBootSetup, page->LastOutcome());
    ASSERT_EQ(1u, boxes.texts.size());
    EXPECT_EQ(std::wstring(FixedText::kBootSetupTargetRefusal), boxes.texts[0]);
    // (What runs is only the undo of what earlier tests armed on this inventory.)
    for (const std::wstring& run : GetSimRecords().processRuns)
        EXPECT_EQ(std::wstring::npos, run.find(L"/create")) << "the boot setup ran without a target";
    EXPECT_EQ(0, app->m_rebootAtExit);
}

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simghost", g_scenarioLoaded); }
