// The base of the main window and of its eight pages: the key filter they
// share (Enter and Escape never end the main window or a page) and the
// questions the main window asks of a page before the program ends.
#pragma once

#include <functional>

#include "winlib/winlib.h"

class CPageDialog : public CDialogEx {
public:
    CPageDialog(UINT nIDTemplate, CWnd* pParent = nullptr) : CDialogEx(nIDTemplate, pParent) {}

    // Swallows the key-down of Enter and Escape; everything else goes on.
    BOOL PreTranslateMessage(MSG* pMsg) override;
    static bool IsSwallowedKey(const MSG* pMsg);

    // Asks every job of the page to stop (the exit path); returns at once.
    virtual void StopJobs() {}
    // Whether a worker thread of the page is still running.
    virtual bool WorkersRunning() { return false; }
    // Whether a running job writes a disk or boot partitions: such a job is
    // never cut short by an exit.
    virtual bool WritesDisk() { return false; }
};

// Whether a thread handle names a thread that is still running.
bool ThreadStillRunning(HANDLE thread);

// Runs `call` on the thread of the page window: at once on that thread, else
// through WM_PAGE_UI_CALL sent to the page (the caller waits). Nothing when
// the window is gone.
void RunOnPageThread(HWND page, const std::function<void()>& call);
// The page's WM_PAGE_UI_CALL handler body.
LRESULT RunPageUiCall(LPARAM lParam);
