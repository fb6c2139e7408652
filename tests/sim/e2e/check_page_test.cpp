// The system check page on the simulated machine, once per scenario (run
// through with_scenario.sh with --outcome=full|fallback|local_pe|nothing|
// no_folder): the real main window is made in-process, its check runs against
// the scenario's disks, facts and drives and the local catalogue server, and
// the test reads what a user would see - which tabs are enabled, what the
// rows say and in which colour, the result line, what Next does - and which
// messages the worker sent to the main window, in order. A screenshot of the
// check page is saved for each outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/backup_dlg.h"
#include "pages/osinfo_dlg.h"
#include "pages/usb_maker.h"
#include "sim/sim_machine.h"
#include "support/no_restart.h"
#include "support/test_files.h"

namespace {

std::string g_outcome;

// What the rows about the system disk show and what the check decides from
// them, read off the scenario's disks: the system partition's key, the
// chassis text with the disk's partition style, the installed system.
struct SystemDisk {
    const wchar_t* key;       // the partition key of C:; null: no partition carries C:
    const wchar_t* chassis;   // the scenario's chassis text
    int style;                // 0 MBR, 1 GPT, -1 not known (no system partition)
    int bootModeFlag;         // the system is one whose boot files are set up for UEFI
    const wchar_t* bootModeText;
    int table;                // the recommendation table: 0 a GPT system disk, 3 MBR and another system
};
const SystemDisk kGptWin10 = {L"0:3", L"笔记本电脑", 1, 1, FixedText::kSystemWin10, 0};

struct Expected {
    const char* outcome;
    int configLoaded;
    int storagePass;
    bool full;         // the install road is open
    bool usbOnly;      // only the USB page
    int usbPeIndex;    // after the check
    const wchar_t* resultPart;  // a text the result line contains
    std::vector<int> redRows;
    SystemDisk disk;
};

const Expected kOutcomes[] = {
    {"full", 1, 1, true, false, 2, FixedText::kCheckRecommendPrefix, {}, kGptWin10},
    {"fallback", 1, 3, false, true, 2, FixedText::kCheckUsbOnly, {}, kGptWin10},
    {"local_pe", 0, 1, false, true, 2, FixedText::kCheckUsbOnly, {8}, kGptWin10},
    // All three entries lie in the data folder: entry 0 is never taken, entry 1 comes first.
    {"local_pe1", 0, 1, false, true, 1, FixedText::kCheckUsbOnly, {8}, kGptWin10},
    // Partitions, none with the system drive's letter: row 1 says so in red,
    // and without the system's disk the data folder comes from the second
    // pass; neither the style nor the system is known.
    {"no_letter", 1, 2, true, false, 2, FixedText::kCheckRecommendPrefix, {1},
     {nullptr, L"笔记本电脑", -1, 0, FixedText::kNoSystem, 3}},
    {"nothing", 0, 1, false, false, 2, FixedText::kCheckNoBootEnvironment, {8}, kGptWin10},
    {"no_folder", 1, 0, false, false, 2, FixedText::kCheckNoDataFolder, {7}, kGptWin10},
    // Windows 7 on an MBR disk, C: its first partition.
    {"legacy", 1, 1, true, false, 2, FixedText::kCheckRecommendPrefix, {},
     {L"0:1", L"台式机", 0, 0, FixedText::kSystemWin7, 3}},
};

std::string Names(const CArray<COnlinefileinfo>& list) {
    std::string names;
    for (INT_PTR i = 0; i < list.GetSize(); ++i) names += Utf8Of((const wchar_t*)list[i].m_sectionName) + " ";
    return names;
}

std::string Names(const FixedText::RecommendRow* rows, int count) {
    std::string names;
    for (int i = 0; i < count; ++i) names += Utf8Of(rows[i].text) + " ";
    return names;
}

// What reached the main window, in order: sent messages as "S<msg>:<w>:<l>",
// posted ones as "P<msg>".
std::vector<std::string> g_messages;
HWND g_main = nullptr;

LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && m->hwnd == g_main && m->message >= WM_USER && m->message < WM_USER + 0x20) {
        g_messages.push_back("S" + std::to_string(m->message - WM_USER) + ":" + std::to_string(m->wParam) + ":" +
                             std::to_string(m->lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK PostedHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* m = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && m->hwnd == g_main && m->message >= WM_USER && m->message < WM_USER + 0x20)
        g_messages.push_back("P" + std::to_string(m->message - WM_USER));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int IndexOf(const std::string& entry) {
    for (size_t i = 0; i < g_messages.size(); ++i)
        if (g_messages[i] == entry) return (int)i;
    return -1;
}

std::string Joined() {
    std::string all;
    for (const std::string& m : g_messages) all += m + " ";
    return all;
}

TEST(SimCheckPage, TheCheckShowsItsOutcome) {
    const Expected* expected = nullptr;
    for (const Expected& e : kOutcomes)
        if (g_outcome == e.outcome) expected = &e;
    if (!expected) GTEST_SKIP() << "no --outcome= given (run through with_scenario.sh)";

    CTarvelApp* app = GetTarvelApp();
    MainWindowFixture window;
    HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, SentHook, nullptr, GetCurrentThreadId());
    HHOOK posted = SetWindowsHookExW(WH_GETMESSAGE, PostedHook, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(window.Create());
    g_main = window.dlg->GetSafeHwnd();
    ASSERT_TRUE(window.WaitForCheck(300000)) << "the check did not end";
    // The messages the worker posted last: the version check's always, the
    // folder copy's when the outcome has a data folder to copy to.
    const bool copy = expected->storagePass == 1 || expected->storagePass == 2;
    PumpUntil([&] { return IndexOf("P6") >= 0 && (!copy || IndexOf("P5") >= 0); }, 120000);
    CTarvelDlg& dlg = *window.dlg;
    COsinfoDlg& page = *dlg.m_osinfoPage;

    EXPECT_EQ(expected->configLoaded, app->m_configLoaded);
    EXPECT_EQ(expected->storagePass, app->m_storagePass);
    EXPECT_EQ(expected->usbOnly ? 1 : 0, app->m_usbOnlyMode);
    EXPECT_EQ(expected->usbPeIndex, app->m_usbPeIndex);
    EXPECT_EQ(expected->full || expected->usbOnly, page.m_nextButton.IsWindowEnabled() != FALSE);
    EXPECT_EQ(expected->full || expected->usbOnly, dlg.m_usbTab.IsWindowEnabled() != FALSE);
    EXPECT_EQ(expected->full, dlg.m_backupTab.IsWindowEnabled() != FALSE);
    EXPECT_TRUE(page.m_recheckButton.GetStyle() & WS_VISIBLE);  // the page itself may be hidden behind the USB tab
    EXPECT_EQ(100, page.m_checkProgress.GetPosition());

    CString result;
    page.m_resultText.GetWindowText(result);
    EXPECT_GE(result.Find(expected->resultPart), 0) << Utf8Of((const wchar_t*)result);
    EXPECT_EQ(expected->full ? COsinfoDlg::kLineColor : COsinfoDlg::kFailColor, page.m_resultText.m_textColor);
    // The folder row is a link: unless it failed it keeps a new link's own colour.
    const COLORREF linkColor = CHyperLink().m_linkColor;
    ASSERT_NE(COsinfoDlg::kFailColor, linkColor);
    for (int row = 0; row < COsinfoDlg::kRows; ++row) {
        bool red = false;
        for (int r : expected->redRows) red = red || r == row;
        const COLORREF color =
            red ? COsinfoDlg::kFailColor : (row == COsinfoDlg::kFolderRow ? linkColor : COsinfoDlg::kRowColor);
        EXPECT_EQ(color, page.m_valueRows[row].textColor) << "row " << row;
        if (row == COsinfoDlg::kFolderRow) EXPECT_EQ(color, page.FolderLink()->m_linkColor) << "the folder link";
        EXPECT_EQ(red ? 2 : 1, page.m_rowSpinners[row].GetShownPicture()) << "row " << row;
        CString text;
        page.m_valueRows[row].control->GetWindowText(text);
        EXPECT_NE(CString(FixedText::kCheckValuePlaceholder), text) << "row " << row;
    }
    // Rows 1 and 2, and what the check took from the system disk.
    const SystemDisk& disk = expected->disk;
    const CString row1 = CString(FixedText::kCheckSystemDrivePrefix) + L"C:" +
                         (disk.key ? CString(FixedText::kCheckPartitionPrefix) + disk.key : CString(FixedText::kCheckNotFound));
    const CString row2 = CString(disk.chassis) + (disk.style == 0   ? FixedText::kCheckMbrStyle
                                                  : disk.style == 1 ? FixedText::kCheckOtherStyle
                                                                    : L"");
    EXPECT_EQ(row1, page.m_valueRows[1].text);
    EXPECT_EQ(row2, page.m_valueRows[2].text);
    CString shownRow;
    page.m_valueRows[1].control->GetWindowText(shownRow);
    EXPECT_EQ(row1, shownRow);
    page.m_valueRows[2].control->GetWindowText(shownRow);
    EXPECT_EQ(row2, shownRow);
    EXPECT_EQ(disk.bootModeFlag, app->m_bootModeFlag);
    EXPECT_EQ(CString(disk.bootModeText), app->m_bootModeText);
    const FixedText::RecommendTable& table = FixedText::kRecommendTables[disk.table];
    EXPECT_EQ(Names(table.list1, table.list1Count), Names(app->m_recommendList1)) << "table " << disk.table;
    EXPECT_EQ(Names(table.list2, table.list2Count), Names(app->m_recommendList2)) << "table " << disk.table;
    if (expected->full) EXPECT_EQ(CString(FixedText::kCheckRecommendPrefix) + table.hint, result);

    CString folderText;
    page.FolderLink()->GetWindowText(folderText);
    EXPECT_EQ(app->m_dataFolder, folderText);
    if (expected->storagePass == 0) EXPECT_EQ(app->m_moduleFolder, app->m_dataFolder);

    // The worker's messages: tabs off first; the full road turns both on, then
    // the USB list, then the image lists; the version check always comes.
    EXPECT_EQ(0, IndexOf("S4:2:0")) << Joined();
    EXPECT_EQ(1, IndexOf("S4:3:0")) << Joined();
    EXPECT_GE(IndexOf("P6"), 0) << Joined();
    EXPECT_EQ(copy, IndexOf("P5") >= 0) << Joined();
    if (expected->full) {
        EXPECT_LT(IndexOf("S4:3:1"), IndexOf("S7:0:0")) << Joined();
        EXPECT_LT(IndexOf("S7:0:0"), IndexOf("S8:0:0")) << Joined();
        EXPECT_GE(IndexOf("S4:2:1"), 0) << Joined();
    } else {
        EXPECT_EQ(-1, IndexOf("S8:0:0")) << Joined();
        EXPECT_EQ(-1, IndexOf("S4:3:1")) << Joined();
    }
    if (expected->usbOnly) {
        EXPECT_LT(IndexOf("S4:2:1"), IndexOf("S7:0:0")) << Joined();
        EXPECT_LT(IndexOf("S7:0:0"), IndexOf("S4:2:2")) << Joined();
        EXPECT_EQ(IDC_USB_TAB, dlg.m_currentTabId);  // the check clicked the USB tab for the user
    }

    dlg.m_installTab.SendMessage(BM_CLICK);
    Pump(200);
    std::wstring shot = TestProgramDirectory() + L"\\check_page_" + std::wstring(g_outcome.begin(), g_outcome.end()) + L".png";
    EXPECT_GT(CaptureWindow(dlg.GetSafeHwnd(), shot.c_str()), 20);

    // Next.
    if (expected->full) {
        const CString handOver = app->m_dataFolder + L"\\" + app->m_handOverIniName;
        page.m_nextButton.SendMessage(BM_CLICK);
        Pump(200);
        EXPECT_EQ((CWnd*)dlg.m_backupPage, dlg.m_shownPage);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app->m_backupFolder));
        EXPECT_EQ(0, app->m_backupFolder.Find(app->m_dataFolder));
        CString linkText;
        dlg.m_backupPage->m_folderLink.GetWindowText(linkText);
        EXPECT_GE(linkText.Find(app->m_backupFolder), 0);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(handOver)) << Utf8Of((const wchar_t*)handOver);
        // Back, and Next again: the road is not prepared twice.
        SetFileAttributesW(handOver, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(handOver);
        dlg.SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 0);
        page.m_nextButton.SendMessage(BM_CLICK);
        Pump(200);
        EXPECT_EQ((CWnd*)dlg.m_backupPage, dlg.m_shownPage);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(handOver));

        // Re-check, then Next: the road is prepared again. Next is off from
        // the moment the check starts, before its worker has done anything,
        // so no click can prepare it with what the last check found.
        dlg.SendMessage(WM_PAGE_NAVIGATE, IDD_BACKUP, 0);
        const CString backupFolder = app->m_backupFolder;
        RemoveDirectoryW(backupFolder);
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(backupFolder)) << "an empty folder, removed";
        page.m_recheckButton.SendMessage(BM_CLICK);
        EXPECT_FALSE(page.m_nextButton.IsWindowEnabled()) << "Next is off as the check starts";
        ASSERT_TRUE(window.WaitForCheck(300000)) << "the second check did not end";
        Pump(500);
        ASSERT_TRUE(page.m_nextButton.IsWindowEnabled());
        page.m_nextButton.SendMessage(BM_CLICK);
        Pump(200);
        EXPECT_EQ((CWnd*)dlg.m_backupPage, dlg.m_shownPage);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(handOver)) << "the hand-over INI is written again";
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app->m_backupFolder)) << "the backup folder made again";
    } else if (expected->usbOnly) {
        page.m_nextButton.SendMessage(BM_CLICK);
        Pump(300);
        EXPECT_EQ(IDC_USB_TAB, dlg.m_currentTabId);
        EXPECT_EQ((CWnd*)dlg.m_usbPage, dlg.m_shownPage);
        EXPECT_EQ((CWnd*)dlg.m_osinfoPage, dlg.m_flowPage);  // the install tab comes back to the check
    }

    UnhookWindowsHookEx(sent);
    UnhookWindowsHookEx(posted);
}

}  // namespace

int main(int argc, char** argv) {
    CTarvelApp app;
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    GuiTestSession gui;
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 10, "--outcome=") == 0) g_outcome = arg.substr(10);
    }
    CString error;
    if (!g_outcome.empty() && !LoadSimScenarioFromEnvironment(&error)) {
        fprintf(stderr, "the scenario could not be loaded: %s\n", Utf8Of((const wchar_t*)error).c_str());
        return 1;
    }
    app.m_workFolder = MakeTempFolder(L"simcheck").c_str();
    app.m_workFolderCreated = true;  // the configuration fetch needs a folder the program made
    if (!LoadTestSkin()) fprintf(stderr, "the skin archive could not be loaded; pages draw without pictures\n");
    int rc = RUN_ALL_TESTS();
    UnloadSimScenario();
    return rc;
}
