#include "pages/ghost_dlg.h"

#include <process.h>
#include <shlobj.h>

#include "controls/message_box.h"
#include "core/fixed_texts.h"
#include "core/folder_rule.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "disk/disk_calls.h"
#include "disk/disk_inventory.h"
#include "disk/volume_encryption.h"
#include "pages/flow_page.h"
#include "pages/manual_dlg.h"
#include "pages/reboot_dlg.h"

namespace {

bool SameTextIgnoringCase(const CString& a, const CString& b) {
    return a.GetLength() == b.GetLength() &&
           CompareStringOrdinal(a, a.GetLength(), b, b.GetLength(), TRUE) == CSTR_EQUAL;
}

bool EndsWithIgnoringCase(const CString& text, const CString& tail) {
    return text.GetLength() >= tail.GetLength() && SameTextIgnoringCase(text.Right(tail.GetLength()), tail);
}

bool FileExists(const CString& path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ShowError(const wchar_t* text) { MyMessageBox(MB_ICONERROR, TRUE, text, 10); }

// A line and the formatted percentage after it.
CString PercentLine(const CString& head, int percent) {
    CString tail;
    tail.Format(FixedText::kGhostPercentFormat, percent);
    return head + tail;
}

}  // namespace

bool IsDriveLetterPath(const CString& path) {
    if (path.GetLength() < 4) return false;
    const wchar_t letter = path[0];
    const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    return isLetter && path[1] == L':' && path[2] == L'\\';
}

bool IsOnDrive(const CString& path, const CString& drive) {
    return drive.GetLength() == 2 && path.GetLength() >= 2 && SameTextIgnoringCase(path.Left(2), drive);
}

BEGIN_MESSAGE_MAP(CGhostDlg, CPageDialog)
    ON_WM_PAINT()
    ON_BN_CLICKED(IDC_GHOST_FORMAT1, OnClickedFirstFormat)
    ON_BN_CLICKED(IDC_GHOST_FORMAT2, OnClickedSecondFormat)
    ON_BN_CLICKED(IDC_GHOST_BACKUP, OnClickedBackup)
    ON_BN_CLICKED(IDC_GHOST_RESTORE, OnClickedRestore)
    ON_BN_CLICKED(IDC_GHOST_BROWSE_TARGET, OnClickedBrowseTarget)
    ON_BN_CLICKED(IDC_GHOST_BROWSE_IMAGE, OnClickedBrowseImage)
    ON_MESSAGE(WM_TASK_STEP, OnTaskStep)
END_MESSAGE_MAP()

CGhostDlg::CGhostDlg(CWnd* pParent)
    : CPageDialog(IDD_GHOST, pParent), m_imageFormat(1), m_targetPath(FixedText::kGhostInitialTarget),
      m_imagePath(FixedText::kGhostInitialImage), m_queue(this), m_downloadState(m_queue.m_downloadState),
      m_finishThread(nullptr), m_view(1), m_jobRunning(0), m_ghostMode(1), m_outcome(kNotRun),
      m_writingBootFiles(0), m_stopRequested(0) {
    m_formatButtons[0].m_textColor = m_formatButtons[1].m_textColor = GetSysColor(COLOR_WINDOWTEXT);
    m_formatButtons[0].m_backColor = m_formatButtons[1].m_backColor = GetSysColor(COLOR_BTNFACE);
}

const wchar_t* CGhostDlg::SessionEndBlocker() {
    return m_armingNextBoot ? FixedText::kSessionBlockBootEntries : nullptr;
}

CGhostDlg::~CGhostDlg() {
    // A thread still running is never closed under it.
    if (m_finishThread && !ThreadStillRunning(m_finishThread)) CloseHandle(m_finishThread);
}

BOOL CGhostDlg::OnInitDialog() {
    CPageDialog::OnInitDialog();
    m_pagePicture.Create(FixedText::kGhostPageCaption, WS_CHILD | WS_VISIBLE, CRect(50, 80, 850, 380), this, (UINT)-1);
    LoadSkinPicture(m_pagePicture, FixedText::kSkinGhostPage);
    m_pagePicture.EnableWindow(FALSE);

    struct ButtonLook {
        CxSkinButton* button;
        const wchar_t* const* skin;
        const wchar_t* caption;
        CRect rect;
        UINT id;
    };
    const ButtonLook buttons[] = {
        {&m_browseTargetButton, FixedText::kSkinGhostBrowse, FixedText::kGhostBrowseCaption,
         CRect(400, 246, 425, 267), IDC_GHOST_BROWSE_TARGET},
        {&m_browseImageButton, FixedText::kSkinGhostBrowse, FixedText::kGhostBrowseCaption, CRect(800, 246, 825, 267),
         IDC_GHOST_BROWSE_IMAGE},
        {&m_backupButton, FixedText::kSkinGhostBackup, FixedText::kGhostBackupCaption, CRect(125, 340, 275, 380),
         IDC_GHOST_BACKUP},
        {&m_restoreButton, FixedText::kSkinGhostRestore, FixedText::kGhostRestoreCaption, CRect(526, 340, 676, 380),
         IDC_GHOST_RESTORE},
    };
    for (const ButtonLook& look : buttons) {
        look.button->SetSkin(look.skin[0], look.skin[1], look.skin[2], FixedText::kSkinGhostDisabled);
        look.button->Create(look.caption, WS_CHILD | WS_VISIBLE, look.rect, this, look.id);
    }

    const LOGFONTW labelFont = PageFont(-14);
    m_targetLabel.Create(FixedText::kGhostTargetLabel, WS_CHILD | WS_VISIBLE, CRect(80, 210, 200, 230), this);
    m_targetLabel.SetTextColor(0x5505);
    m_targetLabel.SetFont(&labelFont, TRUE);

    const LOGFONTW radioFont = PageFont(-12);
    for (int i = 0; i < 2; ++i) {
        const DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0);
        m_formatButtons[i].Create(FixedText::kGhostFormatCaptions[i], style,
                                  CRect(208 + 62 * i, 210, 258 + 62 * i, 230), this, IDC_GHOST_FORMAT1 + i);
        if (i == 0) m_formatButtons[i].SendMessage(BM_SETCHECK, 1);
        m_formatButtons[i].m_backColor = 0xFFFFFF;
        m_formatButtons[i].RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
        m_formatButtons[i].SetFont(&radioFont);
    }

    m_imageLabel.Create(FixedText::kGhostImageLabel, WS_CHILD | WS_VISIBLE, CRect(480, 210, 760, 230), this);
    m_imageLabel.SetTextColor(0x5505);
    m_imageLabel.SetFont(&labelFont, TRUE);

    const DWORD editStyle = WS_CHILD | WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL | ES_UPPERCASE;
    m_targetEdit.Create(editStyle, CRect(130, 246, 360, 266), this, IDC_GHOST_TARGET_EDIT);
    m_targetEdit.SetWindowText(m_targetPath);
    m_targetEdit.SetBackColor(0xFFFFFF);
    m_targetEdit.SetTextColor(kPathColor);
    m_imageEdit.Create(editStyle, CRect(530, 246, 760, 266), this, IDC_GHOST_IMAGE_EDIT);
    m_imageEdit.SetWindowText(m_imagePath.IsEmpty() ? CString(FixedText::kGhostImageHint) : m_imagePath);
    m_imageEdit.SetBackColor(0xFFFFFF);
    m_imageEdit.SetTextColor(m_imagePath.IsEmpty() ? kImageHintColor : kPathColor);

    m_busyPicture.Create(L"", WS_CHILD | SS_OWNERDRAW, CRect(420, 180, 500, 260), this);
    m_busyPicture.LoadImages(FixedText::kSkinGhostAnimation, FixedText::kSkinRebootStillDone,
                             FixedText::kSkinRebootStillFail);

    m_statusText.Create(FixedText::kGhostStatusInitial, WS_CHILD | SS_CENTER | SS_CENTERIMAGE,
                        CRect(260, 300, 660, 320), this, IDC_GHOST_STATUS);
    m_statusText.SetTextColor(0x333333);
    const LOGFONTW statusFont = PageFont(-15);
    m_statusText.SetFont(&statusFont, TRUE);
    return TRUE;
}

void CGhostDlg::OnPaint() {
    CPaintDC paint(this);
    CRect client;
    GetClientRect(&client);
    const int w = client.Width(), h = client.Height();
    CDC memory;
    memory.CreateCompatibleDC(&paint);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(paint.GetSafeHdc(), w, h);
    HGDIOBJ old = memory.SelectObject(&bitmap);
    HDC dc = memory.GetSafeHdc();
    SetBkMode(dc, TRANSPARENT);
    RECT all = {0, 0, w, h};
    HBRUSH white = CreateSolidBrush(0xFFFFFF);
    FillRect(dc, &all, white);
    DeleteObject(white);
    // A frame on the left, bottom and right; the header above closes it.
    HBRUSH line = CreateSolidBrush(0xFF0000);
    const RECT edges[3] = {{0, 0, 1, h}, {0, h - 1, w, h}, {w - 1, 0, w, h}};
    for (const RECT& edge : edges) FillRect(dc, &edge, line);
    DeleteObject(line);
    paint.BitBlt(0, 0, w, h, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(old);
}

// ---- selection view ----

const wchar_t* CGhostDlg::Extension(int format) const {
    return FixedText::kGhostExtensions[format == 2 ? 1 : 0];
}

void CGhostDlg::OnClickedFirstFormat() {
    if (m_imageFormat != 1) SetImageFormat(1);
}

void CGhostDlg::OnClickedSecondFormat() {
    if (m_imageFormat != 2) SetImageFormat(2);
}

void CGhostDlg::SetImageFormat(int format) {
    const CString current = Extension(m_imageFormat);
    if (EndsWithIgnoringCase(m_targetPath, current))
        m_targetPath = m_targetPath.Left(m_targetPath.GetLength() - current.GetLength());
    m_imageFormat = format;
    // No target yet: an extension alone would pass for a file name.
    if (!m_targetPath.IsEmpty()) m_targetPath += Extension(format);
    if (m_targetEdit.GetSafeHwnd()) m_targetEdit.SetWindowText(m_targetPath);
    // The radios follow a change made by code too.
    for (int i = 0; i < 2; ++i)
        if (m_formatButtons[i].GetSafeHwnd()) m_formatButtons[i].SendMessage(BM_SETCHECK, format == i + 1);
}

CString CGhostDlg::ProtectedDrive() const {
    CTarvelApp* app = GetTarvelApp();
    if (app && app->m_systemDrive.GetLength() == 2) return app->m_systemDrive;
    wchar_t windows[MAX_PATH] = {};
    if (GetSystemWindowsDirectoryW(windows, MAX_PATH) >= 2) return CString(windows).Left(2);
    return L"C:";
}

CString CGhostDlg::BackupFolder() const {
    CTarvelApp* app = GetTarvelApp();
    return (app ? app->m_dataFolder : CString()) + FixedText::kGhostFolder;
}

CString CGhostDlg::SuggestedStem() const {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return CString();
    return app->m_toolBaseName + FixedText::kGhostNameInfix + app->m_bootModeText +
           (app->m_is64BitSystem ? FixedText::kGhostName64 : FixedText::kGhostName32);
}

void CGhostDlg::OnClickedBrowseTarget() {
    const int index = m_imageFormat == 2 ? 1 : 0;
    const CString stem = SuggestedStem();
    const CString folder = BackupFolder();
    CFileDialog dialog(FALSE, nullptr, stem, OFN_HIDEREADONLY, FixedText::kGhostFilters[index], nullptr);
    dialog.m_ofn.lpstrTitle = FixedText::kGhostTargetTitle;
    dialog.m_ofn.lpstrInitialDir = folder;
    if (dialog.DoModal() != IDOK) return;
    CString path = dialog.GetPathName();
    if (path.IsEmpty()) return;
    if (IsOnDrive(path, ProtectedDrive())) {
        ShowError(FixedText::kGhostRefusedSystemDrive);
        return;
    }
    if (!IsDriveLetterPath(path)) {
        ShowError(FixedText::kGhostRefusedNoTarget);
        return;
    }
    if (!EndsWithIgnoringCase(path, FixedText::kGhostExtensions[index])) path += FixedText::kGhostExtensions[index];
    m_targetPath = path;
    m_targetEdit.SetWindowText(m_targetPath);
}

void CGhostDlg::OnClickedBrowseImage() {
    const CString folder = BackupFolder();
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, FixedText::kGhostImageFilter, nullptr);
    dialog.m_ofn.lpstrTitle = FixedText::kGhostImageTitle;
    dialog.m_ofn.lpstrInitialDir = folder;
    if (dialog.DoModal() != IDOK) return;
    const CString path = dialog.GetPathName();
    if (path.IsEmpty()) return;
    if (m_imagePath.IsEmpty()) {
        m_imageEdit.SetWindowText(L"");
        m_imageEdit.SetTextColor(kPathColor);
    }
    if (IsOnDrive(path, ProtectedDrive())) {
        ShowError(FixedText::kGhostRefusedSystemDrive);
        return;
    }
    if (!IsDriveLetterPath(path)) {
        ShowError(FixedText::kGhostRefusedNoImage);
        return;
    }
    m_imagePath = path;
    m_imageEdit.SetWindowText(m_imagePath);
}

void CGhostDlg::SetDefaultBackupPath() {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return;
    // The boot environment writes the image there: a folder of ours by the
    // folder rule (a link or a stranger's folder at the name is never used),
    // else the data folder itself.
    CString folder = BackupFolder();
    if (EnsureOwnFolder(CurrentBootHost().FolderRule(), folder) == OwnFolder::kFailed) folder = app->m_dataFolder;
    m_targetPath = folder + FixedText::kGhostNameSeparator + SuggestedStem() + Extension(m_imageFormat);
    m_targetPath.MakeUpper();
    if (m_targetEdit.GetSafeHwnd()) m_targetEdit.SetWindowText(m_targetPath);
}

void CGhostDlg::OnClickedBackup() {
    // The boot environment writes the image there: a chosen file on a drive
    // other than the system's, never a guess.
    if (!IsDriveLetterPath(m_targetPath) || IsOnDrive(m_targetPath, ProtectedDrive())) {
        ShowError(IsDriveLetterPath(m_targetPath) ? FixedText::kGhostRefusedSystemDrive
                                                  : FixedText::kGhostRefusedNoTarget);
        return;
    }
    StartJob(1);
}

void CGhostDlg::OnClickedRestore() {
    if (m_imagePath.IsEmpty()) {
        ShowError(FixedText::kGhostRefusedNoImage);
        return;
    }
    StartJob(2);
}

void CGhostDlg::StartJob(int mode) {
    if (m_view != 1 || WorkersRunning()) return;
    m_ghostMode = mode;
    InterlockedExchange(&m_stopRequested, 0);
    m_outcome = kRunning;
    SetStatus(FixedText::kGhostStatusInitial);
    SwitchView(2);
    if (!m_queue.BuildTaskQueue()) Refuse(kRefusedDownload, FixedText::kGhostRefusedDownload);
}

void CGhostDlg::SwitchView(int view) {
    if (view == m_view) return;
    CWnd* selection[] = {&m_pagePicture,      &m_browseTargetButton, &m_browseImageButton, &m_backupButton,
                         &m_restoreButton,    &m_targetLabel,        &m_formatButtons[0],  &m_formatButtons[1],
                         &m_imageLabel,       &m_targetEdit,         &m_imageEdit};
    if (m_view == 1) {
        for (CWnd* control : selection) control->ShowWindow(SW_HIDE);
    } else {
        m_statusText.ShowWindow(SW_HIDE);
        m_busyPicture.ShowWindow(SW_HIDE);
        m_busyPicture.Stop(0);
    }
    if (view == 2) {
        InterlockedExchange(&m_jobRunning, 1);
        m_statusText.ShowWindow(SW_SHOW);
        m_busyPicture.ShowWindow(SW_SHOW);
        m_busyPicture.Play();
    } else {
        for (CWnd* control : selection) control->ShowWindow(SW_SHOW);
        InterlockedExchange(&m_jobRunning, 0);
    }
    m_view = view;
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// ---- the queue ----

LRESULT CGhostDlg::OnTaskStep(WPARAM wParam, LPARAM lParam) { return m_queue.OnTaskStep(wParam, lParam); }

void CGhostDlg::CollectCandidates(CArray<tagDownloadTaskItem>& candidates) {
    CTarvelApp* app = GetTarvelApp();
    if (!app) return;
    if (app->m_selectedPeIndex >= 0 && app->m_selectedPeIndex < app->m_peImages.GetSize()) {
        tagDownloadTaskItem item = {&app->m_peImages[app->m_selectedPeIndex], 0};
        candidates.Add(item);
    }
    if (!app->m_toolFile.m_sectionName.IsEmpty()) {
        tagDownloadTaskItem item = {&app->m_toolFile, 0};
        candidates.Add(item);
    }
}

BOOL CGhostDlg::IsRequired(const tagDownloadTaskItem& item) { return item.file->m_requiredUsb != 0; }

void CGhostDlg::OnBuildStarted() { SetStatus(FixedText::kGhostCheckingFiles); }

void CGhostDlg::OnCandidateChecking(const tagDownloadTaskItem& item) {
    m_digestTitle = item.file->m_title;
    SetStatus(FixedText::kGhostCheckingPrefix + item.file->m_title + FixedText::kGhostCheckingSuffix);
}

void CGhostDlg::OnTransferProgress(const tagDownloadTaskItem& item, const QueueTransferProgress& progress) {
    SetStatus(PercentLine(FixedText::kGhostDownloadingPrefix + item.file->m_sectionName +
                              FixedText::kGhostDownloadingInfix,
                          progress.percent));
}

void CGhostDlg::OnTransferFinished(const tagDownloadTaskItem& item, bool firstTime) {
    if (firstTime) SetStatus(item.file->m_sectionName + FixedText::kGhostDownloadFinished);
}

void CGhostDlg::OnVerifyStarted(const tagDownloadTaskItem& item) {
    m_digestTitle = item.file->m_title;
    SetStatus(item.file->m_title + FixedText::kGhostVerifying);
}

void CGhostDlg::OnCheckProgress(int percent) {
    SetStatus(PercentLine(m_digestTitle + FixedText::kGhostVerifyingInfix, percent));
}

void CGhostDlg::OnCheckEnded() { SetStatus(m_digestTitle + FixedText::kGhostVerifyDone); }

void CGhostDlg::OnRequiredFailed(const tagDownloadTaskItem& item, int) {
    Refuse(kRefusedDownload, item.file->m_sectionName + FixedText::kGhostDownloadFailedSuffix);
}

void CGhostDlg::OnEngineUnavailable() { Refuse(kRefusedDownload, FixedText::kGhostRefusedDownload); }

void CGhostDlg::OnRecordBusy() { Refuse(kRefusedDownload, FixedText::kGhostRefusedDownload); }

void CGhostDlg::OnQueueEnd() {
    SetStatus(FixedText::kGhostStatusDownloaded);
    if (Stopping()) {
        Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
        return;
    }
    if (m_finishThread) CloseHandle(m_finishThread);
    m_finishThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FinishTaskThreadProc, this, 0, nullptr));
    if (!m_finishThread) Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
}

void CGhostDlg::StopTask() {
    InterlockedExchange(&m_stopRequested, 1);
    m_queue.StopTask();
}

void CGhostDlg::StopJobs() {
    InterlockedExchange(&m_stopRequested, 1);
    m_queue.Stop();
}

void CGhostDlg::ResumeAfterRefusedExit() {
    if (m_view != 2 || m_downloadState != 0 || ThreadStillRunning(m_finishThread)) return;
    m_outcome = kRefusedStopped;
    SwitchView(1);
}

bool CGhostDlg::WorkersRunning() { return m_queue.IsBusy() != FALSE || ThreadStillRunning(m_finishThread); }

// ---- the worker ----

unsigned __stdcall CGhostDlg::FinishTaskThreadProc(void* page) {
    static_cast<CGhostDlg*>(page)->FinishTask();
    return 0;
}

void CGhostDlg::FinishTask() {
    m_outcome = kRunning;
    SetStatus(FixedText::kGhostStatusBootSetup);
    CTarvelApp* app = GetTarvelApp();
    if (!app || app->m_selectedPeIndex < 0 || app->m_selectedPeIndex >= app->m_peImages.GetSize()) {
        Refuse(kRefusedBootFile, FixedText::kGhostRefusedBootFile);
        return;
    }
    const CString bootFile = GetLocalPath(app->m_peImages[app->m_selectedPeIndex]);
    // The same restart: not while BitLocker protects the system volume.
    CString protection;
    if (!BootProtectionAllowsArming(app->m_diskInventory ? app->m_diskInventory->Storage() : CurrentStorageCalls(),
                                    app->m_systemDrive, protection)) {
        Refuse(kRefusedProtection, protection);
        return;
    }
    // From here on a session end waits, and one that comes anyway undoes
    // what this worker armed.
    SetSessionStep(m_armingNextBoot, 1);
    // The flag first, then the look at the exit request: an exit that comes
    // later sees the flag and waits for the boot setup.
    InterlockedExchange(&m_writingBootFiles, 1);
    if (Stopping() || !FileExists(bootFile)) {
        InterlockedExchange(&m_writingBootFiles, 0);
        if (Stopping()) Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
        else Refuse(kRefusedBootFile, FixedText::kGhostRefusedBootFile);
        return;
    }
    int prepared = 0;
    if (app->m_diskInventory) {
        // A path that cannot be split leaves no target: the setup then
        // refuses with that reason, never an earlier run's.
        SplitTargetPath(bootFile);
        prepared = app->m_diskInventory->InstallBootEntries();
    }
    InterlockedExchange(&m_writingBootFiles, 0);
    const CString marker = RestartMarkerPath(app->m_systemDrive);
    if (prepared <= 0) {
        // Entries made on some partitions and a marker an earlier run left
        // go. The setup's own reason, as the restart page gives it.
        Refuse(kRefusedBootSetup, BootSetupRefusalText(*app, FixedText::kGhostRefusedBootSetup), true);
        return;
    }

    SetStatus(FixedText::kGhostStatusWriting);
    const wchar_t* keys[6];
    CString values[6];
    int count = 0;
    CString path;
    if (m_ghostMode == 2) {
        for (int i = 0; i < 2; ++i) {
            keys[count] = FixedText::kGhostIniRestoreKeys[i];
            values[count++] = FixedText::kGhostIniRestoreValues[i];
        }
        path = m_imagePath;
    } else {
        keys[count] = FixedText::kGhostIniBackupKey;
        values[count++] = FixedText::kGhostIniBackupValue;
        path = m_targetPath;
    }
    bool handedOver = IsDriveLetterPath(path) && !marker.IsEmpty();
    if (handedOver && m_ghostMode != 2) {
        const CString beside = path.Left(path.GetLength() - 4) + FixedText::kGhostBesideSuffix;
        handedOver = CreateEmptyFile(beside);
    }
    const CString commonValues[3] = {app->m_restartIniValue, path.Mid(2), FixedText::kGhostIniLastValue};
    for (int i = 0; i < 3; ++i) {
        keys[count] = FixedText::kGhostIniCommonKeys[i];
        values[count++] = commonValues[i];
    }
    // The INI first, the marker last: the boot environment acts on the marker.
    if (!handedOver || !WriteHandOverIni(*app, keys, values, count) || !CreateEmptyFile(marker)) {
        Refuse(kRefusedHandOver, FixedText::kGhostRefusedHandOver, true);
        return;
    }
    HWND mainWindow = GetSafeHwnd() ? ::GetParent(GetSafeHwnd()) : nullptr;
    if (Stopping() || !mainWindow || !::IsWindow(mainWindow)) {
        Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped, true);
        return;
    }
    SetStatus(FixedText::kGhostStatusFinished);
    RunOnPage([&] { m_busyPicture.Stop(0); });
    m_outcome = kRestartRequested;
    // Refused while another page's job writes a disk: nothing restarts.
    if (::SendMessageW(mainWindow, WM_REQUEST_REBOOT, 0, 0) != kRestartAccepted)
        Refuse(kRefusedDiskJob, FixedText::kRebootRefusedDiskJob, true);
    // Taken: the restart is the main window's now.
    SetSessionStep(m_armingNextBoot, 0);
}

bool CGhostDlg::ShowRestartNotDone(const CString& text) {
    if (m_outcome != kRestartRequested) return false;
    Refuse(kRestartNotDone, text);
    return true;
}

void CGhostDlg::Refuse(Outcome outcome, const CString& text, bool undoNextBoot) {
    CTarvelApp* app = GetTarvelApp();
    const bool undone = !undoNextBoot || !app || UndoNextBoot(*app);
    // Undone (or never armed): a session end may come.
    SetSessionStep(m_armingNextBoot, 0);
    m_outcome = outcome;
    RunOnPage([&] {
        SwitchView(1);
        ShowError(undone ? text : CString(FixedText::kRestartUndoIncompleteNotice));
    });
}


void CGhostDlg::SetStatus(const CString& text) {
    RunOnPage([&] {
        m_statusText.SetWindowText(text);
        m_statusText.Invalidate();
    });
}
