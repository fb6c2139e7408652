// The download queue against the real engine DLL and servers on 127.0.0.1:
// mirrors in turn, share pages, stalls, digests, the 5 MiB floor, pause and
// resume, stop during the build and the required/optional rules. A small
// host window forwards WM_TASK_STEP to the queue and records what the queue
// asked the page to show.
#include "download_queue_test_support.h"

#include <gtest/gtest.h>

#include <process.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/md5.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/download_queue.h"
#include "../controls/controls_test_support.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

namespace {

// The page stand-in: a window that forwards WM_TASK_STEP to its queue, and
// the primitives, which record what the page would show.
class TestHost : public CDownloadQueueHost {
public:
    TestHost() {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = WindowProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KavettaQueueTestHost";
            RegisterClassW(&wc);
            registered = true;
        }
        m_window = CreateWindowExW(0, L"KavettaQueueTestHost", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        queue.reset(new CDownloadQueue(this));
        m_holdBuild = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        m_inBuild = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TestHost() override {
        SetEvent(m_holdBuild);
        queue.reset();
        DestroyWindow(m_window);
        CloseHandle(m_holdBuild);
        CloseHandle(m_inBuild);
    }

    // The builder waits in CollectCandidates until Release.
    void HoldBuild() { ResetEvent(m_holdBuild); }
    void Release() { SetEvent(m_holdBuild); }
    bool WaitInBuild(DWORD ms) { return WaitForSingleObject(m_inBuild, ms) == WAIT_OBJECT_0; }

    HWND GetQueueWindow() override { return m_window; }
    void SetQueueRowText(int row, const CString& text) override {
        rows[row] = text;
        if (row == kQueueStatusRow) statusHistory.push_back(text);
    }
    void SetQueueProgress(int percent) override {
        progress = percent;
        progressHistory.push_back(percent);
    }
    void ShowBackButton(BOOL show) override { backVisible = show; }
    void ShowPauseButton(BOOL show) override { pauseVisible = show; }
    void SetPauseLook(BOOL paused) override { pausedLook = paused; }
    void EnableNextButton(BOOL enable) override { nextEnabled = enable; }
    BOOL IsAutoContinue() override { return autoContinue; }
    void ContinueToNext() override { ++continued; }

    void CollectCandidates(CArray<tagDownloadTaskItem>& candidates) override {
        SetEvent(m_inBuild);
        // Held by the test (released at the latest when the host goes).
        WaitForSingleObject(m_holdBuild, 120000);
        if (useAppCandidates) return CDownloadQueueHost::CollectCandidates(candidates);
        for (COnlinefileinfo* record : records) candidates.Add(tagDownloadTaskItem{record, 0});
    }
    void OnEntryCurrent(const tagDownloadTaskItem& item) override {
        ++entriesStarted;
        CDownloadQueueHost::OnEntryCurrent(item);
    }
    void OnEntryDone(const tagDownloadTaskItem& item) override {
        done.push_back(item.file);
        CDownloadQueueHost::OnEntryDone(item);
    }
    void OnEntrySkipped(const tagDownloadTaskItem& item) override { skipped.push_back(item.file); }
    void OnRequiredFailed(const tagDownloadTaskItem& item, int code) override {
        failedCode = code;
        CDownloadQueueHost::OnRequiredFailed(item, code);
    }
    void OnRecordBusy() override {
        ++recordBusy;
        CDownloadQueueHost::OnRecordBusy();
    }
    void OnQueueEnd() override {
        ++ended;
        CDownloadQueueHost::OnQueueEnd();
    }
    void OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& p) override {
        ++progressRounds;
        CDownloadQueueHost::OnTransferProgress(item, p);
    }
    void OnTransferFinished(const tagDownloadTaskItem& item, bool firstTime) override {
        CDownloadQueueHost::OnTransferFinished(item, firstTime);
        if (onTransferFinished) onTransferFinished(item);
    }
    void OnCompletionChecked(const tagDownloadTaskItem& item) override {
        CDownloadQueueHost::OnCompletionChecked(item);
        if (onCompletionChecked) onCompletionChecked(item);
    }
    void OnVerifyStarted(const tagDownloadTaskItem& item) override {
        ++verifyStarted;
        CDownloadQueueHost::OnVerifyStarted(item);
    }

    // The run has ended one way or another.
    bool Finished() const { return ended > 0 || failedCode != kNoCode || recordBusy > 0 || EngineFailed(); }
    bool EngineFailed() const {
        CString text;
        text.Format(FixedText::kQueueEngineFailedFormat, -1);
        return !statusHistory.empty() && statusHistory.back() == text && queue->m_downloadState == 0;
    }
    CString Row(int row) { return rows[row]; }

    static constexpr int kNoCode = 0x7fffffff;
    std::unique_ptr<CDownloadQueue> queue;
    std::vector<COnlinefileinfo*> records;
    bool useAppCandidates = false;
    std::map<int, CString> rows;
    std::vector<CString> statusHistory;
    int progress = -1;
    std::vector<int> progressHistory;  // every position the bar was given, in order
    BOOL backVisible = TRUE, pauseVisible = TRUE, pausedLook = FALSE, nextEnabled = FALSE, autoContinue = FALSE;
    int continued = 0, entriesStarted = 0, ended = 0, recordBusy = 0, progressRounds = 0, verifyStarted = 0;
    // Called on the page's thread as the poller's page updates arrive.
    std::function<void(const tagDownloadTaskItem&)> onTransferFinished, onCompletionChecked;
    int failedCode = kNoCode;
    std::vector<COnlinefileinfo*> done, skipped;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_TASK_STEP) {
            TestHost* host = reinterpret_cast<TestHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            return host ? host->queue->OnTaskStep(wParam, lParam) : 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    HWND m_window;
    HANDLE m_holdBuild;
    HANDLE m_inBuild;
};

// Runs the host's queue to its end (or the time limit).
void RunQueue(TestHost& host, DWORD milliseconds = 60000) {
    ASSERT_TRUE(host.queue->BuildTaskQueue());
    EXPECT_TRUE(PumpUntil([&] { return host.Finished(); }, milliseconds))
        << "waited " << milliseconds / 1000 << " s for the run to end";
    EXPECT_TRUE(host.queue->WaitForThreads(60000)) << "waited 60 s for the queue's threads to end";
}

TEST(DownloadQueueSize, SizeTextSteps1024) {
    struct {
        LONGLONG count;
        const wchar_t* text;
    } cases[] = {{0, L"0.0bytes"}, {1023, L"1023.0bytes"}, {1024, L"1.0KB"}, {1536, L"1.5KB"}, {5242880, L"5.0MB"},
                 {1073741824LL * 3, L"3.0GB"}};
    for (const auto& c : cases) EXPECT_STREQ(c.text, FormatDownloadSize(c.count)) << c.count;
}

TEST_F(DownloadQueueTest, CandidatesFollowThePickerTab) {
    CTarvelApp* app = GetTarvelApp();
    app->m_osImages.RemoveAll();
    app->m_peImages.RemoveAll();
    app->m_linkedFiles.RemoveAll();
    app->m_osImages.SetSize(2);
    app->m_peImages.SetSize(3);
    app->m_linkedFiles.SetSize(1);
    app->m_osImages[1].m_linkedFileIndex = 0;
    app->m_extraFile1.m_sectionName = L"extra1";
    app->m_extraFile2.m_sectionName = L"extra2";
    COnlinefileinfo* image = &app->m_osImages[1];
    COnlinefileinfo* pe = &app->m_peImages[2];
    COnlinefileinfo* linked = &app->m_linkedFiles[0];
    COnlinefileinfo* extra1 = &app->m_extraFile1;
    COnlinefileinfo* extra2 = &app->m_extraFile2;
    struct {
        int tab, peIndex;
        const wchar_t* extra1Section;
        std::vector<COnlinefileinfo*> expected;
    } cases[] = {
        {1, 2, L"extra1", {image, pe, linked, extra1, extra2}},
        {2, 2, L"extra1", {image, pe, extra2}},
        {3, 2, L"extra1", {image, pe, extra2}},
        {1, 2, L"", {image, pe, linked, extra2}},
        {1, 7, L"extra1", {image, linked, extra1, extra2}},
    };
    TestHost host;
    for (const auto& c : cases) {
        app->m_selectedImageIndex = 1;
        app->m_selectedImageTab = c.tab;
        app->m_selectedPeIndex = c.peIndex;
        app->m_extraFile1.m_sectionName = c.extra1Section;
        CArray<tagDownloadTaskItem> candidates;
        host.CDownloadQueueHost::CollectCandidates(candidates);
        std::vector<COnlinefileinfo*> got;
        for (INT_PTR i = 0; i < candidates.GetSize(); ++i) got.push_back(candidates[i].file);
        EXPECT_EQ(c.expected, got) << "tab " << c.tab << " pe " << c.peIndex;
    }
    app->m_extraFile1.m_sectionName.Empty();
    app->m_extraFile2.m_sectionName.Empty();
}

TEST_F(DownloadQueueTest, NothingToFetchEndsAtOnceAndContinuesWhenAsked) {
    for (BOOL autoContinue : {TRUE, FALSE}) {
        COnlinefileinfo* valid = Record("valid", 1, {Mirror("good", "valid")});
        valid->m_checkState = 2;
        TestHost host;
        host.autoContinue = autoContinue;
        host.records = {valid};
        RunQueue(host);
        EXPECT_EQ(1, host.ended);
        EXPECT_EQ(-1, host.queue->m_taskIndex);
        EXPECT_TRUE(host.nextEnabled);
        EXPECT_EQ(autoContinue ? 1 : 0, host.continued);
        EXPECT_EQ(0, m_server.Count("/good/valid.bin")) << "nothing fetched";
    }
}

TEST_F(DownloadQueueTest, CorruptFirstMirrorIsRejectedAndTheNextGivesTheFile) {
    for (int matchMode : {1, 2}) {
        std::string name = "digest" + std::to_string(matchMode);
        COnlinefileinfo* r = Record(name, matchMode, {Mirror("corrupt", name), Mirror("good", name)});
        TestHost host;
        host.records = {r};
        RunQueue(host);
        EXPECT_EQ(1, host.ended) << matchMode;
        EXPECT_EQ(1, m_server.Count("/corrupt/" + name + ".bin"));
        EXPECT_EQ(1, m_server.Count("/good/" + name + ".bin"));
        EXPECT_TRUE(HoldsItsContent(r)) << "the right file under the final name";
        EXPECT_EQ(3, r->m_checkState);
        EXPECT_TRUE(host.nextEnabled);
        EXPECT_EQ(0, host.queue->m_downloadState.load());
        EXPECT_EQ(0, host.queue->CurrentTaskHandle()) << "the finished task was deleted";
    }
}

TEST_F(DownloadQueueTest, DeadMirrorIsSkippedAndASharePageIsResolved) {
    COnlinefileinfo* r = Record("shared", 2, {Mirror("gone", "shared"), SharePage("shared")});
    TestHost host;
    host.records = {r};
    RunQueue(host);
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(1, m_server.Count("/gone/shared.bin"));
    EXPECT_EQ(1, m_server.Count("/web/share/downloadfile?from=share")) << "the share page was resolved";
    EXPECT_EQ(1, m_server.Count("/good/shared.bin")) << "its direct link gave the file";
    EXPECT_TRUE(HoldsItsContent(r));
}

TEST_F(DownloadQueueTest, StalledMirrorIsGivenUpAfterTheStallLimit) {
    GetTarvelApp()->m_stallLimit = 2;
    COnlinefileinfo* r = Record("stalled", 1, {Mirror("stall", "stalled"), Mirror("good", "stalled")});
    TestHost host;
    host.records = {r};
    RunQueue(host);
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(1, m_server.Count("/stall/stalled.bin"));
    EXPECT_GE(m_server.Count("/good/stalled.bin"), 1) << "the next mirror after the stall";
    EXPECT_TRUE(HoldsItsContent(r));
    EXPECT_EQ(0, host.queue->ActivePollers());
}

TEST_F(DownloadQueueTest, RequiredEntryWhoseMirrorsAllFailEndsTheRun) {
    struct {
        const char* what;
        std::vector<std::string> kinds;
        int code;
    } cases[] = {
        {"no mirror", {}, 0},
        {"dead mirrors", {"gone", "gone2"}, 0},
        {"a file below 5 MiB", {"gone", "small"}, 6},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "required" + std::to_string(n++);
        std::vector<std::wstring> mirrors;
        for (const std::string& kind : c.kinds) mirrors.push_back(Mirror(kind, name));
        COnlinefileinfo* r = Record(name, 1, mirrors);
        COnlinefileinfo* after = Record(name + "after", 1, {Mirror("good", name + "after")});
        TestHost host;
        host.records = {r, after};
        RunQueue(host);
        EXPECT_EQ(c.code, host.failedCode) << c.what;
        CString text;
        text.Format(FixedText::kQueueEntryFailedFormat, c.code);
        EXPECT_STREQ(text, host.Row(kQueueStatusRow)) << c.what;
        EXPECT_EQ(0, host.ended) << c.what;
        EXPECT_FALSE(host.nextEnabled) << c.what;
        EXPECT_FALSE(host.pauseVisible) << c.what;
        EXPECT_EQ(0, host.queue->m_downloadState.load()) << c.what;
        EXPECT_EQ(0, m_server.Count("/good/" + name + "after.bin")) << "the run ended: " << c.what;
        EXPECT_FALSE(FileExists(LocalFile(name))) << "no cut file under the final name: " << c.what;
    }
}

TEST_F(DownloadQueueTest, OptionalEntryIsSkipped) {
    COnlinefileinfo* optional = Record("optional", 1, {Mirror("gone", "optional")}, 0);
    COnlinefileinfo* next = Record("afteroptional", 1, {Mirror("good", "afteroptional")});
    TestHost host;
    host.records = {optional, next};
    RunQueue(host);
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(std::vector<COnlinefileinfo*>{optional}, host.skipped);
    EXPECT_EQ(std::vector<COnlinefileinfo*>{next}, host.done);
    EXPECT_TRUE(HoldsItsContent(next));
    EXPECT_TRUE(host.nextEnabled);
}

TEST_F(DownloadQueueTest, PauseAndResumeWithinThePollIntervalLeaveOnePoller) {
    COnlinefileinfo* r = Record("paused", 1, {Mirror("slow", "paused")});
    TestHost host;
    host.records = {r};
    ASSERT_TRUE(host.queue->BuildTaskQueue());
    ASSERT_TRUE(PumpUntil([&] { return host.progressRounds > 0; }, 30000)) << "the transfer runs";
    int taskBefore = host.queue->CurrentTaskHandle();
    host.queue->OnClickedPauseResume();
    EXPECT_EQ(2, host.queue->m_downloadState.load());
    EXPECT_TRUE(host.pausedLook);
    EXPECT_STREQ(FixedText::kQueuePausedStatus, host.Row(kQueueStatusRow));
    host.queue->OnClickedPauseResume();
    EXPECT_EQ(1, host.queue->m_downloadState.load());
    EXPECT_FALSE(host.pausedLook);
    EXPECT_EQ(taskBefore, host.queue->CurrentTaskHandle()) << "the same task resumes";
    // The poller of before the pause wakes within a second and leaves.
    Pump(1500);
    EXPECT_EQ(1, host.queue->ActivePollers());
    int most = 0;
    EXPECT_TRUE(PumpUntil(
        [&] {
            most = std::max(most, host.queue->ActivePollers());
            return host.Finished();
        },
        60000));
    EXPECT_EQ(1, most) << "never a second poller";
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(1u, host.done.size()) << "the entry finished once";
    EXPECT_TRUE(HoldsItsContent(r));
    EXPECT_TRUE(host.queue->WaitForThreads(10000));
}

TEST_F(DownloadQueueTest, StopDuringTheBuildStopsTheRun) {
    COnlinefileinfo* r = Record("stopped", 1, {Mirror("good", "stopped")});
    TestHost host;
    host.records = {r};
    host.HoldBuild();
    ASSERT_TRUE(host.queue->BuildTaskQueue());
    EXPECT_EQ(1, host.queue->m_downloadState.load()) << "busy from the start of the build";
    EXPECT_TRUE(host.queue->IsBusy());
    EXPECT_FALSE(host.queue->BuildTaskQueue()) << "one run at a time";
    ASSERT_TRUE(host.WaitInBuild(10000));
    host.queue->StopTask();  // the exit question answered Yes
    host.Release();
    EXPECT_TRUE(host.queue->WaitForThreads(10000));
    Pump(2500);
    EXPECT_EQ(0, host.queue->m_downloadState.load()) << "the builder did not set the run going again";
    EXPECT_EQ(0, host.entriesStarted);
    EXPECT_EQ(0, host.ended);
    EXPECT_EQ(0, m_server.Count("/good/stopped.bin")) << "nothing was fetched";
    EXPECT_FALSE(host.queue->IsBusy());
    host.queue->StopTask();  // a second stop with no task does nothing
    EXPECT_EQ(0, host.queue->m_downloadState.load());
}

unsigned __stdcall StopQueueThreadProc(void* queue) {
    static_cast<CDownloadQueue*>(queue)->StopTask();
    return 0;
}

// A stop that comes after the builder has looked at its run, before it lets
// the digests run again, is not undone: the digests stay stopped.
TEST_F(DownloadQueueTest, AStopBetweenTheBuildersLookAndItsDigestRestartStays) {
    COnlinefileinfo* r = Record("raced", 1, {Mirror("good", "raced")});
    TestHost host;
    host.records = {r};
    HANDLE stopper = nullptr;
    host.queue->m_beforeDigestRestart = [&] {
        // The exit's stop, from another thread, right here: it either runs
        // now or waits for the builder's step to end.
        stopper = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, StopQueueThreadProc, host.queue.get(), 0, nullptr));
        WaitForSingleObject(stopper, 3000);
    };
    ASSERT_TRUE(host.queue->BuildTaskQueue());
    ASSERT_TRUE(PumpUntil([&] { return stopper && WaitForSingleObject(stopper, 0) == WAIT_OBJECT_0; }, 60000));
    CloseHandle(stopper);
    EXPECT_TRUE(host.queue->m_hasher.Stopped()) << "the stop was undone";
    EXPECT_TRUE(host.queue->WaitForThreads(10000));
    EXPECT_EQ(0, host.queue->m_downloadState.load());
    EXPECT_EQ(0, host.entriesStarted);
    EXPECT_EQ(0, m_server.Count("/good/raced.bin")) << "nothing was fetched";
}

TEST_F(DownloadQueueTest, ASecondQueueNeverRunsOnTheSameRecords) {
    COnlinefileinfo* shared = Record("claimed", 1, {Mirror("slow", "claimed")});
    TestHost first, second;
    first.records = {shared};
    second.records = {shared};
    ASSERT_TRUE(first.queue->BuildTaskQueue());
    ASSERT_TRUE(PumpUntil([&] { return first.progressRounds > 0; }, 30000));
    first.queue->OnClickedPauseResume();  // paused: it still holds the record
    RunQueue(second);
    EXPECT_EQ(1, second.recordBusy);
    EXPECT_STREQ(FixedText::kQueueRecordBusyStatus, second.Row(kQueueStatusRow));
    EXPECT_EQ(0, second.entriesStarted);
    EXPECT_EQ(1, m_server.Count("/slow/claimed.bin")) << "only the first queue fetched";

    // Once the first has stopped, the record is free again.
    first.queue->StopTask();
    EXPECT_TRUE(first.queue->WaitForThreads(10000));
    TestHost third;
    third.records = {shared};
    RunQueue(third);
    EXPECT_EQ(1, third.ended);
    EXPECT_TRUE(HoldsItsContent(shared));
}

TEST_F(DownloadQueueTest, EngineThatCannotBeLoadedEndsTheRun) {
    CTarvelApp* app = GetTarvelApp();
    DownWrapper* bound = app->m_downloadEngine;
    app->m_downloadEngine = nullptr;
    TempFolder empty;
    app->m_workFolder = empty.Path().c_str();
    COnlinefileinfo* r = Record("noengine", 1, {Mirror("good", "noengine")});
    TestHost host;
    host.records = {r};
    RunQueue(host);
    app->m_downloadEngine = bound;
    EXPECT_TRUE(host.EngineFailed());
    EXPECT_FALSE(host.pauseVisible);
    EXPECT_FALSE(host.nextEnabled);
    EXPECT_EQ(0, host.ended);
}

// ---- against a scripted engine ----------------------------------------------

class ScriptedQueueTest : public DownloadQueueTest {
protected:
    std::wstring Url(const std::string& name, int mirror = 1) {
        return L"http://scripted.invalid/" + std::to_wstring(mirror) + L"/" + std::wstring(name.begin(), name.end());
    }
    // A record whose mirrors are the scripted engine's; its content is the
    // record's own unless given.
    COnlinefileinfo* ScriptedRecord(const std::string& name, int matchMode, const std::vector<ScriptedMirror>& mirrors,
                                    int required = 1) {
        std::vector<std::wstring> urls;
        for (size_t i = 0; i < mirrors.size(); ++i) urls.push_back(Url(name, (int)i + 1));
        COnlinefileinfo* r = Record(name, matchMode, urls, required);
        for (size_t i = 0; i < mirrors.size(); ++i) {
            ScriptedMirror m = mirrors[i];
            if (m.content.empty()) m.content = m_contents[r];
            engine.AddMirror(urls[i], m);
        }
        return r;
    }
    void Bind(TestHost& host) { host.queue->m_engine = engine.Wrapper(); }
    ScriptedEngine engine;
};

// A pause that comes after the poller saw the file complete, before its step
// ran: the finished task is never started again, the file is accepted once
// and the run goes on with the next entry.
TEST_F(ScriptedQueueTest, PauseAndResumeAroundTheCompletionNeverRestartTheFinishedTask) {
    const struct {
        const char* what;
        bool whenChecked;  // pause once the check has ended, else as the finished file is seen
        bool resumeAtOnce;
    } cases[] = {
        {"paused once checked, resumed at once", true, true},
        {"paused once checked, resumed after the poller's second", true, false},
        {"paused as the file is seen finished, resumed at once", false, true},
        {"paused as the file is seen finished, resumed after the check", false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "completion" + std::to_string(n++);
        COnlinefileinfo* r = ScriptedRecord(name, 1, {ScriptedMirror(), ScriptedMirror()});
        COnlinefileinfo* next = ScriptedRecord(name + "next", 1, {ScriptedMirror()});
        TestHost host;
        Bind(host);
        host.records = {r, next};
        bool paused = false;
        auto pause = [&](const tagDownloadTaskItem& item) {
            if (item.file != r || paused) return;
            paused = true;
            host.queue->OnClickedPauseResume();
            EXPECT_EQ(2, host.queue->m_downloadState.load()) << c.what;
            if (c.resumeAtOnce) host.queue->OnClickedPauseResume();
        };
        (c.whenChecked ? host.onCompletionChecked : host.onTransferFinished) = pause;
        ASSERT_TRUE(host.queue->BuildTaskQueue());
        if (!c.resumeAtOnce) {
            // The poller that saw the file finish has checked it and left.
            ASSERT_TRUE(PumpUntil([&] { return paused && host.queue->ActivePollers() == 0; }, 60000)) << c.what;
            EXPECT_EQ(2, host.queue->m_downloadState.load()) << c.what;
            EXPECT_TRUE(host.pauseVisible) << "the paused page can be resumed: " << c.what;
            host.queue->OnClickedPauseResume();
        }
        EXPECT_TRUE(PumpUntil([&] { return host.Finished(); }, 60000)) << c.what;
        EXPECT_TRUE(host.queue->WaitForThreads(10000));
        EXPECT_TRUE(paused) << c.what;
        EXPECT_EQ(1, host.ended) << c.what;
        EXPECT_EQ(TestHost::kNoCode, host.failedCode) << c.what;
        EXPECT_EQ((std::vector<COnlinefileinfo*>{r, next}), host.done) << "each entry accepted once: " << c.what;
        EXPECT_EQ(1, engine.TasksOf(Url(name))) << c.what;
        for (const ScriptedTask& task : engine.Tasks())
            if (task.url == Url(name)) EXPECT_EQ(1, task.starts) << "the finished task was not started again: " << c.what;
        EXPECT_EQ(0, engine.TasksOf(Url(name, 2))) << "no other mirror was needed: " << c.what;
        EXPECT_EQ(3, r->m_checkState) << c.what;
        EXPECT_TRUE(HoldsItsContent(r)) << c.what;
        EXPECT_TRUE(HoldsItsContent(next)) << c.what;
    }
}

// An engine that answers a query without writing the poller's block: the
// block was zeroed, so that round has no status and does nothing; it is not
// taken for a failed source.
TEST_F(ScriptedQueueTest, AQueryThatWritesNothingIsARoundWithoutStatus) {
    ScriptedMirror quiet;
    quiet.silentQueries = 2;
    COnlinefileinfo* r = ScriptedRecord("quiet", 1, {quiet});
    TestHost host;
    Bind(host);
    host.records = {r};
    RunQueue(host);
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(TestHost::kNoCode, host.failedCode);
    EXPECT_EQ(1, engine.TasksOf(Url("quiet"))) << "the mirror was not left";
    EXPECT_TRUE(HoldsItsContent(r));
}

// The floor is 5242880 bytes: a file of exactly that size is verified and
// accepted, one byte less is deleted and fails with code 6.
TEST_F(ScriptedQueueTest, FiveMebibytesExactlyIsAcceptedOneByteLessIsRejected) {
    for (size_t size : {(size_t)5242880, (size_t)5242879}) {
        const std::string name = "floor" + std::to_string(size);
        ScriptedMirror mirror;
        mirror.content = TestFileContent(name, size);
        COnlinefileinfo* r = ScriptedRecord(name, 1, {mirror});
        r->m_expectedMd5 = CString(Md5Upper(mirror.content).c_str());
        m_contents[r] = mirror.content;
        TestHost host;
        Bind(host);
        host.records = {r};
        RunQueue(host);
        const bool accepted = size == 5242880;
        EXPECT_EQ(accepted ? 1 : 0, host.ended) << size;
        EXPECT_EQ(accepted ? TestHost::kNoCode : 6, host.failedCode) << size;
        EXPECT_EQ(accepted ? 1 : 0, host.verifyStarted) << "verified only above the floor: " << size;
        EXPECT_EQ(accepted, FileExists(LocalFile(name))) << size;
        EXPECT_EQ(accepted ? 3 : 1, r->m_checkState) << size;
    }
}

// Match mode 0 takes the finished file as it is only when the record
// carries no digest; a digest that is given is checked, in every mode, with
// the verification's progress, from every mirror (the last one too).
TEST_F(ScriptedQueueTest, ADigestThatIsGivenIsAlwaysChecked) {
    const struct {
        const char* what;
        int mode;
        const wchar_t* expected;  // null: the record's own digest
        bool accepted;
        bool verified;
    } cases[] = {
        {"mode 0 without a digest", 0, L"UNCHECKED_NOMD5", true, false},
        {"mode 0, right digest", 0, nullptr, true, true},
        {"mode 0, wrong digest", 0, L"00000000000000000000000000000000", false, true},
        {"mode 1, right digest", 1, nullptr, true, true},
        {"mode 1, wrong digest", 1, L"00000000000000000000000000000000", false, true},
        {"mode 2, right digest", 2, nullptr, true, true},
        {"mode 2, wrong digest", 2, L"00000000000000000000000000000000", false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "checked" + std::to_string(n++);
        COnlinefileinfo* r = ScriptedRecord(name, c.mode, {ScriptedMirror()});
        if (c.expected) r->m_expectedMd5 = c.expected;
        TestHost host;
        Bind(host);
        host.records = {r};
        RunQueue(host);
        EXPECT_EQ(c.accepted ? 1 : 0, host.ended) << c.what;
        EXPECT_EQ(c.accepted ? TestHost::kNoCode : 6, host.failedCode) << c.what;
        EXPECT_EQ(c.verified ? 1 : 0, host.verifyStarted) << c.what;
        EXPECT_EQ(c.accepted ? 3 : 1, r->m_checkState) << c.what;
        EXPECT_EQ(c.accepted, FileExists(LocalFile(name))) << c.what << ": a rejected file is deleted";
        if (c.accepted) EXPECT_TRUE(HoldsItsContent(r)) << c.what;
    }
}

// The same at the check before any download: a copy in the data folder
// counts by the digest the record carries, mode 0 included, and the check
// shows its progress as the others do.
TEST_F(ScriptedQueueTest, ALocalCopyIsCheckedByTheDigestItsRecordCarries) {
    const struct {
        const char* what;
        int mode;
        bool withDigest;
        bool rightFile;
        bool fetched;
    } cases[] = {
        {"mode 0 without a digest: any file", 0, false, false, false},
        {"mode 0, right file", 0, true, true, false},
        {"mode 0, wrong file", 0, true, false, true},
        {"mode 1, right file", 1, true, true, false},
        {"mode 1, wrong file", 1, true, false, true},
        {"mode 2, right file", 2, true, true, false},
        {"mode 2, wrong file", 2, true, false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "local" + std::to_string(n++);
        COnlinefileinfo* r = ScriptedRecord(name, c.mode, {ScriptedMirror()});
        if (!c.withDigest) r->m_expectedMd5 = L"LOCAL_NOMD5";
        ASSERT_TRUE(WriteWholeFile(LocalFile(name), c.rightFile ? m_contents[r] : TestFileContent("other", kFileSize)));
        TestHost host;
        Bind(host);
        host.records = {r};
        RunQueue(host);
        EXPECT_EQ(1, host.ended) << c.what;
        EXPECT_EQ(c.fetched ? 1 : 0, engine.TasksOf(Url(name))) << c.what;
        EXPECT_EQ(c.fetched ? 3 : 2, r->m_checkState) << c.what;
        if (c.withDigest) EXPECT_TRUE(HoldsItsContent(r)) << c.what;
    }
}

// Two records of one file (two catalogue entries naming it): the second is
// taken from the first one's hold, never fetched again, whether the first
// was fetched in this run or found valid before it.
TEST_F(ScriptedQueueTest, TwoRecordsOfOneFileAreFetchedOnce) {
    for (bool firstLocal : {false, true}) {
        SCOPED_TRACE(firstLocal ? "the first found valid" : "the first fetched");
        const std::string name = firstLocal ? "onefilelocal" : "onefile";
        COnlinefileinfo* first = ScriptedRecord(name, 2, {ScriptedMirror()});
        COnlinefileinfo* second = ScriptedRecord(name + "again", 1, {ScriptedMirror(), ScriptedMirror()});
        second->m_fileName = first->m_fileName;
        second->m_expectedMd5 = first->m_expectedMd5;
        if (firstLocal) ASSERT_TRUE(WriteWholeFile(LocalFile(name), m_contents[first]));
        TestHost host;
        Bind(host);
        host.records = {first, second};
        RunQueue(host);
        EXPECT_EQ(1, host.ended);
        EXPECT_EQ(TestHost::kNoCode, host.failedCode);
        EXPECT_EQ(firstLocal ? 0 : 1, engine.TasksOf(Url(name)));
        EXPECT_EQ(0, engine.TasksOf(Url(name + "again"))) << "the second record fetched the file again";
        EXPECT_EQ(0, engine.TasksOf(Url(name + "again", 2)));
        EXPECT_EQ(firstLocal ? 2 : 3, first->m_checkState);
        EXPECT_EQ(firstLocal ? 2 : 3, second->m_checkState);
        EXPECT_NE(INVALID_HANDLE_VALUE, second->m_fileHandle);
        EXPECT_TRUE(HoldsItsContent(first));
    }
}

// The engine's status 1 with code 1 ends the entry: its remaining mirrors are
// not tried (a required entry fails the run, an optional one is skipped);
// another code tries the next mirror.
TEST_F(ScriptedQueueTest, EngineCodeOneSkipsTheRemainingMirrors) {
    const struct {
        int code;
        int required;
    } cases[] = {{1, 1}, {1, 0}, {7, 1}};
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "code" + std::to_string(n++);
        ScriptedMirror failing;
        failing.failStatus = kTaskFailed;
        failing.failCode = c.code;
        COnlinefileinfo* r = ScriptedRecord(name, 1, {failing, ScriptedMirror()}, c.required);
        COnlinefileinfo* after = ScriptedRecord(name + "after", 1, {ScriptedMirror()});
        TestHost host;
        Bind(host);
        host.records = {r, after};
        RunQueue(host);
        const bool skipsMirrors = c.code == 1;
        EXPECT_EQ(skipsMirrors ? 0 : 1, engine.TasksOf(Url(name, 2))) << c.code << " " << c.required;
        if (skipsMirrors && c.required) {
            EXPECT_EQ(1, host.failedCode);
            EXPECT_EQ(0, engine.TasksOf(Url(name + "after"))) << "the run ended";
            EXPECT_FALSE(host.nextEnabled);
        } else {
            EXPECT_EQ(1, host.ended) << c.code << " " << c.required;
            const std::vector<COnlinefileinfo*> skipped =
                skipsMirrors ? std::vector<COnlinefileinfo*>{r} : std::vector<COnlinefileinfo*>{};
            EXPECT_EQ(skipped, host.skipped);
            const std::vector<COnlinefileinfo*> done =
                skipsMirrors ? std::vector<COnlinefileinfo*>{after} : std::vector<COnlinefileinfo*>{r, after};
            EXPECT_EQ(done, host.done);
        }
    }
}

// The stall limit counts consecutive seconds of a transfer without speed: the
// round after the limit's last such second gives the mirror up (code 0x40),
// whatever its own speed; a second with speed starts the count again. The
// engine's "waiting" status (5) counts on the same count: the first waiting
// round starts it again, each later one adds to it, and the round that
// reaches the limit gives the mirror up.
TEST_F(ScriptedQueueTest, AStalledTransferIsGivenUpTheRoundAfterTheStallLimit) {
    const int limit = 3;
    const int s = 65536;  // a second with progress
    const struct {
        const char* what;
        std::vector<int> speeds;
        bool givenUp;
        int waitingRounds;  // answered "waiting" before the speeds
        int queries;        // of the first mirror's task when given up; 0: the round after the limit's last stall
    } cases[] = {
        {"as many stalled seconds as the limit", {s, 0, 0, 0, s, s}, true, 0, 0},
        {"one stalled second fewer", {s, 0, 0, s, s}, false, 0, 0},
        {"the count starts again after a second with speed", {0, 0, s, 0, 0, s, 0, 0, s}, false, 0, 0},
        {"stalled from the start", {0, 0, 0, 0, 0, 0}, true, 0, 0},
        {"waiting one round more than the limit", {}, true, limit + 1, limit + 1},
        {"waiting as many rounds as the limit", {}, false, limit, 0},
        {"waiting, then transferring without speed, on one count", {0, 0, s}, true, 2, 5},
        {"waiting, then a second with speed starts the count again", {0, s, 0, s}, false, 2, 0},
    };
    GetTarvelApp()->m_stallLimit = limit;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "stall" + std::to_string(n++);
        ScriptedMirror stalling;
        stalling.speeds = c.speeds;
        stalling.waitingRounds = c.waitingRounds;
        COnlinefileinfo* r = ScriptedRecord(name, 1, {stalling, ScriptedMirror()});
        TestHost host;
        Bind(host);
        host.records = {r};
        RunQueue(host, 120000);
        EXPECT_EQ(1, host.ended);
        EXPECT_EQ(std::vector<COnlinefileinfo*>{r}, host.done);
        EXPECT_EQ(c.givenUp ? 1 : 0, engine.TasksOf(Url(name, 2))) << "the next mirror";
        for (const ScriptedTask& task : engine.Tasks()) {
            if (task.url != Url(name)) continue;
            if (!c.waitingRounds)
                EXPECT_EQ(c.givenUp, task.deleted && task.status == kTaskTransferring) << "given up while transferring";
            if (!c.givenUp) continue;
            int queries = c.queries;
            if (!queries) {
                // The rounds up to the first that saw the limit reached.
                size_t stalled = 0, rounds = 0;
                while (rounds < c.speeds.size() && stalled < (size_t)limit)
                    stalled = c.speeds[rounds++] == 0 ? stalled + 1 : 0;
                queries = (int)rounds + 1;
            }
            EXPECT_EQ(queries, task.queries) << "given up at the round that reached the limit";
        }
        EXPECT_TRUE(HoldsItsContent(r));
    }
}

// The bar shows the transfer's percentage truncated: 0.999 done is 99, not 100.
TEST_F(ScriptedQueueTest, TheTransferPercentageIsTruncated) {
    const struct {
        float fraction;
        int shown;
    } cases[] = {{0.999f, 99}, {0.5f, 50}, {0.014f, 1}, {0.0f, 0}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fraction);
        ScriptedMirror transfer;
        transfer.speeds = {65536};
        transfer.fraction = c.fraction;
        COnlinefileinfo* r = ScriptedRecord("percent" + std::to_string(n++), 1, {transfer});
        TestHost host;
        Bind(host);
        host.records = {r};
        int transferRounds = 0;
        host.onTransferFinished = [&](const tagDownloadTaskItem&) { transferRounds = host.progressRounds; };
        RunQueue(host);
        EXPECT_EQ(1, host.ended);
        ASSERT_EQ(1, transferRounds) << "one round while transferring";
        // The position given during that round is the last before the finish's 100.
        std::vector<int> shown = host.progressHistory;
        auto finished = std::find(shown.begin(), shown.end(), 100);
        ASSERT_TRUE(finished != shown.begin() && finished != shown.end());
        EXPECT_EQ(c.shown, *(finished - 1));
    }
}

// A resume whose start fails moves on to the entry's next mirror.
TEST_F(ScriptedQueueTest, AResumeWhoseStartFailsTriesTheNextMirror) {
    ScriptedMirror held;
    held.holdTransfer = true;
    held.restartFails = true;
    COnlinefileinfo* r = ScriptedRecord("resumed", 1, {held, ScriptedMirror()});
    TestHost host;
    Bind(host);
    host.records = {r};
    ASSERT_TRUE(host.queue->BuildTaskQueue());
    ASSERT_TRUE(PumpUntil([&] { return host.progressRounds > 0; }, 30000)) << "the transfer runs";
    host.queue->OnClickedPauseResume();
    host.queue->OnClickedPauseResume();
    EXPECT_TRUE(PumpUntil([&] { return host.Finished(); }, 60000));
    EXPECT_TRUE(host.queue->WaitForThreads(10000));
    EXPECT_EQ(1, host.ended);
    EXPECT_EQ(1, engine.TasksOf(Url("resumed", 2))) << "the next mirror gave the file";
    EXPECT_EQ(std::vector<COnlinefileinfo*>{r}, host.done);
    EXPECT_TRUE(HoldsItsContent(r));
}

}  // namespace
