// The backup of the user folders before a reinstall erases the system
// partition: first every chosen folder is walked and planned (nothing is
// copied yet), then what the backup leaves behind is put to the user, then
// the files are copied. Every file either reaches the backup or is named;
// a folder that cannot be listed or a file that cannot be read stops it.
// All file calls go through the boot host, in the long path form.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "winlib/strings.h"

class IBootHost;

// One file to copy, both paths in the long form.
struct UserBackupFile {
    CString source;
    CString target;
    int folder;  // index into UserBackup::folderNames
};

// What one backup copies, and what it leaves where it is.
struct UserBackup {
    enum Failure {
        kNone,
        kList,          // a folder could not be listed
        kRead,          // a file could not be read
        kInUse,         // another program has a file open for writing
        kWrite,         // the backup could not be written
        kNotConfirmed,  // the user did not agree to leave the named paths behind
    };
    std::vector<UserBackupFile> files;
    std::vector<CString> folderNames;       // the display names of the planned user folders
    std::vector<CString> linksOut;          // links that lead out of their user folder (plain paths)
    std::vector<CString> foldersElsewhere;  // user folders not on the system partition
    int onlineOnly = 0;                     // cloud files whose content is not on this disk
    // The first failure: what failed, in which user folder, at which path
    // (plain), Windows' reason, and the programs that hold the file.
    Failure failure = kNone;
    CString failedFolderName;
    CString failedPath;
    DWORD failedError = 0;
    CString failedUsers;
};

// Where a listed file of `source` goes below `destination`: the file's path
// with the source folder's text (matched without regard to letter case)
// replaced by the destination; a folder at a drive root ("D:\") counts as
// the drive. Either form of paths, the long one in and out for paths past
// 260 characters. False when the file does not lie below the source or the
// result would be too long even for the long form.
bool BackupDestinationOf(const CString& source, const CString& file, const CString& destination, CString& result);
// Walks one user folder into the plan: each file below it, with its target
// below `destination` (what BackupDestinationOf gives). Links (IsLinkEntry)
// are not followed: one that leads out of the folder is noted in linksOut,
// except those Windows places in every profile for old programs (hidden and
// system, leading into the same profile: the folder holding this user
// folder). Cloud files whose content is elsewhere are counted, not read, and
// the debug log says how many. "System Volume Information" and
// "$RECYCLE.BIN" are passed by. A folder that is not on `systemDrive`
// ("C:"; empty: every folder counts as on it) is noted in foldersElsewhere
// and not walked: the reinstall leaves it as it is. False at the first
// folder that cannot be listed (the failure then names it), or when
// `stopping` says so.
bool PlanUserFolder(IBootHost& host, const CString& folder, const CString& destination, const CString& systemDrive,
                    const CString& displayName, UserBackup& backup, const std::function<bool()>& stopping);
// The question that names what the backup leaves behind (a list of at most
// a few paths per kind); empty when it leaves nothing.
CString LeftBehindQuestion(const UserBackup& backup);
// Copies the planned files, making their folders as needed and replacing
// earlier copies (whatever attributes those kept). `progress` is told each
// file before it is copied (its user folder, its number in that folder and
// the folder's count) and may stop the copy by returning false. False at
// the first file that could not be copied (the failure then names it) or
// when stopped.
bool CopyUserBackup(IBootHost& host, UserBackup& backup,
                    const std::function<bool(const CString& folderName, int done, int total)>& progress);
// The page's lines for a failed backup, the path shortened in its middle
// to `pathChars` characters (0: whole); empty when nothing failed.
CString BackupFailureText(const UserBackup& backup, int pathChars = 0);
// A path cut in its middle to at most `maxChars` characters.
CString ShortenedPath(const CString& path, int maxChars);
