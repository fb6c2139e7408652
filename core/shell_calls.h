// The shell calls that leave the program: opening a target with the shell,
// the notification-area icon, and whose user folders the backup copies.
// Behind a seam, so that tests and the simulated machine record them, never
// open anything on the host, and can play a machine where another account
// elevated the program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "winlib/strings.h"

// The user folders the backup copies, in the order the backup page lists them.
enum UserFolderKind { kUserDesktop, kUserDocuments, kUserFavorites, kUserFolderKinds };

class IShellCalls {
public:
    virtual ~IShellCalls() {}
    // ShellExecuteW, with this program's rights: a result above 32 means the
    // target was opened. Only for the open-folder links.
    virtual HINSTANCE Execute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                              int show) = 0;
    // Shell_NotifyIconW.
    virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) = 0;
    // Opens a web address through the desktop's own shell process (the
    // desktop window's folder view, its Application object, ShellExecute),
    // so that the browser starts as the user signed in to the desktop and
    // not as this elevated program, in `folder`. S_OK when the shell took
    // it; a failure when there is no desktop shell or any step fails.
    virtual HRESULT OpenWithDesktopShell(LPCWSTR address, LPCWSTR folder) = 0;
    // The account signed in to this session ("DOMAIN\name", from the
    // terminal services' session query); false when it cannot be told.
    virtual bool SessionAccount(CString& account) = 0;
    // The token of the process that owns the shell window (the desktop),
    // opened for query, impersonation and duplication; null when there is no
    // shell window or access is refused. CloseToken releases it.
    virtual HANDLE OpenShellToken() = 0;
    virtual void CloseToken(HANDLE token) = 0;
    // A user folder of the token's user (null: this process's own user);
    // false when the shell names none.
    virtual bool UserFolderPath(UserFolderKind kind, HANDLE token, CString& path) = 0;
    // The account of the token's user, "DOMAIN\name" (null: this process's
    // own user); false when it cannot be told.
    virtual bool TokenAccount(HANDLE token, CString& account) = 0;
};

// The calls in use: the Win32 ones unless others were installed.
IShellCalls& CurrentShellCalls();
// Installs other calls and returns the previous ones; null puts the Win32 ones back.
IShellCalls* SetShellCalls(IShellCalls* calls);

// The one rule for targets the configuration can set: true only for an
// http:// or https:// address (scheme case ignored, something after "//",
// no control characters). The configuration arrives over plain HTTP, so a
// local or network program path must never be started from it.
bool IsWebAddress(const CString& target);

// Opens target through the desktop's shell (OpenWithDesktopShell of
// CurrentShellCalls(), with the system folder as the working folder) when
// IsWebAddress; never with this program's own rights. False when nothing
// was opened: not a web address, no desktop shell, or the shell failed.
bool OpenWebTarget(const CString& target);

// Whose user folders the backup copies.
struct UserFolders {
    // Desktop, documents, favorites; empty where the shell names none.
    CString paths[kUserFolderKinds];
    // The account whose folders these are, and the account signed in to
    // this session ("DOMAIN\name"); empty when they cannot be told.
    CString account;
    CString signedInAccount;
    // Read with the token of the desktop shell's process: the folders of
    // the user signed in, whoever typed a password at the elevation prompt.
    bool fromDesktopShell = false;
    // Whether these are the signed-in user's own folders: read with the
    // desktop shell's token, or this process runs as the account signed in.
    bool OfSignedInUser() const;
};
// The user folders of the user signed in to this session, read with the
// token of the process that owns the shell window. Where that token cannot
// be had, the folders of this process's own user, named, so that a caller
// can tell whether they are the signed-in user's.
void FindUserFolders(UserFolders& folders);
