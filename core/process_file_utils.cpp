#include "core/process_file_utils.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "core/fixed_texts.h"
#include "core/messages.h"
#include "core/tarvel_app.h"
#include "core/tool_start.h"
#include "core/work_folder.h"

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
    BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason) override {
        typedef BOOL(WINAPI * CreateFn)(HWND, LPCWSTR);
        CreateFn create = reinterpret_cast<CreateFn>(BlockFunction(FixedText::kSessionBlockCreateFunction));
        return create ? create(window, reason) : FALSE;
    }
    BOOL DestroyShutdownBlockReason(HWND window) override {
        typedef BOOL(WINAPI * DestroyFn)(HWND);
        DestroyFn destroy = reinterpret_cast<DestroyFn>(BlockFunction(FixedText::kSessionBlockDestroyFunction));
        return destroy ? destroy(window) : FALSE;
    }

private:
    // Looked up at run time: XP has neither call.
    static void* BlockFunction(const char* name) {
        HMODULE user = GetModuleHandleW(FixedText::kSessionBlockModule);
        return user ? reinterpret_cast<void*>(GetProcAddress(user, name)) : nullptr;
    }
};

Win32PowerControl g_win32Power;
IPowerControl* g_power = &g_win32Power;

std::atomic<DWORD> g_processWaitLimit(300000);

// The tools being waited for, and the processes of those that outlived
// their wait (held until they are seen to have ended).
std::atomic<int> g_toolsInWait(0);
std::mutex g_leftRunningLock;
std::vector<HANDLE>& LeftRunning() {
    static std::vector<HANDLE> processes;
    return processes;
}

// Forgets the processes that have ended; the number still running. Called
// with the lock held.
int PruneLeftRunning() {
    std::vector<HANDLE>& processes = LeftRunning();
    for (size_t i = processes.size(); i-- > 0;) {
        if (WaitForSingleObject(processes[i], 0) == WAIT_TIMEOUT) continue;
        CloseHandle(processes[i]);
        processes.erase(processes.begin() + (ptrdiff_t)i);
    }
    return (int)processes.size();
}

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

BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason) {
    return g_power->CreateShutdownBlockReason(window, reason);
}

BOOL DestroyShutdownBlockReason(HWND window) { return g_power->DestroyShutdownBlockReason(window); }

void TellSessionStep() {
    CWinApp* app = AfxGetApp();
    HWND main = app && app->m_pMainWnd ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    if (main) PostMessageW(main, WM_SESSION_STEP, 0, 0);
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

namespace {

// The program quoted (unless it already is) and the arguments after it.
CString ProcessCommandLine(const wchar_t* program, const wchar_t* arguments) {
    CString commandLine = program;
    if (commandLine.IsEmpty() || commandLine[0] != L'"') commandLine = L"\"" + commandLine + L"\"";
    if (arguments && *arguments) commandLine.AppendFormat(FixedText::kProcessArgumentFormat, arguments);
    return commandLine;
}

// Hidden unless the application's debug mode is on.
void HideUnlessDebugging(STARTUPINFOW& startup) {
    CTarvelApp* app = GetTarvelApp();
    if (!app || !app->m_debugMode) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
}

// A process that outlived its wait: counted until it ends.
void LeaveRunning(HANDLE process) {
    std::lock_guard<std::mutex> hold(g_leftRunningLock);
    LeftRunning().push_back(process);
}

// What a read keeps of a tool's output; the rest is read and dropped, so
// that the tool never blocks on a full pipe.
const size_t kReadOutputCap = 1 << 20;

// Moves what the pipe holds now into `output`.
void DrainPipe(HANDLE pipe, std::string& output) {
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) || !got)
            return;
        const size_t room = kReadOutputCap - output.size();
        output.append(buffer, got < room ? got : room);
    }
}

}  // namespace

namespace {

// The size of the input pipe's buffer: an answer fits it, so that writing it
// never waits for the tool to read.
const DWORD kInputPipeBuffer = 4096;

// Writes all of `bytes`; a tool that ended without reading them breaks the pipe.
void WriteAll(HANDLE pipe, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(pipe, bytes.data() + done, (DWORD)(bytes.size() - done), &wrote, nullptr) || !wrote) return;
        done += wrote;
    }
}

// Runs a tool and waits for it, as RunProcessAndWait says. Its input is a
// pipe holding `input` that ends right after it; its output and errors go
// into `output` when that is given, else to the null device.
int RunTool(const wchar_t* program, const wchar_t* arguments, const std::string& input, std::string* output) {
    if (output) output->clear();
    CString commandLine = ProcessCommandLine(program, arguments);
    HANDLE inputRead = nullptr, inputWrite = nullptr;
    const DWORD inputSize = input.size() < kInputPipeBuffer ? kInputPipeBuffer : (DWORD)input.size();
    if (!CreatePipe(&inputRead, &inputWrite, nullptr, inputSize)) return -1;
    HANDLE outputRead = nullptr, outputWrite = nullptr;
    if (output) {
        if (!CreatePipe(&outputRead, &outputWrite, nullptr, 0)) outputRead = outputWrite = nullptr;
    } else {
        outputWrite = CreateFileW(FixedText::kNullDevice, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (outputWrite == INVALID_HANDLE_VALUE) outputWrite = nullptr;
    }
    if (!outputWrite) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        return -1;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    HideUnlessDebugging(startup);
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets its own buffer.
    const BOOL started = StartToolProcess(nullptr, commandLine.GetBuffer(), startup, process);
    commandLine.ReleaseBuffer();
    // The tool's ends go, so that its input ends after the answer and its
    // output when the tool (and what it started) has ended.
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (started) WriteAll(inputWrite, input);
    CloseHandle(inputWrite);
    if (!started) {
        if (outputRead) CloseHandle(outputRead);
        return -1;
    }
    DWORD code = 0;
    int result;
    {
        RunningToolScope running;
        const DWORD limit = g_processWaitLimit.load();
        bool ended = false;
        if (output) {
            const DWORD start = GetTickCount();
            for (;;) {
                DrainPipe(outputRead, *output);
                if (ended) break;
                ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
                if (!ended && GetTickCount() - start >= limit) break;
            }
            CloseHandle(outputRead);
        } else {
            ended = WaitForSingleObject(process.hProcess, limit) == WAIT_OBJECT_0;
        }
        result = GetExitCodeProcess(process.hProcess, &code) ? (int)code : -2;
        CloseHandle(process.hThread);
        if (!ended) {
            // Left running, and counted until it ends: it may still write.
            LeaveRunning(process.hProcess);
            return result;
        }
    }
    CloseHandle(process.hProcess);
    return result;
}

}  // namespace

int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output) {
    return RunTool(program, arguments, std::string(), &output);
}

int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments) {
    return RunTool(program, arguments, std::string(), nullptr);
}

int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input) {
    return RunTool(program, arguments, input, nullptr);
}

bool AnswerLineInOemCodePage(const wchar_t* text, std::string& line) {
    line.clear();
    const int length = text ? (int)wcslen(text) : 0;
    if (length > 0) {
        // UTF-8 (Windows' optional worldwide setting) holds every text and
        // takes neither the flag nor the question.
        const UINT codePage = GetOEMCP();
        const bool utf8 = codePage == CP_UTF8;
        const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
        BOOL defaulted = FALSE;
        const int size = WideCharToMultiByte(CP_OEMCP, flags, text, length, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return false;
        line.resize((size_t)size);
        if (WideCharToMultiByte(CP_OEMCP, flags, text, length, &line[0], size, nullptr,
                                utf8 ? nullptr : &defaulted) != size ||
            defaulted) {
            line.clear();
            return false;
        }
    }
    line += FixedText::kAnswerLineEnd;
    return true;
}

RunningToolScope::RunningToolScope() {
    ++g_toolsInWait;
    TellSessionStep();
}
RunningToolScope::~RunningToolScope() {
    --g_toolsInWait;
    TellSessionStep();
}

int RunningToolCount() {
    std::lock_guard<std::mutex> hold(g_leftRunningLock);
    return g_toolsInWait.load() + PruneLeftRunning();
}

bool WaitForRunningTools(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE first = nullptr;
        int inWait = 0;
        {
            std::lock_guard<std::mutex> hold(g_leftRunningLock);
            inWait = g_toolsInWait.load();
            if (PruneLeftRunning() > 0)
                DuplicateHandle(GetCurrentProcess(), LeftRunning().front(), GetCurrentProcess(), &first, SYNCHRONIZE,
                                FALSE, 0);
            if (inWait == 0 && LeftRunning().empty()) return true;
        }
        const DWORD spent = GetTickCount() - start;
        if (milliseconds != INFINITE && spent >= milliseconds) {
            if (first) CloseHandle(first);
            return false;
        }
        // A short slice: a tool another thread waits for has no handle here.
        DWORD slice = 100;
        if (milliseconds != INFINITE && milliseconds - spent < slice) slice = milliseconds - spent;
        if (first) {
            WaitForSingleObject(first, slice);
            CloseHandle(first);
        } else {
            Sleep(slice);
        }
    }
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
    return CopyFileSharingHold(source, target, failIfExists, nullptr, nullptr);
}

namespace {

// What a hold may do: read, delete, and clear a read-only attribute first.
const DWORD kHoldAccess = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;
const DWORD kCopyBlockBytes = 1 << 20;

}  // namespace

HANDLE HoldFile(const wchar_t* path) {
    if (!path || !*path) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, kHoldAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

BOOL DeleteHeldFile(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    FILE_BASIC_INFO basic = {};
    if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO normal = {};
        normal.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(file, FileBasicInfo, &normal, sizeof normal);
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

HANDLE CopyToHeldFile(HANDLE source, const wchar_t* target, BOOL failIfExists, LPPROGRESS_ROUTINE routine,
                      void* data) {
    LARGE_INTEGER zero = {}, total = {};
    if (source == INVALID_HANDLE_VALUE || !target || !*target || !GetFileSizeEx(source, &total) ||
        !SetFilePointerEx(source, zero, nullptr, FILE_BEGIN))
        return INVALID_HANDLE_VALUE;
    // Written through a handle that shares only reading and becomes the
    // hold, so the copy is never open to anyone else's writes.
    HANDLE out = CreateFileW(target, kHoldAccess | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             failIfExists ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    std::vector<BYTE> block(kCopyBlockBytes);
    LARGE_INTEGER done = {};
    bool ok = true;
    while (ok && done.QuadPart < total.QuadPart) {
        const LONGLONG left = total.QuadPart - done.QuadPart;
        DWORD wanted = left < (LONGLONG)kCopyBlockBytes ? (DWORD)left : kCopyBlockBytes;
        DWORD got = 0, written = 0;
        ok = ReadFile(source, block.data(), wanted, &got, nullptr) && got == wanted &&
             WriteFile(out, block.data(), got, &written, nullptr) && written == got;
        done.QuadPart += got;
        if (ok && routine) {
            DWORD answer = routine(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, source, out, data);
            ok = answer != PROGRESS_CANCEL && answer != PROGRESS_STOP;
        }
    }
    if (!ok) {
        DeleteHeldFile(out);
        CloseHandle(out);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &held, kHoldAccess, FALSE, 0)) return out;
    CloseHandle(out);
    return held;
}

BOOL CopyFileSharingHold(const wchar_t* source, const wchar_t* target, BOOL failIfExists, LPPROGRESS_ROUTINE routine,
                         void* data) {
    if (CopyFileExW(source, target, routine, data, nullptr, failIfExists ? COPY_FILE_FAIL_IF_EXISTS : 0)) return TRUE;
    if (GetLastError() != ERROR_SHARING_VIOLATION) return FALSE;
    HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return FALSE;
    HANDLE copy = CopyToHeldFile(in, target, failIfExists, routine, data);
    CloseHandle(in);
    if (copy == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(copy);
    return TRUE;
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
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Only a name that is not there is gone: a file that cannot be
        // looked at (access denied, a name the system refuses) may be there.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path);
}

CString LongPathForm(const wchar_t* path) {
    CString p = path ? path : L"";
    if (p.Left(4) == L"\\\\?\\" || p.Left(4) == L"\\\\.\\") return p;
    // The long form takes no forward separators.
    p.Replace(L'/', L'\\');
    if (p.Left(2) == L"\\\\") return L"\\\\?\\UNC\\" + p.Mid(2);
    if (p.GetLength() >= 3 && p[1] == L':' && p[2] == L'\\') return L"\\\\?\\" + p;
    return p;
}

bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_MOUNT_POINT || tag == IO_REPARSE_TAG_SYMLINK; }

bool IsLinkEntry(const WIN32_FIND_DATAW& entry) {
    // No reparse point carries tag 0: a listing that shows none (Wine's, for
    // its links) has not said what the entry is, and it is not followed.
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (IsLinkTag(entry.dwReserved0) || entry.dwReserved0 == 0);
}

bool ContentIsElsewhere(DWORD attributes) {
    // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS (Windows 10 1709 and later).
    const DWORD kRecallOnDataAccess = 0x00400000;
    return (attributes & (kRecallOnDataAccess | FILE_ATTRIBUTE_OFFLINE)) != 0;
}

CString LinkFinalPath(const wchar_t* path) {
    // Opened through the link, so the handle is what it points to.
    HANDLE handle = CreateFileW(LongPathForm(path), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return CString();
    const CString target = HeldFolderPath(handle);
    CloseHandle(handle);
    return target;
}

DWORD ListFolderEntries(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(JoinPath(LongPathForm(folder), FixedText::kWildcard), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Only an empty drive root finds nothing at all (no "." entry).
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    do {
        if (!IsDotEntry(entry.cFileName)) entries.push_back(entry);
    } while (FindNextFileW(search, &entry));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

bool ListFilesRecursive(const wchar_t* folder, CArray<_File_PATH_INFO>& list) {
    const CString base = folder;
    std::vector<WIN32_FIND_DATAW> entries;
    bool complete = ListFolderEntries(base, entries) == ERROR_SUCCESS;
    for (const WIN32_FIND_DATAW& entry : entries) {
        const CString path = JoinPath(base, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link may lead out of the tree, or back into it.
            if (!IsLinkEntry(entry)) complete = ListFilesRecursive(path, list) && complete;
            continue;
        }
        _File_PATH_INFO file;
        file.path = path;
        file.size = (ULONGLONG)entry.nFileSizeHigh << 32 | entry.nFileSizeLow;
        list.Add(file);
    }
    return complete;
}

DWORD CopyFileSharingReadOnly(const wchar_t* source, const wchar_t* target, bool* readFailed) {
    if (readFailed) *readFailed = false;
    const CString from = LongPathForm(source), to = LongPathForm(target);
    // Held sharing reading only: a program that has the file open for
    // writing makes this open fail, and while it stays open none can start.
    // CopyFileExW's own open asks for reading only, which the hold allows.
    HANDLE hold = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr);
    if (hold == INVALID_HANDLE_VALUE) {
        if (readFailed) *readFailed = true;
        return GetLastError();
    }
    const DWORD error = CopyFileExW(from, to, nullptr, nullptr, nullptr, 0) ? ERROR_SUCCESS : GetLastError();
    CloseHandle(hold);
    return error;
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
