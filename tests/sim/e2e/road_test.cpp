// The install road end to end on the simulated machine (run through
// with_scenario.sh on the road scenario): the real main window made
// in-process and driven by messages as a user drives it. The check runs on
// the scenario; Next leads to the backup page, where the desktop and
// documents boxes are checked; Next leads to the picker, where an image of
// tab 1 with a digest to check is picked; OK starts the download page's
// queue, which fetches the image, the boot environment and the companion
// files from the local catalogue server through the real engine, past a
// corrupt first mirror, a share page and a dead mirror; Next, answered Yes,
// leads to the restart page, whose worker copies the chosen folders, runs
// the boot setup, writes the INI and the marker and asks for the restart.
// Screenshots of each page are saved beside the test program.
//
// Beside it, a benchmark (printed, never asserted): the longest time the
// main window took to answer a message sent every 20 ms from another
// thread, during the check and the downloads, beside the answer time of the
// same window idle in the same run (under emulation and load, the idle
// answer is the yardstick of the others).
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/os_select_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages/reboot_dlg.h"
#include "sim/sim_machine.h"
#include "support/no_restart.h"
#include "support/test_files.h"
#include "user_folders.h"

namespace {

bool g_scenarioLoaded = false;

bool Exists(const CString& path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The catalogue server's request log (one line a request it answered), in
// the simulated machine's folder of this test run.
std::string ServerLog() { return ReadWholeFile(TestRunDirectory() + L"\\sim\\server.log"); }

// How many lines of `log` from `from` on hold `request` ("GET /road/...").
int Requests(const std::string& log, size_t from, const std::string& request) {
    int count = 0;
    for (size_t at = log.find(request, from); at != std::string::npos; at = log.find(request, at + 1)) ++count;
    return count;
}

// Sends WM_NULL to a window every 20 ms from its own thread and keeps the
// longest answer, for each phase the test names.
class AnswerProbe {
public:
    enum Phase { kCheck, kDownload, kIdle, kPhases };
    explicit AnswerProbe(HWND window) : m_window(window), m_thread([this] { Run(); }) {}
    ~AnswerProbe() { Stop(); }
    void SetPhase(Phase phase) { m_phase = phase; }
    // Called on the window's thread: it keeps answering until the last message is in.
    void Stop() {
        m_stop = true;
        PumpUntil([this] { return m_done.load(); }, 60000);
        if (m_thread.joinable()) m_thread.join();
    }
    double Longest(Phase phase) const { return m_longest[phase]; }
    double Longest() const { return (std::max)(m_longest[kCheck], m_longest[kDownload]); }
    double Mean(Phase phase) const { return m_count[phase] ? m_total[phase] / m_count[phase] : 0; }
    int Samples(Phase phase) const { return m_count[phase]; }
    int Samples() const { return m_samples; }
    int Unanswered() const { return m_unanswered; }

private:
    void Run() {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        while (!m_stop) {
            LARGE_INTEGER start, end;
            DWORD_PTR result = 0;
            QueryPerformanceCounter(&start);
            LRESULT answered = SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
            QueryPerformanceCounter(&end);
            const double ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
            const int phase = m_phase;
            if (!answered) ++m_unanswered;
            if (ms > m_longest[phase]) m_longest[phase] = ms;
            m_total[phase] += ms;
            ++m_count[phase];
            ++m_samples;
            Sleep(20);
        }
        m_done = true;
    }
    HWND m_window;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_phase{kCheck};
    double m_longest[kPhases] = {0, 0, 0};
    double m_total[kPhases] = {0, 0, 0};
    std::atomic<int> m_count[kPhases] = {{0}, {0}, {0}};
    int m_samples = 0;
    int m_unanswered = 0;
    std::thread m_thread;
};

class SimRoadTest : public testing::Test {
protected:
    void SetUp() override {
        if (!g_scenarioLoaded) GTEST_SKIP() << "no scenario loaded (run through with_scenario.sh)";
        app = GetTarvelApp();
        ASSERT_TRUE(folders.Make());
        app->m_rebootAtExit = 0;
        ResetSimRecords();
    }
    void TearDown() override {
        if (!g_scenarioLoaded) return;
        folders.Remove();
        app->m_rebootAtExit = 0;
        if (!marker.IsEmpty()) {
            SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(marker);
        }
    }

    // Saves the main window's picture; `pump` lets posted work land first
    // (without it, the picture is of this moment, a worker waiting on this thread).
    void Shot(CTarvelDlg& dlg, const wchar_t* name, bool pump = true) {
        dlg.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        if (pump) Pump(200);
        const std::wstring file = TestProgramDirectory() + L"\\" + name;
        EXPECT_GT(CaptureWindow(dlg.GetSafeHwnd(), file.c_str(), pump), 20) << Utf8Of(std::wstring(name));
    }

    CTarvelApp* app = nullptr;
    TestUserFolders folders{L"kvt-road-test"};
    CString marker;
};

// The image picked on tab 1: a catalogue record with a digest to check,
// its linked drivers pack, offered through the local share service.
constexpr const wchar_t* kPickedImage = L"win10_pro_x64";

TEST_F(SimRoadTest, FromTheCheckToTheRestart) {
    MainWindowFixture window;
    ASSERT_TRUE(window.Create());
    CTarvelDlg& dlg = *window.dlg;
    AnswerProbe probe(dlg.GetSafeHwnd());

    // ---- the check
    ASSERT_TRUE(window.WaitForCheck(300000)) << "the check did not end";
    Pump(300);
    // The yardstick of the benchmark: the same window with nothing to do, in
    // this run, on this machine as loaded as it is now.
    probe.SetPhase(AnswerProbe::kIdle);
    const bool idle = PumpUntil([&] { return probe.Samples(AnswerProbe::kIdle) >= 50; }, 120000);
    probe.SetPhase(AnswerProbe::kCheck);
    COsinfoDlg& check = *dlg.m_osinfoPage;
    ASSERT_TRUE(dlg.m_backupTab.IsWindowEnabled()) << "the check did not open the install road";
    ASSERT_TRUE(check.m_nextButton.IsWindowEnabled());
    Shot(dlg, L"road_1_check.png");

    // ---- Next: the backup page; the desktop and the documents
    check.m_nextButton.SendMessage(BM_CLICK);
    Pump(200);
    ASSERT_EQ((CWnd*)dlg.m_backupPage, dlg.m_shownPage);
    ASSERT_FALSE(app->m_backupFolder.IsEmpty());
    CbackupDlg& backup = *dlg.m_backupPage;
    backup.m_desktopBox.SendMessage(BM_CLICK);
    backup.m_documentsBox.SendMessage(BM_CLICK);
    Pump(50);
    EXPECT_EQ(1, dlg.SendMessage(WM_GET_BACKUP_CHOICE, 0));
    EXPECT_EQ(1, dlg.SendMessage(WM_GET_BACKUP_CHOICE, 1));
    EXPECT_EQ(0, dlg.SendMessage(WM_GET_BACKUP_CHOICE, 2));
    Shot(dlg, L"road_2_backup.png");

    // ---- Next: the picker, tab 1, the image
    backup.m_nextButton.SendMessage(BM_CLICK);
    Pump(200);
    ASSERT_EQ((CWnd*)dlg.m_selectPage, dlg.m_shownPage);
    COsSelectDlg& picker = *dlg.m_selectPage;
    picker.TabButton(1).SendMessage(BM_CLICK);
    Pump(100);
    ASSERT_EQ(1, picker.m_currentTab);
    int picked = -1;
    for (INT_PTR i = 0; i < app->m_osImages.GetSize(); ++i)
        if (app->m_osImages[i].m_sectionName == kPickedImage) picked = (int)i;
    ASSERT_GE(picked, 0) << "the catalogue has no " << Utf8Of(std::wstring(kPickedImage));
    const COnlinefileinfo& image = app->m_osImages[picked];
    ASSERT_TRUE(image.m_matchMode == 1 || image.m_matchMode == 2);
    ASSERT_FALSE(image.m_expectedMd5.IsEmpty());
    // The categories start folded: open the image's own, then click the image.
    COsListWndBase& list = picker.m_categoryList;
    int header = -1;
    for (int h = 0; h < picker.m_categoryList.GetHeaderCount() && header < 0; ++h) {
        const BYTE mask = static_cast<COsCatInfo*>(list.m_items[h]->data)->m_systemMask;
        if (mask && (image.m_systemMask & mask) == mask) header = list.m_items[h]->id;
    }
    ASSERT_GE(header, kCategoryHeaderIdBase) << "the image has no category on tab 1";
    ASSERT_TRUE(ClickListRow(list, header));
    list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump(50);
    ASSERT_TRUE(ClickListRow(list, picked)) << "the image is not shown in its category";
    Pump(50);
    EXPECT_EQ(picked, picker.ChosenImage());
    Shot(dlg, L"road_3_picker.png");

    // ---- OK: the download page and its queue
    const size_t logStart = ServerLog().size();
    probe.SetPhase(AnswerProbe::kDownload);
    picker.m_nextButton.SendMessage(BM_CLICK);
    ASSERT_EQ((CWnd*)dlg.m_downloadPage, dlg.m_shownPage);
    EXPECT_EQ(1, app->m_selectedImageTab);
    EXPECT_EQ(picked, app->m_selectedImageIndex);
    COsDownloadDlg& download = *dlg.m_downloadPage;
    // Next waits for the user (the test answers the question itself).
    download.m_autoContinue.SendMessage(BM_SETCHECK, BST_UNCHECKED);
    bool runningShot = false;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (!runningShot && download.m_downloadState == 1 && download.m_queue.ActivePollers() > 0) {
                Shot(dlg, L"road_4_downloading.png");
                runningShot = true;
            }
            return download.m_downloadState == 0;
        },
        600000))
        << "the downloads did not end";
    EXPECT_TRUE(download.m_queue.WaitForThreads(120000));
    probe.Stop();
    Pump(200);
    ASSERT_TRUE(download.m_nextButton.IsWindowEnabled()) << "the run did not end well";
    Shot(dlg, L"road_5_downloaded.png");

    // Every queued record with a digest holds the right file.
    std::vector<const COnlinefileinfo*> fetched = {&app->m_osImages[picked], &app->m_peImages[app->m_selectedPeIndex]};
    ASSERT_GE(image.m_linkedFileIndex, 0) << "the image links no drivers pack";
    fetched.push_back(&app->m_linkedFiles[image.m_linkedFileIndex]);
    ASSERT_FALSE(app->m_extraFile1.m_sectionName.IsEmpty());
    fetched.push_back(&app->m_extraFile1);
    for (const COnlinefileinfo* record : fetched) {
        if (record->m_expectedMd5.IsEmpty()) continue;
        const CString path = GetLocalPath(*record);
        EXPECT_EQ(CString(record->m_expectedMd5).MakeUpper(), FileMd5Hex(path).MakeUpper())
            << Utf8Of((const wchar_t*)record->m_sectionName) << " at " << Utf8Of((const wchar_t*)path);
        EXPECT_GE(GetFileSize64(path), 5ull << 20) << Utf8Of((const wchar_t*)path);
    }

    // The mirrors the road met: the share page, resolved by the share
    // service, gave the corrupt copy, so did the first mirror, the second
    // gave the image; the boot environment's first mirror is dead.
    const std::string log = ServerLog();
    const std::string scope = "/road";  // the scenario's name
    EXPECT_EQ(1, Requests(log, logStart, "GET " + scope + "/lk/win10share ")) << log.substr(logStart);
    EXPECT_EQ(1, Requests(log, logStart, "POST " + scope + "/share/downloadfile ")) << log.substr(logStart);
    EXPECT_EQ(2, Requests(log, logStart, "GET " + scope + "/files/win10_pro_x64.iso ")) << log.substr(logStart);
    EXPECT_EQ(1, Requests(log, logStart, "GET " + scope + "/mirror2/win10_pro_x64.iso ")) << log.substr(logStart);
    const std::string pe = Utf8Of(std::wstring(app->m_peImages[app->m_selectedPeIndex].m_fileName));
    EXPECT_EQ(1, Requests(log, logStart, "GET " + scope + "/mirror2/" + pe + " ")) << log.substr(logStart);
    EXPECT_EQ(1, Requests(log, logStart, "GET " + scope + "/mirror2/drivers_pack.zip ")) << log.substr(logStart);
    // The second extra file (1 MiB in the catalogue) is below the queue's
    // 5 MiB floor on both mirrors: optional, it is skipped and leaves
    // nothing under its name.
    if (!app->m_extraFile2.m_sectionName.IsEmpty()) {
        EXPECT_EQ(0, app->m_extraFile2.m_required);
        EXPECT_FALSE(Exists(GetLocalPath(app->m_extraFile2)));
    }

    // ---- Next, answered Yes: the restart page and its worker
    marker = RestartMarkerPath(app->m_systemDrive);
    ASSERT_FALSE(marker.IsEmpty());
    CRebootDlg& reboot = *dlg.m_rebootPage;
    AnswerNextMessageBox(true);
    download.m_nextButton.SendMessage(BM_CLICK);
    ASSERT_EQ((CWnd*)&reboot, dlg.m_shownPage);
    // The worker asks this thread for the backup choices first: it is at its start.
    Shot(dlg, L"road_6_restarting.png", false);
    ASSERT_TRUE(PumpUntil([&] { return !reboot.WorkersRunning(); }, 300000))
        << "the restart worker did not end";
    Pump(200);
    CString status;
    reboot.m_rebootStatus.GetWindowText(status);
    EXPECT_EQ(CRebootDlg::kRestartRequested, reboot.LastOutcome()) << Utf8Of((const wchar_t*)status);

    // The chosen folders were copied; the favorites were not chosen.
    const std::wstring backupFolder = std::wstring(app->m_backupFolder);
    EXPECT_EQ("desktop note",
              ReadWholeFile(backupFolder + FixedText::kRebootUserFolderSubs[0] + L"\\kvt-road-test\\笔记.txt"));
    EXPECT_EQ("deep",
              ReadWholeFile(backupFolder + FixedText::kRebootUserFolderSubs[0] + L"\\kvt-road-test\\子目录\\deep.bin"));
    EXPECT_EQ("report",
              ReadWholeFile(backupFolder + FixedText::kRebootUserFolderSubs[1] + L"\\kvt-road-test\\报告.doc"));
    EXPECT_FALSE(Exists(app->m_backupFolder + FixedText::kRebootUserFolderSubs[2]));

    // The boot setup ran on the simulated machine.
    const SimRecords records = GetSimRecords();
    EXPECT_FALSE(records.processRuns.empty()) << "the boot setup ran no boot-entry tool";

    // The marker (empty, in the system drive's root) and the hidden INI.
    EXPECT_EQ(app->m_systemDrive + L"\\", marker.Left(3));
    ASSERT_TRUE(Exists(marker));
    EXPECT_EQ(0u, GetFileSize64(marker));
    const CString ini = RestartIniPath(*app);
    ASSERT_TRUE(Exists(ini));
    EXPECT_TRUE(GetFileAttributesW(ini) & FILE_ATTRIBUTE_HIDDEN);
    CString number;
    number.Format(L"%d", image.m_number);
    const CString expected[5] = {FixedText::kRestartIniFirstValue, app->m_restartIniValue, image.m_fileName,
                                 FixedText::kRestartIniFourthValue, number};
    for (int i = 0; i < 5; ++i) {
        wchar_t value[1024] = {};
        GetPrivateProfileStringW(FixedText::kRestartIniSection, FixedText::kRestartIniKeys[i], L"", value, 1024, ini);
        EXPECT_EQ(expected[i], DecryptFromHex(value, app->m_iniPassword)) << i;
    }

    // The main window asked for the restart while it still ran, once, and
    // ended with the session.
    EXPECT_TRUE(PumpUntil([&] { return GetSimRecords().reboots > 0 && !dlg.IsWindowVisible(); }, 60000));
    EXPECT_EQ(1, GetSimRecords().reboots);
    EXPECT_EQ(1, app->m_rebootAtExit);
    dlg.ShowWindow(SW_SHOW);
    Shot(dlg, L"road_7_restart.png");
    app->m_rebootAtExit = 0;

    // The benchmark: printed, never asserted.
    printf("responsiveness: longest answer %.0f ms; idle answer %.1f ms on average, %.1f ms at the longest (%d messages%s)\n",
           probe.Longest(), probe.Mean(AnswerProbe::kIdle), probe.Longest(AnswerProbe::kIdle),
           probe.Samples(AnswerProbe::kIdle), idle ? "" : ", fewer than asked for");
    printf("  (check %.0f ms, downloads with digest checks and the share link %.0f ms; %d messages, %d unanswered in 30 s)\n",
           probe.Longest(AnswerProbe::kCheck), probe.Longest(AnswerProbe::kDownload), probe.Samples(),
           probe.Unanswered());
}

}  // namespace

int main(int argc, char** argv) {
    CTarvelApp app;
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    testing::InitGoogleTest(&argc, argv);
    CString error;
    g_scenarioLoaded = LoadSimScenarioFromEnvironment(&error) != false;
    if (!g_scenarioLoaded) fprintf(stderr, "no scenario: %s\n", Utf8Of((const wchar_t*)error).c_str());
    // The work folder holds the engine and the boot files, as the program's does.
    const std::wstring work = MakeTempFolder(L"simroad");
    app.m_workFolder = work.c_str();
    app.m_workFolderCreated = true;
    if (!CopyTree(KAVETTA_SIM_TOOLS_STAGE, work)) fprintf(stderr, "the test tools could not be put into the work folder\n");
    app.m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    app.FinishUnpack(TRUE);
    const std::wstring engine = std::wstring(L"\\") + FixedText::kEngineLibraryName;
    if (!CopyFileW((TestProgramDirectory() + engine).c_str(), (work + engine).c_str(), FALSE))
        fprintf(stderr, "the engine could not be put into the work folder\n");
    if (!LoadTestSkin()) fprintf(stderr, "the skin archive could not be loaded; pages draw without pictures\n");
    int rc = RUN_ALL_TESTS();
    UnloadSimScenario();
    // Whatever the test left, the exit restarts nothing on the host.
    SetPowerControl(&power);
    app.m_rebootAtExit = 0;
    Gdiplus::GdiplusShutdown(token);
    RemoveTree(work);
    return rc;
}
