// Two copies of the built program under Wine: the second finds the first
// through the hand-shake, brings it to the front and ends at once.
#include <gtest/gtest.h>

#include "core_test_support.h"
#include "support/program_runner.h"
#include "support/test_files.h"
#include "winlib/winlib.h"

namespace {

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
    // Of this run's own: another run may start its copies at the same time.
    CString folder = CString(TestRunDirectory().c_str()) + L"\\" + name;
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

    ProgramCopy first;
    ASSERT_TRUE(first.Start(exe, firstTemp));
    HWND window = WaitForProgramWindow(first.pi.dwProcessId, 60000);
    ASSERT_NE(nullptr, window) << "the first copy shows no window";
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }, 60000));

    ProgramCopy second;
    DWORD started = GetTickCount();
    ASSERT_TRUE(second.Start(exe, secondTemp));
    ASSERT_TRUE(second.WaitExit(180000)) << "the second copy did not end";
    // It hands over and ends: far sooner than a start of its own (under
    // emulation on a loaded machine a start alone takes seconds).
    DWORD elapsed = GetTickCount() - started;
    EXPECT_LT(elapsed, 90000u);
    DWORD code = 1;
    GetExitCodeProcess(second.pi.hProcess, &code);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(FolderIsEmpty(secondTemp)) << "the second copy created something in its temporary folder";

    // The first copy came back from the minimised state and is still running.
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window); }, 60000)) << "the first copy stayed minimised";
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(first.WaitExit(0));

    // A close ends the first copy normally.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(first.WaitExit(120000));
    RemoveDirectoryW(secondTemp);
}
