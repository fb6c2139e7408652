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
    // Why a session end must wait now: the reason text of the page's step
    // that must not be cut (a disk write, the user backup, the boot setup),
    // or null. Whoever begins or ends such a step says so (TellSessionStep).
    virtual const wchar_t* SessionEndBlocker() { return nullptr; }
    // Whether the page's worker arms the next boot now (from the boot setup
    // until the restart request is answered): a session end that comes
    // anyway must undo what it armed.
    virtual bool ArmsNextBoot() { return false; }
    // The exit asked the page to stop and was then refused (a worker did not
    // end in time): the page clears its stop request, or lets its stopped job
    // end its way, so that it can go on.
    virtual void ResumeAfterRefusedExit() {}

    // Runs `call` on the page window's own thread and returns once it ran (a
    // worker's way to the page's controls: on Windows, timers and control
    // changes belong to the window's thread). Nothing when the window is gone.
    void RunOnPage(const std::function<void()>& call);

protected:
    LRESULT OnPageUiCall(WPARAM, LPARAM lParam);
    DECLARE_MESSAGE_MAP()
};

// Sets a page's step flag (see SessionEndBlocker) and tells the main window.
void SetSessionStep(volatile LONG& flag, LONG value);

// Whether a thread handle names a thread that is still running.
bool ThreadStillRunning(HANDLE thread);

