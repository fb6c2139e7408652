// The main window: a fixed 920 x 580 frame drawn from skin pictures, with a
// header (picture, three small buttons, the tab buttons) and, below it, one
// of eight modeless child pages of 920 x 460. It handles the messages the
// pages, their workers, the shell and a second copy of the program send.
#pragma once

#include <windows.h>
#include <dbt.h>

#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "pages/page_dialog.h"
#include "resources/resource_ids.h"

class COsinfoDlg;
class CbackupDlg;
class COsSelectDlg;
class COsDownloadDlg;
class CRebootDlg;
class CUsbMaker;
class CGhostDlg;
class CManualDlg;

#define IDC_HEADER_PICTURE 10100
#define IDC_CLOSE_BUTTON 10101
#define IDC_TRAY_BUTTON 10102
#define IDC_LINK_BUTTON 10103
#define IDC_INSTALL_TAB 10104
#define IDC_USB_TAB 10105
#define IDC_BACKUP_TAB 10106
#define IDC_PICTURE_TAB 10107
#define IDC_WEB_TAB 10108
#define ID_TRAY_RESTORE 11
#define ID_TRAY_EXIT 13
#define TRAY_ICON_ID 128

class CTarvelDlg : public CPageDialog {
public:
    CTarvelDlg(CWnd* pParent = nullptr);
    ~CTarvelDlg() override;

    // The running main window, or null.
    static CTarvelDlg* FromApp();

    BOOL OnInitDialog() override;
    // Every way out comes here: the job that writes a disk keeps the window
    // open; otherwise every page's jobs stop and their workers are waited for.
    void OnCancel() override;
    void OnOK() override;

    void SwitchTab(int tabId);
    void ShowPage(CWnd* page);
    void ConfirmExit();
    void PrepareBackupTarget();
    void RestoreFromTray();

    // The single-instance hand-shake.
    LRESULT OnActivateInstance(WPARAM wParam, LPARAM lParam);

    // Whether a page's download tasks point into the catalogue (a new check
    // would rebuild it under them).
    bool CatalogueInUse();
    // Whether a page's download tasks are held (running, paused, or a job that waits for them).
    bool CatalogueTasksHeld();
    // Whether a worker of a page that reads the catalogue still runs, its
    // tasks stopped or not: a queue's builder or poller (its digest may still
    // be writing into a record), the USB page's disk maker, the
    // backup/restore page's finishing worker.
    bool CatalogueWorkersRunning();
    // Empties every list that points into the catalogue (the picker's three
    // lists, the USB page's image list): a check rebuilds the catalogue, and
    // only a full result fills them again.
    void ForgetCatalogueLists();
    // Waits, pumping messages, until no page's worker runs or `ms` passes;
    // true when none runs.
    bool WaitForWorkers(DWORD ms);
    // Whether a job of any page writes a disk or boot partitions now.
    bool AnyPageWritesDisk();
    // Waits, pumping messages, while a job of any page writes a disk, at
    // most `ms`; true when none does.
    bool WaitForDiskJobs(DWORD ms);
    // The reason a session end waits for now: the first page step that must
    // not be cut (the boot setup, the user backup, a disk write), else a tool
    // the program started that still runs; null when nothing blocks, and
    // while our own restart request is under way.
    const wchar_t* SessionEndBlocker();
    // Registers that reason with Windows on this window's thread, replaces
    // it, or withdraws it, as SessionEndBlocker says now.
    void UpdateSessionEndBlock();
    // The reason registered now (empty: none).
    CString m_sessionBlockReason;
    // How long a forced session end waits for the worker that arms the next
    // boot before it undoes what was armed.
    DWORD m_forcedEndWaitMs;
    // How long an exit waits for the workers it stopped.
    DWORD m_exitWaitMs;
    // After Windows took the restart request: how long the window waits for
    // the session to end before it takes the restart as not happening.
    DWORD m_restartEndWaitMs;
    // The page windows in the order of the member table.
    CPageDialog* PageAt(int index) const;
    static const int kPageCount = 8;

    CxSkinButton m_installTab;
    CxSkinButton m_usbTab;
    CxSkinButton m_backupTab;
    CxSkinButton m_pictureTab;
    CxSkinButton m_trayButton;
    CxSkinButton m_closeButton;
    CxSkinButton m_linkButton;
    CxSkinButton m_webTab;
    COsinfoDlg* m_osinfoPage;
    CbackupDlg* m_backupPage;
    COsSelectDlg* m_selectPage;
    COsDownloadDlg* m_downloadPage;
    CRebootDlg* m_rebootPage;
    CUsbMaker* m_usbPage;
    CGhostDlg* m_ghostPage;
    CManualDlg* m_manualPage;
    CWnd* m_shownPage;
    CWnd* m_flowPage;
    HICON m_hIcon;
    int m_currentTabId;
    CPicStaticCtrl m_headerPicture;
    int m_inTray;
    HDEVNOTIFY m_deviceNotifications[2];
    // Set when a worker outlived the exit's wait: the pages are then left in
    // memory rather than freed under it.
    bool m_keepPagesAlive;

protected:
    void OnPaint();
    void OnDestroy();
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnRButtonDblClk(UINT nFlags, CPoint point);
    BOOL OnDeviceChange(UINT nEventType, DWORD_PTR dwData);
    void OnClickedInstallTab();
    void OnClickedUsbTab();
    void OnClickedBackupTab();
    void OnClickedPictureTab();
    void OnClickedClose();
    void OnClickedTray();
    void OnClickedHeaderLink();
    void OnClickedWebTab();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnPageNavigate(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryBackupChoice(WPARAM wParam, LPARAM lParam);
    LRESULT OnTabButtonControl(WPARAM wParam, LPARAM lParam);
    LRESULT OnCopyProgram(WPARAM wParam, LPARAM lParam);
    LRESULT OnVersionUpdate(WPARAM wParam, LPARAM lParam);
    LRESULT OnUsbRefresh(WPARAM wParam, LPARAM lParam);
    LRESULT OnListsRefresh(WPARAM wParam, LPARAM lParam);
    LRESULT OnBackupDefaultPath(WPARAM wParam, LPARAM lParam);
    LRESULT OnRequestReboot(WPARAM wParam, LPARAM lParam);
    LRESULT OnRestartNow(WPARAM wParam, LPARAM lParam);
    // The session end: refused while a step must not be cut; a forced end
    // while the next boot is being armed undoes it first.
    LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT OnSessionStep(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    DECLARE_MESSAGE_MAP()

private:
    void CreateFrameButton(CxSkinButton& button, const wchar_t* const* pictures, LPCWSTR caption, DWORD style,
                           const RECT& rect, UINT id);
    void FillTrayIconData(NOTIFYICONDATAW& data);
    // Ends the window with `result` once nothing forbids it (see OnCancel).
    void EndMainWindow(int result);
    // Tells why the exit cannot be now (a disk or boot write runs); true then.
    bool RefuseExitForDiskJob();
    // Every page goes on after a refused exit.
    void ResumePagesAfterRefusedExit();
    bool m_ending;
};
