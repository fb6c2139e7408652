#include "pages/user_backup.h"

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "core/work_folder.h"
#include "disk/disk_calls.h"

namespace {

// The longest path the file calls take in the long form.
const int kLongPathLimit = 32767;
// How many paths of one kind the question names before it counts the rest.
const size_t kNamedPerKind = 5;
// How much of each path the question shows.
const int kNamedPathChars = 64;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

CString WithoutTrailingSeparators(CString path) {
    while (!path.IsEmpty() && IsSeparator(path[path.GetLength() - 1])) path = path.Left(path.GetLength() - 1);
    return path;
}

// Whether `path` is `folder` or lies below it, compared the way the file
// system compares names (without regard to letter case).
bool IsInside(const CString& path, const CString& folder) {
    const CString base = WithoutTrailingSeparators(folder);
    const int n = base.GetLength();
    if (n == 0 || path.GetLength() < n) return false;
    if (CompareStringOrdinal(path, n, base, n, TRUE) != CSTR_EQUAL) return false;
    return path.GetLength() == n || IsSeparator(path[n]);
}

CString ParentOf(const CString& path) {
    const CString trimmed = WithoutTrailingSeparators(path);
    const int cut = trimmed.ReverseFind(L'\\');
    return cut > 0 ? trimmed.Left(cut) : CString();
}

CString Join(const CString& folder, const wchar_t* name) {
    return WithoutTrailingSeparators(folder) + FixedText::kPathSeparator + name;
}

bool IsPassedBy(const WIN32_FIND_DATAW& entry) {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    for (const wchar_t* name : FixedText::kBackupPassedByFolders)
        if (CompareStringOrdinal(entry.cFileName, -1, name, -1, TRUE) == CSTR_EQUAL) return true;
    return false;
}

bool OnSystemDrive(const CString& folder, const CString& systemDrive) {
    if (systemDrive.IsEmpty()) return true;
    return IsInside(PathFromFinalName(LongPathForm(folder)), systemDrive);
}

void Fail(UserBackup& backup, UserBackup::Failure failure, const CString& folderName, const CString& path,
          DWORD error) {
    backup.failure = failure;
    backup.failedFolderName = folderName;
    backup.failedPath = PathFromFinalName(path);
    backup.failedError = error;
}

// Whether a link needs no word: it leads back into the user folder (what it
// points to is copied there), or it is one Windows itself places in every
// profile for old programs (hidden and system, leading into the profile).
bool LinkStaysInside(IBootHost& host, const CString& link, DWORD attributes, const CString& userFolder) {
    const CString target = host.LinkTarget(link);
    if (target.IsEmpty()) return false;
    if (IsInside(target, userFolder)) return true;
    const DWORD placedByWindows = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const CString profile = ParentOf(userFolder);
    return (attributes & placedByWindows) == placedByWindows && !profile.IsEmpty() && IsInside(target, profile);
}

void AppendNamed(CString& text, const wchar_t* header, const std::vector<CString>& paths) {
    if (paths.empty()) return;
    text += header;
    for (size_t i = 0; i < paths.size() && i < kNamedPerKind; ++i)
        text += L"\n" + ShortenedPath(paths[i], kNamedPathChars);
    if (paths.size() > kNamedPerKind) {
        CString more;
        more.Format(FixedText::kBackupMoreEntriesFormat, (int)(paths.size() - kNamedPerKind));
        text += L"\n" + more;
    }
    text += L"\n";
}

// Makes the target's folder and the missing ones above it, one level at a
// time (the shell's folder maker stops at 260 characters). `made` is the
// last folder known to exist, to spare the look for the next file.
bool EnsureFolder(IBootHost& host, const CString& folder, CString& made, CString& failed, DWORD& error) {
    if (folder == made) return true;
    std::vector<CString> missing;
    CString at = folder;
    while (!at.IsEmpty() && !host.IsFolder(at)) {
        missing.push_back(at);
        const CString up = ParentOf(at);
        // The long form's head ("\\?\C:") is no folder to make.
        if (up.GetLength() >= at.GetLength() || up.Right(1) == L"?" || up.Right(1) == L":") break;
        at = up;
    }
    for (size_t i = missing.size(); i-- > 0;) {
        if (host.CreateFolder(missing[i]) || host.IsFolder(missing[i])) continue;
        error = GetLastError();
        if (error == ERROR_SUCCESS) error = ERROR_PATH_NOT_FOUND;
        failed = missing[i];
        return false;
    }
    made = folder;
    return true;
}

}  // namespace

bool BackupDestinationOf(const CString& source, const CString& file, const CString& destination, CString& result) {
    // A folder at a drive root ("D:\") is the drive ("D:"), so that what
    // follows it begins with the separator.
    const CString base = WithoutTrailingSeparators(source);
    if (base.IsEmpty() || file.GetLength() < base.GetLength() ||
        CompareStringOrdinal(file, base.GetLength(), base, base.GetLength(), TRUE) != CSTR_EQUAL)
        return false;
    const CString rest = file.Mid(base.GetLength());
    // "C:\Users\A\Desktop2\x" is not below "C:\Users\A\Desktop".
    if (rest.IsEmpty() || !IsSeparator(rest[0])) return false;
    result = WithoutTrailingSeparators(destination) + rest;
    return result.GetLength() < kLongPathLimit;
}

bool PlanUserFolder(IBootHost& host, const CString& folder, const CString& destination, const CString& systemDrive,
                    const CString& displayName, UserBackup& backup, const std::function<bool()>& stopping) {
    if (!OnSystemDrive(folder, systemDrive)) {
        backup.foldersElsewhere.push_back(PathFromFinalName(LongPathForm(folder)));
        return true;
    }
    const CString source = LongPathForm(folder);
    const CString plainSource = PathFromFinalName(source);
    const CString target = LongPathForm(destination);
    const int index = (int)backup.folderNames.size();
    backup.folderNames.push_back(displayName);
    const int onlineBefore = backup.onlineOnly;
    // Folders still to list; a stack, not recursion: a tree may be as deep
    // as its paths are long.
    std::vector<CString> pending(1, source);
    while (!pending.empty()) {
        if (stopping && stopping()) return false;
        const CString at = pending.back();
        pending.pop_back();
        std::vector<WIN32_FIND_DATAW> entries;
        const DWORD error = host.ListFolder(at, entries);
        if (error != ERROR_SUCCESS) {
            Fail(backup, UserBackup::kList, displayName, at, error);
            return false;
        }
        for (const WIN32_FIND_DATAW& entry : entries) {
            if (IsPassedBy(entry)) continue;
            const CString path = Join(at, entry.cFileName);
            if (IsLinkEntry(entry)) {
                if (!LinkStaysInside(host, path, entry.dwFileAttributes, plainSource))
                    backup.linksOut.push_back(PathFromFinalName(path));
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back(path);
                continue;
            }
            if (ContentIsElsewhere(entry.dwFileAttributes)) {
                ++backup.onlineOnly;
                continue;
            }
            UserBackupFile file;
            if (!BackupDestinationOf(source, path, target, file.target)) {
                Fail(backup, UserBackup::kWrite, displayName, Join(target, entry.cFileName),
                     ERROR_FILENAME_EXCED_RANGE);
                return false;
            }
            file.source = path;
            file.folder = index;
            backup.files.push_back(file);
        }
    }
    if (backup.onlineOnly > onlineBefore) {
        CString line;
        line.Format(FixedText::kBackupOnlineOnlyLogFormat, (const wchar_t*)displayName,
                    backup.onlineOnly - onlineBefore);
        host.DebugLog(line);
    }
    return true;
}

CString LeftBehindQuestion(const UserBackup& backup) {
    CString text;
    AppendNamed(text, FixedText::kBackupLinksOutHeader, backup.linksOut);
    AppendNamed(text, FixedText::kBackupFoldersElsewhereHeader, backup.foldersElsewhere);
    if (!text.IsEmpty()) text += FixedText::kBackupGoOnQuestion;
    return text;
}

bool CopyUserBackup(IBootHost& host, UserBackup& backup,
                    const std::function<bool(const CString& folderName, int done, int total)>& progress) {
    std::vector<int> totals(backup.folderNames.size(), 0), done(backup.folderNames.size(), 0);
    for (const UserBackupFile& file : backup.files) ++totals[file.folder];
    CString made;
    for (const UserBackupFile& file : backup.files) {
        const CString& name = backup.folderNames[file.folder];
        if (progress && !progress(name, ++done[file.folder], totals[file.folder])) return false;
        CString failed;
        DWORD error = ERROR_SUCCESS;
        if (!EnsureFolder(host, ParentOf(file.target), made, failed, error)) {
            Fail(backup, UserBackup::kWrite, name, failed, error);
            return false;
        }
        // An earlier run's copy keeps its source's attributes (a hidden and
        // system desktop.ini, a read-only file); the copy cannot replace such
        // a file until they are cleared.
        if (host.PathExists(file.target) && !host.IsFolder(file.target))
            host.SetAttributes(file.target, FILE_ATTRIBUTE_NORMAL);
        bool readFailed = false;
        error = host.CopyUserFile(file.source, file.target, &readFailed);
        if (error == ERROR_SUCCESS) continue;
        if (!readFailed) {
            Fail(backup, UserBackup::kWrite, name, file.target, error);
        } else if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            Fail(backup, UserBackup::kInUse, name, file.source, error);
            backup.failedUsers = host.FileUsers(file.source);
        } else {
            Fail(backup, UserBackup::kRead, name, file.source, error);
        }
        return false;
    }
    return true;
}

CString ShortenedPath(const CString& path, int maxChars) {
    if (maxChars <= 0 || path.GetLength() <= maxChars) return path;
    // The drive and first folders, and the end: the name says most.
    const int head = maxChars / 3;
    const int tail = maxChars - head - 1;
    return path.Left(head) + FixedText::kShortenedPathGap + path.Right(tail);
}

CString BackupFailureText(const UserBackup& backup, int pathChars) {
    const wchar_t* name = backup.failedFolderName;
    const CString path = ShortenedPath(backup.failedPath, pathChars);
    CString text;
    switch (backup.failure) {
        case UserBackup::kNone:
            break;
        case UserBackup::kNotConfirmed:
            text = FixedText::kRebootRefusedNotConfirmed;
            break;
        case UserBackup::kInUse: {
            CString program = FixedText::kRebootInUseProgramUnknown;
            if (!backup.failedUsers.IsEmpty())
                program.Format(FixedText::kRebootInUseProgramFormat, (const wchar_t*)backup.failedUsers);
            text.Format(FixedText::kRebootRefusedInUseFormat, name, (const wchar_t*)program, (const wchar_t*)path);
            break;
        }
        case UserBackup::kList:
        case UserBackup::kRead:
        case UserBackup::kWrite: {
            const wchar_t* format = backup.failure == UserBackup::kList   ? FixedText::kRebootRefusedListFormat
                                    : backup.failure == UserBackup::kRead ? FixedText::kRebootRefusedReadFormat
                                                                          : FixedText::kRebootRefusedWriteFormat;
            const CString reason = Win32ErrorText(backup.failedError);
            text.Format(format, name, (const wchar_t*)reason, (const wchar_t*)path);
            break;
        }
    }
    return text;
}
