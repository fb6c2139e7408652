#include "support/program_runner.h"

bool ProgramCopy::Start(const CString& exe, const CString& tempFolder) {
    // The child inherits this process's environment: set it for the start only.
    wchar_t tmp[MAX_PATH * 2] = {}, temp[MAX_PATH * 2] = {};
    GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH * 2);
    GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH * 2);
    SetEnvironmentVariableW(L"TMP", tempFolder);
    SetEnvironmentVariableW(L"TEMP", tempFolder);
    STARTUPINFOW si = {sizeof(si)};
    CString cmd = L"\"" + exe + L"\"";
    BOOL ok = CreateProcessW(exe, cmd.GetBuffer(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    cmd.ReleaseBuffer();
    SetEnvironmentVariableW(L"TMP", tmp);
    SetEnvironmentVariableW(L"TEMP", temp);
    return ok != FALSE;
}

bool ProgramCopy::WaitExit(DWORD ms) { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }

void ProgramCopy::Stop() {
    if (pi.hProcess && !WaitExit(0)) TerminateProcess(pi.hProcess, 1);
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    pi = {};
}

namespace {

struct FindWindowOf {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND h, LPARAM lp) {
    FindWindowOf* f = reinterpret_cast<FindWindowOf*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == f->pid && IsWindowVisible(h)) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForProgramWindow(DWORD pid, DWORD ms) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    const DWORD start = GetTickCount();
    HWND found = nullptr;
    for (;;) {
        FindWindowOf f = {pid, nullptr};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&f));
        found = f.found;
        if (found || GetTickCount() - start >= ms) break;
        // A program that ended shows no window any more: no use waiting on.
        if (process && WaitForSingleObject(process, 100) == WAIT_OBJECT_0) break;
        if (!process) Sleep(100);
    }
    if (process) CloseHandle(process);
    return found;
}
