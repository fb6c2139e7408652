#include "pages/osinfo_dlg.h"

#include <process.h>

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "pages/os_download_dlg.h"
#include "pages/tarvel_dlg.h"

BEGIN_MESSAGE_MAP(COsinfoDlg, CFlowPage)
    ON_BN_CLICKED(IDC_RECHECK, OnClickedRecheck)
    ON_BN_CLICKED(IDC_NEXT, OnClickedNext)
END_MESSAGE_MAP()

COsinfoDlg::COsinfoDlg(CWnd* pParent)
    : CFlowPage(IDD_OSINFO, 1, pParent), m_checkSystemThread(nullptr), m_prepareOnNext(0), m_stopRequested(0),
      m_folderLinkColor(0), m_mainWindow(nullptr) {}

COsinfoDlg::~COsinfoDlg() {
    for (int i = 0; i < kRows; ++i) {
        delete m_labelRows[i].control;
        delete m_valueRows[i].control;
    }
    // The handle of a thread that has ended; one still running is never closed under it.
    if (m_checkSystemThread && !ThreadStillRunning(m_checkSystemThread)) CloseHandle(m_checkSystemThread);
}

BOOL COsinfoDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    CTarvelApp* app = GetTarvelApp();

    m_checkProgress.Create(WS_CHILD | WS_VISIBLE, CRect(320, 35, 880, 50), this, IDC_CHECK_PROGRESS);
    m_checkProgress.SetTooltipText(FixedText::kCheckProgressTooltip);
    m_checkProgress.SetBarColor(0xFF0078E3);
    m_checkProgress.SetTrackColor(0xFFFFFFFF);

    m_busyAnimation.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(230, 30, 290, 90), this);
    m_busyAnimation.LoadImages(FixedText::kSkinCheckAnimation, FixedText::kSkinMarkOk, FixedText::kSkinMarkFail);

    m_recheckButton.SetSkin(FixedText::kSkinRecheck[0], FixedText::kSkinRecheck[1], FixedText::kSkinRecheck[2],
                            FixedText::kSkinRecheck[3]);
    m_recheckButton.Create(FixedText::kRecheckCaption, WS_CHILD | WS_VISIBLE, CRect(800, 80, 880, 106), this,
                           IDC_RECHECK);
    m_nextButton.SetSkin(FixedText::kSkinNext[0], FixedText::kSkinNext[1], FixedText::kSkinNext[2],
                         FixedText::kSkinNext[3]);
    m_nextButton.Create(FixedText::kNextCaption, WS_CHILD | WS_VISIBLE, CRect(760, 380, 880, 420), this, IDC_NEXT);

    LOGFONTW lineFont = PageFont(-12);
    m_statusText.Create(FixedText::kCheckStatusInitial, WS_CHILD | WS_VISIBLE, CRect(320, 75, 670, 95), this,
                        IDC_CHECK_STATUS);
    m_statusText.SetTextColor(kLineColor);
    m_statusText.SetFont(&lineFont);
    m_resultText.Create(FixedText::kCheckResultInitial, WS_CHILD | WS_VISIBLE, CRect(240, 150, 590, 170), this,
                        IDC_CHECK_RESULT);
    m_resultText.SetTextColor(kLineColor);
    m_resultText.SetFont(&lineFont);

    LOGFONTW rowFont = PageFont(-15);
    for (int i = 0; i < kRows; ++i) {
        InfoRow& label = m_labelRows[i];
        label.text = FixedText::kCheckRowLabels[i];
        label.textColor = kRowColor;
        label.rect = CRect(240, 180 + 25 * i, 340, 200 + 25 * i);
        label.id = IDC_CHECK_LABEL_FIRST + i;
        label.font = &rowFont;
        CColorText_Static* labelControl = new CColorText_Static;
        label.control = labelControl;
        labelControl->Create(label.text, WS_CHILD | WS_VISIBLE, label.rect, this, label.id);
        labelControl->SetTextColor(label.textColor);
        labelControl->SetFont(label.font);
    }
    for (int i = 0; i < kRows; ++i) {
        InfoRow& value = m_valueRows[i];
        value.text = i == kFolderRow ? FixedText::kCheckFolderPlaceholder : FixedText::kCheckValuePlaceholder;
        value.textColor = kRowColor;
        value.id = IDC_CHECK_VALUE_FIRST + i;
        value.font = &rowFont;
        if (i == kFolderRow) {
            value.rect = CRect(380, 355, 480, 375);
            CHyperLink* link = new CHyperLink;
            value.control = link;
            // The row keeps its 100 pixels; a longer folder path ends in an
            // ellipsis (the drive stays in sight) rather than wrapping out of sight.
            link->Create(value.text, WS_CHILD | WS_VISIBLE | SS_ENDELLIPSIS | SS_NOPREFIX, value.rect, this, value.id);
            link->SetFont(value.font);
            link->SetTransparent();
            link->Invalidate();
            m_folderLinkColor = link->m_linkColor;
        } else {
            value.rect = CRect(380, 180 + 25 * i, 755, 200 + 25 * i);
            CColorText_Static* text = new CColorText_Static;
            value.control = text;
            text->Create(value.text, WS_CHILD | WS_VISIBLE, value.rect, this, value.id);
            text->SetTextColor(value.textColor);
            text->SetFont(value.font);
        }
        m_rowSpinners[i].Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW,
                                CRect(330, 183 + 25 * i, 346, 199 + 25 * i), this);
        m_rowSpinners[i].LoadImages(FixedText::kSkinSpinner, FixedText::kSkinMarkOk, FixedText::kSkinMarkFail);
        m_rowSpinners[i].ShowWindow(SW_HIDE);
    }
    for (InfoRow& row : m_labelRows) row.font = nullptr;
    for (InfoRow& row : m_valueRows) row.font = nullptr;

    CreateUpdateLink();
    CreateStepStrip();

    if (app) {
        app->BuildPeList();
        app->DecipherMirrorList();
    }
    StartCheck();
    return TRUE;
}

void COsinfoDlg::StartCheck() {
    if (ThreadStillRunning(m_checkSystemThread)) return;
    if (m_checkSystemThread) CloseHandle(m_checkSystemThread);
    // The worker rebuilds the catalogue: nothing may keep pointing into it.
    if (CTarvelDlg* main = CTarvelDlg::FromApp()) main->ForgetCatalogueLists();
    InterlockedExchange(&m_stopRequested, 0);
    // Off before the worker runs: a click in its first moment would prepare
    // the road with what the last check found.
    if (m_nextButton.GetSafeHwnd()) m_nextButton.EnableWindow(FALSE);
    CWnd* parent = GetParent();
    m_mainWindow = parent ? parent->GetSafeHwnd() : nullptr;
    m_checkSystemThread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CheckSystemThreadProc, this, 0, nullptr));
}

unsigned __stdcall COsinfoDlg::CheckSystemThreadProc(void* page) {
    static_cast<COsinfoDlg*>(page)->CheckSystem();
    return 0;
}

void COsinfoDlg::StopJobs() { InterlockedExchange(&m_stopRequested, 1); }

bool COsinfoDlg::WorkersRunning() { return ThreadStillRunning(m_checkSystemThread); }

void COsinfoDlg::OnClickedRecheck() {
    CTarvelDlg* main = CTarvelDlg::FromApp();
    // The queues point into the catalogue that a new check rebuilds.
    if (main && main->CatalogueInUse()) {
        MyMessageBox(MB_ICONINFORMATION, TRUE,
                     main->CatalogueTasksHeld() ? FixedText::kRecheckRefusedTasks : FixedText::kRecheckRefusedWorkers,
                     3);
        return;
    }
    StartCheck();
}

void COsinfoDlg::OnClickedNext() {
    CTarvelApp* app = GetTarvelApp();
    CTarvelDlg* main = CTarvelDlg::FromApp();
    if (!app || !main) return;
    if (app->m_usbOnlyMode) {
        main->PostMessage(WM_TAB_BUTTON_CONTROL, 2, 2);
        return;
    }
    if (InterlockedExchange(&m_prepareOnNext, 0)) {
        main->PrepareBackupTarget();
        if (main->m_downloadPage) main->m_downloadPage->ShowDownloadFolder();
        app->WriteHandOverIni();
    }
    main->SendMessage(WM_PAGE_NAVIGATE, IDD_OSINFO, 1);
}

// ---- the worker's way to the page's controls ----

LRESULT COsinfoDlg::SendToMain(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_mainWindow ? ::SendMessageW(m_mainWindow, message, wParam, lParam) : 0;
}

void COsinfoDlg::PostToMain(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_mainWindow) ::PostMessageW(m_mainWindow, message, wParam, lParam);
}

void COsinfoDlg::SetRowText(int row, const CString& text) {
    RunOnPage([&] {
        m_valueRows[row].text = text;
        m_valueRows[row].control->SetWindowText(text);
        m_valueRows[row].control->Invalidate();
    });
}

void COsinfoDlg::SetRowColor(int row, COLORREF color) {
    RunOnPage([&] {
        m_valueRows[row].textColor = color;
        if (row == kFolderRow) {
            // The folder link draws in its link colour; a failed folder shows it in red.
            CHyperLink* link = FolderLink();
            link->m_linkColor = color;
            link->Invalidate();
        } else {
            static_cast<CColorText_Static*>(m_valueRows[row].control)->SetTextColor(color);
        }
    });
}

void COsinfoDlg::StartRow(int row) {
    RunOnPage([&] {
        m_rowSpinners[row].ShowWindow(SW_SHOWNORMAL);
        m_rowSpinners[row].Play();
    });
}

void COsinfoDlg::EndRow(int row, bool ok, int progress) {
    SetProgress(progress);
    RunOnPage([&] { m_rowSpinners[row].Stop(ok ? 1 : 2); });
}

void COsinfoDlg::SetProgress(int position) {
    RunOnPage([&] { m_checkProgress.SetPos(position); });
}

void COsinfoDlg::SetResult(const CString& text, COLORREF color) {
    RunOnPage([&] {
        m_resultText.SetTextColor(color);
        m_resultText.SetWindowText(text);
        m_resultText.ShowWindow(SW_SHOW);
        m_resultText.Invalidate();
    });
}

void COsinfoDlg::EnableNext(BOOL enable) {
    RunOnPage([&] { m_nextButton.EnableWindow(enable); });
}
