// The main window: navigation between the install pages, the tab rule, the
// messages of the workers, device changes, the version check, the
// notification-area icon, the hand-shake with a second copy and the ways out.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "../controls/controls_test_support.h"
#include "core/down_wrapper.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "core/fixed_texts.h"
#include "core/folder_rule.h"
#include "disk/disk_calls.h"
#include "pages/backup_dlg.h"
#include "pages/ghost_dlg.h"
#include "pages/os_download_dlg.h"
#include "pages/os_select_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages/reboot_dlg.h"
#include "pages/usb_maker.h"
#include "pages_test_support.h"
#include "support/boot_store_model.h"
#include "support/fake_machine.h"
#include "support/scripted_power.h"
#include "support/temp_folder.h"
#include "support/test_files.h"

namespace {

class MainWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window.Create());
        ASSERT_TRUE(window.WaitForCheck());
        Pump(100);
        TestMachine().shell = ShellRecorder();
    }
    CTarvelDlg& dlg() { return *window.dlg; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return dlg().SendMessage(message, wParam, lParam); }
    MainWindowFixture window;
};

TEST_F(MainWindow, FrameAndPagesAreLaidOut) {
    CRect frame;
    dlg().GetWindowRect(&frame);
    EXPECT_EQ(0, frame.left);
    EXPECT_EQ(0, frame.top);
    EXPECT_EQ(920, frame.Width());
    EXPECT_EQ(580, frame.Height());
    EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId);
    EXPECT_EQ(dlg().m_osinfoPage, dlg().m_shownPage);
    const UINT ids[] = {130, 131, 132, 133, 134, 135, 136, 137};
    for (UINT id : ids) {
        HWND page = ::GetDlgItem(dlg().GetSafeHwnd(), id);
        ASSERT_TRUE(page != nullptr) << id;
        RECT r;
        ::GetWindowRect(page, &r);
        EXPECT_EQ(920, r.right - r.left) << id;
        EXPECT_EQ(460, r.bottom - r.top) << id;
        EXPECT_EQ(120, r.top - frame.top) << id;
    }
    EXPECT_FALSE(dlg().m_backupTab.IsWindowVisible());
    EXPECT_FALSE(dlg().m_webTab.IsWindowVisible());
    EXPECT_TRUE(dlg().m_pictureTab.IsWindowVisible());
}

TEST_F(MainWindow, NavigatesTheInstallPagesOnly) {
    struct Case {
        WPARAM sender;
        LPARAM forward;
        CWnd* expected;  // null: unchanged
    };
    CWnd* first = dlg().m_osinfoPage;
    const Case cases[] = {
        {130, 0, nullptr},                                   // back from the first step
        {136, 1, nullptr},                                   // a page that is not shown navigates nowhere
        {130, 1, (CWnd*)dlg().m_backupPage},                 // check Next
        {134, 0, first},                                     // backup Back
        {130, 1, (CWnd*)dlg().m_backupPage},
        {134, 1, (CWnd*)dlg().m_selectPage},                 // backup Next
        {135, 1, (CWnd*)dlg().m_downloadPage},               // picker OK
        {136, 1, (CWnd*)dlg().m_rebootPage},                 // download Next
        {137, 1, nullptr},                                   // forward from the last step
        {131, 1, nullptr},                                   // the USB page is no install step
        {136, 0, nullptr},                                   // a late Back of the download page: not shown any more
        {135, 1, nullptr},                                   // nor the picker
        {137, 0, (CWnd*)dlg().m_downloadPage},               // the restart page's Back
        {136, 0, (CWnd*)dlg().m_selectPage},                 // download Back
    };
    for (const Case& c : cases) {
        CWnd* before = dlg().m_shownPage;
        EXPECT_EQ(0, Send(WM_PAGE_NAVIGATE, c.sender, c.forward));
        CWnd* expected = c.expected ? c.expected : before;
        EXPECT_EQ(expected, dlg().m_shownPage) << c.sender << "," << c.forward;
        EXPECT_EQ(expected, dlg().m_flowPage) << c.sender << "," << c.forward;
        EXPECT_TRUE(expected->IsWindowVisible());
        EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId);
    }
}

TEST_F(MainWindow, TabsSwitchPagesAndTheInstallTabReturnsToItsPage) {
    Send(WM_PAGE_NAVIGATE, 130, 1);
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    Send(WM_TAB_BUTTON_CONTROL, 2, 2);  // posts the click
    Pump(200);
    EXPECT_EQ(IDC_USB_TAB, dlg().m_currentTabId);
    EXPECT_EQ((CWnd*)dlg().m_usbPage, dlg().m_shownPage);
    dlg().m_installTab.SendMessage(BM_CLICK);
    Pump(100);
    EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId);
    EXPECT_EQ((CWnd*)dlg().m_backupPage, dlg().m_shownPage);
}

TEST_F(MainWindow, TabButtonControlEnablesAndClicks) {
    Send(WM_TAB_BUTTON_CONTROL, 2, 0);
    EXPECT_FALSE(dlg().m_usbTab.IsWindowEnabled());
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    EXPECT_TRUE(dlg().m_usbTab.IsWindowEnabled());
    Send(WM_TAB_BUTTON_CONTROL, 2, 7);  // unknown: nothing
    EXPECT_TRUE(dlg().m_usbTab.IsWindowEnabled());
    Send(WM_TAB_BUTTON_CONTROL, 3, 0);
    EXPECT_FALSE(dlg().m_backupTab.IsWindowEnabled());
    Send(WM_TAB_BUTTON_CONTROL, 3, 5);
    EXPECT_TRUE(dlg().m_backupTab.IsWindowEnabled());
    EXPECT_FALSE(dlg().m_backupTab.IsWindowVisible());  // enabled, never shown
}

TEST_F(MainWindow, ARunningDownloadKeepsTheInstallTab) {
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    dlg().m_downloadPage->m_downloadState = 1;
    BoxAnswerer boxes;
    Send(WM_TAB_BUTTON_CONTROL, 2, 2);  // the click reaches the tab rule, which refuses with its notice
    ASSERT_TRUE(PumpUntil([&] { return boxes.texts.size() == 1; }, 60000)) << "no notice";
    EXPECT_EQ(std::wstring(FixedText::kNoticeDownloadRunning), boxes.texts[0]);
    Pump(200);
    EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId);
    EXPECT_EQ(BST_CHECKED, dlg().m_installTab.SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_UNCHECKED, dlg().m_usbTab.SendMessage(BM_GETCHECK));
    EXPECT_EQ((CWnd*)dlg().m_osinfoPage, dlg().m_shownPage);
    // A paused download does not hold the tab.
    dlg().m_downloadPage->m_downloadState = 2;
    Send(WM_TAB_BUTTON_CONTROL, 2, 2);
    Pump(200);
    EXPECT_EQ(IDC_USB_TAB, dlg().m_currentTabId);
    dlg().m_downloadPage->m_downloadState = 0;
}

// The USB and backup/restore pages hold their tab while their job runs: every
// other tab is refused with the page's notice, and the page stays shown.
TEST_F(MainWindow, AJobOfTheUsbOrBackupPageKeepsItsTab) {
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    Send(WM_TAB_BUTTON_CONTROL, 3, 1);
    struct Case {
        const char* what;
        int tab;
        volatile LONG* running;
        CWnd* page;
        const wchar_t* notice;
    } cases[] = {
        {"USB", IDC_USB_TAB, &dlg().m_usbPage->m_jobRunning, (CWnd*)dlg().m_usbPage, FixedText::kNoticeUsbJobRunning},
        {"backup/restore", IDC_BACKUP_TAB, &dlg().m_ghostPage->m_jobRunning, (CWnd*)dlg().m_ghostPage,
         FixedText::kNoticeBackupJobRunning},
    };
    for (const Case& c : cases) {
        dlg().SwitchTab(c.tab);
        ASSERT_EQ(c.tab, dlg().m_currentTabId) << c.what;
        *c.running = 1;
        for (int other : {IDC_INSTALL_TAB, IDC_PICTURE_TAB, c.tab == IDC_USB_TAB ? IDC_BACKUP_TAB : IDC_USB_TAB}) {
            BoxAnswerer boxes;
            dlg().SwitchTab(other);
            ASSERT_TRUE(PumpUntil([&] { return boxes.texts.size() == 1; }, 60000)) << c.what << " " << other;
            EXPECT_EQ(std::wstring(c.notice), boxes.texts[0]) << c.what << " " << other;
            EXPECT_EQ(c.tab, dlg().m_currentTabId) << c.what << " " << other;
            EXPECT_EQ(c.page, dlg().m_shownPage) << c.what << " " << other;
            EXPECT_EQ(BST_CHECKED, dlg().GetDlgItem(c.tab)->SendMessage(BM_GETCHECK)) << c.what << " " << other;
        }
        // Once the job has ended the tab lets go.
        *c.running = 0;
        dlg().SwitchTab(IDC_INSTALL_TAB);
        EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId) << c.what;
    }
}

TEST_F(MainWindow, BackupChoiceReadsTheBackupBoxes) {
    CbackupDlg& backup = *dlg().m_backupPage;
    backup.m_documentsBox.SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(1, Send(WM_GET_BACKUP_CHOICE, 1));
    backup.m_documentsBox.SendMessage(BM_SETCHECK, BST_UNCHECKED);
    EXPECT_EQ(0, Send(WM_GET_BACKUP_CHOICE, 1));
    backup.m_favoritesBox.SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(1, Send(WM_GET_BACKUP_CHOICE, 2));
    EXPECT_EQ(0, Send(WM_GET_BACKUP_CHOICE, 5));
}

TEST_F(MainWindow, VersionCheckShowsUpdateLinksOnlyForANewerNotice) {
    CTarvelApp* app = GetTarvelApp();
    app->m_forcedUpdateVersion.Empty();
    app->m_noticeVersion = app->m_ownVersion;
    Send(WM_VERSION_UPDATE);
    EXPECT_FALSE(dlg().m_osinfoPage->m_updateLink.IsWindowVisible());
    app->m_noticeVersion.Empty();
    Send(WM_VERSION_UPDATE);
    EXPECT_FALSE(dlg().m_osinfoPage->m_updateLink.IsWindowVisible());
    app->m_noticeVersion = L"99.0.0.0";
    Send(WM_VERSION_UPDATE);
    CFlowPage* pages[] = {dlg().m_osinfoPage, (CFlowPage*)dlg().m_backupPage, (CFlowPage*)dlg().m_selectPage,
                          (CFlowPage*)dlg().m_downloadPage};
    for (CFlowPage* page : pages) EXPECT_TRUE(page->m_updateLink.GetStyle() & WS_VISIBLE);
    EXPECT_TRUE(TestMachine().shell.executes.empty());
    EXPECT_TRUE(dlg().IsWindowVisible());
    app->m_noticeVersion.Empty();
}

TEST_F(MainWindow, AForcedUpdateToAnotherTargetOpensNothingAndEndsAllTheSame) {
    CTarvelApp* app = GetTarvelApp();
    app->m_forcedUpdateVersion = L"99.0.0.0";
    BoxAnswerer boxes;
    for (const wchar_t* target : {L"", L"C:\\Windows\\system32\\calc.exe", L"\\\\server\\share\\setup.exe",
                                  L"file:///C:/x.exe"}) {
        dlg().ShowWindow(SW_SHOW);
        app->m_updateTarget = target;
        const size_t shown = boxes.texts.size();
        Send(WM_VERSION_UPDATE);
        EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 30000)) << CStringA(target).GetString();
        EXPECT_TRUE(TestMachine().shell.executes.empty()) << CStringA(target).GetString();
        EXPECT_TRUE(TestMachine().shell.desktopOpens.empty()) << CStringA(target).GetString();
        ASSERT_GT(boxes.texts.size(), shown) << CStringA(target).GetString();
        EXPECT_EQ(std::wstring(FixedText::kForcedUpdateNotice), boxes.texts[shown]);
    }
    app->m_forcedUpdateVersion.Empty();
    app->m_updateTarget.Empty();
}

// The forced update's page opens through the desktop's shell, as the
// signed-in user; without a desktop shell a second box names the page's
// address. The program ends either way, and nothing is opened with its
// own (administrator's) rights.
TEST_F(MainWindow, AForcedUpdateOpensTheWebTargetAsTheSignedInUserAndEnds) {
    CTarvelApp* app = GetTarvelApp();
    app->m_forcedUpdateVersion = L"99.0.0.0";
    app->m_updateTarget = L"https://update.kavetta.example/setup";
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (bool desktopShell : {true, false}) {
        TestMachine().shell = ShellRecorder();
        if (!desktopShell) TestMachine().shell.desktopAnswer = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        dlg().ShowWindow(SW_SHOW);
        BoxAnswerer boxes;
        dlg().PostMessage(WM_VERSION_UPDATE);
        EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 30000)) << desktopShell;
        EXPECT_TRUE(TestMachine().shell.executes.empty()) << "opened with the program's rights";
        ASSERT_FALSE(boxes.texts.empty()) << desktopShell;
        EXPECT_EQ(std::wstring(FixedText::kForcedUpdateNotice), boxes.texts[0]);
        if (desktopShell) {
            ASSERT_EQ(1u, TestMachine().shell.desktopOpens.size());
            EXPECT_EQ(L"https://update.kavetta.example/setup|" + std::wstring(system),
                      TestMachine().shell.desktopOpens[0]);
            EXPECT_EQ(1u, boxes.texts.size());
        } else {
            EXPECT_TRUE(TestMachine().shell.desktopOpens.empty());
            ASSERT_EQ(2u, boxes.texts.size());
            EXPECT_EQ(std::wstring(FixedText::kWebPageNotOpened) + FixedText::kMsgBoxLineSeparator +
                          L"https://update.kavetta.example/setup",
                      boxes.texts[1]);
        }
    }
    TestMachine().shell = ShellRecorder();
    app->m_forcedUpdateVersion.Empty();
    app->m_updateTarget.Empty();
}

// The header link and the web button open their targets through the
// desktop's shell (as the signed-in user, in the system folder, never the
// program's own); without a desktop shell a box names the address.
TEST_F(MainWindow, HeaderLinkAndWebButtonOpenTheirTargetsAsTheSignedInUser) {
    CTarvelApp* app = GetTarvelApp();
    const CString header = app->m_headerLinkTarget, web = app->m_webLinkTarget, folder = app->m_moduleFolder;
    app->m_headerLinkTarget = L"https://www.kavetta.example/home";
    app->m_webLinkTarget = L"https://www.kavetta.example/help";
    app->m_moduleFolder = L"C:\\Program Files\\Kavetta";
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const struct {
        UINT id;
        const wchar_t* target;
    } cases[] = {{IDC_LINK_BUTTON, L"https://www.kavetta.example/home"},
                 {IDC_WEB_TAB, L"https://www.kavetta.example/help"}};
    for (const auto& c : cases) {
        TestMachine().shell = ShellRecorder();
        Send(WM_COMMAND, MAKEWPARAM(c.id, BN_CLICKED), 0);
        ASSERT_EQ(1u, TestMachine().shell.desktopOpens.size()) << c.id;
        EXPECT_EQ(std::wstring(c.target) + L"|" + system, TestMachine().shell.desktopOpens[0]) << c.id;
        EXPECT_TRUE(TestMachine().shell.executes.empty()) << c.id << ": opened with the program's rights";

        TestMachine().shell = ShellRecorder();
        TestMachine().shell.desktopAnswer = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        BoxAnswerer boxes;
        dlg().PostMessage(WM_COMMAND, MAKEWPARAM(c.id, BN_CLICKED), 0);
        EXPECT_TRUE(PumpUntil([&] { return !boxes.texts.empty() && !FindMessageBox(); }, 30000)) << c.id;
        ASSERT_EQ(1u, boxes.texts.size()) << c.id;
        EXPECT_EQ(std::wstring(FixedText::kWebPageNotOpened) + FixedText::kMsgBoxLineSeparator + c.target,
                  boxes.texts[0]);
        EXPECT_TRUE(TestMachine().shell.executes.empty()) << c.id << ": opened with the program's rights";
        EXPECT_TRUE(TestMachine().shell.desktopOpens.empty()) << c.id;
    }
    TestMachine().shell = ShellRecorder();
    app->m_headerLinkTarget = header;
    app->m_webLinkTarget = web;
    app->m_moduleFolder = folder;
}

TEST_F(MainWindow, ProgramCopyIsMadeOnceAndReplacedOnlyAfterTheFolderWasOpen) {
    CTarvelApp* app = GetTarvelApp();
    const CString savedFolder = app->m_dataFolder;
    const std::wstring folder = MakeTempFolder(L"programcopy");
    app->m_dataFolder = folder.c_str();
    const std::wstring copy = folder + L"\\" + (const wchar_t*)app->m_moduleFileName;
    ASSERT_TRUE(WriteWholeFile(copy, "an older copy"));
    EXPECT_EQ(0, Send(WM_COPY_PROGRAM));
    EXPECT_EQ("an older copy", ReadWholeFile(copy));
    DeleteFileW(copy.c_str());
    Send(WM_COPY_PROGRAM);
    EXPECT_EQ(ReadWholeFile((const wchar_t*)app->m_modulePath), ReadWholeFile(copy));
    // A data folder that let others in until this run: the copy found there
    // may be theirs, and is made again.
    ASSERT_TRUE(WriteWholeFile(copy, "a copy someone else left"));
    app->m_diskInventory->m_dataFolderReprotected = true;
    Send(WM_COPY_PROGRAM);
    app->m_diskInventory->m_dataFolderReprotected = false;
    EXPECT_EQ(ReadWholeFile((const wchar_t*)app->m_modulePath), ReadWholeFile(copy));
    app->m_dataFolder = savedFolder;
    RemoveTree(folder);
}

TEST_F(MainWindow, TrayIconIsAddedOnceAndRemovedOnce) {
    dlg().m_trayButton.SendMessage(BM_CLICK);
    Pump(50);
    EXPECT_EQ(1, dlg().m_inTray);
    EXPECT_FALSE(dlg().IsWindowVisible());
    EXPECT_EQ(1, Send(WM_TRAYICON_NOTIFY, 7, WM_LBUTTONUP));  // another icon
    EXPECT_EQ(1, dlg().m_inTray);
    EXPECT_EQ(0, Send(WM_TRAYICON_NOTIFY, TRAY_ICON_ID, WM_MOUSEMOVE));
    EXPECT_EQ(1, dlg().m_inTray);
    EXPECT_EQ(0, Send(WM_TRAYICON_NOTIFY, TRAY_ICON_ID, WM_LBUTTONUP));
    EXPECT_EQ(0, dlg().m_inTray);
    EXPECT_TRUE(dlg().IsWindowVisible());
    EXPECT_EQ(1, TestMachine().shell.iconsAdded);
    EXPECT_EQ(1, TestMachine().shell.iconsDeleted);
}

TEST_F(MainWindow, SecondCopyHandShakeRestoresFromTheTray) {
    const UINT activate = RegisterActivateInstanceMessage();
    EXPECT_EQ((LRESULT)activate, Send(activate));
    dlg().m_trayButton.SendMessage(BM_CLICK);
    Pump(50);
    ASSERT_EQ(1, dlg().m_inTray);
    // The second copy's search for a running copy finds this window, hidden or not.
    HWND found = nullptr;
    EnumWindows(FindRunningInstanceProc, reinterpret_cast<LPARAM>(&found));
    EXPECT_EQ(dlg().GetSafeHwnd(), found);
    EXPECT_EQ(0, dlg().m_inTray);
    EXPECT_TRUE(dlg().IsWindowVisible());
    EXPECT_EQ(1, TestMachine().shell.iconsDeleted);
}

TEST_F(MainWindow, DebugSwitchToggledOnlyInsideItsCorner) {
    CTarvelApp* app = GetTarvelApp();
    BYTE before = app->m_debugMode;
    AnswerNextMessageBox(true);
    Send(WM_RBUTTONDBLCLK, 0, MAKELPARAM(850, 40));
    EXPECT_NE(before, app->m_debugMode);
    Send(WM_RBUTTONDBLCLK, 0, MAKELPARAM(910, 100));  // right and bottom edges are outside
    EXPECT_NE(before, app->m_debugMode);
    AnswerNextMessageBox(true);
    Send(WM_RBUTTONDBLCLK, 0, MAKELPARAM(851, 41));
    EXPECT_EQ(before, app->m_debugMode);
}

TEST_F(MainWindow, EnterAndEscapeNeverEndThePages) {
    for (WPARAM key : {(WPARAM)VK_RETURN, (WPARAM)VK_ESCAPE}) {
        MSG msg = {dlg().m_osinfoPage->m_nextButton.GetSafeHwnd(), WM_KEYDOWN, key, 0};
        EXPECT_TRUE(dlg().m_osinfoPage->PreTranslateMessage(&msg));
        EXPECT_TRUE(dlg().PreTranslateMessage(&msg));
    }
    MSG other = {dlg().GetSafeHwnd(), WM_KEYDOWN, VK_SPACE, 0};
    EXPECT_FALSE(CPageDialog::IsSwallowedKey(&other));
    MSG up = {dlg().GetSafeHwnd(), WM_KEYUP, VK_RETURN, 0};
    EXPECT_FALSE(CPageDialog::IsSwallowedKey(&up));
}

TEST_F(MainWindow, CloseAsksAndNoKeepsTheWindow) {
    int answered = MessageBoxesAnswered();
    AnswerNextMessageBox(false);
    dlg().m_closeButton.SendMessage(BM_CLICK);
    EXPECT_GT(MessageBoxesAnswered(), answered);
    EXPECT_TRUE(dlg().IsWindowVisible());
}

TEST_F(MainWindow, CloseYesStopsTheDownloadAndLeavesNoWorker) {
    dlg().m_downloadPage->m_downloadState = 1;
    AnswerNextMessageBox(true);
    dlg().m_closeButton.SendMessage(BM_CLICK);
    EXPECT_EQ(0, dlg().m_downloadPage->m_downloadState);
    EXPECT_FALSE(dlg().IsWindowVisible());
    for (int i = 0; i < CTarvelDlg::kPageCount; ++i) EXPECT_FALSE(dlg().PageAt(i)->WorkersRunning()) << i;
}

TEST_F(MainWindow, TrayExitAsksWithTheWindowHidden) {
    dlg().m_trayButton.SendMessage(BM_CLICK);
    Pump(50);
    // The menu's exit item runs the same question; answered No, the window
    // stays, hidden in the tray.
    BoxAnswerer boxes;
    boxes.script = {false};
    dlg().ConfirmExit();
    EXPECT_EQ(std::vector<std::wstring>{FixedText::kExitQuestionPlain}, boxes.texts);
    ASSERT_TRUE(IsWindow(dlg().GetSafeHwnd()));
    Pump(100);
    EXPECT_EQ(1, dlg().m_inTray);
    EXPECT_FALSE(dlg().IsWindowVisible());
    EXPECT_EQ(0, TestMachine().shell.iconsDeleted) << "the icon stays in the tray";
    dlg().RestoreFromTray();
    EXPECT_TRUE(dlg().IsWindowVisible());
}

// Re-check rebuilds the catalogue that a page's tasks point into: while any
// page holds tasks it is refused with a notice and no check starts.
TEST_F(MainWindow, RecheckIsRefusedWhileAPageHoldsTasks) {
    COsinfoDlg& check = *dlg().m_osinfoPage;
    struct Case {
        const char* what;
        std::function<void(CTarvelDlg&, int)> hold;  // sets the page state (1) and clears it (0)
        bool refused;
    } cases[] = {
        {"nothing held", [](CTarvelDlg&, int) {}, false},
        {"a download runs", [](CTarvelDlg& d, int on) { d.m_downloadPage->m_downloadState = on; }, true},
        {"a download is paused", [](CTarvelDlg& d, int on) { d.m_downloadPage->m_downloadState = on ? 2 : 0; }, true},
        {"a USB job runs", [](CTarvelDlg& d, int on) { d.m_usbPage->m_jobRunning = on; }, true},
        {"a backup or restore runs", [](CTarvelDlg& d, int on) { d.m_ghostPage->m_jobRunning = on; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(window.WaitForCheck());
        ASSERT_TRUE(check.m_recheckButton.IsWindowVisible());
        c.hold(dlg(), 1);
        BoxAnswerer boxes;
        check.m_recheckButton.SendMessage(BM_CLICK);
        const bool started = check.WorkersRunning() || !check.m_recheckButton.IsWindowVisible();
        c.hold(dlg(), 0);
        if (c.refused) {
            EXPECT_EQ(std::vector<std::wstring>{FixedText::kRecheckRefusedTasks}, boxes.texts);
            EXPECT_FALSE(started) << "a check started";
        } else {
            EXPECT_TRUE(boxes.texts.empty()) << Utf8Of(boxes.Last());
            EXPECT_TRUE(started) << "no check started";
        }
    }
    ASSERT_TRUE(window.WaitForCheck());
}

TEST_F(MainWindow, DestroyedWhileHiddenRemovesTheTrayIcon) {
    dlg().m_trayButton.SendMessage(BM_CLICK);
    Pump(50);
    dlg().DestroyWindow();
    EXPECT_EQ(1, TestMachine().shell.iconsAdded);
    EXPECT_EQ(1, TestMachine().shell.iconsDeleted);
}

TEST_F(MainWindow, ExitWaitsForTheCheckWorker) {
    // A Re-check starts a worker; the system close command stops it and waits before ending.
    dlg().m_osinfoPage->StartCheck();
    EXPECT_TRUE(dlg().m_osinfoPage->WorkersRunning());
    dlg().SendMessage(WM_SYSCOMMAND, SC_CLOSE);  // the dialog manager posts the cancel command
    PumpUntil([&] { return !dlg().IsWindowVisible(); }, 60000);
    EXPECT_FALSE(dlg().m_osinfoPage->WorkersRunning());
    EXPECT_FALSE(dlg().IsWindowVisible());
}

// ---- refusals of the ways out ----

// A stand-in for a page's worker that outlives the exit's wait: a thread
// that runs until the test lets it end.
class HeldWorker {
public:
    HeldWorker() : m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = CreateThread(nullptr, 0, Proc, m_release, 0, nullptr);
    }
    ~HeldWorker() {
        Release();
        CloseHandle(m_thread);
        CloseHandle(m_release);
    }
    HANDLE thread() const { return m_thread; }
    void Release() {
        SetEvent(m_release);
        WaitForSingleObject(m_thread, 30000);
    }

private:
    static DWORD WINAPI Proc(void* release) {
        WaitForSingleObject(static_cast<HANDLE>(release), 120000);
        return 0;
    }
    HANDLE m_release;
    HANDLE m_thread;
};

// Ends the USB page's disk write a moment later, as the maker does.
DWORD WINAPI EndDiskWriteSoon(void* page) {
    Sleep(300);
    static_cast<CUsbMaker*>(page)->m_makingDisk = 0;
    return 0;
}

bool Shown(CWnd& control) { return (::GetWindowLongW(control.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0; }

TEST_F(MainWindow, TheRestartWorkerKeepsTheInstallTab) {
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    BoxAnswerer boxes;
    CRebootDlg& reboot = *dlg().m_rebootPage;
    // The worker needs this thread for its first line, so it runs until we pump.
    ASSERT_TRUE(reboot.StartRestart());
    dlg().SwitchTab(IDC_USB_TAB);
    EXPECT_TRUE(boxes.Shown(FixedText::kNoticeRestartRunning)) << Utf8Of(boxes.Last());
    EXPECT_EQ(IDC_INSTALL_TAB, dlg().m_currentTabId);
    EXPECT_EQ(BST_CHECKED, dlg().m_installTab.SendMessage(BM_GETCHECK));
    EXPECT_NE((CWnd*)dlg().m_usbPage, dlg().m_shownPage);
    ASSERT_TRUE(PumpUntil([&] { return !reboot.WorkersRunning(); }, 60000));
    // Once it has ended, the tab can be left.
    dlg().SwitchTab(IDC_USB_TAB);
    EXPECT_EQ(IDC_USB_TAB, dlg().m_currentTabId);
}

// The picker's OK changes the image the restart worker hands over: it is
// refused while the worker runs, and nothing moves.
TEST_F(MainWindow, ThePickerRefusesWhileTheRestartWorkerRuns) {
    CTarvelApp* app = GetTarvelApp();
    COsSelectDlg& picker = *dlg().m_selectPage;
    CRebootDlg& reboot = *dlg().m_rebootPage;
    const int chosen = app->m_selectedImageIndex;
    // The worker needs this thread for its first line, so it runs until we pump.
    ASSERT_TRUE(reboot.StartRestart());
    ASSERT_TRUE(reboot.WorkersRunning());
    dlg().ShowPage(&picker);
    {
        BoxAnswerer boxes;
        picker.m_nextButton.SendMessage(BM_CLICK);
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_TRUE(boxes.Shown(FixedText::kPickerRestartRunning)) << Utf8Of(boxes.Last());
    }
    EXPECT_EQ(chosen, app->m_selectedImageIndex);
    EXPECT_EQ((CWnd*)&picker, dlg().m_shownPage);
    EXPECT_EQ(0, dlg().m_downloadPage->m_downloadState.load()) << "a download run began";
    ASSERT_TRUE(PumpUntil([&] { return !reboot.WorkersRunning(); }, 60000));
}

// The backup folder and the backup/restore page's default folder follow
// the folder rule: a link another account planted at the name is removed
// without being followed, a stranger's folder is moved aside, and the
// program's own folder is made there.
TEST_F(MainWindow, TheBackupFoldersAreOursByTheFolderRule) {
    CTarvelApp* app = GetTarvelApp();
    const CString keptData = app->m_dataFolder;
    FakeMachine machine;
    FakeVolume data;
    data.letter = L'D';
    data.partition = 1;
    machine.volumes.push_back(data);
    IBootHost* previous = SetBootHost(&machine);
    app->m_dataFolder = L"D:\\KavettaData";
    machine.AddFolder(L"D:\\KavettaData");
    machine.AddFolder(L"C:\\Users\\Public");
    const std::wstring backup = std::wstring(L"D:\\KavettaData") + FixedText::kBackupSubFolder;
    const std::wstring ghost = std::wstring(L"D:\\KavettaData") + FixedText::kGhostFolder;
    machine.AddLink(backup, L"C:\\Users\\Public");
    machine.AddFolder(ghost);
    machine.files[FakeMachine::Upper(ghost)].otherOwner = true;

    dlg().PrepareBackupTarget();
    EXPECT_EQ(CString(backup.c_str()), app->m_backupFolder);
    EXPECT_EQ(FolderState::kTrusted, machine.JudgeFolder(backup.c_str())) << "the backup folder is no folder of ours";
    EXPECT_NE(std::find(machine.log.begin(), machine.log.end(), L"unlink " + backup), machine.log.end());
    EXPECT_TRUE(machine.HasFile(L"C:\\Users\\Public"));

    dlg().m_ghostPage->SetDefaultBackupPath();
    EXPECT_EQ(FolderState::kTrusted, machine.JudgeFolder(ghost.c_str())) << "the stranger's folder is used";
    CString expectedHead = CString(ghost.c_str()) + L"\\";
    expectedHead.MakeUpper();
    EXPECT_EQ(0, dlg().m_ghostPage->m_targetPath.Find(expectedHead)) << Utf8Of((const wchar_t*)dlg().m_ghostPage->m_targetPath);

    // A folder that cannot be had leaves no backup folder to copy into.
    machine.files.erase(FakeMachine::Upper(backup));
    machine.uncreatableFolders = {backup};
    dlg().PrepareBackupTarget();
    EXPECT_TRUE(app->m_backupFolder.IsEmpty()) << Utf8Of((const wchar_t*)app->m_backupFolder);
    SetBootHost(previous);
    app->m_dataFolder = keptData;
}

TEST_F(MainWindow, ARestartRequestWhileADiskIsWrittenIsRefused) {
    CTarvelApp* app = GetTarvelApp();
    app->m_rebootAtExit = 0;
    CUsbMaker& usb = *dlg().m_usbPage;
    // The maker writes the disk (a tool run or a copy).
    usb.m_makingDisk = 1;
    EXPECT_NE(kRestartAccepted, Send(WM_REQUEST_REBOOT));
    Pump(100);
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_TRUE(dlg().IsWindowVisible());
    usb.m_makingDisk = 0;
    // Without a disk job the window ends for the restart.
    EXPECT_EQ(kRestartAccepted, Send(WM_REQUEST_REBOOT));
    EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 30000));
    EXPECT_EQ(1, app->m_rebootAtExit);
    app->m_rebootAtExit = 0;
}

TEST_F(MainWindow, WhileAToolStillRunsNothingRestartsAndTheExitEndsWithoutIt) {
    CTarvelApp* app = GetTarvelApp();
    app->m_rebootAtExit = 0;
    {
        // A tool the program started that is still running (as one that
        // outlived its wait is counted until it ends).
        RunningToolScope tool;
        EXPECT_NE(kRestartAccepted, Send(WM_REQUEST_REBOOT));
        Pump(100);
        EXPECT_EQ(0, app->m_rebootAtExit);
        EXPECT_TRUE(dlg().IsWindowVisible());
        // An exit after an accepted request: the tool is waited for, bounded;
        // then the user is told, nothing restarts and the work folder stays.
        BoxAnswerer boxes;
        app->m_rebootAtExit = 1;
        EXPECT_TRUE(app->FinishAfterMainWindow(dlg(), 2000, 2000, 200));
        EXPECT_TRUE(boxes.Shown(FixedText::kExitToolStillRunning)) << Utf8Of(boxes.Last());
        EXPECT_EQ(0, app->m_rebootAtExit);
        EXPECT_TRUE(app->m_keepWorkFolder);
        app->m_keepWorkFolder = false;
    }
    // Once it has ended, the restart goes ahead.
    EXPECT_EQ(kRestartAccepted, Send(WM_REQUEST_REBOOT));
    EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 30000));
    EXPECT_EQ(1, app->m_rebootAtExit);
    app->m_rebootAtExit = 0;
}

TEST_F(MainWindow, TheExitQuestionDuringAUsbWriteRefusesBeforeAskingOrStopping) {
    Send(WM_TAB_BUTTON_CONTROL, 2, 1);
    dlg().SwitchTab(IDC_USB_TAB);
    ASSERT_EQ(IDC_USB_TAB, dlg().m_currentTabId);
    CUsbMaker& usb = *dlg().m_usbPage;
    usb.m_events.ResetForJob();
    usb.m_jobRunning = 1;
    usb.m_makingDisk = 1;
    {
        BoxAnswerer boxes;
        dlg().m_closeButton.SendMessage(BM_CLICK);
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(std::wstring(FixedText::kExitRefusedDiskJob), boxes.texts[0]);
        EXPECT_FALSE(boxes.Shown(FixedText::kExitQuestionUsb));
    }
    EXPECT_TRUE(dlg().IsWindowVisible());
    // The job was not told to stop: its wait for the image still ends with the image.
    usb.m_events.SignalImage();
    EXPECT_EQ(kUsbFileReady, usb.m_events.WaitImage());
    // The same refusal for the system close command and the forced update.
    for (int way = 0; way < 2; ++way) {
        BoxAnswerer boxes;
        if (way == 0) {
            dlg().SendMessage(WM_SYSCOMMAND, SC_CLOSE);
            Pump(200);
        } else {
            GetTarvelApp()->m_forcedUpdateVersion = L"99.0.0.0";
            Send(WM_VERSION_UPDATE);
            GetTarvelApp()->m_forcedUpdateVersion.Empty();
        }
        EXPECT_TRUE(boxes.Shown(FixedText::kExitRefusedDiskJob)) << way;
        EXPECT_FALSE(boxes.Shown(FixedText::kForcedUpdateNotice)) << way;
        EXPECT_TRUE(dlg().IsWindowVisible()) << way;
    }
    usb.m_makingDisk = 0;
    usb.m_jobRunning = 0;
}

TEST_F(MainWindow, TheUsbAndBackupTabsAskTheirOwnExitQuestionAndYesStopsTheirJob) {
    CUsbMaker& usb = *dlg().m_usbPage;
    CGhostDlg& ghost = *dlg().m_ghostPage;
    struct Case {
        int tab;
        const wchar_t* question;
    };
    const Case cases[] = {{IDC_USB_TAB, FixedText::kExitQuestionUsb}, {IDC_BACKUP_TAB, FixedText::kExitQuestionBackup}};
    for (const Case& c : cases) {
        dlg().ShowWindow(SW_SHOW);
        Send(WM_TAB_BUTTON_CONTROL, 2, 1);
        dlg().SwitchTab(c.tab);
        ASSERT_EQ(c.tab, dlg().m_currentTabId);
        // The job downloads (the USB job still fetching its boot environment).
        if (c.tab == IDC_USB_TAB) {
            usb.m_events.ResetForJob();
            usb.m_jobRunning = 1;
            usb.SwitchView(3, 0);
        } else {
            ghost.SwitchView(2);
        }
        std::atomic<int>& state = c.tab == IDC_USB_TAB ? usb.m_downloadState : ghost.m_downloadState;
        state = 1;
        BoxAnswerer boxes;
        boxes.script = {false};
        dlg().m_closeButton.SendMessage(BM_CLICK);
        ASSERT_EQ(1u, boxes.texts.size()) << c.tab;
        EXPECT_EQ(std::wstring(c.question), boxes.texts[0]);
        // No: the job goes on and the window stays.
        EXPECT_EQ(1, state.load()) << c.tab;
        EXPECT_TRUE(dlg().IsWindowVisible()) << c.tab;
        // Yes: the job stops and the window ends.
        boxes.script = {true};
        dlg().m_closeButton.SendMessage(BM_CLICK);
        EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 60000)) << c.tab;
        EXPECT_EQ(2u, boxes.texts.size()) << c.tab;
        EXPECT_EQ(0, state.load()) << c.tab;
        if (c.tab == IDC_USB_TAB) {
            EXPECT_EQ(kUsbJobStopped, usb.m_events.WaitImage());
            usb.SwitchView(1, 0);
        } else {
            ghost.SwitchView(1);
        }
        dlg().SwitchTab(IDC_INSTALL_TAB);
    }
}

TEST_F(MainWindow, AnExitRefusedForAWorkerThatOutlivesTheWaitLeavesEveryPageAbleToGoOn) {
    // Jobs of every kind the exit stops: a check, a download, a USB job
    // still fetching its boot environment, a backup/restore download.
    CUsbMaker& usb = *dlg().m_usbPage;
    CGhostDlg& ghost = *dlg().m_ghostPage;
    COsDownloadDlg& download = *dlg().m_downloadPage;
    COsinfoDlg& check = *dlg().m_osinfoPage;
    usb.m_jobRunning = 1;
    usb.SwitchView(3, 0);
    ghost.SwitchView(2);
    download.m_downloadState = 1;
    download.ShowPauseButton(TRUE);
    download.ShowBackButton(FALSE);
    check.StartCheck();
    ASSERT_TRUE(check.WorkersRunning());
    // A worker that outlives the exit's wait.
    HeldWorker held;
    dlg().m_rebootPage->m_prepareRebootThread = held.thread();
    dlg().m_exitWaitMs = 3000;
    {
        BoxAnswerer boxes;  // Yes to the question, OK to the refusal
        dlg().m_closeButton.SendMessage(BM_CLICK);
        EXPECT_TRUE(PumpUntil([&] { return boxes.Shown(FixedText::kExitWorkersStillRunning); }, 60000));
        Pump(200);
        EXPECT_TRUE(boxes.Shown(FixedText::kExitQuestionDownload)) << Utf8Of(boxes.texts.empty() ? L"" : boxes.texts[0]);
    }
    EXPECT_TRUE(dlg().IsWindowVisible());
    // The check goes on, or ends its way: Re-check offered, no spinning animation.
    ASSERT_TRUE(window.WaitForCheck());
    Pump(200);
    EXPECT_TRUE(Shown(check.m_recheckButton));
    EXPECT_FALSE(check.m_busyAnimation.IsPlaying());
    // The stopped downloads leave their working views.
    EXPECT_EQ(1, usb.m_view);
    EXPECT_EQ(0, usb.m_jobRunning);
    EXPECT_EQ(1, ghost.m_view);
    EXPECT_EQ(0, ghost.m_jobRunning);
    EXPECT_EQ(0, download.m_downloadState);
    EXPECT_TRUE(Shown(download.m_backButton));
    EXPECT_FALSE(Shown(download.m_pauseButton));
    held.Release();
    dlg().m_rebootPage->m_prepareRebootThread = nullptr;
    // With nothing left running the exit goes through.
    AnswerNextMessageBox(true);
    dlg().m_closeButton.SendMessage(BM_CLICK);
    EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 60000));
}

TEST_F(MainWindow, AfterTheWindowEndsADiskWriteIsWaitedForAndNeverCut) {
    CTarvelApp* app = GetTarvelApp();
    CUsbMaker& usb = *dlg().m_usbPage;
    // A write that ends while the application waits: the restart follows.
    app->m_rebootAtExit = 1;
    usb.m_makingDisk = 1;
    HANDLE ender = CreateThread(nullptr, 0, EndDiskWriteSoon, &usb, 0, nullptr);
    EXPECT_TRUE(app->FinishAfterMainWindow(dlg(), 2000, 60000));
    EXPECT_EQ(0, usb.m_makingDisk);
    EXPECT_EQ(1, app->m_rebootAtExit);
    EXPECT_FALSE(app->m_keepWorkFolder);
    WaitForSingleObject(ender, 30000);
    CloseHandle(ender);
    // A write that outlasts the wait: no restart, the work folder stays.
    usb.m_makingDisk = 1;
    EXPECT_FALSE(app->FinishAfterMainWindow(dlg(), 200, 300));
    EXPECT_EQ(0, app->m_rebootAtExit);
    EXPECT_TRUE(app->m_keepWorkFolder);
    EXPECT_TRUE(dlg().m_keepPagesAlive);
    usb.m_makingDisk = 0;
    app->m_keepWorkFolder = false;
    dlg().m_keepPagesAlive = false;
}

int g_engineUninitialized = 0;
void __cdecl CountUninitialize() { ++g_engineUninitialized; }

TEST_F(MainWindow, WhatAWorkerThatOutlivesTheExitUsesIsNeitherFreedNorUnloaded) {
    CTarvelApp* app = GetTarvelApp();
    // An engine binding (no library behind it) whose unload the test sees.
    DownWrapper* engine = new DownWrapper(L"kvt-no-such-engine.dll");
    engine->Uninitialize = CountUninitialize;
    g_engineUninitialized = 0;
    DownWrapper* const savedEngine = app->m_downloadEngine;
    app->m_downloadEngine = engine;
    CDiskInventory* const inventory = app->m_diskInventory;
    ASSERT_TRUE(inventory != nullptr);
    {
        HeldWorker held;
        dlg().m_rebootPage->m_prepareRebootThread = held.thread();
        app->m_rebootAtExit = 1;
        EXPECT_FALSE(app->FinishAfterMainWindow(dlg(), 200, 300));
        EXPECT_TRUE(dlg().m_keepPagesAlive);
        // The rest of the way out, with the worker still running.
        app->ExitInstance();
        EXPECT_EQ(engine, app->m_downloadEngine) << "the engine stays loaded";
        EXPECT_EQ(0, g_engineUninitialized);
        app->ReleaseDiskInventory();
        EXPECT_EQ(inventory, app->m_diskInventory) << "the inventory and its letters stay";
        held.Release();
        dlg().m_rebootPage->m_prepareRebootThread = nullptr;
    }
    // With every worker ended, the same way out frees them.
    app->m_keepWorkerState = false;
    app->m_keepWorkFolder = false;
    dlg().m_keepPagesAlive = false;
    EXPECT_TRUE(app->FinishAfterMainWindow(dlg(), 60000, 60000));
    EXPECT_FALSE(app->m_keepWorkerState);
    app->m_rebootAtExit = 0;
    app->ExitInstance();
    EXPECT_EQ(nullptr, app->m_downloadEngine);
    EXPECT_EQ(1, g_engineUninitialized);
    app->m_downloadEngine = savedEngine;
}

}  // namespace

namespace {

// What the road leaves armed on a scripted machine, bound into the
// application for one test: the entry, its options and the one-time
// sequence on the EFI partition's store, the INI and the marker.
class ArmedRoad {
public:
    explicit ArmedRoad(CTarvelApp& app)
        : m_app(app), m_inventory(&machine, &machine), m_real(app.m_diskInventory), m_dataFolder(app.m_dataFolder),
          m_systemDrive(app.m_systemDrive) {
        app.m_diskInventory = &m_inventory;
        app.m_dataFolder = L"D:\\Kavetta Data";
        app.m_systemDrive = L"C:";
        const CString store = L"H:\\EFI\\Microsoft\\Boot\\BCD";
        const CString lead = CString(L"tool|/store \"") + store + L"\" ";
        machine.runs = {std::wstring(lead + L"/create " + FixedText::kBootOptionsId + L" /d \"x\" /device"),
                        std::wstring(lead + L"/create " + FixedText::kBootEntryId + L" /d \"x\" /application osloader"),
                        std::wstring(lead + L"/bootsequence " + FixedText::kBootEntryId)};
        for (int n = 1; n <= 16; ++n)
            m_inventory.m_armed.NoteCommand(store, FixedText::kBootEntryId, FixedText::kBootOptionsId, n, 16, 0);
        ini = L"D:\\Kavetta Data\\" + std::wstring(app.m_restartIniName);
        machine.AddFile(ini);
        machine.AddFile(kMarker);
        app.m_restartNotice = nullptr;
    }
    ~ArmedRoad() {
        m_app.m_diskInventory = m_real;
        m_app.m_dataFolder = m_dataFolder;
        m_app.m_systemDrive = m_systemDrive;
        m_app.m_rebootAtExit = 0;
        m_app.m_restartNotice = nullptr;
    }
    bool Armed() const { return BootStoreModel::Of(machine.runs).Armed() != L""; }
    // Nothing is left armed, the one-time sequence went first, and the INI
    // and the marker are gone.
    void ExpectUndone() const {
        EXPECT_EQ(L"", BootStoreModel::Of(machine.runs).Armed());
        ASSERT_GT(machine.runs.size(), 3u);
        EXPECT_NE(std::wstring::npos, machine.runs[3].find(L"bootsequence")) << "the one-time sequence goes first";
        EXPECT_FALSE(machine.HasFile(ini));
        EXPECT_FALSE(machine.HasFile(kMarker));
        EXPECT_EQ(0, m_app.m_rebootAtExit);
    }

    FakeMachine machine;
    std::wstring ini;
    const std::wstring kMarker = L"C:\\kvtreinstall.mark";

private:
    CTarvelApp& m_app;
    CDiskInventory m_inventory;
    CDiskInventory* const m_real;
    const CString m_dataFolder, m_systemDrive;
};

// Puts the pages tests' own power control back however the test ends.
class PowerScope {
public:
    explicit PowerScope(IPowerControl* control) : m_previous(SetPowerControl(control)) {}
    ~PowerScope() { SetPowerControl(m_previous); }

private:
    IPowerControl* m_previous;
};

}  // namespace

// The restart is asked while the main window still runs its loop. When
// Windows refuses it, the session's end is cancelled or does not come in
// time, what armed the next boot is undone, the user is told, and the
// window stays.
TEST_F(MainWindow, ARestartThatDoesNotHappenIsUndoneWhileTheWindowStays) {
    CTarvelApp* app = GetTarvelApp();
    struct Case {
        const char* what;
        ScriptedPowerControl::Answer answer;
    } cases[] = {
        {"Windows refuses the request", ScriptedPowerControl::kRefuse},
        {"the session's end is cancelled", ScriptedPowerControl::kCancel},
        {"no end within the bound", ScriptedPowerControl::kSilent},
    };
    const DWORD savedEndWait = dlg().m_restartEndWaitMs;
    dlg().m_restartEndWaitMs = 300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPowerControl power(c.answer);
        PowerScope scope(&power);
        ArmedRoad road(*app);
        ASSERT_TRUE(road.Armed());
        BoxAnswerer boxes;
        ASSERT_EQ(kRestartAccepted, Send(WM_REQUEST_REBOOT));
        EXPECT_EQ(1, app->m_rebootAtExit) << "taken";
        EXPECT_TRUE(PumpUntil([&] { return !boxes.texts.empty(); }, 60000)) << "the user was not told";
        EXPECT_EQ(1, power.requests) << "asked once, from the window's loop";
        road.ExpectUndone();
        EXPECT_EQ(std::vector<std::wstring>{FixedText::kRestartUndoneNotice}, boxes.texts);
        EXPECT_TRUE(dlg().IsWindowVisible()) << "the window stays";
        EXPECT_TRUE(dlg().IsWindowEnabled());
    }
    // Once the session does end, nothing is undone and the window ends with it.
    ScriptedPowerControl power(ScriptedPowerControl::kEnd);
    PowerScope scope(&power);
    ArmedRoad road(*app);
    ASSERT_EQ(kRestartAccepted, Send(WM_REQUEST_REBOOT));
    EXPECT_TRUE(PumpUntil([&] { return !dlg().IsWindowVisible(); }, 60000));
    EXPECT_EQ(1, power.requests);
    EXPECT_EQ(1, app->m_rebootAtExit);
    EXPECT_EQ(3u, road.machine.runs.size()) << "nothing undone";
    EXPECT_TRUE(road.machine.HasFile(road.kMarker));
    EXPECT_TRUE(road.Armed());
    dlg().m_restartEndWaitMs = savedEndWait;
}

// A restart the main window took, whose workers it cannot wait out, is never
// asked for: what armed the next boot is undone there, and the user is told.
TEST_F(MainWindow, AnAcceptedRestartThatAWorkerOutlivesLeavesNothingArmed) {
    CTarvelApp* app = GetTarvelApp();
    ScriptedPowerControl power(ScriptedPowerControl::kEnd);
    PowerScope scope(&power);
    ArmedRoad road(*app);
    ASSERT_TRUE(road.Armed());
    const DWORD savedWait = dlg().m_exitWaitMs;
    dlg().m_exitWaitMs = 300;
    BoxAnswerer boxes;
    {
        HeldWorker held;
        dlg().m_rebootPage->m_prepareRebootThread = held.thread();
        ASSERT_EQ(kRestartAccepted, Send(WM_REQUEST_REBOOT));
        EXPECT_TRUE(PumpUntil([&] { return !boxes.texts.empty(); }, 60000)) << "the user was not told";
        held.Release();
        dlg().m_rebootPage->m_prepareRebootThread = nullptr;
    }
    dlg().m_exitWaitMs = savedWait;
    EXPECT_EQ(0, power.requests) << "no restart under a worker";
    road.ExpectUndone();
    EXPECT_EQ(std::vector<std::wstring>{FixedText::kRestartUndoneNotice}, boxes.texts);
    EXPECT_TRUE(dlg().IsWindowVisible());

    // The same worker at an exit after a restart the session took: undone too.
    ArmedRoad again(*app);
    app->m_rebootAtExit = 1;
    CUsbMaker& usb = *dlg().m_usbPage;
    usb.m_makingDisk = 1;  // a write that outlasts the wait keeps a worker alive
    EXPECT_FALSE(app->FinishAfterMainWindow(dlg(), 200, 300));
    usb.m_makingDisk = 0;
    app->m_keepWorkFolder = false;
    app->m_keepWorkerState = false;
    dlg().m_keepPagesAlive = false;
    again.ExpectUndone();
    EXPECT_STREQ(FixedText::kRestartUndoneNotice, app->m_restartNotice);
}

namespace {

// A scripted tool run on a worker thread, counted as RunProcessAndWait
// counts the tool it waits for; Windows ends the session in its middle.
struct ScriptedToolRun {
    DWORD windowThread = 0;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> delivered{false};
    bool refused = false, ended = false;
    int asked = 0;
    ~ScriptedToolRun() { CloseHandle(release); }
    static DWORD WINAPI Proc(void* self) {
        ScriptedToolRun& run = *static_cast<ScriptedToolRun*>(self);
        RunningToolScope tool;
        {
            SessionEndDelivery end(run.windowThread, false);
            end.Wait(120000);
            run.refused = end.refused;
            run.ended = end.ended;
            run.asked = end.asked;
        }
        run.delivered = true;
        // The tool goes on until the test lets it end.
        WaitForSingleObject(run.release, 120000);
        return 0;
    }
};

}  // namespace

// A shutdown while a tool the program started runs (a USB job's disk tool,
// the boot-entry tool) is refused: the main window answers no and, on its
// own thread, names the step to Windows; the reason goes once the tool has
// ended, and the next session end is let through.
TEST_F(MainWindow, ASessionEndWaitsForAToolThatRunsAndIsLetThroughAfterIt) {
    ScriptedPowerControl power(ScriptedPowerControl::kEnd);
    PowerScope scope(&power);
    ASSERT_EQ(0, RunningToolCount());
    ScriptedToolRun run;
    run.windowThread = GetWindowThreadProcessId(dlg().GetSafeHwnd(), nullptr);
    HANDLE thread = CreateThread(nullptr, 0, ScriptedToolRun::Proc, &run, 0, nullptr);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(PumpUntil([&] { return run.delivered.load(); }, 120000)) << "the session end was not answered";
    EXPECT_GE(run.asked, 1);
    EXPECT_TRUE(run.refused) << "the session end was let through while a tool runs";
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(std::wstring(FixedText::kSessionBlockTool), power.BlockReason()) << "no reason named";
    EXPECT_TRUE(dlg().IsWindowVisible());
    SetEvent(run.release);
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 120000));
    CloseHandle(thread);
    EXPECT_TRUE(PumpUntil([&] { return power.BlockReason().empty(); }, 60000)) << "the reason stayed after the tool";
    const std::vector<std::wstring> calls = power.BlockCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(std::wstring(L"create ") + FixedText::kSessionBlockTool, calls.front());
    EXPECT_EQ(L"destroy", calls.back());
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), L"refused"))
        << "a block reason was asked from another thread than the window's";
    // Nothing runs any more: the next end is let through and ends nothing of ours.
    SessionEndDelivery after(run.windowThread, false);
    ASSERT_TRUE(PumpUntil([&] { return after.Done(); }, 120000));
    EXPECT_FALSE(after.refused);
    EXPECT_TRUE(after.ended);
    EXPECT_EQ(calls.size(), power.BlockCalls().size());
}

// The USB job's disk writes keep a session end waiting the same way; while
// the job only waits for its image nothing is written and the end may come.
TEST_F(MainWindow, ASessionEndWaitsWhileTheUsbJobWritesTheDisk) {
    ScriptedPowerControl power(ScriptedPowerControl::kEnd);
    PowerScope scope(&power);
    const DWORD windowThread = GetWindowThreadProcessId(dlg().GetSafeHwnd(), nullptr);
    CUsbMaker& usb = *dlg().m_usbPage;
    usb.m_makingDisk = 1;
    {
        SessionEndDelivery end(windowThread, false);
        ASSERT_TRUE(PumpUntil([&] { return end.Done(); }, 120000));
        EXPECT_TRUE(end.refused) << "the session end was let through during a disk write";
        EXPECT_EQ(std::wstring(FixedText::kSessionBlockDiskWrite), power.BlockReason());
    }
    usb.m_waitingForFile = 1;
    {
        SessionEndDelivery end(windowThread, false);
        ASSERT_TRUE(PumpUntil([&] { return end.Done(); }, 120000));
        EXPECT_FALSE(end.refused) << "refused while the job only waits for its image";
        EXPECT_EQ(L"", power.BlockReason());
    }
    usb.m_waitingForFile = 0;
    Send(WM_SESSION_STEP);
    EXPECT_EQ(std::wstring(FixedText::kSessionBlockDiskWrite), power.BlockReason());
    // The write ends without a word: the main window looks again by itself.
    usb.m_makingDisk = 0;
    EXPECT_TRUE(PumpUntil([&] { return power.BlockReason().empty(); }, 60000)) << "the reason stayed after the write";
    const std::vector<std::wstring> calls = power.BlockCalls();
    EXPECT_EQ(calls.end(), std::find(calls.begin(), calls.end(), L"refused"));
}

TEST_F(MainWindow, ACheckFirstForgetsTheListsThatPointIntoTheCatalogue) {
    CTarvelApp* app = GetTarvelApp();
    const int savedStart1 = app->m_recommend1Start, savedStart2 = app->m_recommend2Start,
              savedShowMain = app->m_usbShowMain, savedOrder = app->m_usbListOrder;
    for (int i = 0; i < 3; ++i) {
        COnlinefileinfo image;
        image.m_title.Format(L"系统 %d", i);
        image.m_usbOffer = 1;
        app->m_osImages.Add(image);
    }
    app->m_recommend1Start = 1;
    app->m_recommend2Start = 2;
    app->m_usbShowMain = 1;
    app->m_usbListOrder = 0;
    Send(WM_LISTS_REFRESH);
    COsSelectDlg& picker = *dlg().m_selectPage;
    CUsbMaker& usb = *dlg().m_usbPage;
    INT_PTR filled = 0;
    for (int t = 1; t <= 3; ++t) filled += picker.ListOfTab(t).m_items.GetSize();
    EXPECT_GT(filled, 0);
    EXPECT_GT(usb.m_imageList.m_items.GetSize(), 0);

    // The check rebuilds the catalogue: the lists are empty from its start,
    // before its worker touches the catalogue.
    dlg().m_osinfoPage->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_RECHECK, BN_CLICKED), 0);
    for (int t = 1; t <= 3; ++t) {
        EXPECT_EQ(0, picker.ListOfTab(t).m_items.GetSize()) << t;
        EXPECT_EQ(-1, picker.ListOfTab(t).m_selectedId) << t;
    }
    EXPECT_EQ(0, usb.m_imageList.m_items.GetSize());
    EXPECT_EQ(-1, usb.m_imageList.m_selectedId);
    EXPECT_TRUE(window.WaitForCheck());
    app->m_osImages.RemoveAll();
    app->m_recommend1Start = savedStart1;
    app->m_recommend2Start = savedStart2;
    app->m_usbShowMain = savedShowMain;
    app->m_usbListOrder = savedOrder;
}

namespace {

// A digest of a page's queue that its worker cannot get past until the test
// lets it: the hasher waits after its first block (a large image being
// checked).
class HeldDigest {
public:
    explicit HeldDigest(Md5Hasher& hasher)
        : m_hasher(hasher),
          m_entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE entered = m_entered, release = m_release;
        m_hasher.m_afterBlock = [entered, release] {
            SetEvent(entered);
            WaitForSingleObject(release, 120000);
        };
    }
    ~HeldDigest() {
        Release();
        CloseHandle(m_entered);
        CloseHandle(m_release);
    }
    bool Entered() const { return WaitForSingleObject(m_entered, 0) == WAIT_OBJECT_0; }
    void Release() { SetEvent(m_release); }
    // Once the worker has ended.
    void Forget() { m_hasher.m_afterBlock = nullptr; }

private:
    Md5Hasher& m_hasher;
    HANDLE m_entered;
    HANDLE m_release;
};

}  // namespace

TEST_F(MainWindow, RecheckIsRefusedWhileAnyPageHoldsTasksOrAWorkerStillUsesTheCatalogue) {
    CTarvelApp* app = GetTarvelApp();
    COsDownloadDlg& download = *dlg().m_downloadPage;
    CUsbMaker& usb = *dlg().m_usbPage;
    CGhostDlg& ghost = *dlg().m_ghostPage;
    COsinfoDlg& check = *dlg().m_osinfoPage;
    // One boot-environment record that each page's queue checks first: a
    // local copy whose digest the test holds.
    TempFolder data;
    const CString savedData = app->m_dataFolder;
    const int savedSelected = app->m_selectedPeIndex, savedUsb = app->m_usbPeIndex, savedImage = app->m_selectedImageIndex,
              savedTab = app->m_selectedImageTab;
    ASSERT_GE(app->m_peImages.GetSize(), 3);
    COnlinefileinfo& pe = app->m_peImages[2];
    const COnlinefileinfo savedPe = pe;
    app->m_dataFolder = data.Path().c_str();
    SetDownloadFolders(app->m_dataFolder, L"kvt_records.ini", L"records", L"recheck-test", L"");
    app->m_selectedPeIndex = app->m_usbPeIndex = 2;
    app->m_selectedImageIndex = -1;
    app->m_selectedImageTab = 2;
    const size_t kBlocks = 16;

    enum Page { kDownload, kUsb, kGhost };
    struct Case {
        const char* name;
        Page page;
        bool stopped;         // the run was stopped (Back, or an exit that was then refused)
        const wchar_t* text;  // the refusal
    };
    const Case cases[] = {
        {"a download checking its files", kDownload, false, FixedText::kRecheckRefusedTasks},
        {"a stopped download still digesting", kDownload, true, FixedText::kRecheckRefusedWorkers},
        {"a stopped USB job's builder still digesting", kUsb, true, FixedText::kRecheckRefusedWorkers},
        {"a stopped backup/restore download still digesting", kGhost, true, FixedText::kRecheckRefusedWorkers},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pe.m_fileName = L"held-pe.wim";
        pe.m_title = L"维护环境";
        pe.m_matchMode = 2;
        pe.m_expectedMd5 = L"00000000000000000000000000000000";
        pe.m_checkState = 0;
        data.Write(L"held-pe.wim", std::string(kBlocks * 8192, 'p'));
        CDownloadQueue& queue = c.page == kDownload ? download.m_queue : (c.page == kUsb ? usb.m_queue : ghost.m_queue);
        CPageDialog& page = c.page == kDownload ? (CPageDialog&)download
                                                : (c.page == kUsb ? (CPageDialog&)usb : (CPageDialog&)ghost);
        HeldDigest held(queue.m_hasher);
        ASSERT_TRUE(queue.BuildTaskQueue());
        ASSERT_TRUE(PumpUntil([&] { return held.Entered(); }, 60000));
        if (c.stopped) queue.StopTask();
        {
            BoxAnswerer boxes;
            check.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_RECHECK, BN_CLICKED), 0);
            EXPECT_EQ(1u, boxes.texts.size());
            EXPECT_EQ(std::wstring(c.text), boxes.Last());
        }
        EXPECT_FALSE(check.WorkersRunning()) << "no check runs under the worker";
        EXPECT_EQ(CString(L"held-pe.wim"), pe.m_fileName);
        if (!c.stopped) queue.StopTask();
        held.Release();
        EXPECT_TRUE(PumpUntil([&] { return !page.WorkersRunning(); }, 60000));
        // The stop ended the digest at its next block, not at the file's end.
        EXPECT_LT(queue.m_hasher.m_doneBytes, (LONGLONG)(kBlocks * 8192));
        held.Forget();
        Pump(100);
    }
    // A USB job that waits for its files counts as held tasks.
    usb.m_jobRunning = 1;
    {
        BoxAnswerer boxes;
        check.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_RECHECK, BN_CLICKED), 0);
        EXPECT_TRUE(boxes.Shown(FixedText::kRecheckRefusedTasks));
    }
    EXPECT_FALSE(check.WorkersRunning());
    usb.m_jobRunning = 0;

    pe = savedPe;
    app->m_selectedPeIndex = savedSelected;
    app->m_usbPeIndex = savedUsb;
    app->m_selectedImageIndex = savedImage;
    app->m_selectedImageTab = savedTab;
    app->m_dataFolder = savedData;
    // With nothing left running the check starts again.
    {
        BoxAnswerer boxes;
        check.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_RECHECK, BN_CLICKED), 0);
        EXPECT_TRUE(boxes.texts.empty());
    }
    EXPECT_TRUE(window.WaitForCheck());
}

// The check on a machine whose BitLocker state cannot be read: no data
// folder, and the result line says why; with the state read, the encrypted
// partition is passed by. The fake stands in for BitLocker's WMI provider.
TEST_F(MainWindow, TheCheckSaysWhyWhenBitLockerCannotBeRead) {
    CTarvelApp* app = GetTarvelApp();
    FakeMachine machine;
    FakeDisk disk;
    disk.path = L"\\\\?\\fakedisk#0";
    disk.device = 0;
    disk.layout = FakeLayout::Gpt;
    for (int n = 1; n <= 2; ++n) {
        FakePartition p;
        p.number = n;
        p.startBytes = (LONGLONG)n << 30;
        p.lengthBytes = 100LL << 30;
        p.type = kBasicDataGuid;
        disk.partitions.push_back(p);
        FakeVolume v;
        v.letter = n == 1 ? L'C' : L'D';
        v.device = 0;
        v.partition = n;
        v.freeBytes = 50ULL << 30;
        machine.volumes.push_back(v);
    }
    disk.cylinders = 30000;
    machine.disks.push_back(disk);
    CDiskInventory inventory(&machine, &machine);
    CDiskInventory* real = app->m_diskInventory;
    const CString savedDrive = app->m_systemDrive;
    app->m_diskInventory = &inventory;
    app->m_systemDrive = L"C:";
    ScriptedEncryption& bitLocker = TestMachine().facts.encryption;
    COsinfoDlg& check = *dlg().m_osinfoPage;
    auto recheck = [&] {
        check.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_RECHECK, BN_CLICKED), 0);
        return window.WaitForCheck();
    };

    bitLocker.Fails((HRESULT)0x80041003L);
    ASSERT_TRUE(recheck());
    EXPECT_EQ(0, app->m_storagePass);
    CString why, line;
    why.Format(FixedText::kEncryptionQueryFailedFormat, L"D:", 0x80041003u);
    check.m_resultText.GetWindowText(line);
    EXPECT_EQ(std::wstring(CString(FixedText::kCheckGeneralError) + why), std::wstring(line));
    Pump(200);
    const std::wstring shot = TestProgramDirectory() + L"\\check_page_bitlocker.png";
    EXPECT_GT(CaptureWindow(dlg().GetSafeHwnd(), shot.c_str()), 20);

    CString dId;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, machine.VolumeGuidPath(L"D:\\", dId));
    bitLocker.Knows({VolumeState(std::wstring(dId), kFullyEncrypted, kProtectionOff)});
    ASSERT_TRUE(recheck());
    EXPECT_EQ(3, app->m_storagePass) << "only the fallback is left";
    EXPECT_EQ(CString(L"C:\\KavettaData"), app->m_dataFolder);

    bitLocker = ScriptedEncryption();
    ASSERT_TRUE(recheck());
    EXPECT_EQ(1, app->m_storagePass);
    EXPECT_EQ(CString(L"D:\\KavettaData"), app->m_dataFolder);

    app->m_diskInventory = real;
    app->m_systemDrive = savedDrive;
    EXPECT_TRUE(recheck());
}
