// The download page with its queue: a run from the application's catalogue
// through the real engine ends with Next enabled (or the restart question
// when the page continues by itself); the update link, which shares the
// pause button's id, never pauses or resumes; Back while running asks.
#include "download_queue_test_support.h"

#include <gtest/gtest.h>

#include "../controls/controls_test_support.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "pages/os_download_dlg.h"
#include "pages_test_support.h"

namespace {

// A parent for the page that records the navigation it is asked for.
class NavigationHost : public CHostWnd {
public:
    std::vector<std::pair<WPARAM, LPARAM>> m_navigations;

protected:
    LRESULT OnPageNavigate(WPARAM wParam, LPARAM lParam) {
        m_navigations.push_back(std::make_pair(wParam, lParam));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NavigationHost, CHostWnd)
    ON_MESSAGE(WM_PAGE_NAVIGATE, OnPageNavigate)
END_MESSAGE_MAP()

class DownloadPageTest : public DownloadQueueTest {
protected:
    void SetUp() override {
        DownloadQueueTest::SetUp();
        ASSERT_TRUE(m_host.CreateHost(0, 0, 920, 460));
        ASSERT_TRUE(m_page.Create(IDD_OS_DOWNLOAD, &m_host));
        m_page.SetWindowPos(nullptr, 0, 0, 920, 460, SWP_NOZORDER);
        m_page.ShowWindow(SW_SHOW);
    }
    void TearDown() override {
        m_page.StopTask();
        m_page.m_queue.WaitForThreads(10000);
        m_page.DestroyWindow();
        m_host.DestroyWindow();
    }
    CString RowText(int row) {
        CString text;
        m_page.m_rows[row].control->GetWindowText(text);
        return text;
    }
    // Saves what the screen shows of the page beside the test program.
    void SaveShot(const wchar_t* name) {
        m_page.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump(200);
        CRect r;
        m_page.GetWindowRect(&r);
        MemSurface shot(r.Width(), r.Height(), RGB(0, 0, 0));
        CaptureScreenOf(m_page.GetSafeHwnd(), shot);
        EXPECT_TRUE(SavePng((HBITMAP)GetCurrentObject(shot.dc(), OBJ_BITMAP), TestProgramDirectory() + L"\\" + name));
    }

    NavigationHost m_host;
    COsDownloadDlg m_page;
};

TEST_F(DownloadPageTest, RunFetchesTheCatalogueFilesAndEnablesNext) {
    CTarvelApp* app = GetTarvelApp();
    COnlinefileinfo* image = Record("image", 1, {Mirror("corrupt", "image"), Mirror("good", "image")});
    COnlinefileinfo* pe = Record("pe", 2, {Mirror("gone", "pe"), SharePage("pe")});
    app->m_osImages.RemoveAll();
    app->m_peImages.RemoveAll();
    app->m_osImages.Add(*image);
    app->m_peImages.Add(*pe);
    app->m_selectedImageIndex = 0;
    app->m_selectedPeIndex = 0;
    app->m_selectedImageTab = 2;
    app->m_extraFile2.m_sectionName.Empty();
    m_page.m_autoContinue.SendMessage(BM_SETCHECK, BST_UNCHECKED);
    m_page.ShowDownloadFolder();
    EXPECT_STREQ(app->m_dataFolder, RowText(COsDownloadDlg::kFolderRow));
    EXPECT_FALSE(m_page.m_nextButton.IsWindowEnabled());

    ASSERT_TRUE(m_page.BuildTaskQueue());
    EXPECT_EQ(1, m_page.m_downloadState.load()) << "busy at once";
    bool shot = false;
    EXPECT_TRUE(PumpUntil(
        [&] {
            if (!shot && m_page.m_downloadState == 1 && m_page.m_queue.ActivePollers() > 0) {
                SaveShot(L"download_page_running.png");
                shot = true;
            }
            return m_page.m_downloadState == 0;
        },
        120000));
    EXPECT_TRUE(m_page.m_queue.WaitForThreads(10000));
    EXPECT_TRUE(m_page.m_nextButton.IsWindowEnabled());
    EXPECT_FALSE(m_page.m_pauseButton.IsWindowVisible());
    EXPECT_STREQ(FixedText::kQueueFinishedTitle, RowText(COsDownloadDlg::kTitleRow));
    EXPECT_EQ(100, m_page.m_progress.GetPosition());
    EXPECT_EQ(3, app->m_osImages[0].m_checkState);
    EXPECT_EQ(3, app->m_peImages[0].m_checkState);
    EXPECT_EQ(Md5Upper(TempFolder::Read(LocalFile("image"))), std::string(CStringA(image->m_expectedMd5)));
    EXPECT_EQ(Md5Upper(TempFolder::Read(LocalFile("pe"))), std::string(CStringA(pe->m_expectedMd5)));
    EXPECT_EQ(1, m_server.Count("/web/share/downloadfile?from=share"));
    ASSERT_TRUE(m_page.m_progress.IsWindowVisible());
    CRect barRect;
    m_page.m_progress.GetWindowRect(&barRect);
    m_page.ScreenToClient(&barRect);
    EXPECT_EQ(CRect(260, 218, 860, 233), barRect);
    // The bar draws full, in its colour.
    MemSurface bar(barRect.Width(), barRect.Height(), RGB(30, 30, 30));
    m_page.m_progress.PaintBar(bar.dc());
    COLORREF middle = bar.At(barRect.Width() / 2, barRect.Height() / 2);
    EXPECT_LT(GetRValue(middle), 0x40) << std::hex << middle;
    EXPECT_GT(GetBValue(middle), 0xC0) << std::hex << middle;
    SaveShot(L"download_page_finished.png");
    EXPECT_TRUE(m_host.m_navigations.empty()) << "Next waits for the user";
}

TEST_F(DownloadPageTest, UpdateLinkNeitherPausesNorResumes) {
    GetTarvelApp()->m_updateTarget = L"http://127.0.0.1/update";
    m_page.ShowUpdateLink();
    ASSERT_TRUE(m_page.m_updateLink.IsWindowVisible());
    EXPECT_EQ(m_page.m_updateLink.GetDlgCtrlID(), m_page.m_pauseButton.GetDlgCtrlID());
    size_t opened = TestMachine().shell.desktopOpens.size();
    m_page.m_downloadState = 1;  // a run as the main window sees it
    for (int state : {1, 2}) {
        m_page.m_downloadState = state;
        m_page.m_updateLink.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        m_page.m_updateLink.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        Pump(100);
        EXPECT_EQ(state, m_page.m_downloadState.load()) << "the link click left the download as it was";
    }
    ASSERT_EQ(opened + 2, TestMachine().shell.desktopOpens.size()) << "each click opened the update target";
    EXPECT_EQ(0u, TestMachine().shell.desktopOpens.back().find(L"http://127.0.0.1/update|"));
    m_page.m_downloadState = 1;
    m_page.m_pauseButton.SendMessage(BM_CLICK);
    EXPECT_EQ(2, m_page.m_downloadState.load()) << "the button itself pauses";
    m_page.StopTask();
    EXPECT_EQ(0, m_page.m_downloadState.load());
}

TEST_F(DownloadPageTest, BackWhileRunningAsksAndNoKeepsTheDownload) {
    m_page.m_downloadState = 1;
    int answered = MessageBoxesAnswered();
    AnswerNextMessageBox(false);
    m_page.m_backButton.SendMessage(BM_CLICK);
    EXPECT_GT(MessageBoxesAnswered(), answered);
    EXPECT_EQ(1, m_page.m_downloadState.load());
    EXPECT_TRUE(m_host.m_navigations.empty());

    AnswerNextMessageBox(true);
    m_page.m_backButton.SendMessage(BM_CLICK);
    EXPECT_EQ(0, m_page.m_downloadState.load());
    ASSERT_EQ(1u, m_host.m_navigations.size());
    EXPECT_EQ(std::make_pair((WPARAM)IDD_OS_DOWNLOAD, (LPARAM)0), m_host.m_navigations[0]);

    // Paused: back without a question.
    m_page.m_downloadState = 2;
    answered = MessageBoxesAnswered();
    m_page.m_backButton.SendMessage(BM_CLICK);
    EXPECT_EQ(answered, MessageBoxesAnswered());
    EXPECT_EQ(2u, m_host.m_navigations.size());
    m_page.m_downloadState = 0;
}

// The Back question stays open while the page stops being the one shown
// (the run ended and the restart page took over): its Yes then navigates
// nowhere and stops nothing; a run that ended meanwhile on the page still
// shown goes back without a stop.
TEST_F(DownloadPageTest, ABackAnsweredOnceThePageIsNoLongerShownNavigatesNowhere) {
    m_page.m_downloadState = 1;
    {
        BoxAnswerer boxes;
        boxes.onShown = [&] { m_page.ShowWindow(SW_HIDE); };
        m_page.m_backButton.SendMessage(BM_CLICK);
        ASSERT_EQ(1u, boxes.texts.size());
    }
    EXPECT_TRUE(m_host.m_navigations.empty()) << "a page no longer shown navigated";
    EXPECT_EQ(1, m_page.m_downloadState.load()) << "the answer stopped a run it was not asked about";

    m_page.ShowWindow(SW_SHOW);
    {
        BoxAnswerer boxes;
        boxes.onShown = [&] { m_page.m_downloadState = 0; };  // the run ends while the question is open
        m_page.m_backButton.SendMessage(BM_CLICK);
    }
    ASSERT_EQ(1u, m_host.m_navigations.size());
    EXPECT_EQ(std::make_pair((WPARAM)IDD_OS_DOWNLOAD, (LPARAM)0), m_host.m_navigations[0]);
}

// Next's restart question answers Yes by itself after 10 seconds; Back's stop
// question waits for the user.
TEST_F(DownloadPageTest, TheRestartQuestionCountsDownTenSecondsAndTheStopQuestionWaits) {
    BoxAnswerer boxes;
    boxes.script = {false, false};
    m_page.m_nextButton.EnableWindow(TRUE);
    m_page.m_nextButton.SendMessage(BM_CLICK);
    m_page.m_downloadState = 1;
    m_page.m_backButton.SendMessage(BM_CLICK);
    m_page.m_downloadState = 0;
    ASSERT_EQ(2u, boxes.shapes.size());
    EXPECT_EQ(std::wstring(FixedText::kDownloadRestartQuestion), boxes.texts[0]);
    EXPECT_EQ(MB_ICONQUESTION | MB_YESNO, boxes.shapes[0].flags);
    EXPECT_TRUE(boxes.shapes[0].autoClose);
    EXPECT_EQ(10, boxes.shapes[0].seconds);
    EXPECT_EQ(std::wstring(FixedText::kDownloadStopQuestion), boxes.texts[1]);
    EXPECT_EQ(MB_ICONQUESTION | MB_YESNO, boxes.shapes[1].flags);
    EXPECT_FALSE(boxes.shapes[1].autoClose);
    EXPECT_TRUE(m_host.m_navigations.empty()) << "No to both keeps the page";
}

TEST_F(DownloadPageTest, AFinishedRunAsksToRestartWhenItContinuesByItself) {
    CTarvelApp* app = GetTarvelApp();
    app->m_osImages.RemoveAll();
    app->m_peImages.RemoveAll();
    app->m_osImages.SetSize(1);
    app->m_osImages[0].m_checkState = 2;  // valid locally: nothing to fetch
    app->m_selectedImageIndex = 0;
    app->m_selectedPeIndex = -1;
    app->m_selectedImageTab = 2;
    app->m_extraFile2.m_sectionName.Empty();
    ASSERT_EQ(BST_CHECKED, m_page.m_autoContinue.SendMessage(BM_GETCHECK)) << "checked from the start";
    for (bool yes : {false, true}) {
        int answered = MessageBoxesAnswered();
        AnswerNextMessageBox(yes);
        ASSERT_TRUE(m_page.BuildTaskQueue());
        EXPECT_TRUE(PumpUntil([&] { return MessageBoxesAnswered() > answered; }, 30000)) << "the restart question";
        Pump(100);
        EXPECT_EQ(0, m_page.m_downloadState.load());
        EXPECT_TRUE(m_page.m_nextButton.IsWindowEnabled());
        if (yes) {
            ASSERT_EQ(1u, m_host.m_navigations.size());
            EXPECT_EQ(std::make_pair((WPARAM)IDD_OS_DOWNLOAD, (LPARAM)1), m_host.m_navigations[0]);
        } else {
            EXPECT_TRUE(m_host.m_navigations.empty()) << "No keeps the page";
        }
    }
}

// An optional file whose every mirror failed is given up; before the page
// goes on (here by itself, to the restart question) a notice names it, and
// the status row no longer says the run finished whole.
TEST_F(DownloadPageTest, OptionalFilesThatEveryMirrorFailedAreNamedBeforeThePageGoesOn) {
    CTarvelApp* app = GetTarvelApp();
    COnlinefileinfo* image = Record("image", 1, {Mirror("good", "image")});
    COnlinefileinfo* extra = Record("extra", 1, {Mirror("gone", "extra"), Mirror("small", "extra")}, 0);
    extra->m_title = L"附加文件二";
    // An earlier test's page, as it went, uninitialised the engine the
    // pages share (as the program's page does at its exit): start it again.
    ASSERT_TRUE(app->m_downloadEngine && app->m_downloadEngine->Initialize && app->m_downloadEngine->Initialize());
    app->m_osImages.RemoveAll();
    app->m_peImages.RemoveAll();
    app->m_osImages.Add(*image);
    app->m_selectedImageIndex = 0;
    app->m_selectedPeIndex = -1;
    app->m_selectedImageTab = 2;
    app->m_extraFile2 = *extra;
    ASSERT_EQ(BST_CHECKED, m_page.m_autoContinue.SendMessage(BM_GETCHECK));
    BoxAnswerer boxes;
    boxes.script = {true, false};  // the notice, then No to the restart
    ASSERT_TRUE(m_page.BuildTaskQueue());
    EXPECT_TRUE(PumpUntil([&] { return boxes.texts.size() >= 2; }, 120000));
    ASSERT_EQ(2u, boxes.texts.size()) << "state " << m_page.m_downloadState.load() << ", title "
                                      << CStringA(RowText(COsDownloadDlg::kTitleRow)).GetString() << ", status "
                                      << CStringA(RowText(COsDownloadDlg::kStatusRow)).GetString();
    EXPECT_NE(std::wstring::npos, boxes.texts[0].find(L"附加文件二")) << "the notice names the file";
    EXPECT_EQ(0u, boxes.texts[0].find(std::wstring(FixedText::kDownloadFilesLeftOutNotice).substr(0, 8)));
    EXPECT_TRUE(boxes.shapes[0].autoClose) << "an unattended run still goes on";
    EXPECT_EQ(std::wstring(FixedText::kDownloadRestartQuestion), boxes.texts[1]) << "then the page goes on";
    EXPECT_STREQ(FixedText::kDownloadFilesLeftOutStatus, RowText(COsDownloadDlg::kStatusRow));
    EXPECT_EQ(3, app->m_osImages[0].m_checkState);
    EXPECT_TRUE(m_page.m_nextButton.IsWindowEnabled());
    EXPECT_TRUE(m_host.m_navigations.empty());
    app->m_extraFile2 = COnlinefileinfo();
}

// The picker's OK on a page whose run cannot start (here: one is still
// running): the status row says so and the Next of an earlier run is off.
TEST_F(DownloadPageTest, ARunThatCannotStartSaysSoAndLeavesNextDisabled) {
    m_page.m_nextButton.EnableWindow(TRUE);  // an earlier run ended well
    m_page.m_downloadState = 1;
    EXPECT_FALSE(m_page.BuildTaskQueue());
    EXPECT_FALSE(m_page.m_nextButton.IsWindowEnabled());
    EXPECT_STREQ(FixedText::kQueueNotStartedStatus, RowText(COsDownloadDlg::kStatusRow));
    EXPECT_EQ(1, m_page.m_downloadState.load()) << "the running one goes on";
    m_page.m_downloadState = 0;
}

}  // namespace
