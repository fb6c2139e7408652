// The window messages between the program's own windows.
#pragma once

#include <windows.h>

// Notification-area icon callback (icon id 128).
#define WM_TRAYICON_NOTIFY (WM_USER + 1)
// An install-flow page asks to move: wParam its dialog id, lParam nonzero next, 0 back.
#define WM_PAGE_NAVIGATE (WM_USER + 2)
// The restart worker asks for a backup choice: wParam 0 desktop, 1 documents,
// 2 favorites; the result is the check box's state.
#define WM_GET_BACKUP_CHOICE (WM_USER + 3)
// Tab button control: wParam 2 USB tab (lParam 0 disable, 1 enable, 2 click),
// wParam 3 backup/restore tab (lParam 0 disable, else enable).
#define WM_TAB_BUTTON_CONTROL (WM_USER + 4)
// Copy the program into the data folder when the copy is missing.
#define WM_COPY_PROGRAM (WM_USER + 5)
// Compare the configured versions with the program's own.
#define WM_VERSION_UPDATE (WM_USER + 6)
// Start device-change handling and refresh the USB disk list.
#define WM_USB_REFRESH (WM_USER + 7)
// Fill the picker and USB image lists.
#define WM_LISTS_REFRESH (WM_USER + 8)
// Take the restart: the main window stops every page's job and, once the
// sender has returned, asks Windows for the restart while its own loop runs
// (WM_RESTART_NOW). The result is kRestartAccepted only when the request was
// taken; anything else (a refusal, a window that is gone) means no restart.
// A restart that then does not happen is undone by the main window, which
// tells the page that asked (ShowRestartNotDone).
#define WM_REQUEST_REBOOT (WM_USER + 0x15)
const LRESULT kRestartAccepted = 0x4B52;
// The main window to itself, posted once it took a restart request.
#define WM_RESTART_NOW (WM_USER + 0x16)
// Posted to the main window by whatever begins or ends a step that a
// session end must not cut (a tool run, a disk write, the user backup, the
// boot setup): it looks again at what blocks the session end and registers
// or withdraws its reason on its own thread (TellSessionStep).
#define WM_SESSION_STEP (WM_USER + 0x17)
// A downloading page to itself: run the next queue step.
#define WM_TASK_STEP (WM_USER + 200)
// A skinned radio button to the other buttons of its group: uncheck yourself.
#define WM_RADIO_UNCHECK (WM_USER + 0x100)
// A thread other than the animated picture's own asks it to play (wParam 0)
// or to stop (wParam 1, lParam the still picture to show); sent, so the
// caller returns once the window's thread has done it.
#define WM_GIF_CONTROL (WM_USER + 0x101)
// A page's worker asks the page's own thread to run a call (lParam points to
// a std::function<void()>); sent, so the worker waits for it.
#define WM_PAGE_UI_CALL (WM_USER + 0x102)
// Ask the image backup/restore page to set its default backup path (nothing sends it today).
#define WM_BACKUP_DEFAULT_PATH (WM_USER + 9)

// The registered message of the single-instance hand-shake; every unit that
// handles it registers it under the single-instance name.
UINT RegisterActivateInstanceMessage();
