// Step 4 of the install flow: the download page. Its own download queue
// fetches the chosen image, the boot environment and the companion files;
// the page shows the progress in its rows and bar, pauses and resumes, and
// once the queue has ended asks whether to restart now.
#pragma once

#include <atomic>

#include "controls/color_text.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "pages/download_queue.h"
#include "pages/flow_page.h"
#include "pages/info_row.h"

#define IDD_OS_DOWNLOAD 136
#define IDC_DOWNLOAD_NEXT 10109
#define IDC_DOWNLOAD_BACK 10112
// The pause button shares its id with the update link (IDC_UPDATE_LINK).
#define IDC_DOWNLOAD_PAUSE 10113
#define IDC_DOWNLOAD_AUTO_CONTINUE 1020
#define IDC_DOWNLOAD_PROGRESS 1024
#define IDC_DOWNLOAD_ROW_FIRST 10150

class COsDownloadDlg : public CFlowPage, public CDownloadQueueHost {
public:
    enum { kRowCount = 11, kTitleRow = 0, kFolderRow = 2, kSpeedRow = 4, kRemainingRow = 6, kSizeRow = 8, kStatusRow = 10 };

    COsDownloadDlg(CWnd* pParent = nullptr);
    ~COsDownloadDlg() override;
    BOOL OnInitDialog() override;

    // Starts a run of the page's queue (the picker's OK, after it has shown
    // the page); FALSE while a run is already running or when its builder
    // cannot start: then the status row says so and Next stays disabled.
    BOOL BuildTaskQueue();
    // Stops the running or paused download (Back, the exit question, a forced update).
    void StopTask();
    // Shows the data folder the downloads go to, as a link that opens it.
    void ShowDownloadFolder();
    bool HoldsTasks() const { return m_downloadState != 0; }

    void StopJobs() override {
        if (m_downloadState != 0) m_stoppedByExit = true;
        m_queue.Stop();
    }
    // A download the exit stopped says so and offers Back, without Pause.
    void ResumeAfterRefusedExit() override;
    bool WorkersRunning() override { return m_queue.IsBusy() != FALSE; }

    // ---- the queue's host ----
    HWND GetQueueWindow() override { return m_hWnd; }
    void SetQueueRowText(int row, const CString& text) override;
    void SetQueueProgress(int percent) override;
    void ShowBackButton(BOOL show) override;
    void ShowPauseButton(BOOL show) override;
    void SetPauseLook(BOOL paused) override;
    void EnableNextButton(BOOL enable) override;
    BOOL IsAutoContinue() override;
    void ContinueToNext() override { OnClickedNext(); }
    void OnEntrySkipped(const tagDownloadTaskItem& item) override;
    // Names the optional files this run gave up (a notice that closes by
    // itself), then ends the run as the queue does.
    void OnQueueEnd() override;

    CxSkinButton m_nextButton;
    CxSkinButton m_backButton;
    CxSkinButton m_pauseButton;
    InfoRow m_rows[kRowCount];
    CPicStaticCtrl m_banner;
    CxSkinButton m_autoContinue;
    CMyProgressCtrl m_progress;
    // Carries BuildTaskQueue, AdvanceTaskQueue, PollDownload, VerifyDownloaded, StopTask, OnClickedPauseResume.
    CDownloadQueue m_queue;
    // The queue's busy flag (0 idle, 1 running, 2 paused); the main window reads it.
    std::atomic<int>& m_downloadState;
    // Set when the exit stopped a download of this page.
    bool m_stoppedByExit = false;
    // The titles of the optional files the running run gave up.
    CStringArray m_skippedTitles;
    // How long the notice naming them stays before it closes by itself.
    static const int kLeftOutNoticeSeconds = 10;

    void OnClickedNext();
    void OnClickedBack();
    // Whether the main window shows this page now (its own visibility, so
    // also while the main window sits in the notification area).
    bool IsShownPage() const;
    void OnClickedPauseResume();

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnTaskStep(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void CreateRows();
};
