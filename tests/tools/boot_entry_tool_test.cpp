// The boot-entry tool: where it finds the editor, what it passes on, and how
// it fails when there is none.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>

#include "support/test_files.h"
#include "tools/boot_entry_tool.h"

namespace {

CString TestFolder() { return CString(TestProgramDirectory().c_str()); }

std::string ReadFileText(const CString& path) { return ReadWholeFile(path.GetString()); }

TEST(BootEntryTool, EditorInTheRealSystemFolder) {
    EXPECT_STREQ(SystemBootEditorPath(L"C:\\Windows", false), L"C:\\Windows\\System32\\bcdedit.exe");
    EXPECT_STREQ(SystemBootEditorPath(L"C:\\Windows\\", true), L"C:\\Windows\\Sysnative\\bcdedit.exe");
    CString own = SystemBootEditorPath();
    EXPECT_EQ(own.Right(12), CString(L"\\bcdedit.exe"));
}

// The machine of a file's image (0x14c i386, 0x8664 x64); 0 when unreadable.
WORD ImageMachine(const CString& path) {
    const std::string bytes = ReadWholeFile(path.GetString());
    if (bytes.size() < 0x40) return 0;
    const DWORD pe = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3c);
    if (pe + 6 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return *reinterpret_cast<const WORD*>(bytes.data() + pe + 4);
}

// The system programs this process starts are the platform's own: on 64-bit
// Windows a 32-bit process sees the 32-bit system folder as System32 and
// reaches the real (64-bit) one only through Sysnative; on 32-bit Windows
// there is no Sysnative.
TEST(BootEntryTool, SystemProgramsAreThePlatformsOwn) {
    const int bits = RunWindowsBits();
    if (!bits) GTEST_SKIP() << "no test run states its Windows' word size (scripts/test.sh does)";
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const CString folder = CString(windows).TrimRight(L'\\');
    const CString own = OwnSystemProgramPath(L"kernel32.dll");
    const DWORD sysnative = GetFileAttributesW(folder + L"\\Sysnative");
    if (bits == 64) {
        EXPECT_EQ(folder + L"\\Sysnative\\kernel32.dll", own);
        EXPECT_EQ(folder + L"\\Sysnative\\bcdedit.exe", SystemBootEditorPath());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, sysnative) << "a 32-bit process on 64-bit Windows sees Sysnative";
        EXPECT_EQ(0x8664, ImageMachine(own)) << "Sysnative is the 64-bit system folder";
        EXPECT_EQ(0x14c, ImageMachine(folder + L"\\System32\\kernel32.dll")) << "System32 is redirected";
    } else {
        EXPECT_EQ(folder + L"\\System32\\kernel32.dll", own);
        EXPECT_EQ(folder + L"\\System32\\bcdedit.exe", SystemBootEditorPath());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, sysnative) << "32-bit Windows has no Sysnative";
        EXPECT_EQ(0x14c, ImageMachine(own));
    }
}

TEST(BootEntryTool, ArgumentsAreTheCommandLineAfterTheProgram) {
    struct Case {
        const wchar_t* line;
        const wchar_t* arguments;
    } cases[] = {
        {L"\"C:\\Temp\\Work Folder\\kvtbcd.exe\" /store \"X:\\a b\\BCD\" /enum", L"/store \"X:\\a b\\BCD\" /enum"},
        {L"kvtbcd.exe /delete {1}", L"/delete {1}"},
        {L"kvtbcd.exe", L""},
        {L"\"C:\\kvtbcd.exe\"", L""},
        {L"kvtbcd.exe \t  /set  x \"y z\" ", L"/set  x \"y z\" "},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_STREQ(ArgumentsAfterProgram(c.line), c.arguments);
}

TEST(BootEntryTool, ForwardsTheArgumentsAndReturnsTheExitCode) {
    // The stand-in editor, copied to a folder whose name has a space.
    CString folder = CString(TestRunDirectory().c_str()) + L"\\editor folder";
    CreateDirectoryW(folder, nullptr);
    CString editor = folder + L"\\bcdedit.exe";
    ASSERT_TRUE(CopyFileW(TestFolder() + L"\\fake_boot_editor.exe", editor, FALSE));
    CString log = folder + L"\\line.txt";
    DeleteFileW(log);
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_LOG", log);
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_CODE", L"7");
    CString error;
    const wchar_t* arguments = L"/store \"H:\\EFI\\Microsoft\\Boot\\BCD\" /set {x} device ramdisk=\"[D:]\\a b\\pe.wim\",{y}";
    EXPECT_EQ(ForwardToEditor(editor, arguments, error), 7);
    EXPECT_TRUE(error.IsEmpty());
    std::string expected = std::string(Utf16ToUtf8(L"\"" + editor + L"\" " + arguments).GetString());
    EXPECT_EQ(ReadFileText(log), expected);
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_CODE", L"0");
    EXPECT_EQ(ForwardToEditor(editor, L"", error), 0);
    EXPECT_EQ(ReadFileText(log), std::string(Utf16ToUtf8(L"\"" + editor + L"\"").GetString()));
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_LOG", nullptr);
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_CODE", nullptr);
}

TEST(BootEntryTool, TheEditorsListingGoesWhereTheToolsOutputGoes) {
    // The boot setup reads the boot manager's listing through the tool's
    // standard output (a pipe): the editor must write into it.
    CString folder = CString(TestRunDirectory().c_str()) + L"\\editor folder";
    CreateDirectoryW(folder, nullptr);
    CString editor = folder + L"\\bcdedit.exe";
    ASSERT_TRUE(CopyFileW(TestFolder() + L"\\fake_boot_editor.exe", editor, FALSE));
    const wchar_t* listing = L"identifier {9dea862c-5cdd-4e70-acc1-f32b344d4795}\r\ndescription Windows Boot Manager\r\n";
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_OUTPUT", listing);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16));
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writeEnd);
    CString error;
    const int code = ForwardToEditor(editor, L"/store \"H:\\EFI\\Microsoft\\Boot\\BCD\" /enum {bootmgr} /v", error);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    CloseHandle(writeEnd);
    SetEnvironmentVariableW(L"KAVETTA_FAKE_EDITOR_OUTPUT", nullptr);
    std::string got;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n) got.append(buffer, n);
    CloseHandle(readEnd);
    EXPECT_EQ(0, code);
    EXPECT_EQ(std::string(Utf16ToUtf8(listing).GetString()), got);
}

TEST(BootEntryTool, TheEditorInheritsOnlyTheToolsStandardHandles) {
    // A pipe the tool holds, inheritable, that was never meant for the
    // editor; the helper stands in for the editor and writes to it if it can.
    CString folder = CString(TestRunDirectory().c_str()) + L"\\leak editor folder";
    CreateDirectoryW(folder, nullptr);
    CString editor = folder + L"\\bcdedit.exe";
    ASSERT_TRUE(CopyFileW(TestFolder() + L"\\tool_input.exe", editor, FALSE));
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16));
    CString arguments;
    arguments.Format(L"leak %lX", (unsigned long)(ULONG_PTR)writeEnd);
    CString error;
    const int code = ForwardToEditor(editor, arguments, error);
    DWORD available = 0;
    const BOOL peeked = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
    ASSERT_TRUE(peeked);
    EXPECT_TRUE(code == 0 || code == 1) << code;
    EXPECT_EQ(0u, available) << "the editor wrote into a pipe it was never given";
}

TEST(BootEntryTool, NoEditorIsAClearFailure) {
    CString error;
    CString missing = TestFolder() + L"\\no such folder\\bcdedit.exe";
    EXPECT_EQ(ForwardToEditor(missing, L"/enum", error), kExitEditorMissing);
    EXPECT_GE(error.Find(missing), 0);
    error.Empty();
    EXPECT_EQ(ForwardToEditor(L"", L"/enum", error), kExitEditorMissing);
    EXPECT_FALSE(error.IsEmpty());
    // A file that is no program cannot be started. It lies in this run's own
    // folder: the three runs share the program folder, and another run's
    // clean-up would otherwise take it away under this one.
    CString notAProgram = CString(TestRunDirectory().c_str()) + L"\\not a program.exe";
    FILE* f = _wfopen(notAProgram, L"wb");
    ASSERT_NE(f, nullptr);
    fputs("text", f);
    fclose(f);
    error.Empty();
    EXPECT_EQ(ForwardToEditor(notAProgram, L"/enum", error), kExitEditorNotStarted);
    EXPECT_GE(error.Find(notAProgram), 0);
    DeleteFileW(notAProgram);
}

TEST(BootEntryTool, TheBuiltToolWithoutASystemEditor) {
    if (PathFileExistsW(SystemBootEditorPath())) GTEST_SKIP() << "a real editor is present; it is never run by tests";
    EXPECT_EQ(RunAndWait((TestFolder() + L"\\kvtbcd.exe").GetString(), L"/enum"), kExitEditorMissing);
}

}  // namespace
