// The restart page and its worker on the simulated machine (run through
// with_scenario.sh on the full scenario): the real main window made
// in-process, its check run against the scenario, then the restart worker
// started as the download page starts it. The road that ends in a restart
// copies the chosen user folders, runs the boot setup, leaves the INI and
// the marker and asks the main window for the restart; each refusal
// restarts nothing, leaves no marker and offers the way back.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <string>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/reboot_dlg.h"
#include "sim/e2e/sim_page_main.h"
#include "sim/sim_machine.h"
#include "support/no_restart.h"
#include "support/test_files.h"
#include "user_folders.h"

namespace {

bool g_scenarioLoaded = false;

bool Shown(CWnd& control) { return (::GetWindowLongW(control.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0; }

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The scenario's boot host, noting at each boot-entry tool run whether the
// page refuses the exit then.
class WatchingBootHost : public IBootHost {
public:
    WatchingBootHost(IBootHost& inner, CRebootDlg& page) : m_inner(inner), m_page(page) {}
    BOOL PathExists(const wchar_t* path) override { return m_inner.PathExists(path); }
    BOOL IsFolder(const wchar_t* path) override { return m_inner.IsFolder(path); }
    BOOL CreateFolder(const wchar_t* path) override { return m_inner.CreateFolder(path); }
    int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) override {
        return m_inner.CopyFileEnsureFolder(source, destination, failIfExists);
    }
    BOOL SetAttributes(const wchar_t* path, DWORD attributes) override {
        return m_inner.SetAttributes(path, attributes);
    }
    BOOL WriteIniString(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* value) override {
        return m_inner.WriteIniString(path, section, key, value);
    }
    int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) override {
        ++runs;
        if (m_page.WritesDisk()) ++runsWhileExitRefused;
        return m_inner.RunProcessAndWait(program, arguments);
    }
    void LocalTime(SYSTEMTIME* time) override { m_inner.LocalTime(time); }
    void ShowDebugBox(const wchar_t* text) override { m_inner.ShowDebugBox(text); }
    BOOL ReadFileBytes(const wchar_t* path, void* buffer, DWORD size, DWORD* got) override {
        return m_inner.ReadFileBytes(path, buffer, size, got);
    }
    ULONGLONG FileSize(const wchar_t* path) override { return m_inner.FileSize(path); }
    BOOL CopyFileProgress(const wchar_t* source, const wchar_t* target, LPPROGRESS_ROUTINE routine,
                          void* data) override {
        return m_inner.CopyFileProgress(source, target, routine, data);
    }
    BOOL CreateFolderTree(const wchar_t* path) override { return m_inner.CreateFolderTree(path); }
    BOOL WriteTextFile(const wchar_t* path, const CStringA& text) override { return m_inner.WriteTextFile(path, text); }
    BOOL RemoveFile(const wchar_t* path) override { return m_inner.RemoveFile(path); }
    HANDLE HoldNewTextFile(const wchar_t* path, const CStringA& text) override {
        return m_inner.HoldNewTextFile(path, text);
    }
    void ReleaseHeldFile(HANDLE hold, const wchar_t* path) override { m_inner.ReleaseHeldFile(hold, path); }
    void Wait(DWORD milliseconds) override { m_inner.Wait(milliseconds); }
    BOOL RealHostRule() override { return m_inner.RealHostRule(); }
    int runs = 0;
    int runsWhileExitRefused = 0;

private:
    IBootHost& m_inner;
    CRebootDlg& m_page;
};

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

    // What the download page's Next does: show this page, start the worker.
    void RunWorker() {
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

    // A refusal: nothing restarts, no marker, the line says why in red, Back leads to the download page.
    void ExpectRefused(CRebootDlg::Outcome outcome, const wchar_t* line) {
        EXPECT_EQ(outcome, page->LastOutcome());
        EXPECT_EQ(0, app->m_rebootAtExit);
        EXPECT_EQ(0, GetSimRecords().reboots);
        EXPECT_FALSE(Exists(marker));
        EXPECT_GE(Status().Find(line), 0) << Utf8Of((const wchar_t*)Status());
        EXPECT_EQ(CRebootDlg::kFailColor, page->m_rebootStatus.m_textColor);
        EXPECT_TRUE(page->m_backButton.IsWindowVisible());
        EXPECT_FALSE(page->m_rebootAnimation.IsWindowVisible());
        EXPECT_FALSE(page->m_rebootAnimation.IsPlaying());
        EXPECT_FALSE(page->WritesDisk());
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
    // A file another program holds open without sharing.
    const std::wstring locked = folders.documents + L"\\locked.pst";
    ASSERT_TRUE(WriteWholeFile(locked, "mail"));
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
    ExpectRefused(CRebootDlg::kRefusedBootSetup, FixedText::kRebootRefusedBootSetup);
    ExpectBackLeadsToDownloadPage();
}

TEST_F(RebootPageTest, AnExitRequestStopsTheRoadBeforeTheBootSetup) {
    Choose(true, true, true);
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
    WatchingBootHost host(CurrentBootHost(), *page);
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

    // The main window took the request: the restart waits for the exit.
    EXPECT_EQ(1, app->m_rebootAtExit);
    EXPECT_EQ(0, records.reboots);
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

    // The exit restarts through the power seam, once.
    if (app->m_rebootAtExit) RebootMachine();
    EXPECT_EQ(1, GetSimRecords().reboots);
    app->m_rebootAtExit = 0;
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

}  // namespace

int main(int argc, char** argv) { return RunSimPageTests(argc, argv, L"simreboot", g_scenarioLoaded); }
