// Step 5 of the install flow: the restart page. Its worker copies the user
// folders the backup page selected into the backup folder, installs the boot
// entries of the boot environment, leaves the restart INI in the data folder
// and the empty marker on the system drive, and asks the main window to end
// and restart the machine. Anything that fails stops the road with a line
// that says why, nothing restarts, and Back leads to the download page.
#pragma once

#include <functional>

#include "controls/color_text.h"
#include "controls/picture_controls.h"
#include "controls/skin_button.h"
#include "core/catalogue.h"
#include "pages/flow_page.h"
#include "pages/user_backup.h"

#define IDD_REBOOT 137
#define IDC_REBOOT_STATUS 10110
#define IDC_REBOOT_BACK 10111

class CTarvelApp;

// The marker file: the system drive's root and the marker's name; empty
// when the text is not a drive ("C:").
CString RestartMarkerPath(const CString& systemDrive);
// The restart INI in the data folder.
CString RestartIniPath(const CTarvelApp& app);
// Whether the ANSI code page holds every character of the text.
bool FitsAnsiCodePage(const CString& text);
// Writes the restart INI afresh for the chosen image (the section is cleared
// first, other sections stay), hides it and reads every value back: true
// only when each one deciphers to what was written. A value the ANSI code
// page cannot hold is refused before anything is written.
bool WriteRestartIni(const CTarvelApp& app, const COnlinefileinfo& image);
// The same rule for any rows: the section of the restart INI cleared, the
// values written enciphered under their keys in order, the file hidden and
// every value read back. The image backup/restore page writes its own rows.
bool WriteHandOverIni(const CTarvelApp& app, const wchar_t* const keys[], const CString values[], int count);
// Creates (or empties) a file; true when it exists and is empty afterwards.
bool CreateEmptyFile(const CString& path);
// Removes a hand-over file whatever its attributes; true when it is gone.
bool RemoveHandOverFile(const CString& path);
// Undoes what this run armed for the next boot (the boot setup's record,
// the restart INI and the marker last), for a restart that does not
// happen; true when all of it is undone. Nothing when there is no inventory.
bool UndoNextBoot(CTarvelApp& app);
// Why the boot setup of the application's disk inventory refused, or the
// fallback text when it gave no reason (both pages that run it show this).
CString BootSetupRefusalText(const CTarvelApp& app, const wchar_t* fallback);

class CRebootDlg : public CFlowPage {
public:
    // How the last run of the worker ended.
    enum Outcome {
        kNotRun,
        kRunning,
        kRestartRequested,
        kRefusedNoChoice,
        kRefusedCopy,
        kRefusedOtherAccount,
        kRefusedNoBootFile,
        kRefusedProtection,
        kRefusedBootSetup,
        kRefusedHandOver,
        kRefusedStopped,
        kRefusedDiskJob,
        kRefusedToolRunning,
        kRestartNotDone,
        kRefusedNotConfirmed,
    };
    static constexpr COLORREF kLineColor = 0x333333;
    static constexpr COLORREF kFailColor = 0x0000FF;
    // How much of a path the status line shows.
    static constexpr int kShownPathChars = 46;

    CRebootDlg(CWnd* pParent = nullptr);
    ~CRebootDlg() override;
    BOOL OnInitDialog() override;

    // Starts the worker (the download page's Next, right after it has shown
    // this page); false when a worker still runs.
    bool StartRestart();
    static unsigned __stdcall PrepareRebootThreadProc(void* page);
    // The restart preparation itself, on the worker thread.
    void PrepareReboot();
    // Backs up one folder tree into the destination as the road does (the
    // plan, the question naming what stays behind, the copy), replacing files
    // of the same relative paths; false at the first folder or file that
    // fails, or when the user does not go on. BackupRefusal() then says why.
    bool BackupFolder(const CString& source, const CString& destination, const CString& displayName);
    const CString& BackupRefusal() const { return m_backupRefusal; }

    void StopJobs() override;
    bool WorkersRunning() override;
    // The boot setup writes the boot partitions: the exit waits for it.
    bool WritesDisk() override { return m_writingBootFiles != 0; }
    const wchar_t* SessionEndBlocker() override;
    bool ArmsNextBoot() override { return m_armingNextBoot != 0; }
    Outcome LastOutcome() const { return static_cast<Outcome>(m_outcome); }
    // The main window's restart, which this page asked for, did not happen
    // and what armed the next boot was undone (`text` says how far): the
    // page says so and offers its way back; true then. Nothing when this
    // page asked for no restart.
    bool ShowRestartNotDone(const CString& text);

    HANDLE m_prepareRebootThread;
    CGIFControl m_rebootAnimation;
    CColorText_Static m_rebootStatus;
    CxSkinButton m_backButton;

protected:
    void OnClickedBack();
    DECLARE_MESSAGE_MAP()

private:
    void Run(CTarvelApp& app);
    void SetStatus(const CString& text, COLORREF color = kLineColor);
    // Ends the run without a restart: says why, undoes what armed the next
    // boot once the boot setup has run, and shows Back.
    void Refuse(Outcome outcome, const CString& text, bool undoNextBoot = false);
    // The flag is a flag: a text or path there (it would read as true) does not compile.
    void Refuse(Outcome outcome, const CString& text, const wchar_t* undoNextBoot) = delete;
    bool Stopping() const { return m_stopRequested != 0; }
    // The backup's steps on the worker: plan one user folder (its status
    // line shown), then ask about what stays behind and copy.
    bool PlanBackup(const CString& source, const CString& destination, const CString& displayName,
                    UserBackup& backup);
    bool FinishBackup(UserBackup& backup);
    // Ends the run after a failed backup with the failure's line.
    void RefuseBackup(const UserBackup& backup, const CString& displayName);

    HWND m_mainWindow;
    volatile LONG m_outcome;
    volatile LONG m_writingBootFiles;
    volatile LONG m_stopRequested;
    // 1 while the user backup copies files, and while the worker arms the
    // next boot (the boot setup, the INI and the marker, up to the answer
    // to its restart request).
    volatile LONG m_copyingBackup;
    volatile LONG m_armingNextBoot;
    CString m_backupRefusal;
};
