// End to end: the built program under Wine makes its work folder under its
// temporary folder, unpacks the tools there (and removes the 7-Zip library
// again), and deletes the folder after a normal close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "payload_test_support.h"
#include "support/program_runner.h"
#include "utils_test_support.h"

TEST(ProgramPayloads, WorkFolderAppearsWithTheToolsAndGoesAtExit) {
    ScratchFolder temp(L"program-work");
    ProgramCopy program;
    ASSERT_TRUE(program.Start(ProgramPath(), temp.Path()));
    HWND window = WaitForProgramWindow(program.pi.dwProcessId, 60000);
    ASSERT_NE(nullptr, window) << "the program shows no window";

    // Exactly one folder appears, named by ten letters and digits.
    std::vector<std::wstring> entries = FolderEntries(temp.Path());
    ASSERT_EQ(1u, entries.size());
    CString work = temp / entries[0].c_str();
    ASSERT_TRUE(IsFolder(work));
    EXPECT_EQ(10u, entries[0].size());

    // The unpack runs on its own thread: wait (bounded) for the tools to be
    // in place and the library to be gone.
    CString tools = work + L"\\tools_readme.txt", library = work + FixedText::kSevenZipLibraryFileName;
    bool unpacked = false;
    for (int i = 0; i < 300 && !unpacked; ++i) {
        unpacked = GetFileAttributesW(tools) != INVALID_FILE_ATTRIBUTES &&
                   GetFileAttributesW(library) == INVALID_FILE_ATTRIBUTES;
        if (!unpacked) Sleep(100);
    }
    ASSERT_TRUE(unpacked) << "the tools did not arrive, or the library stayed";
    EXPECT_FALSE(ReadBytes(tools).empty());

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(program.WaitExit(30000)) << "the program did not end";
    DWORD code = 1;
    GetExitCodeProcess(program.pi.hProcess, &code);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(work)) << "the work folder was left behind";
    EXPECT_TRUE(FolderEntries(temp.Path()).empty());
}
