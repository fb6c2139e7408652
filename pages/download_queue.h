// The download queue: one machine that three pages (download, USB maker,
// image backup/restore) each own an instance of. It decides which catalogue
// files must be fetched, fetches them one at a time through the download
// engine, tries each file's mirrors in turn, watches every transfer once a
// second, rejects a finished file below 5 MiB, verifies it against its record
// and hands over to its page.
//
// Threads: the builder runs on a worker; the step runs on the page's thread
// as the page's handler of WM_TASK_STEP (the page forwards the message to
// OnTaskStep); one poll thread watches each started engine task; a progress
// thread shows each digest; a share page is resolved to its direct link on a
// worker of its own, so the window never waits for a web request.
//
// Every change of the page asked for by a worker is carried to the page's
// thread (posted to a message-only window the queue owns) and made there:
// on Windows, a timer or a window created from another thread belongs to
// that thread. Each poster carries the ticket it was started with; the step
// and the page updates drop whatever carries a ticket that a later pause,
// resume, stop or step has replaced, so a stale poller's messages never act.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "core/catalogue.h"
#include "core/down_wrapper.h"
#include "core/md5.h"
#include "core/share_link.h"
#include "winlib/winlib.h"

// One entry of a page's queue: a record owned by the application object and
// its kind (0 boot environment or tool file, 1 the chosen image, 2 the extra
// file; only the USB page uses 1 and 2).
struct tagDownloadTaskItem {
    COnlinefileinfo* file;
    int kind;
};

// The text rows a queue writes on the download page.
enum QueueRow {
    kQueueTitleRow,
    kQueueSpeedRow,
    kQueueRemainingRow,
    kQueueSizeRow,
    kQueueStatusRow,
};

// What one status-3 poll saw, for the page's progress texts.
struct QueueTransferProgress {
    int percent;            // fraction x 100, truncated, 0..100
    int speed;              // bytes per second
    LONGLONG totalBytes;
    LONGLONG doneBytes;
    LONGLONG secondsLeft;   // -1 when nothing arrives (unknown)
    bool firstSizeRound;    // the size and the downloading status are still to be shown
};

// WM_TASK_STEP arguments. The low word of wParam is the step; the high word
// the ticket of the poster.
enum QueueStep {
    kStepStartEntry = 0,       // start the current entry's next mirror, or end the run
    kStepFailed = 1,           // lParam: the failure code (below, or the engine's)
    kStepNextSource = 2,       // the engine gave up at this source
    kStepLinkResolved = 3,     // lParam: a heap CString* with the mirror's URL (the step frees it)
    kStepEntryDone = 4,        // the entry's file was accepted
};
enum QueueFailureCode {
    kQueueCodeEngineUnavailable = -1,
    kQueueCodeRecordBusy = -2,  // another page's queue holds one of the records
    kQueueCodeSkipMirrors = 1,  // the engine's code for "no other source will help"
    kQueueCodeRejectedFile = 6,
    kQueueCodeStalled = 0x40,
};

class CDownloadQueue;

// What a page gives its queue. The page implements the primitives; the hooks
// carry the download page's behaviour by default and are overridden by the
// USB and backup/restore pages where the three differ. Every hook and
// primitive is called on the page's thread, except CollectCandidates (the
// builder's thread).
class CDownloadQueueHost {
public:
    virtual ~CDownloadQueueHost() {}

    // ---- primitives ----
    // The page window that receives WM_TASK_STEP and forwards it to OnTaskStep.
    virtual HWND GetQueueWindow() = 0;
    virtual void SetQueueRowText(int row, const CString& text) = 0;
    // Sets the page's bar; the page clamps to its range.
    virtual void SetQueueProgress(int percent) = 0;
    virtual void ShowBackButton(BOOL show) = 0;
    virtual void ShowPauseButton(BOOL show) = 0;
    // The pause button's pictures and tooltip: pause (FALSE) or resume (TRUE).
    virtual void SetPauseLook(BOOL paused) = 0;
    virtual void EnableNextButton(BOOL enable) = 0;
    // True when the page continues by itself once the run has ended.
    virtual BOOL IsAutoContinue() = 0;
    // The page's Next (the restart question on the download page).
    virtual void ContinueToNext() = 0;

    // ---- building ----
    // The candidates in queue order (builder thread). The download page's:
    // the chosen image, the boot environment, on picker tab 1 the image's
    // linked file and the first extra file, then the second extra file.
    virtual void CollectCandidates(CArray<tagDownloadTaskItem>& candidates);
    virtual void OnBuildStarted();
    virtual void OnCandidateChecking(const tagDownloadTaskItem& item);
    // The candidate needs nothing (valid locally).
    virtual void OnCandidateReady(const tagDownloadTaskItem& item) {}
    // On the builder thread, as the candidate is queued: whatever the host
    // shows here (and waits for) comes before the next candidate's check.
    virtual void OnCandidateQueued(const tagDownloadTaskItem& item) {}
    // Just before the builder hands over to the first step.
    virtual void OnBuildFinished();
    // On the builder thread, when the queue holds files to download: the
    // first step is posted only when this returns, so whatever the host
    // shows here (and waits for) comes before it.
    virtual void BeforeFirstStep(const CArray<tagDownloadTaskItem>& queue) {}

    // ---- the step ----
    // The flag that makes a failed entry end the run (m_required here,
    // m_requiredUsb on the USB and backup/restore pages).
    virtual BOOL IsRequired(const tagDownloadTaskItem& item);
    virtual void OnEntryCurrent(const tagDownloadTaskItem& item);
    // A mirror of the entry failed and the next one is tried.
    virtual void OnEntryRetry(const tagDownloadTaskItem& item);
    // Before the queue moves past a finished entry.
    virtual void OnEntryDone(const tagDownloadTaskItem& item);
    virtual void OnEntrySkipped(const tagDownloadTaskItem& item) {}
    virtual void OnRequiredFailed(const tagDownloadTaskItem& item, int code);
    virtual void OnEngineUnavailable();
    virtual void OnRecordBusy();
    virtual void OnQueueEnd();
    virtual void OnPaused();
    virtual void OnResumed();

    // ---- the poll ----
    virtual void OnSourceRetry(const tagDownloadTaskItem& item);
    virtual void OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& progress);
    // Status 4, once per task, before the completion check.
    virtual void OnTransferFinished(const tagDownloadTaskItem& item, bool firstTime);
    // After the completion check, accepted or not.
    virtual void OnCompletionChecked(const tagDownloadTaskItem& item);

    // ---- digests ----
    virtual void OnVerifyStarted(const tagDownloadTaskItem& item);
    virtual void OnCheckProgress(int percent);
    virtual void OnCheckEnded();

    // ---- the download page's looks, from the primitives ----
    // 1: a run starts; 0: the run ended.
    virtual void SetWorkingView(int working);
    virtual void ResetProgress();
};

class CDownloadQueue {
public:
    explicit CDownloadQueue(CDownloadQueueHost* host);
    // Stops the run and waits (bounded) for the queue's threads.
    ~CDownloadQueue();
    CDownloadQueue(const CDownloadQueue&) = delete;
    CDownloadQueue& operator=(const CDownloadQueue&) = delete;

    // ---- page's thread ----
    // Starts a run: the queue is busy (m_downloadState 1) from here on, before
    // the builder has checked anything. FALSE while a run is already running.
    // A paused run is replaced: its engine task is deleted first. The builder
    // waits for the previous run's workers before it touches a record.
    BOOL BuildTaskQueue();
    // The page's WM_TASK_STEP handler; returns 0.
    LRESULT OnTaskStep(WPARAM wParam, LPARAM lParam);
    // The step (the low word of WM_TASK_STEP's wParam and its lParam).
    void AdvanceTaskQueue(int wparam, int lparam);
    // Pause (running) or resume (paused); nothing while idle. The download
    // page's button 10113.
    void OnClickedPauseResume();
    // Stops the run: the state goes to 0 first, so every worker stops at its
    // next look; then the current engine task (if any) is stopped when it ran
    // and deleted. Safe to call twice and with no task.
    void StopTask();
    // The exit path: StopTask, then WaitForThreads.
    void Stop() { StopTask(); }
    // Waits up to `milliseconds` for every thread this queue started, pumping
    // the calling thread's messages meanwhile; TRUE when all have ended.
    BOOL WaitForThreads(DWORD milliseconds);
    // True while a run is active (running or paused) or any of its threads
    // still runs.
    BOOL IsBusy() const;

    // ---- what tests and pages may look at ----
    // Poll threads currently alive.
    int ActivePollers() const { return m_activePollers.load(); }
    // The engine task of the current mirror (0 none).
    int CurrentTaskHandle() const { return m_taskHandle; }
    // Bounds of a share-page resolution.
    ShareLinkLimits m_shareLimits;
    // Tests: called on the builder's thread between its look at the run and
    // its restart of the digests (a stop may come there).
    std::function<void()> m_beforeDigestRestart;

    // ---- the queue's state (names as the pages use them) ----
    CArray<tagDownloadTaskItem> m_taskQueue;
    int m_taskIndex;
    COnlinefileinfo* m_currentFile;
    tagDownloadTaskItem* m_currentItem;
    // 0 idle, 1 running, 2 paused (download page only); the main window reads it.
    std::atomic<int> m_downloadState;
    DownWrapper* m_engine;
    DownloadTaskParams m_taskParams;
    int m_taskHandle;
    Md5Hasher m_hasher;
    std::atomic<BYTE> m_checking;
    HANDLE m_pollThread;
    HANDLE m_checkThread;

    // Thread bodies (public for the thread procedures).
    static unsigned __stdcall BuildTaskQueueThreadProc(void* param);
    static unsigned __stdcall PollDownloadThreadProc(void* param);
    static unsigned __stdcall CheckProgressThreadProc(void* param);
    static unsigned __stdcall ResolveLinkThreadProc(void* param);
    static unsigned __stdcall AdoptHeldFileThreadProc(void* param);

    // The size text of a byte count ("5.0MB").
    static CString FormatDownloadSize(LONGLONG count);

private:
    struct BuildArgs;
    struct PollArgs;
    struct CheckArgs;
    struct ResolveArgs;
    struct AdoptArgs;

    void BuildTaskQueueBody(LONG ticket);
    void PollDownload(const PollArgs& args);
    void ShowCheckProgress(const CheckArgs& args);
    // Nonzero when the record must be fetched (builder's thread).
    int NeedsDownload(const tagDownloadTaskItem& item, LONG ticket);
    // Nonzero when the finished file is accepted (poll thread).
    int VerifyDownloaded(const tagDownloadTaskItem& item, LONG ticket);
    // The completion check of status 4: the step and code to post.
    void CheckCompletion(const PollArgs& args, const DownloadTaskInfo& info, int& step, int& code);
    // Status 4 seen by a poller: true when this poller is to check the file
    // (the task is still the current one and no resume has restarted it).
    bool BeginCompletion(const PollArgs& args);
    // Whether the task has a completion record; when its check has ended,
    // step and code receive its result (else step stays -1).
    bool CompletionOf(int handle, int& step, int& code) const;
    // True when the engine task is complete: a completion record, or the
    // engine reports it finished (page's thread).
    bool TaskFinished(int handle);

    // Makes the entry at m_taskIndex current; when the index lies outside the
    // queue the run ends instead (false).
    bool SelectCurrentEntry();
    // The mirror walk of the current entry: true when a mirror was started or
    // its share link is being resolved.
    bool WalkMirrors();
    bool StartMirror(const CString& url);
    // The current entry's file is held by another accepted record: a worker
    // takes it from that hold (AdoptHeldFile) and posts the entry's end.
    bool StartAdoption();
    // A poll thread for m_taskHandle, under a new ticket.
    bool StartPoller();
    // Runs a digest of `record` with m_checking set and a progress thread
    // showing it; the progress reaches the page only while `record` is
    // m_currentFile.
    int RunDigest(LONG ticket, COnlinefileinfo* record, const std::function<int()>& digest);
    void HandleFailure(int code);
    // The run is over (state 0); workers stop at their next look.
    void EndRun();
    // Stops (when asked) and deletes the current engine task; the handle goes to 0.
    void DeleteCurrentTask(bool stopFirst);
    bool IsCurrent(LONG ticket) const { return (m_ticket.load() & 0xFFFF) == (ticket & 0xFFFF); }
    LONG NewTicket() { return ++m_ticket; }

    void PostStep(LONG ticket, int step, LPARAM code);
    // Runs `call` on the page's thread unless `ticket` has been replaced by then.
    void PostUpdate(LONG ticket, std::function<void()> call);
    static LRESULT CALLBACK UpdateWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void EnsureUpdateWindow();

    // Starts a thread the queue keeps track of; null when it could not start
    // (the caller still owns `args` then). A record worker (builder, poller)
    // touches catalogue records.
    HANDLE StartThread(unsigned(__stdcall* proc)(void*), void* args, bool recordWorker);
    // Duplicates of the handles of the record workers still alive.
    std::vector<HANDLE> LiveRecordWorkers();

    // Records held by running queues: a record is examined and fetched by one
    // queue at a time.
    bool ClaimRecord(COnlinefileinfo* record);
    void ReleaseRecord(COnlinefileinfo* record);
    bool HoldsRecords() const;

    CDownloadQueueHost* m_host;
    HWND m_pageWindow;
    HWND m_updateWindow;
    std::atomic<LONG> m_ticket;
    std::atomic<int> m_activePollers;
    std::atomic<int> m_activeWorkers;   // builders and pollers: the threads that touch records
    std::atomic<int> m_building;        // builders not yet ended
    std::atomic<LONG> m_checkSerial;
    bool m_resolving;                   // a share link of the current entry is being resolved
    bool m_adopting;                    // the current entry's file is being taken from another record's hold
    // The completion check of a finished task: once a poller has seen the
    // engine report the file complete, the task is never started again (a
    // restart would make the engine rewrite a file that is being checked or
    // is already accepted and held open). A pause during the check leaves the
    // result here, and the resume hands it on instead of restarting.
    struct Completion {
        int handle;   // the finished task; 0 none
        bool done;    // the check has ended with step and code
        int step;
        int code;
    };
    // Orders a stop against the builder's restart of the digests.
    std::mutex m_stopLock;
    mutable std::mutex m_completionLock;
    Completion m_completion;
    struct ThreadEntry {
        HANDLE handle;
        bool recordWorker;
    };
    mutable std::mutex m_threadLock;
    std::vector<ThreadEntry> m_threads;
};

// The size text of a byte count: value in steps of 1024 and the unit name.
CString FormatDownloadSize(LONGLONG count);
