#include "pages/os_download_dlg.h"

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/reboot_dlg.h"
#include "pages/tarvel_dlg.h"

namespace {

const COLORREF kTitleColor = 0x333333;
const COLORREF kRowColor = 0x676767;

// Rectangles of the eleven rows (page coordinates).
const RECT kRowRects[COsDownloadDlg::kRowCount] = {
    {260, 180, 760, 205}, {255, 250, 310, 270}, {311, 250, 386, 270}, {390, 250, 445, 270},
    {446, 250, 512, 270}, {512, 250, 567, 270}, {568, 250, 634, 270}, {634, 250, 689, 270},
    {690, 250, 756, 270}, {756, 250, 811, 270}, {812, 250, 878, 270},
};

}  // namespace

BEGIN_MESSAGE_MAP(COsDownloadDlg, CFlowPage)
    ON_BN_CLICKED(IDC_DOWNLOAD_NEXT, OnClickedNext)
    ON_BN_CLICKED(IDC_DOWNLOAD_BACK, OnClickedBack)
    ON_BN_CLICKED(IDC_DOWNLOAD_PAUSE, OnClickedPauseResume)
    ON_MESSAGE(WM_TASK_STEP, OnTaskStep)
END_MESSAGE_MAP()

COsDownloadDlg::COsDownloadDlg(CWnd* pParent)
    : CFlowPage(IDD_OS_DOWNLOAD, 4, pParent), m_queue(this), m_downloadState(m_queue.m_downloadState) {}

COsDownloadDlg::~COsDownloadDlg() {
    // The queue's workers write into this page: they end before it goes.
    m_queue.Stop();
    m_queue.WaitForThreads(FixedText::kDownloadPageWaitMs);
    for (InfoRow& row : m_rows) {
        delete row.control;
        row.control = nullptr;
    }
    // The application releases the engine again at exit; the engine accepts both.
    if (m_queue.m_engine) {
        if (m_queue.m_engine->Uninitialize) m_queue.m_engine->Uninitialize();
        m_queue.m_engine = nullptr;
    }
}

BOOL COsDownloadDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    m_nextButton.SetSkin(FixedText::kSkinNext[0], FixedText::kSkinNext[1], FixedText::kSkinNext[2],
                         FixedText::kSkinNext[3]);
    m_nextButton.Create(FixedText::kNextCaption, WS_CHILD | WS_VISIBLE | WS_DISABLED, CRect(740, 380, 860, 420), this,
                        IDC_DOWNLOAD_NEXT);
    m_backButton.SetSkin(FixedText::kSkinReturn[0], FixedText::kSkinReturn[1], FixedText::kSkinReturn[2],
                         FixedText::kSkinReturn[3]);
    m_backButton.Create(FixedText::kBackCaption, WS_CHILD | WS_VISIBLE, CRect(800, 130, 880, 156), this,
                        IDC_DOWNLOAD_BACK);
    m_pauseButton.SetSkin(FixedText::kSkinPause[0], FixedText::kSkinPause[1], FixedText::kSkinPause[2],
                          FixedText::kSkinPause[3]);
    m_pauseButton.Create(L"", WS_CHILD | WS_VISIBLE, CRect(840, 185, 863, 208), this, IDC_DOWNLOAD_PAUSE);
    m_pauseButton.SetToolTipText(FixedText::kDownloadPauseTooltip);
    m_banner.Create(L"", WS_CHILD | WS_VISIBLE, CRect(240, 50, 880, 128), this);
    LoadPicture(m_banner, FixedText::kSkinDownloadBanner);
    CreateStepStrip();
    m_autoContinue.Create(FixedText::kDownloadAutoContinueCaption, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                          CRect(525, 390, 685, 420), this, IDC_DOWNLOAD_AUTO_CONTINUE);
    m_autoContinue.SetSkin(FixedText::kSkinAutoContinue[0], FixedText::kSkinAutoContinue[1],
                           FixedText::kSkinAutoContinue[2], FixedText::kSkinAutoContinue[3]);
    m_autoContinue.SendMessage(BM_SETCHECK, BST_CHECKED);
    CreateRows();
    CreateUpdateLink();
    m_progress.Create(WS_CHILD | WS_VISIBLE, CRect(260, 218, 860, 233), this, IDC_DOWNLOAD_PROGRESS);
    m_progress.SetBarColor(0xFF0078E3);
    m_progress.SetTrackColor(0xFFFFFFFF);
    m_progress.SetTooltipText(FixedText::kDownloadProgressTooltip);
    return TRUE;
}

void COsDownloadDlg::CreateRows() {
    LOGFONTW smallFont = PageFont(-12);
    LOGFONTW titleFont = PageFont(-15);
    for (int i = 0; i < kRowCount; ++i) {
        InfoRow& row = m_rows[i];
        row.rect = kRowRects[i];
        row.id = IDC_DOWNLOAD_ROW_FIRST + i;
        row.font = i == kTitleRow ? &titleFont : &smallFont;
        row.textColor = i == kTitleRow ? kTitleColor : kRowColor;
        if (i == kTitleRow)
            row.text = FixedText::kDownloadInitialTitle;
        else if (i % 2 == 1)
            row.text = FixedText::kDownloadRowLabels[i / 2];
        else if (i == kFolderRow)
            row.text = FixedText::kDownloadFolderPlaceholder;
        else
            row.text = FixedText::kQueueRowPlaceholder;
        if (i == kFolderRow) {
            CHyperLink* link = new CHyperLink;
            row.control = link;
            // A long folder is cut in its middle rather than wrapped out of the row.
            link->Create(row.text, WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX, row.rect, this, row.id);
            link->SetTransparent();
            link->SetFont(row.font);
        } else {
            CColorText_Static* text = new CColorText_Static;
            row.control = text;
            text->Create(row.text, WS_CHILD | WS_VISIBLE, row.rect, this, row.id);
            text->SetTextColor(row.textColor);
            text->SetFont(row.font);
        }
        row.font = nullptr;  // the fonts live only while the page is built
    }
}

BOOL COsDownloadDlg::BuildTaskQueue() {
    if (m_downloadState == 0) m_skippedTitles.RemoveAll();
    // Next belongs to the run the picker asked for, whether or not it starts:
    // an earlier run's Next would lead to the restart with files never fetched.
    m_nextButton.EnableWindow(FALSE);
    if (m_queue.BuildTaskQueue()) return TRUE;
    SetQueueRowText(kQueueStatusRow, FixedText::kQueueNotStartedStatus);
    return FALSE;
}

void COsDownloadDlg::StopTask() { m_queue.StopTask(); }

void COsDownloadDlg::ResumeAfterRefusedExit() {
    if (!m_stoppedByExit) return;
    m_stoppedByExit = false;
    if (m_downloadState != 0) return;
    ShowPauseButton(FALSE);
    ShowBackButton(TRUE);
    SetQueueRowText(kQueueStatusRow, FixedText::kJobStoppedByExit);
}

void COsDownloadDlg::ShowDownloadFolder() {
    CHyperLink* link = static_cast<CHyperLink*>(m_rows[kFolderRow].control);
    if (!link || !link->GetSafeHwnd()) return;
    CString folder = GetTarvelApp()->m_dataFolder;
    link->SetWindowText(folder);
    link->SetLink(FixedText::kOpenFolderTooltip, folder, 0);
}

// ---- the queue's host ----

void COsDownloadDlg::SetQueueRowText(int row, const CString& text) {
    static const int kRowOf[] = {kTitleRow, kSpeedRow, kRemainingRow, kSizeRow, kStatusRow};
    if (row < 0 || row >= (int)(sizeof(kRowOf) / sizeof(kRowOf[0]))) return;
    CStatic* control = m_rows[kRowOf[row]].control;
    if (control && control->GetSafeHwnd()) control->SetWindowText(text);
}

void COsDownloadDlg::SetQueueProgress(int percent) {
    if (m_progress.GetSafeHwnd()) m_progress.SetPos(percent < 0 ? 0 : (percent > 100 ? 100 : percent));
}

void COsDownloadDlg::ShowBackButton(BOOL show) {
    if (m_backButton.GetSafeHwnd()) m_backButton.ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void COsDownloadDlg::ShowPauseButton(BOOL show) {
    if (m_pauseButton.GetSafeHwnd()) m_pauseButton.ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void COsDownloadDlg::SetPauseLook(BOOL paused) {
    const wchar_t* const* pictures = paused ? FixedText::kSkinResume : FixedText::kSkinPause;
    m_pauseButton.SetSkin(pictures[0], pictures[1], pictures[2], pictures[3]);
    if (!m_pauseButton.GetSafeHwnd()) return;
    m_pauseButton.SetToolTipText(paused ? FixedText::kDownloadResumeTooltip : FixedText::kDownloadPauseTooltip);
    m_pauseButton.Invalidate();
}

void COsDownloadDlg::EnableNextButton(BOOL enable) {
    if (m_nextButton.GetSafeHwnd()) m_nextButton.EnableWindow(enable);
}

BOOL COsDownloadDlg::IsAutoContinue() {
    return m_autoContinue.GetSafeHwnd() && m_autoContinue.SendMessage(BM_GETCHECK) == BST_CHECKED;
}

void COsDownloadDlg::OnEntrySkipped(const tagDownloadTaskItem& item) {
    if (item.file) m_skippedTitles.Add(item.file->m_title);
}

void COsDownloadDlg::OnQueueEnd() {
    if (m_skippedTitles.IsEmpty()) return CDownloadQueueHost::OnQueueEnd();
    CString names;
    for (INT_PTR i = 0; i < m_skippedTitles.GetSize(); ++i) {
        if (i) names += FixedText::kMsgBoxLineSeparator;
        names += m_skippedTitles[i];
    }
    m_skippedTitles.RemoveAll();
    SetWorkingView(0);
    EnableNextButton(TRUE);
    ShowPauseButton(FALSE);
    SetQueueRowText(kQueueStatusRow, FixedText::kDownloadFilesLeftOutStatus);
    CString notice;
    notice.Format(FixedText::kDownloadFilesLeftOutNotice, (LPCWSTR)names);
    // Closes by itself, so a run that continues unattended still goes on.
    MyMessageBox(MB_ICONWARNING, TRUE, notice, kLeftOutNoticeSeconds);
    if (IsAutoContinue()) ContinueToNext();
}

// ---- commands ----

BOOL COsDownloadDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    // The update link shares the pause button's id: its clicks belong to the
    // link alone and never pause or resume.
    HWND sender = reinterpret_cast<HWND>(lParam);
    if (LOWORD(wParam) == IDC_DOWNLOAD_PAUSE && sender && sender != m_pauseButton.GetSafeHwnd()) {
        CWnd* child = CWnd::FromHandlePermanent(sender);
        LRESULT result = 0;
        if (child) child->OnChildNotify(WM_COMMAND, wParam, lParam, &result);
        return TRUE;
    }
    return CFlowPage::OnCommand(wParam, lParam);
}

LRESULT COsDownloadDlg::OnTaskStep(WPARAM wParam, LPARAM lParam) { return m_queue.OnTaskStep(wParam, lParam); }

void COsDownloadDlg::OnClickedPauseResume() { m_queue.OnClickedPauseResume(); }

bool COsDownloadDlg::IsShownPage() const {
    return GetSafeHwnd() && (::GetWindowLongW(GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
}

void COsDownloadDlg::OnClickedNext() {
    if (MyMessageBox(MB_ICONQUESTION | MB_YESNO, TRUE, FixedText::kDownloadRestartQuestion, 10) != IDYES) return;
    // A box that was open for long answers only for the page still shown.
    if (!IsShownPage()) return;
    GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_OS_DOWNLOAD, 1);
    // The restart worker starts right after the restart page is shown, and
    // only when it is.
    CTarvelDlg* main = CTarvelDlg::FromApp();
    if (main && main->m_rebootPage && main->m_shownPage == main->m_rebootPage) main->m_rebootPage->StartRestart();
}

void COsDownloadDlg::OnClickedBack() {
    if (m_downloadState == 1) {
        if (MyMessageBox(MB_ICONQUESTION | MB_YESNO, FALSE, FixedText::kDownloadStopQuestion, 0) != IDYES) return;
        // The question may have stayed open while the run ended and the
        // restart page took over: the answer counts only for this page still
        // shown, and stops only a run that still runs.
        if (!IsShownPage()) return;
        if (m_downloadState == 1) StopTask();
    }
    // A paused run keeps its task until the next run replaces it.
    GetParent()->SendMessage(WM_PAGE_NAVIGATE, IDD_OS_DOWNLOAD, 0);
}
