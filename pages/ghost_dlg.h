// The image backup/restore page (its tab is never shown). The user picks a
// target file to back the system up into, or an image to restore, and one
// of two image formats; the page's own download queue fetches the boot
// environment and the tool file when they are missing, then a worker
// installs the boot entries, leaves the hidden INI and the marker for the
// boot environment and asks the main window for the restart. Nothing
// restarts unless every one of those steps succeeded; a failure says why
// and returns the page to its selection view.
#pragma once

#include <atomic>
#include <functional>

#include "controls/color_controls.h"
#include "controls/color_text.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "pages/download_queue.h"
#include "pages/page_dialog.h"

#define IDD_GHOST 132
#define IDC_GHOST_BACKUP 10701
#define IDC_GHOST_RESTORE 10702
#define IDC_GHOST_BROWSE_TARGET 10703
#define IDC_GHOST_BROWSE_IMAGE 10704
#define IDC_GHOST_FORMAT1 10705
#define IDC_GHOST_FORMAT2 10706
#define IDC_GHOST_TARGET_EDIT 10707
#define IDC_GHOST_IMAGE_EDIT 10708
#define IDC_GHOST_STATUS 10709

// Whether a path is a drive-letter path ("D:\..."), the only kind the boot
// environment can be handed (it gets the path without its drive).
bool IsDriveLetterPath(const CString& path);
// Whether a path lies on the given drive ("C:"), letter case ignored.
bool IsOnDrive(const CString& path, const CString& drive);

class CGhostDlg : public CPageDialog, public CDownloadQueueHost {
public:
    enum Outcome {
        kNotRun,
        kRunning,
        kRestartRequested,
        kRefusedDownload,
        kRefusedBootFile,
        kRefusedProtection,
        kRefusedBootSetup,
        kRefusedHandOver,
        kRefusedStopped,
        kRefusedDiskJob,
        kRestartNotDone,
    };
    static constexpr COLORREF kImageHintColor = 0xC8C8C8;
    static constexpr COLORREF kPathColor = 0x515151;

    CGhostDlg(CWnd* pParent = nullptr);
    ~CGhostDlg() override;
    BOOL OnInitDialog() override;

    void SetImageFormat(int format);
    void SwitchView(int view);
    // The worker that follows the downloads (its own thread).
    void FinishTask();
    static unsigned __stdcall FinishTaskThreadProc(void* page);
    // Stops the page's download (the exit question) and a worker not yet
    // past the boot setup.
    void StopTask();
    void SetDefaultBackupPath();
    bool HoldsTasks() const { return m_jobRunning != 0; }
    Outcome LastOutcome() const { return static_cast<Outcome>(m_outcome.load()); }
    // The main window's restart, which this page asked for, did not happen
    // and what armed the next boot was undone (`text` says how far): the
    // page says so and offers its way back; true then. Nothing when this
    // page asked for no restart.
    bool ShowRestartNotDone(const CString& text);

    void StopJobs() override;
    bool WorkersRunning() override;
    bool WritesDisk() override { return m_writingBootFiles != 0; }
    const wchar_t* SessionEndBlocker() override;
    bool ArmsNextBoot() override { return m_armingNextBoot != 0; }
    // A download the exit stopped leaves the progress view for the first;
    // a running worker ends its own way.
    void ResumeAfterRefusedExit() override;

    // ---- the queue's host ----
    HWND GetQueueWindow() override { return m_hWnd; }
    // The page's lines are written by its own hooks below; the download
    // page's rows have no place here.
    void SetQueueRowText(int, const CString&) override {}
    void SetQueueProgress(int) override {}
    void ShowBackButton(BOOL) override {}
    void ShowPauseButton(BOOL) override {}
    void SetPauseLook(BOOL) override {}
    void EnableNextButton(BOOL) override {}
    BOOL IsAutoContinue() override { return FALSE; }
    void ContinueToNext() override {}
    void CollectCandidates(CArray<tagDownloadTaskItem>& candidates) override;
    void OnBuildStarted() override;
    void OnCandidateChecking(const tagDownloadTaskItem& item) override;
    void OnBuildFinished() override {}
    BOOL IsRequired(const tagDownloadTaskItem& item) override;
    // The page shows no line of its own when an entry starts, is retried or is done.
    void OnEntryCurrent(const tagDownloadTaskItem&) override {}
    void OnEntryDone(const tagDownloadTaskItem&) override {}
    void OnRequiredFailed(const tagDownloadTaskItem& item, int code) override;
    void OnEngineUnavailable() override;
    void OnRecordBusy() override;
    void OnQueueEnd() override;
    void OnSourceRetry(const tagDownloadTaskItem&) override {}
    void OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& progress) override;
    void OnTransferFinished(const tagDownloadTaskItem& item, bool firstTime) override;
    void OnCompletionChecked(const tagDownloadTaskItem&) override {}
    void OnVerifyStarted(const tagDownloadTaskItem& item) override;
    void OnCheckProgress(int percent) override;
    void OnCheckEnded() override;

    CPicStaticCtrl m_pagePicture;
    CxSkinButton m_browseTargetButton;
    CxSkinButton m_browseImageButton;
    CxSkinButton m_backupButton;
    CxSkinButton m_restoreButton;
    CColorText_Static m_targetLabel;
    CColorText_Static m_imageLabel;
    CAdvancedEdit m_targetEdit;
    CAdvancedEdit m_imageEdit;
    int m_imageFormat;
    CMyRadioButton m_formatButtons[2];
    CString m_targetPath;
    CString m_imagePath;
    CGIFControl m_busyPicture;
    CColorText_Static m_statusText;
    // Carries the page's BuildTaskQueue, AdvanceTaskQueue, PollDownload, NeedsDownload, VerifyDownloaded, StopTask.
    CDownloadQueue m_queue;
    // The queue's busy flag (0 idle, 1 running); the main window reads it.
    std::atomic<int>& m_downloadState;
    HANDLE m_finishThread;
    int m_view;
    // 1 while the progress view is shown.
    volatile LONG m_jobRunning;
    // 1 backup, 2 restore.
    int m_ghostMode;

    void OnClickedFirstFormat();
    void OnClickedSecondFormat();
    void OnClickedBackup();
    void OnClickedRestore();
    void OnClickedBrowseTarget();
    void OnClickedBrowseImage();

protected:
    void OnPaint();
    LRESULT OnTaskStep(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    // Starts a run for the mode (view 2, then the queue).
    void StartJob(int mode);
    // The drive a chosen file must not lie on: the system drive, or the
    // Windows folder's when the system check has not said.
    CString ProtectedDrive() const;
    // The backup folder in the data folder.
    CString BackupFolder() const;
    // The suggested name's stem: tool, system text and bitness.
    CString SuggestedStem() const;
    const wchar_t* Extension(int format) const;
    void SetStatus(const CString& text);
    // Ends a run without a restart: undoes what armed the next boot once the
    // boot setup has run, returns to view 1 and says why.
    void Refuse(Outcome outcome, const CString& text, bool undoNextBoot = false);
    bool Stopping() const { return m_stopRequested != 0; }

    // The title of the record whose digest runs (page's thread).
    CString m_digestTitle;
    std::atomic<int> m_outcome;
    volatile LONG m_writingBootFiles;
    // 1 while the finishing worker arms the next boot (the boot setup, the
    // INI and the marker, up to the answer to its restart request).
    volatile LONG m_armingNextBoot = 0;
    volatile LONG m_stopRequested;
};
