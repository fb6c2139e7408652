// The USB disk maker page: lists the USB disks, asks which disk to erase,
// lets the user pick an image to put on it (or none), downloads what is
// missing through its own download queue and writes the disk on a worker
// (the boot-disk writer). A second job, the disk tool, returns the selected
// disk to one plain data partition.
//
// Views: 1 the disk choice, 2 the image choice, 3 the progress. Every change
// of a control asked for by a worker, and every notice a worker shows, is
// carried to the page's thread (sent as WM_PAGE_UI_CALL) and made there.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "controls/color_text.h"
#include "controls/os_lists.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "controls/usb_list.h"
#include "disk/usb_disk_inventory.h"
#include "pages/download_queue.h"
#include "pages/page_dialog.h"
#include "pages/usb_boot_writer.h"

#define IDD_USB_MAKER 131
#define IDC_USB_START 10601
#define IDC_USB_MAKE_WITH_IMAGE 10602
#define IDC_USB_MAKE_BOOT_ONLY 10603
#define IDC_USB_DEVICE_LIST 10604
#define IDC_USB_DISK_TOOL 10605
#define IDC_USB_VOLUME_TOOL 10606
#define IDC_USB_HELP 10607
#define IDC_USB_SHOW_ALL 1020

class CUsbMaker : public CPageDialog, public CDownloadQueueHost, public IUsbWriterView {
public:
    CUsbMaker(CWnd* pParent = nullptr);
    ~CUsbMaker() override;
    BOOL OnInitDialog() override;

    // Stops the page's download (the exit question).
    void StopTask();
    // Only in view 1: re-reads the USB disks and refills the disk list;
    // selects the first disk and enables Start when there is one.
    void RefreshDeviceList();
    // Fills the image list from the catalogue by the USB list switches.
    void FillImageList();
    bool HoldsTasks() const { return m_jobRunning != 0; }

    void StopJobs() override;
    bool WorkersRunning() override;
    // The disk maker's tool runs and copies and the disk tool write the disk:
    // the exit is refused meanwhile. While the maker waits for the image or
    // the extra file nothing is written, and the exit stops the job as it
    // stops a download.
    bool WritesDisk() override { return m_makingDisk != 0 && m_waitingForFile == 0; }
    // The same writes keep a session end waiting.
    const wchar_t* SessionEndBlocker() override;
    // A download the exit stopped before the maker began leaves the progress
    // view for the first; a running maker or tool ends its own way.
    void ResumeAfterRefusedExit() override;

    // 1 device choice, 2 image choice, 3 progress; refresh matters for view 1 only.
    void SwitchView(int view, int refresh);
    // The confirmed disk can be opened for writing and still has a device
    // number: 1 (m_deviceNumber set), else 0.
    int OpenSelectedDevice();
    // The drive letters of the selected disk, or a text saying why there are none.
    CString GetSelectedDeviceText();

    void OnClickedStart();
    void OnClickedShowAllDisks();
    void OnClickedMakeWithImage();
    void OnClickedMakeBootOnly();
    void OnClickedDiskTool();
    void OnClickedVolumeTool();
    // Opens the boot-key help dialog, modal over the page.
    void OnClickedBootKeyHelp();

    // Worker bodies.
    void MakeDisk();
    void RunDiskTool();
    void RunVolumeTool();

    // ---- the queue's host ----
    HWND GetQueueWindow() override { return m_hWnd; }
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
    void OnCandidateReady(const tagDownloadTaskItem& item) override;
    void OnBuildFinished() override;
    void OnCandidateQueued(const tagDownloadTaskItem& item) override;
    void BeforeFirstStep(const CArray<tagDownloadTaskItem>& queue) override;
    BOOL IsRequired(const tagDownloadTaskItem& item) override;
    void OnEntryCurrent(const tagDownloadTaskItem& item) override;
    void OnEntryRetry(const tagDownloadTaskItem&) override {}
    void OnEntryDone(const tagDownloadTaskItem& item) override;
    void OnEntrySkipped(const tagDownloadTaskItem& item) override;
    void OnRequiredFailed(const tagDownloadTaskItem& item, int code) override;
    void OnEngineUnavailable() override;
    void OnRecordBusy() override;
    void OnQueueEnd() override;
    void OnPaused() override {}
    void OnResumed() override {}
    void OnSourceRetry(const tagDownloadTaskItem&) override {}
    void OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& progress) override;
    // The finished text waits for the file's check (OnEntryDone).
    void OnTransferFinished(const tagDownloadTaskItem&, bool) override {}
    void OnCompletionChecked(const tagDownloadTaskItem&) override {}
    void OnVerifyStarted(const tagDownloadTaskItem& item) override;
    void OnCheckProgress(int percent) override;
    void OnCheckEnded() override;
    void SetWorkingView(int) override {}
    void ResetProgress() override {}

    // ---- the writer's view (writer's thread) ----
    void SetStatusText(const wchar_t* text) override;
    void ShowLog(const wchar_t* text) override;
    void SetCopying(BOOL copying, const wchar_t* name) override;

    CUsbDiskInventory m_usbInventory;
    CMyusbListbox m_deviceList;
    CColorText_Static m_deviceLabel;
    CPicStaticCtrl m_emptyPicture;
    CPicStaticCtrl m_sidePicture;
    CxSkinButton m_showAllBox;
    int m_showAllDisks;
    CxSkinButton m_startButton;
    CxSkinButton m_withImageButton;
    CxSkinButton m_bootOnlyButton;
    CxSkinButton m_diskToolButton;
    CxSkinButton m_volumeToolButton;
    CxSkinButton m_helpButton;
    int m_view;  // written on the page's thread only
    int m_chosenImage;
    CMyUsbOsListbox m_imageList;
    CColorText_Static m_statusText;
    CColorText_Static m_statusText2;
    CGIFControl m_busyPicture;
    int m_withImage;
    // Carries the page's BuildTaskQueue, AdvanceTaskQueue, PollDownload, NeedsDownload, VerifyDownloaded, StopTask.
    CDownloadQueue m_queue;
    // The queue's busy flag (0 idle, 1 running).
    std::atomic<int>& m_downloadState;
    int m_deviceNumber;
    // The disk the user confirmed at Yes: its interface path and its name in the warning.
    CString m_confirmedPath;
    CString m_confirmedName;
    // The serial number the confirmed disk answered at Yes (empty: none).
    CString m_confirmedSerial;
    // The writer's job for the confirmed disk.
    UsbWriteJob ConfirmedJob();
    CString m_driveLetter;
    volatile LONG m_makingDisk;
    // 1 while the disk maker waits for a file of the data partition.
    volatile LONG m_waitingForFile;
    // The length the running download of the image (1) or the extra file (2)
    // announced; 0 while none has. The stick must hold it before it is cleaned.
    std::atomic<ULONGLONG> m_announcedBytes[3];
    volatile LONG m_copying;
    CUsbJobEvents m_events;
    CString m_copyName;
    volatile LONG m_jobRunning;

    static unsigned __stdcall MakeDiskThreadProc(void* param);
    static unsigned __stdcall DiskToolThreadProc(void* param);
    static unsigned __stdcall VolumeToolThreadProc(void* param);

protected:
    void OnPaint();
    LRESULT OnTaskStep(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    void SetStatus(CColorText_Static& line, const CString& text);
    // A notice shown on the page's thread.
    void Notice(int flags, const CString& text, int seconds);
    // Asks the erase question naming the selected disk (no question when it
    // is null) and runs the disk checks; on Yes the disk's identity is kept.
    // FALSE: nothing to do.
    BOOL ConfirmSelectedDisk(const wchar_t* question);
    // A job that failed stops its download, not the job itself: a tool it
    // left running is still waited for before the job reports its end.
    void StopQueueOnly();
    // Starts a tool worker on the confirmed disk, with fresh job events.
    void StartTool(unsigned(__stdcall* proc)(void*));
    // Starts a job with or without the image: the queue builds, the maker follows.
    void StartJob(int withImage);
    // Starts the disk maker once per job (the queue's step or its end).
    void StartMaker();
    // A worker ends: its notice, view 1 again (refreshed unless told
    // otherwise), once no tool the program started still runs.
    void EndWorker(int flags, const CString& notice, int seconds, int refresh = 1);
    // While a tool that outlived its wait (a diskpart still writing, say)
    // runs, the job is not over: waits for it, saying so, with the page in
    // the progress view, the disk maker held and the tabs locked, until it
    // ends. Only the exit's stop ends the wait early: nothing of ours writes
    // meanwhile, so the exit asks and stops as for a download; the tool
    // itself is then the exit's to wait for, and no restart comes while it runs.
    void WaitForLeftTools();
    void ShowViewControls(int view, int show);
    // Start and the two tool buttons: enabled only while a disk is chosen.
    void EnableDiskButtons(BOOL enable);
    // The files of the data partition in the order they are waited for and
    // copied: the chosen image, then the extra file when it is configured.
    struct DataFileStep {
        const wchar_t* waiting;
        const wchar_t* copying;
        const COnlinefileinfo* record;
        const wchar_t* folder;
        bool image;
    };
    std::vector<DataFileStep> DataFileSteps();
    HANDLE m_makerThread;
    HANDLE m_toolThread;
};
