// Step 1 of the install flow: the system check page. As soon as its window
// exists it starts the check on a worker thread; nine fact rows, a progress
// bar, a busy animation and two status lines show how it goes. Next goes on
// to the backup page, or to the USB page when only a USB disk can be made.
#pragma once

#include <functional>

#include "controls/color_text.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "pages/flow_page.h"
#include "pages/info_row.h"

#define IDD_OSINFO 130
#define IDC_RECHECK 10108
#define IDC_CHECK_STATUS 10110
#define IDC_CHECK_RESULT 10111
#define IDC_CHECK_PROGRESS 1018
#define IDC_CHECK_LABEL_FIRST 10120
#define IDC_CHECK_VALUE_FIRST 10140

class COsinfoDlg : public CFlowPage {
public:
    enum { kRows = 9, kFolderRow = 7 };
    // The colours of a row and of the status lines; red marks a failure.
    static constexpr COLORREF kRowColor = 0x212121;
    static constexpr COLORREF kLineColor = 0x333333;
    static constexpr COLORREF kFailColor = 0x0000FF;

    COsinfoDlg(CWnd* pParent = nullptr);
    ~COsinfoDlg() override;

    BOOL OnInitDialog() override;

    static unsigned __stdcall CheckSystemThreadProc(void* page);
    // The check itself, on its worker thread.
    void CheckSystem();

    // Starts a check run on a new worker thread (the page's set-up and Re-check).
    void StartCheck();
    void StopJobs() override;
    bool WorkersRunning() override;
    // The stop request is taken back: a worker that has not yet stopped
    // goes on; one that has stopped has ended its way (Re-check offered).
    void ResumeAfterRefusedExit() override { InterlockedExchange(&m_stopRequested, 0); }

    HANDLE m_checkSystemThread;
    CxSkinButton m_recheckButton;
    CGIFControl m_busyAnimation;
    CxSkinButton m_nextButton;
    CColorText_Static m_statusText;
    CColorText_Static m_resultText;
    CMyProgressCtrl m_checkProgress;
    InfoRow m_valueRows[kRows];
    InfoRow m_labelRows[kRows];
    CGIFControl m_rowSpinners[kRows];
    volatile LONG m_prepareOnNext;
    // Set by the exit path: the worker stops between rows.
    volatile LONG m_stopRequested;

    // What the last run did, for tests and for the main window.
    CHyperLink* FolderLink() { return static_cast<CHyperLink*>(m_valueRows[kFolderRow].control); }

protected:
    void OnClickedRecheck();
    void OnClickedNext();
    DECLARE_MESSAGE_MAP()

private:
    void SetRowText(int row, const CString& text);
    void SetRowColor(int row, COLORREF color);
    void StartRow(int row);
    void EndRow(int row, bool ok, int progress);
    void SetProgress(int position);
    void SetResult(const CString& text, COLORREF color);
    void EnableNext(BOOL enable);
    LRESULT SendToMain(UINT message, WPARAM wParam, LPARAM lParam);
    void PostToMain(UINT message, WPARAM wParam, LPARAM lParam);
    bool Stopping() const { return m_stopRequested != 0; }
    // The end of a run the exit stopped: the animation stops and Re-check is offered.
    void EndStoppedCheck();
    COLORREF m_folderLinkColor;  // the folder link's own colour, restored by each run
    HWND m_mainWindow;
};
