#include "pages/download_queue.h"

#include <process.h>

#include <cmath>
#include <map>

#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"

namespace {

// The message that carries a worker's page update to the page's thread;
// lParam is a heap PageUpdate that the window procedure frees.
const UINT kPageUpdateMessage = WM_APP + 1;

// How long the destructor waits for the queue's threads.
const DWORD kDestructorWaitMs = 5000;

struct PageUpdate {
    LONG ticket;
    std::function<void()> call;
};

// Records held by a queue (see ClaimRecord); guarded by s_claimLock, which
// the destructor also takes, so an owner found here is alive.
std::mutex s_claimLock;
std::map<COnlinefileinfo*, CDownloadQueue*> s_claims;

bool IsExistingFile(const CString& path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int ClampPercent(int percent) { return percent < 0 ? 0 : (percent > 100 ? 100 : percent); }

}  // namespace

struct CDownloadQueue::BuildArgs {
    CDownloadQueue* queue;
    LONG ticket;
    std::vector<HANDLE> previous;  // record workers of earlier runs, to be waited for
};

struct CDownloadQueue::PollArgs {
    CDownloadQueue* queue;
    LONG ticket;
    int handle;
    tagDownloadTaskItem item;
    CString saveFolder;
};

struct CDownloadQueue::CheckArgs {
    CDownloadQueue* queue;
    LONG ticket;
    LONG serial;
    COnlinefileinfo* record;
};

struct CDownloadQueue::AdoptArgs {
    CDownloadQueue* queue;
    LONG ticket;
    COnlinefileinfo* record;
};

struct CDownloadQueue::ResolveArgs {
    LONG ticket;
    CString shareUrl;
    HWND window;
    ShareLinkLimits limits;
};

// ---------------------------------------------------------------------------
// The download page's behaviour: the default hooks.

void CDownloadQueueHost::CollectCandidates(CArray<tagDownloadTaskItem>& candidates) {
    CTarvelApp* app = GetTarvelApp();
    auto add = [&candidates](COnlinefileinfo* record) {
        tagDownloadTaskItem item = {record, 0};
        candidates.Add(item);
    };
    COnlinefileinfo* image = nullptr;
    if (app->m_selectedImageIndex >= 0 && app->m_selectedImageIndex < app->m_osImages.GetSize()) {
        image = &app->m_osImages[app->m_selectedImageIndex];
        add(image);
    }
    if (app->m_selectedPeIndex >= 0 && app->m_selectedPeIndex < app->m_peImages.GetSize())
        add(&app->m_peImages[app->m_selectedPeIndex]);
    if (app->m_selectedImageTab == 1) {
        if (image && image->m_linkedFileIndex >= 0 && image->m_linkedFileIndex < app->m_linkedFiles.GetSize())
            add(&app->m_linkedFiles[image->m_linkedFileIndex]);
        if (!app->m_extraFile1.m_sectionName.IsEmpty()) add(&app->m_extraFile1);
    }
    if (!app->m_extraFile2.m_sectionName.IsEmpty()) add(&app->m_extraFile2);
}

void CDownloadQueueHost::OnBuildStarted() {
    SetWorkingView(1);
    // The page can be neither left nor paused while the checks run.
    ShowBackButton(FALSE);
    ShowPauseButton(FALSE);
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueCheckingStatus);
}

void CDownloadQueueHost::OnCandidateChecking(const tagDownloadTaskItem& item) {
    SetQueueRowText(kQueueTitleRow,
                    CString(FixedText::kQueueCheckingPrefix) + item.file->m_title + FixedText::kQueueCheckingSuffix);
}

void CDownloadQueueHost::OnBuildFinished() {
    ShowBackButton(TRUE);
    ShowPauseButton(TRUE);
}

BOOL CDownloadQueueHost::IsRequired(const tagDownloadTaskItem& item) { return item.file->m_required != 0; }

void CDownloadQueueHost::OnEntryCurrent(const tagDownloadTaskItem& item) {
    SetQueueRowText(kQueueTitleRow, CString(FixedText::kQueueDownloadingPrefix) + item.file->m_title);
}

void CDownloadQueueHost::OnEntryRetry(const tagDownloadTaskItem& item) { OnEntryCurrent(item); }

void CDownloadQueueHost::OnEntryDone(const tagDownloadTaskItem&) { ResetProgress(); }

void CDownloadQueueHost::OnRequiredFailed(const tagDownloadTaskItem&, int code) {
    ShowPauseButton(FALSE);
    CString text;
    text.Format(FixedText::kQueueEntryFailedFormat, code);
    SetQueueRowText(kQueueStatusRow, text);
}

void CDownloadQueueHost::OnEngineUnavailable() {
    ShowPauseButton(FALSE);
    CString text;
    text.Format(FixedText::kQueueEngineFailedFormat, (int)kQueueCodeEngineUnavailable);
    SetQueueRowText(kQueueStatusRow, text);
}

void CDownloadQueueHost::OnRecordBusy() {
    ShowBackButton(TRUE);
    ShowPauseButton(FALSE);
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueRecordBusyStatus);
}

void CDownloadQueueHost::OnQueueEnd() {
    SetWorkingView(0);
    EnableNextButton(TRUE);
    ShowPauseButton(FALSE);
    if (IsAutoContinue()) ContinueToNext();
}

void CDownloadQueueHost::OnPaused() {
    SetQueueRowText(kQueueStatusRow, FixedText::kQueuePausedStatus);
    SetPauseLook(TRUE);
    // A pause that came while a finished file was being checked (the buttons
    // hidden meanwhile) must still leave a way to resume or go back.
    ShowBackButton(TRUE);
    ShowPauseButton(TRUE);
}

void CDownloadQueueHost::OnResumed() {
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueDownloadingStatus);
    SetPauseLook(FALSE);
}

void CDownloadQueueHost::OnSourceRetry(const tagDownloadTaskItem&) {
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueRetryNotice);
}

void CDownloadQueueHost::OnTransferProgress(const tagDownloadTaskItem&, const QueueTransferProgress& progress) {
    SetQueueProgress(progress.percent);
    SetQueueRowText(kQueueSpeedRow, FormatDownloadSize(progress.speed) + FixedText::kQueuePerSecondSuffix);
    if (progress.secondsLeft < 0)
        SetQueueRowText(kQueueRemainingRow, FixedText::kQueueUnknownTime);
    else
        SetQueueRowText(kQueueRemainingRow, FormatDuration((DWORD)progress.secondsLeft));
    if (progress.firstSizeRound) {
        SetQueueRowText(kQueueSizeRow, FormatDownloadSize(progress.totalBytes));
        SetQueueRowText(kQueueStatusRow, FixedText::kQueueDownloadingStatus);
    }
}

void CDownloadQueueHost::OnTransferFinished(const tagDownloadTaskItem&, bool firstTime) {
    if (firstTime) {
        SetQueueProgress(100);
        SetQueueRowText(kQueueStatusRow, FixedText::kQueueFinishedStatus);
    }
    ShowBackButton(FALSE);
    ShowPauseButton(FALSE);
}

void CDownloadQueueHost::OnCompletionChecked(const tagDownloadTaskItem&) {
    ShowBackButton(TRUE);
    ShowPauseButton(TRUE);
}

void CDownloadQueueHost::OnVerifyStarted(const tagDownloadTaskItem& item) {
    SetQueueRowText(kQueueSpeedRow, FixedText::kQueueVerifyingRowText);
    SetQueueRowText(kQueueRemainingRow, FixedText::kQueueVerifyingRowText);
    SetQueueRowText(kQueueSizeRow, FixedText::kQueueVerifyingRowText);
    SetQueueRowText(kQueueTitleRow,
                    CString(FixedText::kQueueVerifyingPrefix) + item.file->m_title + FixedText::kQueueVerifyingSuffix);
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueVerifyingStatus);
}

void CDownloadQueueHost::OnCheckProgress(int percent) { SetQueueProgress(percent); }

void CDownloadQueueHost::OnCheckEnded() { SetQueueProgress(100); }

void CDownloadQueueHost::SetWorkingView(int working) {
    if (working) {
        SetQueueRowText(kQueueTitleRow, FixedText::kQueueWorkingTitle);
        SetQueueProgress(0);
        ShowPauseButton(TRUE);
        SetPauseLook(FALSE);
    } else {
        SetQueueRowText(kQueueTitleRow, FixedText::kQueueFinishedTitle);
        SetQueueProgress(100);
    }
    for (int row : {kQueueSpeedRow, kQueueRemainingRow, kQueueSizeRow, kQueueStatusRow})
        SetQueueRowText(row, FixedText::kQueueRowPlaceholder);
}

void CDownloadQueueHost::ResetProgress() {
    SetQueueProgress(0);
    for (int row : {kQueueSpeedRow, kQueueRemainingRow, kQueueSizeRow, kQueueStatusRow})
        SetQueueRowText(row, FixedText::kQueueRowPlaceholder);
}

// ---------------------------------------------------------------------------

CString FormatDownloadSize(LONGLONG count) {
    double value = (double)count;
    int unit = 0;
    const int units = (int)(sizeof(FixedText::kQueueSizeUnits) / sizeof(FixedText::kQueueSizeUnits[0]));
    while (value > 1023 && unit < units - 1) {
        value *= 0.0009765625;
        ++unit;
    }
    CString text;
    text.Format(FixedText::kQueueSizeFormat, value, FixedText::kQueueSizeUnits[unit]);
    return text;
}

CString CDownloadQueue::FormatDownloadSize(LONGLONG count) { return ::FormatDownloadSize(count); }

CDownloadQueue::CDownloadQueue(CDownloadQueueHost* host)
    : m_taskIndex(-1),
      m_currentFile(nullptr),
      m_currentItem(nullptr),
      m_downloadState(0),
      m_engine(nullptr),
      m_taskHandle(0),
      m_checking(0),
      m_pollThread(nullptr),
      m_checkThread(nullptr),
      m_host(host),
      m_pageWindow(nullptr),
      m_updateWindow(nullptr),
      m_ticket(0),
      m_activePollers(0),
      m_activeWorkers(0),
      m_building(0),
      m_checkSerial(0),
      m_resolving(false),
      m_adopting(false),
      m_completion{0, false, -1, 0} {
    InitDownloadTaskParams(m_taskParams);
    EnsureUpdateWindow();
}

CDownloadQueue::~CDownloadQueue() {
    StopTask();
    WaitForThreads(kDestructorWaitMs);
    {
        std::lock_guard<std::mutex> guard(s_claimLock);
        for (auto it = s_claims.begin(); it != s_claims.end();) {
            if (it->second == this)
                it = s_claims.erase(it);
            else
                ++it;
        }
    }
    if (m_updateWindow) {
        MSG msg;
        while (PeekMessageW(&msg, m_updateWindow, kPageUpdateMessage, kPageUpdateMessage, PM_REMOVE))
            delete reinterpret_cast<PageUpdate*>(msg.lParam);
        SetWindowLongPtrW(m_updateWindow, GWLP_USERDATA, 0);
        DestroyWindow(m_updateWindow);
    }
    std::lock_guard<std::mutex> guard(m_threadLock);
    for (ThreadEntry& entry : m_threads) CloseHandle(entry.handle);
    m_threads.clear();
}

// ---- page updates ----------------------------------------------------------

void CDownloadQueue::EnsureUpdateWindow() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = UpdateWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = FixedText::kQueueUpdateWindowClass;
        RegisterClassW(&wc);
    });
    m_updateWindow = CreateWindowExW(0, FixedText::kQueueUpdateWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    if (m_updateWindow) SetWindowLongPtrW(m_updateWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

LRESULT CALLBACK CDownloadQueue::UpdateWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kPageUpdateMessage) return DefWindowProcW(hwnd, message, wParam, lParam);
    PageUpdate* update = reinterpret_cast<PageUpdate*>(lParam);
    CDownloadQueue* queue = reinterpret_cast<CDownloadQueue*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (queue && queue->IsCurrent(update->ticket)) update->call();
    delete update;
    return 0;
}

void CDownloadQueue::PostUpdate(LONG ticket, std::function<void()> call) {
    PageUpdate* update = new PageUpdate{ticket, std::move(call)};
    if (!m_updateWindow || !PostMessageW(m_updateWindow, kPageUpdateMessage, 0, reinterpret_cast<LPARAM>(update)))
        delete update;
}

void CDownloadQueue::PostStep(LONG ticket, int step, LPARAM code) {
    PostMessageW(m_pageWindow, WM_TASK_STEP, MAKEWPARAM(step, ticket & 0xFFFF), code);
}

// ---- threads ---------------------------------------------------------------

HANDLE CDownloadQueue::StartThread(unsigned(__stdcall* proc)(void*), void* args, bool recordWorker) {
    std::lock_guard<std::mutex> guard(m_threadLock);
    // Forget threads that have ended.
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (WaitForSingleObject(it->handle, 0) == WAIT_OBJECT_0) {
            CloseHandle(it->handle);
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
    if (recordWorker) ++m_activeWorkers;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, args, 0, nullptr));
    if (!thread) {
        if (recordWorker) --m_activeWorkers;
        return nullptr;
    }
    m_threads.push_back(ThreadEntry{thread, recordWorker});
    return thread;
}

std::vector<HANDLE> CDownloadQueue::LiveRecordWorkers() {
    std::vector<HANDLE> live;
    std::lock_guard<std::mutex> guard(m_threadLock);
    for (ThreadEntry& entry : m_threads) {
        if (!entry.recordWorker || WaitForSingleObject(entry.handle, 0) == WAIT_OBJECT_0) continue;
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), entry.handle, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
            live.push_back(copy);
    }
    return live;
}

BOOL CDownloadQueue::WaitForThreads(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HANDLE> live;
        {
            std::lock_guard<std::mutex> guard(m_threadLock);
            for (ThreadEntry& entry : m_threads)
                if (WaitForSingleObject(entry.handle, 0) != WAIT_OBJECT_0 && live.size() < MAXIMUM_WAIT_OBJECTS - 1)
                    live.push_back(entry.handle);
        }
        if (live.empty()) return TRUE;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return FALSE;
        // Messages are pumped meanwhile: a worker may be waiting for this
        // thread (a message box, a sent message).
        MsgWaitForMultipleObjects((DWORD)live.size(), live.data(), FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

BOOL CDownloadQueue::IsBusy() const {
    if (m_downloadState != 0) return TRUE;
    std::lock_guard<std::mutex> guard(m_threadLock);
    for (const ThreadEntry& entry : m_threads)
        if (WaitForSingleObject(entry.handle, 0) != WAIT_OBJECT_0) return TRUE;
    return FALSE;
}

// ---- records ---------------------------------------------------------------

bool CDownloadQueue::HoldsRecords() const { return m_downloadState != 0 || m_activeWorkers > 0; }

bool CDownloadQueue::ClaimRecord(COnlinefileinfo* record) {
    std::lock_guard<std::mutex> guard(s_claimLock);
    auto it = s_claims.find(record);
    if (it != s_claims.end() && it->second != this && it->second->HoldsRecords()) return false;
    s_claims[record] = this;
    return true;
}

void CDownloadQueue::ReleaseRecord(COnlinefileinfo* record) {
    std::lock_guard<std::mutex> guard(s_claimLock);
    auto it = s_claims.find(record);
    if (it != s_claims.end() && it->second == this) s_claims.erase(it);
}

// ---- building --------------------------------------------------------------

BOOL CDownloadQueue::BuildTaskQueue() {
    if (m_downloadState == 1) return FALSE;  // one run at a time
    // A paused run is replaced; its task would otherwise write beside the new one.
    if (m_downloadState == 2) DeleteCurrentTask(false);
    m_pageWindow = m_host->GetQueueWindow();
    m_resolving = false;
    m_downloadState = 1;  // busy from here on: tab switching and exit see it
    BuildArgs* args = new BuildArgs{this, NewTicket(), LiveRecordWorkers()};
    ++m_building;
    if (!StartThread(BuildTaskQueueThreadProc, args, true)) {
        --m_building;
        for (HANDLE h : args->previous) CloseHandle(h);
        delete args;
        m_downloadState = 0;
        NewTicket();
        return FALSE;
    }
    return TRUE;
}

unsigned __stdcall CDownloadQueue::BuildTaskQueueThreadProc(void* param) {
    BuildArgs* args = static_cast<BuildArgs*>(param);
    CDownloadQueue* queue = args->queue;
    // A stopped run's workers may still be digesting or verifying a record.
    for (HANDLE h : args->previous) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    // A stop ended the last run's digests; this run's may run to their end.
    // The look and the restart are one step against a stop: a stop that
    // came between them would otherwise be undone.
    {
        std::lock_guard<std::mutex> guard(queue->m_stopLock);
        const bool current = queue->IsCurrent(args->ticket);
        if (queue->m_beforeDigestRestart) queue->m_beforeDigestRestart();
        if (current) queue->m_hasher.Restart();
    }
    queue->BuildTaskQueueBody(args->ticket);
    delete args;
    --queue->m_building;
    --queue->m_activeWorkers;
    return 0;
}

void CDownloadQueue::BuildTaskQueueBody(LONG ticket) {
    if (!IsCurrent(ticket)) return;
    PostUpdate(ticket, [this] { m_host->OnBuildStarted(); });
    CArray<tagDownloadTaskItem> candidates;
    m_host->CollectCandidates(candidates);
    // Whatever the last run pointed at may be gone (a new check rebuilds the
    // catalogue); from here on the current file is the candidate examined.
    m_currentItem = nullptr;
    m_currentFile = nullptr;
    m_taskQueue.RemoveAll();
    for (INT_PTR i = 0; i < candidates.GetSize(); ++i) {
        // A Back or an exit during the build ends it here; the run never starts.
        if (!IsCurrent(ticket)) return;
        tagDownloadTaskItem item = candidates[i];
        if (!item.file) continue;
        if (!ClaimRecord(item.file)) {
            PostStep(ticket, kStepFailed, kQueueCodeRecordBusy);
            return;
        }
        m_currentFile = item.file;
        PostUpdate(ticket, [this, item] { m_host->OnCandidateChecking(item); });
        if (NeedsDownload(item, ticket)) {
            m_taskQueue.Add(item);
            m_host->OnCandidateQueued(item);
        } else {
            ReleaseRecord(item.file);
            PostUpdate(ticket, [this, item] { m_host->OnCandidateReady(item); });
        }
    }
    if (!IsCurrent(ticket)) return;
    if (m_taskQueue.IsEmpty()) {
        m_taskIndex = -1;
        PostUpdate(ticket, [this] { m_host->OnBuildFinished(); });
        PostStep(ticket, kStepStartEntry, 0);
        return;
    }
    m_taskIndex = 0;
    for (INT_PTR i = 0; i < m_taskQueue.GetSize(); ++i) m_taskQueue[i].file->m_linkCursor = 0;
    int step = kStepStartEntry;
    LPARAM code = 0;
    if (!m_engine) {
        CTarvelApp* app = GetTarvelApp();
        if (app->EnsureDownloadEngine()) {
            m_engine = app->m_downloadEngine;
        } else {
            step = kStepFailed;
            code = kQueueCodeEngineUnavailable;
        }
    }
    m_host->BeforeFirstStep(m_taskQueue);
    if (!IsCurrent(ticket)) return;
    PostUpdate(ticket, [this] { m_host->OnBuildFinished(); });
    PostStep(ticket, step, code);
}

int CDownloadQueue::NeedsDownload(const tagDownloadTaskItem& item, LONG ticket) {
    COnlinefileinfo* record = item.file;
    if (record->m_checkState == 2 || record->m_checkState == 3) return 0;
    return RunDigest(ticket, record, [this, record] { return CheckLocalCopy(*record, m_hasher); });
}

int CDownloadQueue::RunDigest(LONG ticket, COnlinefileinfo* record, const std::function<int()>& digest) {
    m_checking = 1;
    CheckArgs* args = new CheckArgs{this, ticket, ++m_checkSerial, record};
    HANDLE thread = StartThread(CheckProgressThreadProc, args, false);
    if (thread)
        m_checkThread = thread;
    else
        delete args;
    int result = digest();
    m_checking = 0;
    return result;
}

// ---- digest progress -------------------------------------------------------

unsigned __stdcall CDownloadQueue::CheckProgressThreadProc(void* param) {
    CheckArgs* args = static_cast<CheckArgs*>(param);
    args->queue->ShowCheckProgress(*args);
    delete args;
    return 0;
}

void CDownloadQueue::ShowCheckProgress(const CheckArgs& args) {
    for (;;) {
        Sleep(1000);
        // A later digest has its own progress thread.
        if (!m_checking || m_checkSerial != args.serial) break;
        LONGLONG total = m_hasher.m_totalBytes;
        if (m_hasher.m_busy && total > 0) {
            int percent = ClampPercent((int)std::floor((double)m_hasher.m_doneBytes / (double)total * 100.0 + 0.5));
            PostUpdate(args.ticket, [this, percent, record = args.record] {
                if (m_currentFile == record) m_host->OnCheckProgress(percent);
            });
        }
    }
    if (m_checkSerial == args.serial)
        PostUpdate(args.ticket, [this, record = args.record] {
            if (m_currentFile == record) m_host->OnCheckEnded();
        });
}

// ---- the step --------------------------------------------------------------

LRESULT CDownloadQueue::OnTaskStep(WPARAM wParam, LPARAM lParam) {
    int step = LOWORD(wParam);
    // A step from a poller, builder or resolver that a pause, resume, stop or
    // later step has replaced is dropped; so is every step while not running.
    bool current = m_downloadState == 1 && IsCurrent(HIWORD(wParam));
    if (step == kStepLinkResolved) {
        CString* url = reinterpret_cast<CString*>(lParam);
        if (current) {
            NewTicket();
            m_resolving = false;
            if (!StartMirror(*url) && !WalkMirrors()) HandleFailure(0);
        }
        delete url;
        return 0;
    }
    if (!current) return 0;
    NewTicket();
    AdvanceTaskQueue(step, (int)lParam);
    return 0;
}

void CDownloadQueue::AdvanceTaskQueue(int wparam, int lparam) {
    if (m_downloadState != 1) return;
    m_adopting = false;
    if (wparam == kStepFailed) {
        HandleFailure(lparam);
        return;
    }
    if (wparam == kStepEntryDone) {
        DeleteCurrentTask(false);  // finished; the next entry gets its own task
        if (m_taskIndex >= 0 && m_taskIndex < m_taskQueue.GetSize()) {
            m_host->OnEntryDone(m_taskQueue[m_taskIndex]);
            ReleaseRecord(m_taskQueue[m_taskIndex].file);
        }
        ++m_taskIndex;
    }
    if (!SelectCurrentEntry()) return;
    m_host->OnEntryCurrent(*m_currentItem);
    // Two records may name one file: one that an earlier entry (or another
    // page) has accepted is taken from its hold, never fetched again.
    if (HeldByAnotherRecord(*m_currentFile)) {
        if (!StartAdoption()) HandleFailure(kQueueCodeSkipMirrors);
        return;
    }
    if (!WalkMirrors()) HandleFailure(0);
}

bool CDownloadQueue::StartAdoption() {
    AdoptArgs* args = new AdoptArgs{this, NewTicket(), m_currentFile};
    m_adopting = true;
    if (StartThread(AdoptHeldFileThreadProc, args, true)) return true;
    m_adopting = false;
    delete args;
    return false;
}

unsigned __stdcall CDownloadQueue::AdoptHeldFileThreadProc(void* param) {
    AdoptArgs* args = static_cast<AdoptArgs*>(param);
    CDownloadQueue* queue = args->queue;
    COnlinefileinfo* record = args->record;
    // The holder's digest is shared; a record taken unread by its holder is
    // digested here when this record carries a digest.
    const int adopted =
        queue->RunDigest(args->ticket, record, [queue, record] { return AdoptHeldFile(*record, queue->m_hasher); });
    // A file of another record that this record's rule refuses is not fetched
    // again: it could not be put in place under that record's hold.
    if (adopted > 0)
        queue->PostStep(args->ticket, kStepEntryDone, 0);
    else
        queue->PostStep(args->ticket, kStepFailed, kQueueCodeSkipMirrors);
    delete args;
    --queue->m_activeWorkers;
    return 0;
}

bool CDownloadQueue::SelectCurrentEntry() {
    if (m_taskIndex < 0 || m_taskIndex >= m_taskQueue.GetSize()) {
        EndRun();
        m_host->OnQueueEnd();
        return false;
    }
    m_currentItem = &m_taskQueue[m_taskIndex];
    m_currentFile = m_currentItem->file;
    return true;
}

bool CDownloadQueue::WalkMirrors() {
    COnlinefileinfo* record = m_currentFile;
    if (!record) return false;
    CTarvelApp* app = GetTarvelApp();
    while (record->m_linkCursor < record->m_linkCount && record->m_linkCursor < kMaxFileLinks) {
        int id = record->m_linkIndices[record->m_linkCursor++];
        if (id < 0 || id >= app->m_fileLinks.GetSize()) continue;
        const CFileLinkInfo& link = app->m_fileLinks[id];
        if (link.m_linkType == 2) {
            // A share page: resolved on a worker, bounded by m_shareLimits;
            // the step goes on when the link arrives (kStepLinkResolved).
            // The resolver owns all it uses and answers by message, so it is
            // not waited for: a silent server cannot hold the program's exit.
            DeleteCurrentTask(true);
            ResolveArgs* args = new ResolveArgs{NewTicket(), link.m_url, m_pageWindow, m_shareLimits};
            HANDLE resolver = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ResolveLinkThreadProc, args, 0, nullptr));
            if (resolver) {
                CloseHandle(resolver);
                m_resolving = true;
                return true;
            }
            delete args;
        }
        if (StartMirror(link.m_url)) return true;
    }
    return false;
}

unsigned __stdcall CDownloadQueue::ResolveLinkThreadProc(void* param) {
    // Touches nothing of the queue: the result travels in the message.
    ResolveArgs* args = static_cast<ResolveArgs*>(param);
    CString direct;
    CString* url = new CString(ShareLinkResolver(args->shareUrl, direct, args->limits) ? direct : args->shareUrl);
    if (!PostMessageW(args->window, WM_TASK_STEP, MAKEWPARAM(kStepLinkResolved, args->ticket & 0xFFFF),
                      reinterpret_cast<LPARAM>(url)))
        delete url;
    delete args;
    return 0;
}

bool CDownloadQueue::StartMirror(const CString& url) {
    DeleteCurrentTask(true);  // a superseded task never lingers in the engine
    if (!m_engine || !m_currentItem) return false;
    CString saveFolder = GetTarvelApp()->m_dataFolder;
    if (!SetDownloadTaskTexts(m_taskParams, url, m_currentFile->m_fileName, saveFolder)) return false;
    m_taskHandle = m_engine->CreateTask ? m_engine->CreateTask(&m_taskParams) : 0;
    if (!m_taskHandle) return false;
    if (!m_engine->StartTask || !m_engine->StartTask(m_taskHandle)) return false;
    return StartPoller();
}

bool CDownloadQueue::StartPoller() {
    PollArgs* args = new PollArgs{this, NewTicket(), m_taskHandle, *m_currentItem, GetTarvelApp()->m_dataFolder};
    ++m_activePollers;
    HANDLE thread = StartThread(PollDownloadThreadProc, args, true);
    if (!thread) {
        --m_activePollers;
        delete args;
        return false;
    }
    m_pollThread = thread;
    return true;
}

void CDownloadQueue::HandleFailure(int code) {
    if (code == kQueueCodeEngineUnavailable || code == kQueueCodeRecordBusy) {
        EndRun();
        if (code == kQueueCodeEngineUnavailable)
            m_host->OnEngineUnavailable();
        else
            m_host->OnRecordBusy();
        return;
    }
    DeleteCurrentTask(true);
    if (!SelectCurrentEntry()) return;
    m_host->OnEntryRetry(*m_currentItem);
    if (code != kQueueCodeSkipMirrors && WalkMirrors()) return;
    if (m_host->IsRequired(*m_currentItem)) {
        EndRun();
        m_host->OnRequiredFailed(*m_currentItem, code);
        return;
    }
    m_host->OnEntrySkipped(*m_currentItem);
    ReleaseRecord(m_currentFile);
    ++m_taskIndex;
    PostStep(m_ticket, kStepStartEntry, 0);
}

void CDownloadQueue::EndRun() {
    m_downloadState = 0;
    NewTicket();
    m_resolving = false;
    m_adopting = false;
}

void CDownloadQueue::DeleteCurrentTask(bool stopFirst) {
    int handle;
    {
        std::lock_guard<std::mutex> guard(m_completionLock);
        handle = m_taskHandle;
        m_taskHandle = 0;
        m_completion = Completion{0, false, -1, 0};
    }
    if (!handle || !m_engine) return;
    if (stopFirst && m_engine->StopTask) m_engine->StopTask(handle);
    if (m_engine->DeleteTask) m_engine->DeleteTask(handle);
}

// ---- pause, resume, stop ---------------------------------------------------

void CDownloadQueue::OnClickedPauseResume() {
    // The builder's checks cannot be paused (the button is hidden meanwhile).
    if (m_building > 0) return;
    if (m_downloadState == 1) {
        m_downloadState = 2;
        NewTicket();  // the poller ends at its next look, silently
        int step, code;
        // A finished task has nothing left to stop.
        if (m_taskHandle && m_engine && m_engine->StopTask && !CompletionOf(m_taskHandle, step, code))
            m_engine->StopTask(m_taskHandle);
        m_host->OnPaused();
    } else if (m_downloadState == 2) {
        m_downloadState = 1;
        LONG ticket = NewTicket();
        m_host->OnResumed();
        if (m_adopting) {
            // The file another record holds is taken anew.
            if (!StartAdoption()) HandleFailure(kQueueCodeSkipMirrors);
            return;
        }
        if (m_resolving) {
            // The share link being resolved at the pause is resolved anew.
            m_resolving = false;
            if (m_currentFile && m_currentFile->m_linkCursor > 0) --m_currentFile->m_linkCursor;
            if (!WalkMirrors()) HandleFailure(0);
            return;
        }
        if (m_taskHandle && TaskFinished(m_taskHandle)) {
            // The file is complete (and may be checked or accepted already):
            // the task is not started again; a poller takes over its
            // completion, or the result of the check the pause left behind.
            if (StartPoller()) return;
        } else if (m_taskHandle && m_engine && m_engine->StartTask && m_engine->StartTask(m_taskHandle) &&
                   StartPoller()) {
            return;
        }
        PostStep(ticket, kStepFailed, 0);  // the next mirror
    }
}

void CDownloadQueue::StopTask() {
    int state;
    {
        std::lock_guard<std::mutex> guard(m_stopLock);
        state = m_downloadState.exchange(0);
        // A digest of the stopped run ends at its next block.
        m_hasher.Stop();
        NewTicket();
    }
    m_resolving = false;
    m_adopting = false;
    if (state == 0) return;
    DeleteCurrentTask(state == 1);  // skips a zero handle; a paused task is only deleted
}

// ---- the poll --------------------------------------------------------------

unsigned __stdcall CDownloadQueue::PollDownloadThreadProc(void* param) {
    PollArgs* args = static_cast<PollArgs*>(param);
    CDownloadQueue* queue = args->queue;
    queue->PollDownload(*args);
    delete args;
    --queue->m_activePollers;
    --queue->m_activeWorkers;
    return 0;
}

void CDownloadQueue::PollDownload(const PollArgs& args) {
    DownloadTaskInfo info;
    memset(&info, 0, sizeof(info));
    int stalls = 0;
    bool sizeShown = false, retryShown = false, finishShown = false, waitingSeen = false;
    const tagDownloadTaskItem item = args.item;
    for (;;) {
        // Pause, stop, a new mirror or a later step end this poller silently.
        if (m_downloadState != 1 || !IsCurrent(args.ticket)) return;
        int step = -1, code = 0;
        const int stallLimit = GetTarvelApp()->m_stallLimit;
        DownWrapper* engine = m_engine;
        if (CompletionOf(args.handle, step, code)) {
            // Another poller saw the task finish and checks the file (a pause
            // and resume came in between): its result is this poller's to hand on.
        } else if (engine && engine->QueryTask && engine->QueryTask(args.handle, &info) &&
                   info.status >= kTaskFailed && info.status <= kTaskWaiting) {
            switch (info.status) {
            case kTaskFailed:
                step = kStepFailed;
                code = info.code;
                break;
            case kTaskSourceFailed:
                if (!retryShown) PostUpdate(args.ticket, [this, item] { m_host->OnSourceRetry(item); });
                retryShown = true;
                step = kStepNextSource;
                code = info.code;
                break;
            case kTaskTransferring: {
                if (stalls >= stallLimit) {
                    step = kStepFailed;
                    code = kQueueCodeStalled;
                    break;
                }
                QueueTransferProgress progress;
                progress.percent = ClampPercent((int)(info.fraction * 100.0f));
                progress.speed = info.speed;
                progress.totalBytes = info.totalBytes;
                progress.doneBytes = info.doneBytes;
                if (info.speed == 0) {
                    progress.secondsLeft = -1;
                    ++stalls;
                } else {
                    stalls = 0;
                    LONGLONG left = info.totalBytes - info.doneBytes;
                    progress.secondsLeft = (left > 0 ? left : 0) / (LONGLONG)info.speed;
                }
                progress.firstSizeRound = !sizeShown;
                if (!sizeShown && info.totalBytes != 0) sizeShown = true;
                PostUpdate(args.ticket, [this, item, progress] { m_host->OnTransferProgress(item, progress); });
                break;
            }
            case kTaskFinished: {
                if (!BeginCompletion(args)) return;
                bool first = !finishShown;
                finishShown = true;
                PostUpdate(args.ticket, [this, item, first] { m_host->OnTransferFinished(item, first); });
                CheckCompletion(args, info, step, code);
                {
                    std::lock_guard<std::mutex> guard(m_completionLock);
                    if (m_completion.handle == args.handle) m_completion = Completion{args.handle, true, step, code};
                }
                PostUpdate(args.ticket, [this, item] { m_host->OnCompletionChecked(item); });
                break;
            }
            case kTaskWaiting:
                if (!waitingSeen) {
                    waitingSeen = true;
                    stalls = 0;
                } else if (++stalls >= stallLimit) {
                    step = kStepFailed;
                    code = kQueueCodeStalled;
                }
                break;
            }
        }
        Sleep(1000);
        if (step >= 0) {
            PostStep(args.ticket, step, code);
            return;
        }
    }
}

bool CDownloadQueue::BeginCompletion(const PollArgs& args) {
    std::lock_guard<std::mutex> guard(m_completionLock);
    // Stopped, or the queue has moved on to another task.
    if (m_downloadState == 0 || m_taskHandle != args.handle) return false;
    // Already being checked by another poller.
    if (m_completion.handle == args.handle) return false;
    // Resumed since this poller looked: the resume's own poller has the task.
    if (m_downloadState == 1 && !IsCurrent(args.ticket)) return false;
    // From here on the task counts as finished, also while paused.
    m_completion = Completion{args.handle, false, -1, 0};
    return true;
}

bool CDownloadQueue::CompletionOf(int handle, int& step, int& code) const {
    std::lock_guard<std::mutex> guard(m_completionLock);
    if (!handle || m_completion.handle != handle) return false;
    step = m_completion.done ? m_completion.step : -1;
    code = m_completion.done ? m_completion.code : 0;
    return true;
}

bool CDownloadQueue::TaskFinished(int handle) {
    int step, code;
    if (CompletionOf(handle, step, code)) return true;
    if (!m_engine || !m_engine->QueryTask) return false;
    DownloadTaskInfo info;
    memset(&info, 0, sizeof(info));
    return m_engine->QueryTask(handle, &info) && info.status == kTaskFinished;
}

void CDownloadQueue::CheckCompletion(const PollArgs& args, const DownloadTaskInfo& info, int& step, int& code) {
    step = kStepFailed;
    code = kQueueCodeRejectedFile;
    CString source = args.saveFolder + FixedText::kQueuePathSeparator + info.fileName;
    CString target = GetLocalPath(*args.item.file);
    if (source.CompareNoCase(target) != 0 && MoveFileEnsureFolder(source, target) <= 0) {
        // A move across volumes may stop half-way: no part of a file stays
        // under the name that marks a finished one.
        DeleteFileForced(target);
        return;
    }
    if (!IsExistingFile(target)) return;
    if ((double)GetFileSize64(target) < FixedText::kQueueMinimumFileBytes) {
        DeleteFileForced(target);
        return;
    }
    if (VerifyDownloaded(args.item, args.ticket)) {
        step = kStepEntryDone;
        code = info.code;
    }
}

int CDownloadQueue::VerifyDownloaded(const tagDownloadTaskItem& item, LONG ticket) {
    COnlinefileinfo* record = item.file;
    if (!IsExistingFile(GetLocalPath(*record))) return 0;
    // Mode 0 without a digest to check takes the file as it is (and marks it
    // as accepted after a download); a digest that is given is always checked.
    if (record->m_matchMode == 0 && !CarriesExpectedDigest(record->m_expectedMd5))
        return VerifyDownloadedFile(*record, m_hasher);
    PostUpdate(ticket, [this, item] { m_host->OnVerifyStarted(item); });
    return RunDigest(ticket, record, [this, record] { return VerifyDownloadedFile(*record, m_hasher); });
}
