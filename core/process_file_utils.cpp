#include "core/process_file_utils.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

namespace {

class Win32PowerControl : public IPowerControl {
public:
    void Wait(DWORD milliseconds) override { Sleep(milliseconds); }
    BOOL EnableShutdownPrivilege() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
        TOKEN_PRIVILEGES tp = {};
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        BOOL ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
                  GetLastError() == ERROR_SUCCESS;
        CloseHandle(token);
        return ok;
    }
    BOOL RequestRestart() override { return ExitWindowsEx(kRestartFlags, kRestartReason); }
};

Win32PowerControl g_win32Power;
IPowerControl* g_power = &g_win32Power;

std::atomic<DWORD> g_processWaitLimit(300000);

bool EndsWithSeparator(const CString& path) {
    return !path.IsEmpty() && path[path.GetLength() - 1] == FixedText::kPathSeparator[0];
}

// folder + separator + name, without doubling a separator the folder ends with.
CString JoinPath(const CString& folder, const wchar_t* name) {
    return EndsWithSeparator(folder) ? folder + name : folder + FixedText::kPathSeparator + name;
}

bool IsDotEntry(const wchar_t* name) {
    return wcscmp(name, FixedText::kCurrentFolderEntry) == 0 || wcscmp(name, FixedText::kParentFolderEntry) == 0;
}

bool IsFolder(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A link found inside a tree (junction, symbolic link, mount point): removed
// itself, never entered. Its attributes are cleared through a handle to the
// link, because SetFileAttributesW would reach what it points to.
BOOL RemoveLink(const CString& path, bool isFolder) {
    HANDLE link = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
    if (link != INVALID_HANDLE_VALUE) {
        FILE_BASIC_INFO info = {};
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(link, FileBasicInfo, &info, sizeof info);
        CloseHandle(link);
    }
    if (isFolder) return RemoveDirectoryW(path);
    return DeleteFileW(path);
}

// Where a copy or move puts the file (see CopyFileEnsureFolder); false when
// there is no destination or it does not fit the platform's 260-character paths.
bool PlanTarget(const wchar_t* source, const wchar_t* destination, CString& folder, CString& target) {
    CString dest = destination;
    if (dest.IsEmpty() || dest.GetLength() >= MAX_PATH) return false;
    folder = GetParentFolder(dest);
    if (EndsWithSeparator(dest) || IsFolder(dest))
        target = JoinPath(folder, PathFindFileNameW(source));
    else
        target = dest;
    return target.GetLength() < MAX_PATH;
}

// Creates `folder` with its missing parents; an empty folder is the current one.
bool EnsureFolder(const CString& folder) {
    if (folder.IsEmpty() || IsFolder(folder)) return true;
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    return IsFolder(folder);
}

// Checks shared by copy and move: -1 no source, -2 the source is a folder, 0 fine.
int CheckSource(const wchar_t* source) {
    if (!source || !*source || !PathFileExistsW(source)) return -1;
    if (IsFolder(source)) return -2;
    return 0;
}

}  // namespace

IPowerControl* SetPowerControl(IPowerControl* control) {
    IPowerControl* previous = g_power;
    g_power = control ? control : &g_win32Power;
    return previous;
}

BOOL RebootMachine() {
    g_power->Wait(2000);
    g_power->EnableShutdownPrivilege();
    return g_power->RequestRestart();
}


CString WindowsFolderProgramPath(const wchar_t* program) {
    wchar_t windows[MAX_PATH] = {};
    UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !program || !*program) return CString();
    return JoinPath(CString(windows), program);
}

DWORD SetProcessWaitLimit(DWORD milliseconds) { return g_processWaitLimit.exchange(milliseconds); }

int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) {
    CString commandLine = program;
    if (commandLine.IsEmpty() || commandLine[0] != L'"') commandLine = L"\"" + commandLine + L"\"";
    if (arguments && *arguments) commandLine.AppendFormat(FixedText::kProcessArgumentFormat, arguments);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    CTarvelApp* app = GetTarvelApp();
    if (!app || !app->m_debugMode) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets its own buffer.
    if (!CreateProcessW(nullptr, commandLine.GetBuffer(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    commandLine.ReleaseBuffer();
    WaitForSingleObject(process.hProcess, g_processWaitLimit.load());
    DWORD code = 0;
    int result = GetExitCodeProcess(process.hProcess, &code) ? (int)code : -2;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

CString GetParentFolder(const wchar_t* path) {
    if (!path) return CString();
    size_t length = wcslen(path);
    if (length >= MAX_PATH) return CString();
    wchar_t buffer[MAX_PATH];
    wcscpy(buffer, path);
    PathRemoveFileSpecW(buffer);
    return CString(buffer);
}

int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists) {
    if (int refused = CheckSource(source)) return refused;
    CString folder, target;
    if (!PlanTarget(source, destination, folder, target)) return -4;
    // Only the file that would be written counts: a destination folder that
    // exists is where the file goes, not a reason to refuse.
    if (failIfExists && PathFileExistsW(target)) return -3;
    if (!EnsureFolder(folder)) return -4;
    return CopyFileW(source, target, failIfExists);
}

int MoveFileEnsureFolder(const wchar_t* source, const wchar_t* destination) {
    if (int refused = CheckSource(source)) return refused;
    CString folder, target;
    if (!PlanTarget(source, destination, folder, target) || !EnsureFolder(folder)) return -4;
    return MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

int DeleteFolderTree(const CString& folder) {
    if (folder.IsEmpty() || !IsFolder(folder)) return 0;
    // A link in the folder's place (a junction put there after the folder
    // was made) leads elsewhere: what it points to is not ours to delete,
    // and the link is not ours either.
    if (GetFileAttributesW(folder) & FILE_ATTRIBUTE_REPARSE_POINT) return 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(JoinPath(folder, FixedText::kWildcard), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotEntry(entry.cFileName)) continue;
            CString path = JoinPath(folder, entry.cFileName);
            const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            BOOL deleted;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                deleted = RemoveLink(path, isFolder);
            } else {
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                deleted = isFolder ? DeleteFolderTree(path) : DeleteFileW(path);
            }
            if (!deleted) {
                FindClose(search);
                return 0;
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryW(folder);
}

int DeleteFileForced(const wchar_t* path) {
    if (!path || !*path) return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path);
}

void ListFilesRecursive(const wchar_t* folder, CArray<_File_PATH_INFO>& list) {
    CString base = folder;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(JoinPath(base, FixedText::kWildcard), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        CString path = JoinPath(base, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A linked folder may lead out of the tree, or back into it.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListFilesRecursive(path, list);
            continue;
        }
        _File_PATH_INFO file;
        file.path = path;
        file.size = (ULONGLONG)entry.nFileSizeHigh << 32 | entry.nFileSizeLow;
        list.Add(file);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

ULONGLONG GetFileSize64(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return (ULONGLONG)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

bool IsPlainFileName(const wchar_t* name) {
    if (!name || !*name) return false;
    size_t length = wcslen(name);
    if (length >= MAX_PATH) return false;
    for (const wchar_t* c = name; *c; ++c)
        if (*c < 0x20 || wcschr(L"\\/:*?\"<>|", *c)) return false;
    wchar_t last = name[length - 1];
    if (last == L'.' || last == L' ') return false;  // also "." and ".."
    // Device names stay devices with any extension.
    size_t stem = wcscspn(name, L".");
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : devices)
        if (stem == wcslen(device) && _wcsnicmp(name, device, stem) == 0) return false;
    if (stem == 4 && (_wcsnicmp(name, L"COM", 3) == 0 || _wcsnicmp(name, L"LPT", 3) == 0) && name[3] >= L'0' &&
        name[3] <= L'9')
        return false;
    return true;
}
