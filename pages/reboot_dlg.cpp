#include "pages/reboot_dlg.h"

#include <process.h>
#include <shlobj.h>

#include "core/fixed_texts.h"
#include "core/ini.h"
#include "core/messages.h"
#include "core/process_file_utils.h"
#include "core/rc4_hex.h"
#include "core/shell_calls.h"
#include "core/tarvel_app.h"
#include "controls/message_box.h"
#include "disk/disk_calls.h"
#include "disk/volume_encryption.h"

namespace {

// Whether `path` starts with `prefix`, compared the way the file system
// compares names (without regard to letter case).
bool StartsWithPath(const CString& path, const CString& prefix) {
    const int n = prefix.GetLength();
    if (n == 0 || path.GetLength() < n) return false;
    return CompareStringOrdinal(path, n, prefix, n, TRUE) == CSTR_EQUAL;
}

CString WithoutTrailingSeparator(CString folder) {
    while (folder.GetLength() > 3 && (folder[folder.GetLength() - 1] == L'\\' || folder[folder.GetLength() - 1] == L'/'))
        folder = folder.Left(folder.GetLength() - 1);
    return folder;
}

bool FileExists(const CString& path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a file whatever its attributes; true when it is gone.
bool RemoveFile(const CString& path) {
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return true;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path) != FALSE || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

// The five plain values of the restart INI, in the order written.
void RestartIniValues(const CTarvelApp& app, const COnlinefileinfo& image, CString values[5]) {
    values[0] = FixedText::kRestartIniFirstValue;
    values[1] = app.m_restartIniValue;
    values[2] = image.m_fileName;
    values[3] = FixedText::kRestartIniFourthValue;
    values[4].Format(FixedText::kRestartIniNumberFormat, image.m_number);
}

}  // namespace

bool FitsAnsiCodePage(const CString& text) {
    if (text.IsEmpty()) return true;
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, text.GetLength(), nullptr, 0, nullptr,
                                      &usedDefault);
    return n > 0 && !usedDefault;
}

CString RestartMarkerPath(const CString& systemDrive) {
    // Only a drive ("C:"): anything else would put the marker somewhere the
    // boot environment never looks, or remove a file that is not ours.
    const bool drive = systemDrive.GetLength() == 2 && systemDrive[1] == L':' &&
                       ((systemDrive[0] >= L'A' && systemDrive[0] <= L'Z') ||
                        (systemDrive[0] >= L'a' && systemDrive[0] <= L'z'));
    return drive ? systemDrive + FixedText::kRebootMarkerName : CString();
}

CString RestartIniPath(const CTarvelApp& app) {
    return app.m_dataFolder + FixedText::kPathSeparator + app.m_restartIniName;
}

bool WriteHandOverIni(const CTarvelApp& app, const wchar_t* const keys[], const CString values[], int count) {
    if (app.m_dataFolder.IsEmpty()) return false;
    // The cipher takes the ANSI bytes: a name the code page cannot hold would
    // reach the boot environment garbled, and it would never find the file.
    // Refused before anything is touched: a file of an earlier run stays as
    // it was, hidden.
    for (int i = 0; i < count; ++i)
        if (!FitsAnsiCodePage(values[i])) return false;
    CIni ini(RestartIniPath(app));
    ini.SetSection(FixedText::kRestartIniSection);
    // The profile calls cannot rewrite a hidden file: make it plain first,
    // then start the section afresh so that no value of an earlier run stays.
    const DWORD attributes = GetFileAttributesW(ini.m_path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        SetFileAttributesW(ini.m_path, FILE_ATTRIBUTE_NORMAL);
        WritePrivateProfileStringW(ini.m_section, nullptr, nullptr, ini.m_path);
    }
    bool written = true;
    for (int i = 0; i < count; ++i) {
        const CString cipher = EncryptToHex(values[i], app.m_iniPassword);
        written = WritePrivateProfileStringW(ini.m_section, keys[i], cipher, ini.m_path) && written;
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.m_path);  // flush the profile cache
    SetFileAttributesW(ini.m_path, FILE_ATTRIBUTE_HIDDEN);
    if (!written) return false;
    for (int i = 0; i < count; ++i) {
        const CString stored = ini.ReadWideValue(keys[i], L"");
        if (stored.IsEmpty() || DecryptFromHex(stored, app.m_iniPassword) != values[i]) return false;
    }
    return true;
}

bool WriteRestartIni(const CTarvelApp& app, const COnlinefileinfo& image) {
    CString values[5];
    RestartIniValues(app, image, values);
    return WriteHandOverIni(app, FixedText::kRestartIniKeys, values, 5);
}

bool CreateEmptyFile(const CString& path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return FileExists(path) && GetFileSize64(path) == 0;
}

bool RemoveHandOverFile(const CString& path) { return RemoveFile(path); }

bool UndoNextBoot(CTarvelApp& app) {
    // Empty paths (no drive, no data folder) name nothing to remove.
    const CString marker = RestartMarkerPath(app.m_systemDrive);
    const CString ini = app.m_dataFolder.IsEmpty() ? CString() : RestartIniPath(app);
    if (app.m_diskInventory) return app.m_diskInventory->UndoArmedBoot(ini, marker);
    const bool iniGone = RemoveFile(ini);
    return RemoveFile(marker) && iniGone;
}

CString BootSetupRefusalText(const CTarvelApp& app, const wchar_t* fallback) {
    if (app.m_diskInventory && !app.m_diskInventory->m_bootSetupRefusal.IsEmpty())
        return app.m_diskInventory->m_bootSetupRefusal;
    return fallback;
}

BEGIN_MESSAGE_MAP(CRebootDlg, CFlowPage)
    ON_BN_CLICKED(IDC_REBOOT_BACK, OnClickedBack)
END_MESSAGE_MAP()

CRebootDlg::CRebootDlg(CWnd* pParent)
    : CFlowPage(IDD_REBOOT, 5, pParent), m_prepareRebootThread(nullptr), m_mainWindow(nullptr), m_outcome(kNotRun),
      m_writingBootFiles(0), m_stopRequested(0), m_copyingBackup(0), m_armingNextBoot(0) {}

const wchar_t* CRebootDlg::SessionEndBlocker() {
    if (m_armingNextBoot) return FixedText::kSessionBlockBootEntries;
    if (m_copyingBackup) return FixedText::kSessionBlockUserBackup;
    return nullptr;
}

CRebootDlg::~CRebootDlg() {
    // A thread still running is never closed under it.
    if (m_prepareRebootThread && !ThreadStillRunning(m_prepareRebootThread)) CloseHandle(m_prepareRebootThread);
}

BOOL CRebootDlg::OnInitDialog() {
    CFlowPage::OnInitDialog();
    m_rebootAnimation.Create(L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, CRect(500, 180, 580, 260), this);
    m_rebootAnimation.LoadImages(FixedText::kSkinRebootAnimation, FixedText::kSkinRebootStillDone,
                                 FixedText::kSkinRebootStillFail);
    CreateStepStrip();

    // Two lines across the page: a refusal of the backup names a path.
    m_rebootStatus.Create(FixedText::kRebootStatusInitial, WS_CHILD | WS_VISIBLE | SS_CENTER,
                          CRect(220, 290, 900, 332), this, IDC_REBOOT_STATUS);
    m_rebootStatus.SetTextColor(kLineColor);
    LOGFONTW font = PageFont(-14);
    m_rebootStatus.SetFont(&font, TRUE);

    m_backButton.SetSkin(FixedText::kSkinBack[0], FixedText::kSkinBack[1], FixedText::kSkinBack[2],
                         FixedText::kSkinBack[3]);
    m_backButton.Create(FixedText::kBackCaption, WS_CHILD, CRect(480, 340, 600, 380), this, IDC_REBOOT_BACK);
    return TRUE;
}

bool CRebootDlg::StartRestart() {
    if (ThreadStillRunning(m_prepareRebootThread)) return false;
    if (m_prepareRebootThread) CloseHandle(m_prepareRebootThread);
    InterlockedExchange(&m_stopRequested, 0);
    m_prepareRebootThread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, PrepareRebootThreadProc, this, 0, nullptr));
    if (!m_prepareRebootThread) {
        Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
        return false;
    }
    return true;
}

unsigned __stdcall CRebootDlg::PrepareRebootThreadProc(void* page) {
    static_cast<CRebootDlg*>(page)->PrepareReboot();
    return 0;
}

void CRebootDlg::StopJobs() { InterlockedExchange(&m_stopRequested, 1); }

bool CRebootDlg::WorkersRunning() { return ThreadStillRunning(m_prepareRebootThread); }

void CRebootDlg::OnClickedBack() {
    if (WorkersRunning()) return;
    if (m_mainWindow) ::SendMessageW(m_mainWindow, WM_PAGE_NAVIGATE, IDD_REBOOT, 0);
}

void CRebootDlg::PrepareReboot() {
    // Also right when a caller starts PrepareRebootThreadProc itself.
    InterlockedExchange(&m_outcome, kRunning);
    m_mainWindow = GetSafeHwnd() ? ::GetParent(GetSafeHwnd()) : nullptr;
    CTarvelApp* app = GetTarvelApp();
    SetStatus(FixedText::kRebootStatusInitial);
    RunOnPage([&] {
        m_backButton.ShowWindow(SW_HIDE);
        m_rebootAnimation.ShowWindow(SW_SHOW);
        m_rebootAnimation.Play();
    });
    if (!app) {
        Refuse(kRefusedNoChoice, FixedText::kRebootRefusedNoChoice);
        return;
    }
    Run(*app);
}

void CRebootDlg::Run(CTarvelApp& app) {
    if (app.m_selectedImageIndex < 0 || app.m_selectedImageIndex >= app.m_osImages.GetSize() ||
        app.m_selectedPeIndex < 0 || app.m_selectedPeIndex >= app.m_peImages.GetSize()) {
        Refuse(kRefusedNoChoice, FixedText::kRebootRefusedNoChoice);
        return;
    }
    // The chosen image, taken once: this road hands this one over to the
    // boot environment, whatever the choice says later.
    const COnlinefileinfo image = app.m_osImages[app.m_selectedImageIndex];
    const CString bootFile = GetLocalPath(app.m_peImages[app.m_selectedPeIndex]);
    // Nothing is copied for a road that cannot end in a restart.
    if (!FileExists(bootFile)) {
        Refuse(kRefusedNoBootFile, FixedText::kRebootRefusedNoBootFile);
        return;
    }
    // BitLocker protecting the system volume would meet the changed boot
    // configuration with its recovery screen: refused before anything is
    // copied or written.
    CString protection;
    if (!BootProtectionAllowsArming(app.m_diskInventory ? app.m_diskInventory->Storage() : CurrentStorageCalls(),
                                    app.m_systemDrive, protection)) {
        Refuse(kRefusedProtection, protection);
        return;
    }

    // The folders of the user signed in to this session, whoever typed a
    // password at the elevation prompt.
    UserFolders userFolders;
    FindUserFolders(userFolders);
    UserBackup backup;
    for (int i = 0; i < 3; ++i) {
        if (Stopping()) {
            Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
            return;
        }
        if (!m_mainWindow || !::SendMessageW(m_mainWindow, WM_GET_BACKUP_CHOICE, i, 0)) continue;
        // Another account's folders would be saved while the signed-in
        // user's are erased: the backup page named both accounts.
        if (!userFolders.OfSignedInUser()) {
            Refuse(kRefusedOtherAccount, FixedText::kRebootRefusedOtherAccount);
            return;
        }
        const CString folder = userFolders.paths[i];
        if (folder.IsEmpty()) continue;
        const CString name = FixedText::kRebootUserFolderNames[i];
        if (app.m_backupFolder.IsEmpty() ||
            !PlanBackup(folder, app.m_backupFolder + FixedText::kRebootUserFolderSubs[i], name, backup)) {
            RefuseBackup(backup, name);
            return;
        }
    }
    // Every chosen folder is planned: what stays behind is put to the user,
    // then the files are copied, all before anything arms the next boot.
    if (!FinishBackup(backup)) {
        RefuseBackup(backup, backup.failedFolderName);
        return;
    }

    SetStatus(FixedText::kRebootStatusBootSetup);
    // From here on a session end waits, and one that comes anyway undoes
    // what this worker armed.
    SetSessionStep(m_armingNextBoot, 1);
    // The flag first, then the look at the exit request: an exit that comes
    // later sees the flag and waits.
    InterlockedExchange(&m_writingBootFiles, 1);
    if (Stopping() || !FileExists(bootFile)) {
        InterlockedExchange(&m_writingBootFiles, 0);
        if (Stopping()) Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
        else Refuse(kRefusedNoBootFile, FixedText::kRebootRefusedNoBootFile);
        return;
    }
    int prepared = 0;
    if (app.m_diskInventory) {
        // A path that cannot be split leaves no target: the setup then
        // refuses with that reason, never an earlier run's.
        SplitTargetPath(bootFile);
        prepared = app.m_diskInventory->InstallBootEntries();
    }
    InterlockedExchange(&m_writingBootFiles, 0);
    const CString marker = RestartMarkerPath(app.m_systemDrive);
    if (prepared <= 0) {
        // Entries made on some partitions and a marker an earlier run left go.
        Refuse(kRefusedBootSetup, BootSetupRefusalText(app, FixedText::kRebootRefusedBootSetup), true);
        return;
    }
    // A tool that outlived its wait (here or on another page) may still be
    // writing: nothing hands over or restarts under it.
    if (RunningToolCount() > 0) {
        Refuse(kRefusedToolRunning, FixedText::kRebootRefusedToolRunning, true);
        return;
    }

    // The INI first, the marker last: the boot environment acts on the marker.
    SetStatus(FixedText::kRebootStatusHandOver);
    if (marker.IsEmpty() || !WriteRestartIni(app, image)) {
        Refuse(kRefusedHandOver, FixedText::kRebootRefusedHandOver, true);
        return;
    }
    if (!CreateEmptyFile(marker)) {
        Refuse(kRefusedHandOver, FixedText::kRebootRefusedHandOver, true);
        return;
    }
    if (Stopping() || !m_mainWindow || !::IsWindow(m_mainWindow)) {
        Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped, true);
        return;
    }

    SetStatus(FixedText::kRebootStatusRestarting);
    RunOnPage([&] { m_rebootAnimation.Stop(0); });
    InterlockedExchange(&m_outcome, kRestartRequested);
    // The main window refuses while a job of another page writes a disk;
    // then nothing restarts and what armed the next boot is undone.
    if (::SendMessageW(m_mainWindow, WM_REQUEST_REBOOT, 0, 0) != kRestartAccepted)
        Refuse(kRefusedDiskJob, FixedText::kRebootRefusedDiskJob, true);
    // Taken: the restart is the main window's now.
    SetSessionStep(m_armingNextBoot, 0);
}

bool CRebootDlg::ShowRestartNotDone(const CString& text) {
    if (m_outcome != kRestartRequested) return false;
    Refuse(kRestartNotDone, text);
    return true;
}

bool CRebootDlg::BackupFolder(const CString& source, const CString& destination, const CString& displayName) {
    UserBackup backup;
    const bool copied = PlanBackup(source, destination, displayName, backup) && FinishBackup(backup);
    m_backupRefusal = BackupFailureText(backup);
    return copied;
}

bool CRebootDlg::PlanBackup(const CString& source, const CString& destination, const CString& displayName,
                            UserBackup& backup) {
    SetStatus(FixedText::kRebootBackupPrefix + displayName + FixedText::kRebootBackupSuffix);
    // The backup folder inside the copied folder would copy itself.
    if (StartsWithPath(destination + FixedText::kPathSeparator, WithoutTrailingSeparator(source) +
                                                                    FixedText::kPathSeparator))
        return false;
    CTarvelApp* app = GetTarvelApp();
    return PlanUserFolder(CurrentBootHost(), source, destination, app ? app->m_systemDrive : CString(), displayName,
                          backup, [this] { return Stopping(); });
}

bool CRebootDlg::FinishBackup(UserBackup& backup) {
    const CString question = LeftBehindQuestion(backup);
    if (!question.IsEmpty()) {
        // No countdown: the restart page goes on unattended, so only an
        // answer counts. No answer (no page to ask on) is a no.
        int answer = IDNO;
        RunOnPage([&] { answer = MyMessageBox(MB_ICONQUESTION | MB_YESNO, FALSE, question, 0); });
        if (answer != IDYES) {
            backup.failure = UserBackup::kNotConfirmed;
            return false;
        }
    }
    SetSessionStep(m_copyingBackup, 1);
    const bool copied = CopyUserBackup(CurrentBootHost(), backup, [this](const CString& name, int done, int total) {
        if (Stopping()) return false;
        CString progress;
        progress.Format(FixedText::kRebootBackupCountFormat, done, total);
        SetStatus(FixedText::kRebootBackupPrefix + name + FixedText::kRebootBackupInfix + progress);
        return true;
    });
    SetSessionStep(m_copyingBackup, 0);
    return copied;
}

void CRebootDlg::RefuseBackup(const UserBackup& backup, const CString& displayName) {
    if (Stopping()) {
        Refuse(kRefusedStopped, FixedText::kRebootRefusedStopped);
        return;
    }
    // The whole path goes to the debug log; the page's line takes a part.
    const CString reason = BackupFailureText(backup, kShownPathChars);
    if (!backup.failedPath.IsEmpty()) CurrentBootHost().DebugLog(BackupFailureText(backup));
    if (backup.failure == UserBackup::kNotConfirmed) Refuse(kRefusedNotConfirmed, reason);
    else if (!reason.IsEmpty()) Refuse(kRefusedCopy, reason);
    else Refuse(kRefusedCopy, FixedText::kRebootRefusedCopyPrefix + displayName + FixedText::kRebootRefusedCopySuffix);
}

void CRebootDlg::Refuse(Outcome outcome, const CString& text, bool undoNextBoot) {
    CTarvelApp* app = GetTarvelApp();
    const bool undone = !undoNextBoot || !app || UndoNextBoot(*app);
    // Undone (or never armed): a session end may come.
    SetSessionStep(m_armingNextBoot, 0);
    InterlockedExchange(&m_outcome, outcome);
    // What could not be undone matters more than why the road stopped.
    SetStatus(undone ? text : CString(FixedText::kRestartUndoIncompleteNotice), kFailColor);
    // The red line says it all; the busy animation goes away.
    RunOnPage([&] {
        m_rebootAnimation.Stop(0);
        m_rebootAnimation.ShowWindow(SW_HIDE);
        m_backButton.ShowWindow(SW_SHOW);
    });
}

// ---- the worker's way to the page's controls ----

void CRebootDlg::SetStatus(const CString& text, COLORREF color) {
    RunOnPage([&] {
        m_rebootStatus.SetTextColor(color);
        m_rebootStatus.SetWindowText(text);
        m_rebootStatus.Invalidate();
    });
}
