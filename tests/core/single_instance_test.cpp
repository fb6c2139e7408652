// Two copies of the built program under Wine: the second finds the first
// through the hand-shake, brings it to the front and ends at once.
#include <gtest/gtest.h>

#include "core_test_support.h"
#include "winlib/winlib.h"

namespace {

struct Copy {
    PROCESS_INFORMATION pi = {};
    bool Start(const CString& exe, const CString& tempFolder) {
        // Each copy gets its own temporary folder, to see what it creates there.
        // The child takes the variables at creation; this process gets its own
        // back, since later tests make their folders under it.
        wchar_t savedTmp[MAX_PATH + 1] = {}, savedTemp[MAX_PATH + 1] = {};
        DWORD hadTmp = GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
        DWORD hadTemp = GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
        SetEnvironmentVariableW(L"TMP", tempFolder);
        SetEnvironmentVariableW(L"TEMP", tempFolder);
        STARTUPINFOW si = {sizeof(si)};
        CString cmd = L"\"" + exe + L"\"";
        BOOL ok = CreateProcessW(exe, cmd.GetBuffer(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        cmd.ReleaseBuffer();
        SetEnvironmentVariableW(L"TMP", hadTmp && hadTmp < MAX_PATH ? savedTmp : nullptr);
        SetEnvironmentVariableW(L"TEMP", hadTemp && hadTemp < MAX_PATH ? savedTemp : nullptr);
        return ok != FALSE;
    }
    bool WaitExit(DWORD ms) { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    void Stop() {
        if (pi.hProcess && !WaitExit(0)) TerminateProcess(pi.hProcess, 1);
        if (pi.hProcess) CloseHandle(pi.hProcess);
        if (pi.hThread) CloseHandle(pi.hThread);
        pi = {};
    }
    ~Copy() { Stop(); }
};

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

HWND WaitForWindow(DWORD pid, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        FindWindowOf f = {pid, nullptr};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&f));
        if (f.found) return f.found;
        Sleep(100);
    }
    return nullptr;
}

bool FolderIsEmpty(const CString& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(folder + L"\\*", &fd);
    if (h == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) empty = false;
    } while (empty && FindNextFileW(h, &fd));
    FindClose(h);
    return empty;
}

CString MakeFolder(const CString& name) {
    CString folder = TestProgramFolder() + L"\\" + name;
    CreateDirectoryW(folder, nullptr);
    return folder;
}

}  // namespace

TEST(SingleInstance, SecondCopyActivatesTheFirstAndEnds) {
    CString exe = TestProgramFolder() + L"\\kavetta.exe";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(exe)) << "the program is not built";
    CString firstTemp = MakeFolder(L"instance-first-tmp");
    CString secondTemp = MakeFolder(L"instance-second-tmp");
    ASSERT_TRUE(FolderIsEmpty(secondTemp));

    Copy first;
    ASSERT_TRUE(first.Start(exe, firstTemp));
    HWND window = WaitForWindow(first.pi.dwProcessId, 60000);
    ASSERT_NE(nullptr, window) << "the first copy shows no window";
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 50 && !IsIconic(window); ++i) Sleep(100);
    ASSERT_TRUE(IsIconic(window));

    Copy second;
    DWORD started = GetTickCount();
    ASSERT_TRUE(second.Start(exe, secondTemp));
    ASSERT_TRUE(second.WaitExit(20000)) << "the second copy did not end";
    DWORD elapsed = GetTickCount() - started;
    EXPECT_LT(elapsed, 15000u);
    DWORD code = 1;
    GetExitCodeProcess(second.pi.hProcess, &code);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(FolderIsEmpty(secondTemp)) << "the second copy created something in its temporary folder";

    // The first copy came back from the minimised state and is still running.
    for (int i = 0; i < 50 && IsIconic(window); ++i) Sleep(100);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(first.WaitExit(0));

    // A close ends the first copy normally.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(first.WaitExit(20000));
    RemoveDirectoryW(secondTemp);
}
