// The image backup/restore page on the simulated machine (run through
// with_scenario.sh on the full scenario): the real main window made
// in-process with its check run against the scenario, and the page, whose
// tab is hidden, shown directly. The browse dialogs are answered by a
// scripted runner; the page's error boxes by the message-box answerer.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
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
#include "sim/e2e/sim_page_main.h"
#include "sim/sim_machine.h"
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
        EXPECT_EQ(1, app->m_rebootAtExit);
        EXPECT_EQ(0, GetSimRecords().reboots);
        if (app->m_rebootAtExit) RebootMachine();
        EXPECT_EQ(1, GetSimRecords().reboots);
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

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simghost", g_scenarioLoaded); }
