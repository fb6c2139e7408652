// Process, file and folder utilities.
#pragma once

#include <windows.h>
#include <reason.h>

#include <vector>
#include <string>

#include "winlib/collections.h"
#include "winlib/strings.h"

// One file of a recursive listing.
struct _File_PATH_INFO {
    CString path;    // the listed folder, the separator and the entry's name
    ULONGLONG size;  // bytes
};

// Runs `program` with `arguments` and waits for it to end; run it on a worker
// thread. The program path is passed bare: it is quoted here unless it already
// starts with a quote, so paths with spaces start the right program.
// Arguments are appended as they are (a path inside them must carry its own
// quotes). Hidden unless the application's debug mode is on. Returns the exit
// code; -1 when the program did not start; -2 when no exit code could be read;
// 259 (STILL_ACTIVE) when it still runs after the wait limit: it is then left
// running.
// A tool never waits on a question: its input is a pipe that has ended (a
// question nobody expected fails at once, where a hidden console would wait
// for ever), its output and errors go to the null device, and it inherits
// no other handle of ours (StartToolProcess).
int RunProcessAndWait(const wchar_t* program, const wchar_t* arguments);
// The same, handing the program `input` (the answer it will ask for, a few
// lines at most) on its input, which ends right after it.
int RunProcessWithInput(const wchar_t* program, const wchar_t* arguments, const std::string& input);
// The same as RunProcessAndWait, with the program's standard output and
// error read into `output` (its bytes as written, at most 1 MiB). The wait
// limit, the result codes and a program left running are as above.
int RunProcessAndRead(const wchar_t* program, const wchar_t* arguments, std::string& output);
// The answer to a tool's question as it reads it: `text` in the OEM code
// page (the console's, in which system tools read and write), then a line
// end. False when that code page cannot hold the text exactly (no
// look-alike characters): such an answer would be another text.
bool AnswerLineInOemCodePage(const wchar_t* text, std::string& line);
// The full path of a program of the Windows folder itself (explorer.exe):
// the system's Windows folder (GetSystemWindowsDirectoryW, the real one also
// on a terminal server) and the name. Empty when the folder cannot be read.
// A program started by its bare name is searched for in our own folder
// first, which anyone who could put the program there can write.
CString WindowsFolderProgramPath(const wchar_t* program);
// The tools this process started that still run: those RunProcessAndWait
// is waiting for, and those that outlived its wait (each counts until it has
// ended). Nothing restarts while one runs; the exit waits for them, bounded.
int RunningToolCount();
// Waits up to `milliseconds` (INFINITE: no bound) for every such tool to
// end; true when none runs any more.
bool WaitForRunningTools(DWORD milliseconds);
// Counts one tool as running while it lives: RunProcessAndWait holds one
// around each wait; a caller that waits for a tool by other means holds one too.
class RunningToolScope {
public:
    RunningToolScope();
    ~RunningToolScope();
    RunningToolScope(const RunningToolScope&) = delete;
    RunningToolScope& operator=(const RunningToolScope&) = delete;
};
// The longest wait of RunProcessAndWait, 300000 ms unless changed (tests make
// it short). Returns the previous limit.
DWORD SetProcessWaitLimit(DWORD milliseconds);

// Copies a file, creating the destination's folder with its missing parents.
// A destination ending with the separator, or naming an existing folder,
// receives the file under the source's name: inside the folder for the
// former, beside it (in its parent) for the latter. Nonzero when copied, 0
// when the copy failed; -1 no source; -2 the source is a folder; -3 the file
// that would be written exists and failIfExists is set; -4 the destination
// folder could not be made, or the destination is too long. A source we
// hold (HoldFile) is copied too.
int CopyFileEnsureFolder(const wchar_t* source, const wchar_t* destination, BOOL failIfExists);
// A file we hold: open for reading and deleting, sharing reading only, so
// that while the handle is open nobody else can write, rename or delete it
// and the bytes read through it stay the bytes at its name. Its attributes
// can be changed through it (a read-only file can still be deleted). An
// opener that wants to read it meanwhile must share deleting. Invalid when
// the file cannot be held now (another program writes it, or holds it
// without sharing reading and deleting).
HANDLE HoldFile(const wchar_t* path);
// Deletes a held file through its handle: the name goes when the last
// handle to the file is closed. The handle stays open.
BOOL DeleteHeldFile(HANDLE file);
// Writes the content of an open file, read from its start, into `target`
// (replaced unless failIfExists) and returns the new file held as HoldFile
// holds it. `routine` (may be null) sees the progress as CopyFileExW's does;
// PROGRESS_CANCEL or PROGRESS_STOP ends the copy. Invalid when the copy
// failed; nothing of it is left at `target` then.
HANDLE CopyToHeldFile(HANDLE source, const wchar_t* target, BOOL failIfExists, LPPROGRESS_ROUTINE routine,
                      void* data);
// CopyFileExW for a source that may be one we hold: such a source refuses
// an opener that does not share deleting, as CopyFileExW's may not, so on a
// sharing violation the source is read through a handle that shares
// everything (our hold's own sharing still keeps every writer away).
BOOL CopyFileSharingHold(const wchar_t* source, const wchar_t* target, BOOL failIfExists, LPPROGRESS_ROUTINE routine,
                         void* data);
// The same as a move that always replaces (never -3); it may cross volumes.
int MoveFileEnsureFolder(const wchar_t* source, const wchar_t* destination);

// Deletes a folder with everything below it, read-only entries included;
// nonzero when it is gone. Links (junctions, symbolic links and other
// reparse points) inside it are removed themselves, never followed; a
// folder path that is itself a link is left alone (0), and so is what it
// points to. Stops at the first entry that cannot be deleted.
int DeleteFolderTree(const CString& folder);
// Nonzero when the file is gone, also when it never existed; 0 for no path,
// a folder, a failed delete or a name that cannot be looked at (access
// denied, a name the system refuses). A read-only file is deleted too.
int DeleteFileForced(const wchar_t* path);
// Appends every file below `folder` (depth first, in the platform's order),
// whatever the length of its path (the folders are listed in the long
// form, LongPathForm; the paths appended begin with `folder` as given). Links (junctions
// and symbolic links, IsLinkEntry) are not entered; a folder with any other
// reparse point (a cloud folder, a deduplicated one) is. False when a folder
// could not be listed to its end: what it held is missing from the list.
bool ListFilesRecursive(const wchar_t* folder, CArray<_File_PATH_INFO>& list);
// The entries of one folder, "." and ".." left out, as FindFirstFileW finds
// them (for a reparse point, its tag in dwReserved0); the folder is listed
// in its \\?\ form. ERROR_SUCCESS, or the error that ended the listing
// (a folder that cannot be listed, or a listing that broke off).
DWORD ListFolderEntries(const wchar_t* folder, std::vector<WIN32_FIND_DATAW>& entries);
// The long form of a full path, which the file calls take past 260 characters:
// "\\?\C:\..." for a drive path, "\\?\UNC\server\share\..." for a share,
// the path itself when it already is one (or is relative, or a device).
CString LongPathForm(const wchar_t* path);
// Whether a reparse tag makes a link: a junction or mount point, or a
// symbolic link. Every other tag (cloud files, deduplication, ...) marks
// data kept in another way, which is read like any file or folder.
bool IsLinkTag(DWORD tag);
// Whether a found entry is such a link; a reparse point whose listing
// shows no tag at all is taken for one.
bool IsLinkEntry(const WIN32_FIND_DATAW& entry);
// Where a link leads: the final path of what it points to (every link on
// the way resolved), in the plain form; empty when that cannot be opened or
// this Windows cannot say (before Vista).
CString LinkFinalPath(const wchar_t* path);
// Whether a file's content is not on this disk (a cloud placeholder that
// would be fetched when read, or an offline file).
bool ContentIsElsewhere(DWORD attributes);
// Copies a user file onto `target` (replacing it; its folder must exist),
// both in their \\?\ form. The source is held open sharing reading only
// for the whole copy, so a file another program has open for writing is
// refused (ERROR_SHARING_VIOLATION) and none can start writing it
// meanwhile: the copy is never torn. ERROR_SUCCESS or why it failed;
// `readFailed` (may be null) says whether the source could not be opened.
DWORD CopyFileSharingReadOnly(const wchar_t* source, const wchar_t* target, bool* readFailed = nullptr);
// The path without its last element (a trailing separator counts as the last
// element); empty for a path of 260 characters or more.
CString GetParentFolder(const wchar_t* path);
// The size of a file in bytes, 0 when it cannot be read.
ULONGLONG GetFileSize64(const wchar_t* path);
// True when `name` is a plain file name that stays in the folder it is
// joined to: not empty, shorter than 260 characters, no separator, drive,
// wildcard or other character that Windows refuses in names, not "." or
// "..", no trailing dot or blank (Windows drops those, so two names would
// meet), and no device name such as "CON" or "COM1.txt".
bool IsPlainFileName(const wchar_t* name);

// How the program asks Windows to restart: a restart that ends programs
// which no longer answer, for a planned reconfiguration of the system. The
// call only starts the session's end; the programs may still refuse it.
const UINT kRestartFlags = EWX_REBOOT | EWX_FORCEIFHUNG;
const DWORD kRestartReason = SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_RECONFIG | SHTDN_REASON_FLAG_PLANNED;

// The calls that restart Windows, behind a seam so that tests never reach
// the real restart (under Wine it would end the whole session).
class IPowerControl {
public:
    virtual ~IPowerControl() {}
    virtual void Wait(DWORD milliseconds) = 0;
    virtual BOOL EnableShutdownPrivilege() = 0;
    virtual BOOL RequestRestart() = 0;
    // Registers why the session must not end now: Windows names it to a
    // user who shuts down or restarts meanwhile. Windows takes it only from
    // the thread that made `window` (ERROR_ACCESS_DENIED otherwise); a
    // second call replaces the text. FALSE before Vista, which has no such call.
    virtual BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason) = 0;
    // Withdraws it (from the same thread); nothing when none is registered.
    virtual BOOL DestroyShutdownBlockReason(HWND window) = 0;
};
// Installs another power control and returns the previous one; null puts the
// real one back.
IPowerControl* SetPowerControl(IPowerControl* control);

// Waits 2000 ms, enables the shutdown privilege and asks Windows to restart
// (kRestartFlags, kRestartReason). Returns the result of the restart request:
// FALSE when Windows refused it.
BOOL RebootMachine();

// The block reason of the session end, through the power control (see
// IPowerControl); call them on the thread that made `window`.
BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason);
BOOL DestroyShutdownBlockReason(HWND window);

// Tells the application's main window that a step a session end must not
// cut began or ended (a tool run, a disk write, the boot setup): it posts
// WM_SESSION_STEP, so any thread may call it. Nothing without a main window.
void TellSessionStep();
