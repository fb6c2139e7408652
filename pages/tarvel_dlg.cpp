#include "pages/tarvel_dlg.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/folder_rule.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/shell_calls.h"
#include "core/skin.h"
#include "core/tarvel_app.h"
#include "core/text_utils.h"
#include "disk/disk_calls.h"
#include "pages/backup_dlg.h"
#include "pages/flow_page.h"
#include "pages/ghost_dlg.h"
#include "pages/manual_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/os_select_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/usb_maker.h"

namespace {
// The main window's copy of the hand-shake message id.
const UINT s_activateInstanceMessage = RegisterActivateInstanceMessage();

// The timer that looks again at a blocked session end (a tool that outlived
// its wait ends without telling anyone).
const UINT_PTR kSessionBlockTimer = 0x5E55;

const GUID kUsbDeviceInterface = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// Pumps the calling thread's messages for at most `ms` milliseconds.
void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}
}  // namespace

BEGIN_MESSAGE_MAP(CTarvelDlg, CPageDialog)
    ON_WM_PAINT()
    ON_WM_DESTROY()
    ON_WM_LBUTTONDOWN()
    ON_WM_RBUTTONDBLCLK()
    ON_WM_DEVICECHANGE()
    ON_BN_CLICKED(IDC_INSTALL_TAB, OnClickedInstallTab)
    ON_BN_CLICKED(IDC_USB_TAB, OnClickedUsbTab)
    ON_BN_CLICKED(IDC_BACKUP_TAB, OnClickedBackupTab)
    ON_BN_CLICKED(IDC_PICTURE_TAB, OnClickedPictureTab)
    ON_BN_CLICKED(IDC_CLOSE_BUTTON, OnClickedClose)
    ON_BN_CLICKED(IDC_TRAY_BUTTON, OnClickedTray)
    ON_BN_CLICKED(IDC_LINK_BUTTON, OnClickedHeaderLink)
    ON_BN_CLICKED(IDC_WEB_TAB, OnClickedWebTab)
    ON_MESSAGE(WM_TRAYICON_NOTIFY, OnTrayNotify)
    ON_MESSAGE(WM_PAGE_NAVIGATE, OnPageNavigate)
    ON_MESSAGE(WM_GET_BACKUP_CHOICE, OnQueryBackupChoice)
    ON_MESSAGE(WM_TAB_BUTTON_CONTROL, OnTabButtonControl)
    ON_MESSAGE(WM_COPY_PROGRAM, OnCopyProgram)
    ON_MESSAGE(WM_VERSION_UPDATE, OnVersionUpdate)
    ON_MESSAGE(WM_USB_REFRESH, OnUsbRefresh)
    ON_MESSAGE(WM_LISTS_REFRESH, OnListsRefresh)
    ON_MESSAGE(WM_BACKUP_DEFAULT_PATH, OnBackupDefaultPath)
    ON_MESSAGE(WM_REQUEST_REBOOT, OnRequestReboot)
    ON_MESSAGE(WM_RESTART_NOW, OnRestartNow)
    ON_MESSAGE(WM_QUERYENDSESSION, OnQueryEndSession)
    ON_MESSAGE(WM_ENDSESSION, OnEndSession)
    ON_MESSAGE(WM_SESSION_STEP, OnSessionStep)
    ON_WM_TIMER()
    ON_REGISTERED_MESSAGE(s_activateInstanceMessage, OnActivateInstance)
END_MESSAGE_MAP()

CTarvelDlg::CTarvelDlg(CWnd* pParent)
    : CPageDialog(IDD_TARVEL_DIALOG, pParent),
      m_shownPage(nullptr),
      m_flowPage(nullptr),
      m_currentTabId(IDC_INSTALL_TAB),
      m_inTray(0),
      m_deviceNotifications{nullptr, nullptr},
      m_keepPagesAlive(false),
      m_exitWaitMs(FixedText::kExitWorkerWaitMs),
      m_restartEndWaitMs(FixedText::kRestartEndWaitMs),
      m_forcedEndWaitMs(FixedText::kForcedEndArmingWaitMs),
      m_ending(false) {
    m_hIcon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    m_keepPosition = true;  // the frame sits at the screen's top left corner
    m_osinfoPage = new COsinfoDlg;
    m_usbPage = new CUsbMaker;
    m_ghostPage = new CGhostDlg;
    m_manualPage = new CManualDlg;
    m_backupPage = new CbackupDlg;
    m_selectPage = new COsSelectDlg;
    m_downloadPage = new COsDownloadDlg;
    m_rebootPage = new CRebootDlg;
    m_flowPage = m_osinfoPage;
}

CTarvelDlg::~CTarvelDlg() {
    if (m_keepPagesAlive) return;  // a worker still uses them; the process is about to end
    CPageDialog* pages[kPageCount] = {m_osinfoPage, m_backupPage, m_selectPage, m_downloadPage,
                                      m_rebootPage,  m_usbPage,    m_ghostPage,  m_manualPage};
    for (CPageDialog* page : pages) delete page;
}

CTarvelDlg* CTarvelDlg::FromApp() {
    CWinApp* app = AfxGetApp();
    return app ? dynamic_cast<CTarvelDlg*>(app->m_pMainWnd) : nullptr;
}

CPageDialog* CTarvelDlg::PageAt(int index) const {
    CPageDialog* pages[kPageCount] = {m_osinfoPage, m_usbPage,      m_ghostPage,    m_manualPage,
                                      m_backupPage, m_selectPage,   m_downloadPage, m_rebootPage};
    return index >= 0 && index < kPageCount ? pages[index] : nullptr;
}

void CTarvelDlg::CreateFrameButton(CxSkinButton& button, const wchar_t* const* pictures, LPCWSTR caption,
                                   DWORD style, const RECT& rect, UINT id) {
    button.SetSkin(pictures[0], pictures[1], pictures[2], FixedText::kSkinFrameDisabled);
    button.Create(caption, style, rect, this, id);
}

BOOL CTarvelDlg::OnInitDialog() {
    CPageDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    const GUID* classes[2] = {&kUsbDeviceInterface, &kDiskInterface};
    for (int i = 0; i < 2; ++i) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = 0x20;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = *classes[i];
        m_deviceNotifications[i] = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }

    MoveWindow(0, 0, 920, 580, TRUE);

    m_headerPicture.Create(FixedText::kHeaderCaption, WS_CHILD | WS_VISIBLE, CRect(0, 0, 920, 120), this,
                           IDC_HEADER_PICTURE);
    LoadPicture(m_headerPicture, FixedText::kSkinHeader);
    m_headerPicture.EnableWindow(FALSE);  // the frame itself takes the mouse over the header

    const wchar_t* tray[3] = {FixedText::kSkinTrayNormal, FixedText::kSkinTrayDown, FixedText::kSkinTrayHover};
    const wchar_t* close[3] = {FixedText::kSkinCloseNormal, FixedText::kSkinCloseDown, FixedText::kSkinCloseHover};
    const wchar_t* link[3] = {FixedText::kSkinLinkNormal, FixedText::kSkinLinkDown, FixedText::kSkinLinkHover};
    CreateFrameButton(m_trayButton, tray, FixedText::kTrayCaption, WS_CHILD | WS_VISIBLE, CRect(860, 0, 890, 26),
                      IDC_TRAY_BUTTON);
    CreateFrameButton(m_closeButton, close, FixedText::kCloseCaption, WS_CHILD | WS_VISIBLE, CRect(890, 0, 920, 26),
                      IDC_CLOSE_BUTTON);
    CreateFrameButton(m_linkButton, link, FixedText::kLinkCaption, WS_CHILD | WS_VISIBLE, CRect(782, 0, 860, 26),
                      IDC_LINK_BUTTON);

    CreateFrameButton(m_installTab, FixedText::kSkinTabInstall, FixedText::kTabInstallCaption,
                      WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(10, 39, 136, 115), IDC_INSTALL_TAB);
    m_installTab.SendMessage(BM_SETCHECK, 1);
    m_currentTabId = IDC_INSTALL_TAB;
    m_flowPage = m_osinfoPage;
    CreateFrameButton(m_usbTab, FixedText::kSkinTabUsb, FixedText::kTabUsbCaption,
                      WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(136, 39, 262, 115), IDC_USB_TAB);
    CreateFrameButton(m_backupTab, FixedText::kSkinTabBackup, FixedText::kTabBackupCaption,
                      WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(262, 39, 388, 115), IDC_BACKUP_TAB);
    m_backupTab.ShowWindow(SW_HIDE);
    CreateFrameButton(m_pictureTab, FixedText::kSkinTabPicture, FixedText::kTabPictureCaption,
                      WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(262, 39, 388, 115), IDC_PICTURE_TAB);
    CreateFrameButton(m_webTab, FixedText::kSkinTabWeb, FixedText::kTabWebCaption, WS_CHILD | WS_VISIBLE,
                      CRect(262, 39, 388, 115), IDC_WEB_TAB);
    m_webTab.ShowWindow(SW_HIDE);

    const UINT ids[kPageCount] = {IDD_OSINFO, IDD_BACKUP, IDD_OSSELECT, IDD_OS_DOWNLOAD,
                                  IDD_REBOOT, IDD_USB_MAKER, IDD_GHOST, IDD_MANUAL};
    CPageDialog* inCreationOrder[kPageCount] = {m_osinfoPage, m_backupPage, m_selectPage, m_downloadPage,
                                                m_rebootPage, m_usbPage,    m_ghostPage,  m_manualPage};
    for (int i = 0; i < kPageCount; ++i) {
        inCreationOrder[i]->Create(ids[i], this);
        // The page's control id is its dialog id, so that it can be found by id.
        ::SetWindowLongPtrW(inCreationOrder[i]->GetSafeHwnd(), GWLP_ID, static_cast<LONG_PTR>(ids[i]));
    }

    CRect client;
    GetClientRect(&client);
    client.top += 120;
    for (int i = 0; i < kPageCount; ++i) {
        CPageDialog* page = PageAt(i);
        if (page->GetSafeHwnd())
            page->SetWindowPos(nullptr, client.left, client.top, client.Width(), client.Height(), SWP_NOZORDER);
    }

    if (!m_shownPage && m_flowPage && m_flowPage->GetSafeHwnd()) {
        m_flowPage->ShowWindow(SW_SHOW);
        m_flowPage->SetFocus();
        m_shownPage = m_flowPage;
    }
    return TRUE;
}

void CTarvelDlg::ShowPage(CWnd* page) {
    if (!page || page == m_shownPage) return;
    if (m_shownPage) m_shownPage->ShowWindow(SW_HIDE);
    page->ShowWindow(SW_SHOW);
    page->SetFocus();
    m_shownPage = page;
}

void CTarvelDlg::SwitchTab(int tabId) {
    if (tabId == m_currentTabId) return;
    const wchar_t* notice = nullptr;
    if (m_currentTabId == IDC_INSTALL_TAB && m_downloadPage->m_downloadState == 1)
        notice = FixedText::kNoticeDownloadRunning;
    else if (m_currentTabId == IDC_USB_TAB && m_usbPage->m_jobRunning)
        notice = FixedText::kNoticeUsbJobRunning;
    else if (m_currentTabId == IDC_BACKUP_TAB && m_ghostPage->m_jobRunning)
        notice = FixedText::kNoticeBackupJobRunning;
    // The restart worker copies, writes the boot partitions and ends the
    // program: no job of another tab may begin under it.
    else if (m_currentTabId == IDC_INSTALL_TAB && m_rebootPage->WorkersRunning())
        notice = FixedText::kNoticeRestartRunning;
    if (notice) {
        CWnd* current = GetDlgItem(m_currentTabId);
        current->SendMessage(BM_SETCHECK, 1);
        MyMessageBox(MB_ICONINFORMATION, TRUE, notice, 3);
        current = GetDlgItem(m_currentTabId);
        if (current) current->SendMessage(BM_SETCHECK, 1);
        return;
    }
    CWnd* page = nullptr;
    switch (tabId) {
    case IDC_INSTALL_TAB: page = m_flowPage; break;
    case IDC_USB_TAB: page = m_usbPage; break;
    case IDC_BACKUP_TAB: page = m_ghostPage; break;
    case IDC_PICTURE_TAB: page = m_manualPage; break;
    default: return;
    }
    if (m_shownPage) m_shownPage->ShowWindow(SW_HIDE);
    page->ShowWindow(SW_SHOW);
    page->SetFocus();
    m_shownPage = page;
    m_currentTabId = tabId;
}

void CTarvelDlg::OnClickedInstallTab() { SwitchTab(IDC_INSTALL_TAB); }
void CTarvelDlg::OnClickedUsbTab() { SwitchTab(IDC_USB_TAB); }
void CTarvelDlg::OnClickedBackupTab() { SwitchTab(IDC_BACKUP_TAB); }
void CTarvelDlg::OnClickedPictureTab() { SwitchTab(IDC_PICTURE_TAB); }
void CTarvelDlg::OnClickedClose() { ConfirmExit(); }

void CTarvelDlg::OnClickedHeaderLink() {
    CTarvelApp* app = GetTarvelApp();
    if (app) OpenWebPage(app->m_headerLinkTarget);
}

void CTarvelDlg::OnClickedWebTab() {
    CTarvelApp* app = GetTarvelApp();
    if (app) OpenWebPage(app->m_webLinkTarget);
}

// ---- notification-area icon ----

void CTarvelDlg::FillTrayIconData(NOTIFYICONDATAW& data) {
    data = NOTIFYICONDATAW();
    data.cbSize = 956;  // the version-2 structure: every Windows since Vista takes it
    data.hWnd = m_hWnd;
    data.uID = TRAY_ICON_ID;
}

void CTarvelDlg::OnClickedTray() {
    if (m_inTray) return;
    NOTIFYICONDATAW data;
    FillTrayIconData(data);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON_NOTIFY;
    data.hIcon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    wcsncpy(data.szTip, FixedText::kTrayTooltip, 127);
    CurrentShellCalls().NotifyIcon(NIM_ADD, &data);
    ShowWindow(SW_HIDE);
    m_inTray = 1;
}

void CTarvelDlg::RestoreFromTray() {
    ShowWindow(SW_SHOW);
    SetForegroundWindow();
    if (!m_inTray) return;
    NOTIFYICONDATAW data;
    FillTrayIconData(data);
    CurrentShellCalls().NotifyIcon(NIM_DELETE, &data);
    m_inTray = 0;
}

LRESULT CTarvelDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
    if (wParam != TRAY_ICON_ID) return 1;
    if (lParam == WM_LBUTTONUP) {
        RestoreFromTray();
    } else if (lParam == WM_RBUTTONUP) {
        POINT cursor;
        GetCursorPos(&cursor);
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, ID_TRAY_RESTORE, FixedText::kTrayMenuRestore);
        AppendMenuW(menu, MF_STRING, ID_TRAY_EXIT, FixedText::kTrayMenuExit);
        SetForegroundWindow();
        int command = TrackPopupMenu(menu, TPM_RETURNCMD, cursor.x, cursor.y, 0, m_hWnd, nullptr);
        DestroyMenu(menu);
        if (command == ID_TRAY_RESTORE) {
            ShowWindow(SW_SHOW);
            SetForegroundWindow();
            RestoreFromTray();
        } else if (command == ID_TRAY_EXIT) {
            ConfirmExit();
        }
    }
    return 0;
}

// ---- painting and mouse ----

void CTarvelDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        CRect rect;
        GetClientRect(&rect);
        int x = (rect.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (rect.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
        return;
    }
    Default();
}

void CTarvelDlg::OnLButtonDown(UINT nFlags, CPoint point) {
    CPageDialog::OnLButtonDown(nFlags, point);
    PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
}

void CTarvelDlg::OnRButtonDblClk(UINT nFlags, CPoint point) {
    RECT debugArea = {850, 40, 910, 100};
    CTarvelApp* app = GetTarvelApp();
    if (app && PtInRect(&debugArea, point)) {
        app->m_debugMode = app->m_debugMode ? 0 : 1;
        MyMessageBox(MB_ICONINFORMATION, FALSE, app->m_debugMode ? FixedText::kDebugOnText : FixedText::kDebugOffText,
                     0);
    }
    CPageDialog::OnRButtonDblClk(nFlags, point);
}

// ---- messages of the pages and their workers ----

LRESULT CTarvelDlg::OnPageNavigate(WPARAM wParam, LPARAM lParam) {
    CWnd* flow[5] = {m_osinfoPage, m_backupPage, m_selectPage, m_downloadPage, m_rebootPage};
    const UINT ids[5] = {IDD_OSINFO, IDD_BACKUP, IDD_OSSELECT, IDD_OS_DOWNLOAD, IDD_REBOOT};
    int step = -1;
    for (int i = 0; i < 5; ++i)
        if (ids[i] == wParam) step = i;
    if (step < 0) return 0;
    // Only the page shown moves the flow: a page that is no longer shown (a
    // question of it answered late) navigates nowhere.
    if (flow[step] != m_shownPage) return 0;
    int next = lParam ? step + 1 : step - 1;
    if (next < 0 || next > 4) return 0;
    m_flowPage = flow[next];
    ShowPage(m_flowPage);
    return 0;
}

LRESULT CTarvelDlg::OnQueryBackupChoice(WPARAM wParam, LPARAM) {
    if (wParam > 2 || !m_backupPage->GetSafeHwnd()) return 0;
    CWnd* box = m_backupPage->GetDlgItem(IDC_BACKUP_DESKTOP + static_cast<int>(wParam));
    return box ? box->SendMessage(BM_GETCHECK) : 0;
}

LRESULT CTarvelDlg::OnTabButtonControl(WPARAM wParam, LPARAM lParam) {
    if (wParam == 2) {
        if (lParam == 0 || lParam == 1) m_usbTab.EnableWindow(static_cast<BOOL>(lParam));
        else if (lParam == 2) m_usbTab.PostMessage(BM_CLICK);
    } else if (wParam == 3) {
        m_backupTab.EnableWindow(lParam != 0);
    }
    return 0;
}

LRESULT CTarvelDlg::OnCopyProgram(WPARAM, LPARAM) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    CString copy = app->m_dataFolder + FixedText::kProgramCopyFolder + app->m_moduleFileName;
    // A copy kept from an earlier run counts only when the data folder was
    // closed to others all along; otherwise it is made again.
    const bool distrusted = app->m_diskInventory && app->m_diskInventory->m_dataFolderReprotected;
    if (distrusted || !PathFileExistsW(copy)) CopyFileEnsureFolder(app->m_modulePath, copy, FALSE);
    return 0;
}

LRESULT CTarvelDlg::OnVersionUpdate(WPARAM, LPARAM) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    if (CompareVersions(app->m_noticeVersion, app->m_ownVersion) == 1) {
        m_osinfoPage->ShowUpdateLink();
        m_backupPage->ShowUpdateLink();
        m_selectPage->ShowUpdateLink();
        m_downloadPage->ShowUpdateLink();
    }
    if (CompareVersions(app->m_forcedUpdateVersion, app->m_ownVersion) == 1) {
        // A job that writes a disk is never cut: the update waits for the next check.
        if (RefuseExitForDiskJob()) return 0;
        // Stopped as the exit stops it, so that a refused exit lets the page go on.
        if (m_downloadPage->m_downloadState == 1) m_downloadPage->StopJobs();
        MyMessageBox(MB_ICONQUESTION, TRUE, FixedText::kForcedUpdateNotice, 10);
        // Only a web address is opened: the configuration that names it
        // arrives over plain HTTP. The program ends all the same (a page
        // the desktop's shell cannot open is first named in a box).
        OpenWebPage(app->m_updateTarget);
        OnCancel();
    }
    return 0;
}

LRESULT CTarvelDlg::OnUsbRefresh(WPARAM, LPARAM) {
    CTarvelApp* app = GetTarvelApp();
    if (app) app->m_deviceWatchEnabled = 1;
    m_usbPage->RefreshDeviceList();
    return 0;
}

LRESULT CTarvelDlg::OnListsRefresh(WPARAM, LPARAM) {
    m_selectPage->FillLists();
    m_usbPage->FillImageList();
    return 0;
}

LRESULT CTarvelDlg::OnBackupDefaultPath(WPARAM, LPARAM) {
    m_ghostPage->SetDefaultBackupPath();
    return 0;
}

LRESULT CTarvelDlg::OnRequestReboot(WPARAM, LPARAM) {
    // A disk or boot write of any page is never cut by a restart. The sender
    // is told, and says why on its page; it is not deferred, as the USB maker
    // may wait hours for its image. Nor is a tool that outlived its wait:
    // it may still be writing.
    if (m_ending || AnyPageWritesDisk() || RunningToolCount() > 0) return 0;
    CTarvelApp* app = GetTarvelApp();
    if (!app) return 0;
    // No exit and no second request until the restart has come out one way
    // or the other.
    m_ending = true;
    // The other jobs stop now (the sender has finished its own), so that no
    // disk job begins while the window waits for the workers.
    for (int i = 0; i < kPageCount; ++i) PageAt(i)->StopJobs();
    app->m_rebootAtExit = 1;
    // The sender waits in SendMessage: the restart is asked once it has returned.
    PostMessage(WM_RESTART_NOW);
    return kRestartAccepted;
}

LRESULT CTarvelDlg::OnRestartNow(WPARAM, LPARAM) {
    CTarvelApp* app = GetTarvelApp();
    if (!app || !app->m_rebootAtExit) {
        m_ending = false;
        return 0;
    }
    // Asked while this window's loop runs, so that it hears the session end
    // and a refusal or a cancelled end leaves the user here, told, with
    // nothing armed. Never before the workers have ended, and never under a
    // disk write or a tool that still runs.
    EnableWindow(FALSE);  // no clicks while the workers finish and Windows answers
    const bool ready = WaitForWorkers(m_exitWaitMs) && !AnyPageWritesDisk() && RunningToolCount() == 0;
    bool ends = false;
    if (ready) ends = app->RestartOrUndo(m_restartEndWaitMs);
    else app->RestartNotDone();
    EnableWindow(TRUE);
    m_ending = false;
    if (ends) {
        // The session ends: everything stays armed for the boot environment.
        CDialog::EndDialog(IDOK);
        return 0;
    }
    const CString notice = app->m_restartNotice ? app->m_restartNotice : FixedText::kRestartUndoIncompleteNotice;
    app->m_restartNotice = nullptr;
    // The page that asked says so with its way back; the pages the request
    // stopped go on from where they are.
    const bool told = m_rebootPage->ShowRestartNotDone(notice) || m_ghostPage->ShowRestartNotDone(notice);
    ResumePagesAfterRefusedExit();
    if (!told) MyMessageBox(MB_ICONWARNING, FALSE, notice, 0);
    return 0;
}

LRESULT CTarvelDlg::OnActivateInstance(WPARAM, LPARAM) {
    if (m_inTray) {
        RestoreFromTray();
    } else {
        if (IsIconic()) ShowWindow(SW_RESTORE);  // a minimised window comes back too
        SetForegroundWindow();
    }
    return s_activateInstanceMessage;
}

BOOL CTarvelDlg::OnDeviceChange(UINT nEventType, DWORD_PTR dwData) {
    CTarvelApp* app = GetTarvelApp();
    if (!app || !app->m_deviceWatchEnabled) return 0;
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(dwData);
    if (header && (nEventType == DBT_DEVICEARRIVAL || nEventType == DBT_DEVICEREMOVECOMPLETE) &&
        (header->dbch_devicetype == DBT_DEVTYP_VOLUME || header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)) {
        m_usbPage->RefreshDeviceList();
    }
    return TRUE;
}

// ---- the backup folder ----

void CTarvelDlg::PrepareBackupTarget() {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return;
    // The restart worker copies the user's folders there: a folder of ours
    // by the folder rule, never a link or a stranger's folder planted at the
    // name. Without one, nothing is copied (the worker refuses a chosen folder).
    const CString folder = app->m_dataFolder + FixedText::kBackupSubFolder;
    const bool own = EnsureOwnFolder(CurrentBootHost().FolderRule(), folder) != OwnFolder::kFailed;
    app->m_backupFolder = own ? folder : CString();
    CHyperLink& link = m_backupPage->m_folderLink;
    if (!link.GetSafeHwnd()) return;
    link.SetWindowText(CString(FixedText::kBackupFolderLinkPrefix) + app->m_backupFolder);
    link.SetLink(FixedText::kOpenFolderTooltip, app->m_backupFolder, 0);
}

// ---- the ways out ----

bool CTarvelDlg::CatalogueInUse() { return CatalogueTasksHeld() || CatalogueWorkersRunning(); }

bool CTarvelDlg::CatalogueTasksHeld() {
    return m_downloadPage->HoldsTasks() || m_usbPage->HoldsTasks() || m_ghostPage->HoldsTasks();
}

bool CTarvelDlg::CatalogueWorkersRunning() {
    return m_downloadPage->WorkersRunning() || m_usbPage->WorkersRunning() || m_ghostPage->WorkersRunning();
}

void CTarvelDlg::ForgetCatalogueLists() {
    if (m_selectPage) m_selectPage->ClearLists();
    if (m_usbPage) m_usbPage->m_imageList.ForgetItems();
}

void CTarvelDlg::ConfirmExit() {
    // What would refuse the exit is told before the question: a Yes never
    // stops a job for an exit that then does not happen.
    if (RefuseExitForDiskJob()) return;
    const wchar_t* question = FixedText::kExitQuestionPlain;
    if (m_currentTabId == IDC_INSTALL_TAB && m_downloadPage->m_downloadState == 1)
        question = FixedText::kExitQuestionDownload;
    else if (m_currentTabId == IDC_USB_TAB && m_usbPage->m_jobRunning)
        question = FixedText::kExitQuestionUsb;
    else if (m_currentTabId == IDC_BACKUP_TAB && m_ghostPage->m_jobRunning)
        question = FixedText::kExitQuestionBackup;
    if (MyMessageBox(MB_ICONQUESTION | MB_YESNO, FALSE, question, 0) != IDYES) return;
    // The way out stops every page's job (the one the question named among
    // them) once it has looked again at what would refuse it.
    OnCancel();
}

bool CTarvelDlg::AnyPageWritesDisk() {
    for (int i = 0; i < kPageCount; ++i)
        if (PageAt(i)->WritesDisk()) return true;
    return false;
}

bool CTarvelDlg::WaitForDiskJobs(DWORD ms) {
    const DWORD start = GetTickCount();
    while (AnyPageWritesDisk()) {
        if (GetTickCount() - start >= ms) return false;
        PumpFor(50);
    }
    return true;
}

bool CTarvelDlg::RefuseExitForDiskJob() {
    if (!AnyPageWritesDisk()) return false;
    MyMessageBox(MB_ICONWARNING, FALSE, FixedText::kExitRefusedDiskJob, 0);
    return true;
}

void CTarvelDlg::ResumePagesAfterRefusedExit() {
    for (int i = 0; i < kPageCount; ++i) PageAt(i)->ResumeAfterRefusedExit();
}

bool CTarvelDlg::WaitForWorkers(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        bool running = false;
        for (int i = 0; i < kPageCount; ++i)
            if (PageAt(i)->WorkersRunning()) running = true;
        if (!running) return true;
        if (GetTickCount() - start >= ms) return false;
        PumpFor(50);
    }
}

void CTarvelDlg::EndMainWindow(int result) {
    if (m_ending) return;
    if (RefuseExitForDiskJob()) return;
    m_ending = true;
    for (int i = 0; i < kPageCount; ++i) PageAt(i)->StopJobs();
    EnableWindow(FALSE);  // no clicks while the workers finish
    bool ended = WaitForWorkers(m_exitWaitMs);
    EnableWindow(TRUE);
    m_ending = false;
    if (!ended) {
        // The window stays: every page it stopped goes on from where it is.
        ResumePagesAfterRefusedExit();
        MyMessageBox(MB_ICONINFORMATION, FALSE, FixedText::kExitWorkersStillRunning, 0);
        return;
    }
    CDialog::EndDialog(result);
}

void CTarvelDlg::OnCancel() { EndMainWindow(IDCANCEL); }

void CTarvelDlg::OnOK() { EndMainWindow(IDOK); }

// ---- the session end ----

const wchar_t* CTarvelDlg::SessionEndBlocker() {
    CTarvelApp* app = GetTarvelApp();
    // Our own restart is asked only once nothing runs; its end is never refused.
    if (app && app->m_rebootAtExit) return nullptr;
    // Arming the next boot first: the most harmful step to cut.
    for (int i = 0; i < kPageCount; ++i)
        if (PageAt(i)->ArmsNextBoot()) return PageAt(i)->SessionEndBlocker();
    for (int i = 0; i < kPageCount; ++i)
        if (const wchar_t* reason = PageAt(i)->SessionEndBlocker()) return reason;
    if (RunningToolCount() > 0) return FixedText::kSessionBlockTool;
    return nullptr;
}

void CTarvelDlg::UpdateSessionEndBlock() {
    if (!GetSafeHwnd()) return;
    const wchar_t* reason = SessionEndBlocker();
    const CString now = reason ? reason : L"";
    if (now == m_sessionBlockReason) return;
    // On this window's thread: Windows refuses both calls from any other.
    if (reason) CreateShutdownBlockReason(m_hWnd, reason);
    else DestroyShutdownBlockReason(m_hWnd);
    m_sessionBlockReason = now;
    // A tool left running ends without a word: looked at again while blocked.
    if (reason) SetTimer(kSessionBlockTimer, FixedText::kSessionBlockRecheckMs, nullptr);
    else KillTimer(kSessionBlockTimer);
}

LRESULT CTarvelDlg::OnSessionStep(WPARAM, LPARAM) {
    UpdateSessionEndBlock();
    return 0;
}

void CTarvelDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kSessionBlockTimer) UpdateSessionEndBlock();
    else Default();
}

LRESULT CTarvelDlg::OnQueryEndSession(WPARAM, LPARAM) {
    // Answered at once, as Windows asks: a step that must not be cut says no
    // and names itself; the user may still end the session anyway.
    UpdateSessionEndBlock();
    return m_sessionBlockReason.IsEmpty() ? TRUE : FALSE;
}

LRESULT CTarvelDlg::OnEndSession(WPARAM wParam, LPARAM) {
    if (!wParam) {
        // The end was cancelled: the steps go on, the reason stays as it is.
        UpdateSessionEndBlock();
        return 0;
    }
    CTarvelApp* app = GetTarvelApp();
    // The session ends whatever we answered, and the process with it once
    // this returns. Our own restart keeps what it armed; a worker that arms
    // the next boot now would leave it half armed: it stops, and what it
    // armed is undone (the one-time boot sequence first) before we return.
    if (!app || app->m_rebootAtExit) return 0;
    bool arming = false;
    for (int i = 0; i < kPageCount; ++i) arming = arming || PageAt(i)->ArmsNextBoot();
    if (!arming) return 0;
    for (int i = 0; i < kPageCount; ++i) PageAt(i)->StopJobs();
    // The worker cuts no command of the boot setup: it runs it to its end,
    // sees the stop and undoes on its way out. Waited for, pumping (it talks
    // to its page), bounded: the session will not wait long. The undo here
    // finds nothing left then, or what a worker that outlived the wait armed.
    WaitForWorkers(m_forcedEndWaitMs);
    UndoNextBoot(*app);
    return 0;
}

void CTarvelDlg::OnDestroy() {
    KillTimer(kSessionBlockTimer);
    if (!m_sessionBlockReason.IsEmpty()) DestroyShutdownBlockReason(m_hWnd);
    m_sessionBlockReason.Empty();
    for (HDEVNOTIFY& notification : m_deviceNotifications) {
        if (notification) UnregisterDeviceNotification(notification);
        notification = nullptr;
    }
    if (m_inTray) {
        NOTIFYICONDATAW data;
        FillTrayIconData(data);
        CurrentShellCalls().NotifyIcon(NIM_DELETE, &data);
        m_inTray = 0;
    }
    Default();
}
