// Processes, copies, moves, deletes and listings on real files and programs.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/process_file_utils.h"
#include "core/tarvel_app.h"
#include "core_test_support.h"
#include "support/test_files.h"
#include "utils_test_support.h"

#include <tlhelp32.h>  // after windows.h

namespace {

CString HelperProgram() { return TestProgramFolder() + L"\\exit_code.exe"; }

// What the helper recorded: its command line and its start-up flags.
struct Record {
    std::wstring commandLine;
    unsigned long flags = 0;
    unsigned show = 0;
};

bool ReadRecord(const CString& path, Record& record) {
    std::string bytes = ReadBytes(path);
    if (bytes.empty()) return false;
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t newline = text.find(L'\n');
    if (newline == std::wstring::npos) return false;
    record.commandLine = text.substr(0, newline);
    return swscanf(text.c_str() + newline + 1, L"%lu %u", &record.flags, &record.show) == 2;
}

// A copy of the helper in a folder whose name holds a space, and a decoy
// where an unquoted command line would look first: "<scratch>\kvt dir\exit
// code.exe" read unquoted starts "<scratch>\kvt.exe".
class ProcessTest : public testing::Test {
protected:
    ProcessTest() : m_scratch(L"process") {}
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(m_scratch / L"kvt dir", nullptr));
        m_program = m_scratch / L"kvt dir\\exit code.exe";
        ASSERT_TRUE(CopyFileW(HelperProgram(), m_program, FALSE));
        ASSERT_TRUE(CopyFileW(HelperProgram(), m_scratch / L"kvt.exe", FALSE));
        m_record = m_scratch / L"kvt dir\\record file.txt";
    }
    ScratchFolder m_scratch;
    CString m_program;
    CString m_record;
};

// Makes `root`, then the folders below it in order, then the files.
bool MakeTree(const CString& root, std::initializer_list<const wchar_t*> folders,
              std::initializer_list<std::pair<const wchar_t*, std::string>> files) {
    bool ok = CreateDirectoryW(root, nullptr) != FALSE;
    for (const wchar_t* folder : folders) ok = ok && CreateDirectoryW(root + L"\\" + folder, nullptr);
    for (const auto& file : files) ok = ok && WriteBytes(root + L"\\" + file.first, file.second);
    return ok;
}

// A process running the program at `path`, opened to wait for and to end;
// null when none runs.
HANDLE OpenRunningProgram(const CString& path) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32W entry = {sizeof(entry)};
    HANDLE found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     entry.th32ProcessID);
        if (!process) continue;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &size) && path.CompareNoCase(image) == 0 &&
            WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
            found = process;
        else
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

TEST_F(ProcessTest, ExitCodeOfAProgramWhosePathHoldsSpaces) {
    EXPECT_EQ(3, RunProcessAndWait(m_program, L"3"));
    EXPECT_EQ(0, RunProcessAndWait(m_program, L"0"));
    // A caller that quoted the path already gets no second pair of quotes.
    EXPECT_EQ(3, RunProcessAndWait(L"\"" + m_program + L"\"", L"3"));
    EXPECT_EQ(0, RunProcessAndWait(m_program, nullptr));
    EXPECT_EQ(0, RunProcessAndWait(m_program, L""));
}

TEST_F(ProcessTest, CommandLineAndHiddenWindow) {
    CString arguments = L"0 0 \"" + m_record + L"\"";
    ASSERT_EQ(0, RunProcessAndWait(m_program, arguments));
    Record record;
    ASSERT_TRUE(ReadRecord(m_record, record));
    EXPECT_EQ(std::wstring(L"\"" + m_program + L"\" " + arguments), record.commandLine);
    // No application object counts as debug mode off.
    EXPECT_EQ((unsigned long)STARTF_USESHOWWINDOW, record.flags & STARTF_USESHOWWINDOW);
    EXPECT_EQ((unsigned)SW_HIDE, record.show);
}

TEST_F(ProcessTest, DebugModeShowsTheWindow) {
    CTarvelApp app;
    CString arguments = L"0 0 \"" + m_record + L"\"";
    app.m_debugMode = 0;
    ASSERT_EQ(0, RunProcessAndWait(m_program, arguments));
    Record hidden;
    ASSERT_TRUE(ReadRecord(m_record, hidden));
    EXPECT_EQ((unsigned long)STARTF_USESHOWWINDOW, hidden.flags & STARTF_USESHOWWINDOW);

    app.m_debugMode = 1;
    ASSERT_EQ(0, RunProcessAndWait(m_program, arguments));
    Record shown;
    ASSERT_TRUE(ReadRecord(m_record, shown));
    EXPECT_EQ(0ul, shown.flags & STARTF_USESHOWWINDOW);
}

TEST_F(ProcessTest, ARunThatReadsGetsTheProgramsOutputAndExitCode) {
    std::string output = "left over";
    EXPECT_EQ(5, RunProcessAndRead(m_program, L"5 0 - \"identifier {bootmgr}\"", output));
    EXPECT_EQ("identifier {bootmgr}", output);
    // More than a pipe holds at once: read while the program writes, never blocking it.
    EXPECT_EQ(0, RunProcessAndRead(m_program, L"0 0 - *300000", output));
    EXPECT_EQ(300000u, output.size());
    EXPECT_EQ(0, RunProcessAndRead(m_program, L"0 0 \"" + m_record + L"\"", output));
    EXPECT_EQ("", output);
    Record record;
    ASSERT_TRUE(ReadRecord(m_record, record));
    EXPECT_EQ(std::wstring(L"\"" + m_program + L"\" 0 0 \"" + m_record + L"\""), record.commandLine);
    EXPECT_EQ((unsigned)SW_HIDE, record.show);
    EXPECT_EQ(-1, RunProcessAndRead(m_scratch / L"kvt dir\\no such program.exe", L"3", output));
    EXPECT_EQ(0, RunningToolCount());
}

TEST_F(ProcessTest, MissingProgramGivesMinusOne) {
    EXPECT_EQ(-1, RunProcessAndWait(m_scratch / L"kvt dir\\no such program.exe", L"3"));
    EXPECT_EQ(-1, RunProcessAndWait(L"", L"3"));
}

TEST_F(ProcessTest, ProgramStillRunningAfterTheWaitIsLeftRunning) {
    DWORD previous = SetProcessWaitLimit(300);
    // Sleeps 3 s, then records and exits.
    int result = RunProcessAndWait(m_program, L"0 3000 \"" + m_record + L"\"");
    SetProcessWaitLimit(previous);
    EXPECT_EQ(259, result);
    EXPECT_EQ(300000u, previous);
    // Counted as running until it ends: nothing restarts under it.
    EXPECT_EQ(1, RunningToolCount());
    EXPECT_FALSE(WaitForRunningTools(0));
    // Still alive: it writes its record after the wait gave up.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_record));
    HANDLE child = OpenRunningProgram(m_program);
    ASSERT_NE(nullptr, child) << "the program was ended instead of left running";
    // Its end, not a guess of how long it takes: the scratch folder (with the
    // program in it) may only go once the program is gone.
    DWORD waited = WaitForSingleObject(child, 120000);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(child, 1);
        WaitForSingleObject(child, 10000);
    }
    CloseHandle(child);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "the program did not end within two minutes";
    EXPECT_TRUE(WaitForRunningTools(60000));
    EXPECT_EQ(0, RunningToolCount());
    Record record;
    EXPECT_TRUE(ReadRecord(m_record, record)) << "the program ran to its end and wrote its record";
}

namespace {

// The helper that stands in for a tool asking on its input.
CString ToolInputHelper() { return TestProgramFolder() + L"\\tool_input.exe"; }

// Text as its bytes in hexadecimal, for the helper's command line.
CString Hex(const std::string& bytes) {
    CString hex;
    for (unsigned char c : bytes) hex.AppendFormat(L"%02X", c);
    return hex;
}

// An inheritable pipe in place of one of this process's standard handles.
// For the input: a console nobody types into, as a tool started from the
// window program gets one (hidden) when it is handed no input of its own;
// the pipe never ends while it lives. For the output: whatever a tool
// writes where it was not told to lands in the pipe.
class StandardPipe {
public:
    explicit StandardPipe(DWORD which) : m_which(which), m_saved(GetStdHandle(which)) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        if (CreatePipe(&m_read, &m_write, &inheritable, 1 << 16))
            SetStdHandle(m_which, m_which == STD_INPUT_HANDLE ? m_read : m_write);
    }
    // Puts the process's own handle back; the bytes that arrived.
    std::string Restore() {
        std::string got;
        if (!m_read) return got;
        SetStdHandle(m_which, m_saved);
        CloseHandle(m_write);
        if (m_which != STD_INPUT_HANDLE) {
            DWORD available = 0;
            char buffer[4096];
            DWORD n = 0;
            while (PeekNamedPipe(m_read, nullptr, 0, nullptr, &available, nullptr) && available &&
                   ReadFile(m_read, buffer, sizeof buffer, &n, nullptr) && n)
                got.append(buffer, n);
        }
        CloseHandle(m_read);
        m_read = m_write = nullptr;
        return got;
    }
    ~StandardPipe() { Restore(); }

private:
    DWORD m_which;
    HANDLE m_saved;
    HANDLE m_read = nullptr;
    HANDLE m_write = nullptr;
};

// Ends a helper a failed test left waiting, so that nothing outlives the test.
void EndLeftHelper(const CString& program) {
    while (HANDLE left = OpenRunningProgram(program)) {
        TerminateProcess(left, 1);
        WaitForSingleObject(left, 60000);
        CloseHandle(left);
    }
    WaitForRunningTools(60000);
}

// The three ways the program starts a tool.
enum class RunKind { kWait, kRead, kWithInput };

int RunTheTool(RunKind kind, const CString& program, const CString& arguments, const std::string& input) {
    std::string output;
    switch (kind) {
    case RunKind::kWait: return RunProcessAndWait(program, arguments);
    case RunKind::kRead: return RunProcessAndRead(program, arguments, output);
    default: return RunProcessWithInput(program, arguments, input);
    }
}

const struct {
    const char* name;
    RunKind kind;
} kRunKinds[] = {{"RunProcessAndWait", RunKind::kWait},
                 {"RunProcessAndRead", RunKind::kRead},
                 {"RunProcessWithInput", RunKind::kWithInput}};

// Far below the 300 s of a real run, far above what a helper that does not
// wait needs even on a loaded machine.
const DWORD kToolInputWaitLimit = 120000;

}  // namespace

TEST(ToolInput, AToolThatPromptsUnexpectedlyFailsAtOnce) {
    for (const auto& run : kRunKinds) {
        SCOPED_TRACE(run.name);
        const DWORD previous = SetProcessWaitLimit(kToolInputWaitLimit);
        StandardPipe console(STD_INPUT_HANDLE);
        StandardPipe ourOutput(STD_OUTPUT_HANDLE);
        // An answer does not help a tool that asks something else after it.
        const int code = RunTheTool(run.kind, ToolInputHelper(), L"prompt", "Y\r\n");
        const std::string leaked = ourOutput.Restore();
        console.Restore();
        SetProcessWaitLimit(previous);
        EndLeftHelper(ToolInputHelper());
        EXPECT_EQ(2, code) << "the tool waited on its question instead of seeing its input end";
        EXPECT_EQ(0, RunningToolCount());
        EXPECT_EQ("", leaked) << "the tool's question went to our own output";
    }
}

TEST(ToolInput, AToolGetsTheAnswerItAsksFor) {
    const std::string label = "KAVETTA USB";
    struct {
        const char* name;
        std::string input;
        int code;
    } cases[] = {
        {"the label and a line end", label + "\r\n", 0},
        {"a bare new line ends it too", label + "\n", 0},
        {"another label", "OTHER\r\n", 1},
        {"no line end: the input ends first", label, 2},
        {"no answer at all", "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD previous = SetProcessWaitLimit(kToolInputWaitLimit);
        StandardPipe console(STD_INPUT_HANDLE);
        const int code = RunProcessWithInput(ToolInputHelper(), L"answer " + Hex(label), c.input);
        console.Restore();
        SetProcessWaitLimit(previous);
        EndLeftHelper(ToolInputHelper());
        EXPECT_EQ(c.code, code);
    }
    EXPECT_EQ(0, RunningToolCount());
}

TEST(ToolInput, AToolInheritsOnlyTheHandlesMeantForIt) {
    // A pipe another thread of ours holds, inheritable, at the moment a tool starts.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16));
    CString arguments;
    arguments.Format(L"leak %lX", (unsigned long)(ULONG_PTR)writeEnd);
    for (const auto& run : kRunKinds) {
        SCOPED_TRACE(run.name);
        // Whether the write went through decides nothing: the value may name
        // another handle in the tool. What arrives in our pipe does.
        const int code = RunTheTool(run.kind, ToolInputHelper(), arguments, "answer\r\n");
        EXPECT_TRUE(code == 0 || code == 1) << code;
        DWORD available = 0;
        ASSERT_TRUE(PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr));
        EXPECT_EQ(0u, available) << "the tool wrote into a pipe it was never given";
        char buffer[64];
        DWORD n = 0;
        if (available) ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr);
    }
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
}

TEST(ToolInput, TheAnswerIsTheTextInTheOemCodePage) {
    const UINT oem = GetOEMCP();
    if (oem != 437 && oem != 936)
        GTEST_SKIP() << "the known answers are for OEM code pages 437 and 936 (this run has " << oem << ")";
    struct {
        const wchar_t* text;
        const char* in437;  // null: refused
        const char* in936;
    } cases[] = {
        {L"KAVETTA USB", "KAVETTA USB\r\n", "KAVETTA USB\r\n"},
        {L"", "\r\n", "\r\n"},
        {L"\u6570\u636E", nullptr, "\xCA\xFD\xBE\xDD\r\n"},  // 数据
        {L"M\u00FCLLER", "M\x81LLER\r\n", "M\xA8\xB9LLER\r\n"},  // MüLLER
        // Neither holds it; a look-alike would be another label.
        {L"\u0100BC", nullptr, nullptr},  // ĀBC: 437 would write ABC
        {L"\u0E01", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text).GetString());
        const char* expected = oem == 437 ? c.in437 : c.in936;
        std::string line = "left over";
        EXPECT_EQ(expected != nullptr, AnswerLineInOemCodePage(c.text, line));
        EXPECT_EQ(expected ? std::string(expected) : std::string(), line);
    }
}

TEST(IsPlainFileName, Table) {
    struct {
        const wchar_t* name;
        bool plain;
    } cases[] = {
        {L"win10.iso", true},
        {L"win10_专业版 x64 (1).iso", true},
        {L".hidden", true},
        {L"a..b.iso", true},
        {L"CONSOLE.iso", true},  // only the device names themselves
        {L"COM10", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"..\\evil.iso", false},
        {L"../evil.iso", false},
        {L"sub\\a.iso", false},
        {L"sub/a.iso", false},
        {L"C:a.iso", false},
        {L"C:\\a.iso", false},
        {L"\\\\server\\share", false},
        {L"a.iso.", false},
        {L"a.iso ", false},
        {L"a*b", false},
        {L"a?b", false},
        {L"a\"b", false},
        {L"a<b", false},
        {L"a>b", false},
        {L"a|b", false},
        {L"a\tb", false},
        {L"CON", false},
        {L"con.txt", false},
        {L"NUL.iso", false},
        {L"Com1.bin", false},
        {L"lpt9", false},
        {L"AUX", false},
        {L"PRN.x.y", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.plain, IsPlainFileName(c.name)) << Narrow(c.name);
    EXPECT_FALSE(IsPlainFileName(nullptr));
    EXPECT_TRUE(IsPlainFileName(std::wstring(259, L'a').c_str()));
    EXPECT_FALSE(IsPlainFileName(std::wstring(260, L'a').c_str()));
}

TEST(GetParentFolder, Table) {
    CString tooLong = L"C:\\" + CString(L'x', 300);
    struct {
        CString path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\a\\b.txt", L"C:\\a"},
        {L"C:\\a\\b\\", L"C:\\a\\b"},  // a trailing separator is the last element
        {L"C:\\a", L"C:\\"},
        {L"C:\\", L"C:\\"},
        {L"name.txt", L""},
        {CString(L"C:\\") + CString(L'x', 255), L"C:\\"},  // 258 characters fit
        {tooLong, L""},                                   // refused, not overrun
    };
    for (const auto& c : cases) EXPECT_EQ(Narrow(c.expected), Narrow(GetParentFolder(c.path))) << Narrow(c.path);
    EXPECT_EQ("", Narrow(GetParentFolder(nullptr)));
}

TEST(CopyFileEnsureFolder, CreatesMissingFoldersAndCopiesInside) {
    ScratchFolder scratch(L"copy-nested");
    CString source = scratch / L"source.txt";
    ASSERT_TRUE(WriteBytes(source, "payload"));
    EXPECT_GT(CopyFileEnsureFolder(source, scratch / L"one\\two\\", TRUE), 0);
    EXPECT_EQ("payload", ReadBytes(scratch / L"one\\two\\source.txt"));
    // Named as a file: that name is used.
    EXPECT_GT(CopyFileEnsureFolder(source, scratch / L"three\\renamed.txt", FALSE), 0);
    EXPECT_EQ("payload", ReadBytes(scratch / L"three\\renamed.txt"));
}

TEST(CopyFileEnsureFolder, OverwritesOnlyWhenAllowed) {
    ScratchFolder scratch(L"copy-exists");
    CString source = scratch / L"source.txt";
    CString target = scratch / L"target.txt";
    ASSERT_TRUE(WriteBytes(source, "new"));
    ASSERT_TRUE(WriteBytes(target, "old"));
    EXPECT_EQ(-3, CopyFileEnsureFolder(source, target, TRUE));
    EXPECT_EQ("old", ReadBytes(target));
    EXPECT_GT(CopyFileEnsureFolder(source, target, FALSE), 0);
    EXPECT_EQ("new", ReadBytes(target));
}

TEST(CopyFileEnsureFolder, NonOverwritingCopyIntoAnExistingFolder) {
    // The boot setup copies files into existing folders without overwriting:
    // the folder existing is no reason to refuse, only the file existing is.
    ScratchFolder scratch(L"copy-into");
    CString source = scratch / L"boot.bin";
    ASSERT_TRUE(WriteBytes(source, "boot"));
    ASSERT_TRUE(CreateDirectoryW(scratch / L"into", nullptr));
    EXPECT_GT(CopyFileEnsureFolder(source, scratch / L"into\\", TRUE), 0);
    EXPECT_EQ("boot", ReadBytes(scratch / L"into\\boot.bin"));
    EXPECT_EQ(-3, CopyFileEnsureFolder(source, scratch / L"into\\", TRUE));

    // An existing folder named without the separator receives the file
    // beside it, in its parent.
    ASSERT_TRUE(CreateDirectoryW(scratch / L"beside", nullptr));
    ASSERT_TRUE(CreateDirectoryW(scratch / L"beside\\inner", nullptr));
    EXPECT_GT(CopyFileEnsureFolder(source, scratch / L"beside\\inner", TRUE), 0);
    EXPECT_EQ("boot", ReadBytes(scratch / L"beside\\boot.bin"));
}

TEST(CopyFileEnsureFolder, RefusalCodes) {
    ScratchFolder scratch(L"copy-codes");
    CString source = scratch / L"source.txt";
    ASSERT_TRUE(WriteBytes(source, "x"));
    EXPECT_EQ(-1, CopyFileEnsureFolder(scratch / L"missing.txt", scratch / L"out\\", FALSE));
    EXPECT_EQ(-1, CopyFileEnsureFolder(L"", scratch / L"out\\", FALSE));
    EXPECT_EQ(-2, CopyFileEnsureFolder(scratch.Path(), scratch / L"out\\", FALSE));
    // The folder cannot be made below a file.
    EXPECT_EQ(-4, CopyFileEnsureFolder(source, scratch / L"source.txt\\sub\\x.txt", FALSE));
    // Too long for the platform's paths: refused before anything is made.
    CString tooLong = scratch.Path() + L"\\" + CString(L'd', 200) + L"\\" + CString(L'e', 100) + L"\\";
    EXPECT_EQ(-4, CopyFileEnsureFolder(source, tooLong, FALSE));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(scratch.Path() + L"\\" + CString(L'd', 200)));
    EXPECT_EQ(-4, CopyFileEnsureFolder(source, L"", FALSE));
}

DWORD CALLBACK CountCopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                                 HANDLE, LPVOID data) {
    ++*static_cast<int*>(data);
    return PROGRESS_CONTINUE;
}

DWORD CALLBACK CancelCopy(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                          LPVOID) {
    return PROGRESS_CANCEL;
}

TEST(HoldFile, NobodyElseWritesOrDeletesOurCopiesStillRead) {
    ScratchFolder scratch(L"hold");
    CString path = scratch / L"held.iso";
    ASSERT_TRUE(WriteBytes(path, "tested bytes"));
    ASSERT_TRUE(SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY));
    HANDLE held = HoldFile(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(INVALID_HANDLE_VALUE, HoldFile(path)) << "held once";
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path, GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(DeleteFileW(path));
    EXPECT_FALSE(MoveFileW(path, scratch / L"moved.iso"));
    // A reader must share deleting; one that does reads it, and so do our
    // copies, by path and from the handle; a copy from the handle is held itself.
    HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, reader);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    EXPECT_EQ("tested bytes", ReadBytes(path));
    EXPECT_GT(CopyFileEnsureFolder(path, scratch / L"staged\\held.iso", TRUE), 0);
    EXPECT_EQ("tested bytes", ReadBytes(scratch / L"staged\\held.iso"));
    int calls = 0;
    HANDLE copy = CopyToHeldFile(held, scratch / L"copy.iso", TRUE, CountCopyProgress, &calls);
    ASSERT_NE(INVALID_HANDLE_VALUE, copy);
    EXPECT_EQ(1, calls);
    EXPECT_EQ("tested bytes", ReadBytes(scratch / L"copy.iso"));
    EXPECT_FALSE(DeleteFileW(scratch / L"copy.iso"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CopyToHeldFile(held, scratch / L"copy.iso", TRUE, nullptr, nullptr));
    // A copy stopped by its progress routine leaves nothing.
    EXPECT_EQ(INVALID_HANDLE_VALUE, CopyToHeldFile(held, scratch / L"cancelled.iso", FALSE, CancelCopy, nullptr));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(scratch / L"cancelled.iso"));
    // Our own delete goes through the handles, read-only or not.
    EXPECT_TRUE(DeleteHeldFile(copy));
    CloseHandle(copy);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(scratch / L"copy.iso"));
    EXPECT_TRUE(DeleteHeldFile(held));
    CloseHandle(held);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path));
    // A file that another program writes cannot be held.
    ASSERT_TRUE(WriteBytes(path, "x"));
    HANDLE writer = CreateFileW(path, GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(INVALID_HANDLE_VALUE, HoldFile(path));
    CloseHandle(writer);
}

TEST(MoveFileEnsureFolder, ReplacesAndCreatesFolders) {
    ScratchFolder scratch(L"move");
    CString source = scratch / L"source.txt";
    CString target = scratch / L"target.txt";
    ASSERT_TRUE(WriteBytes(source, "new"));
    ASSERT_TRUE(WriteBytes(target, "old"));
    EXPECT_GT(MoveFileEnsureFolder(source, target), 0);
    EXPECT_EQ("new", ReadBytes(target));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(source));

    EXPECT_GT(MoveFileEnsureFolder(target, scratch / L"a\\b\\"), 0);
    EXPECT_EQ("new", ReadBytes(scratch / L"a\\b\\target.txt"));

    EXPECT_EQ(-1, MoveFileEnsureFolder(source, target));
    EXPECT_EQ(-2, MoveFileEnsureFolder(scratch / L"a", target));
    EXPECT_EQ(-4, MoveFileEnsureFolder(scratch / L"a\\b\\target.txt", scratch / L"a\\b\\target.txt\\x\\"));
}

TEST(DeleteFileForced, Table) {
    ScratchFolder scratch(L"delete-file");
    CString readOnly = scratch / L"read-only.txt";
    ASSERT_TRUE(WriteBytes(readOnly, "x"));
    ASSERT_TRUE(SetFileAttributesW(readOnly, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(0, DeleteFileForced(readOnly));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(readOnly));
    EXPECT_NE(0, DeleteFileForced(scratch / L"never-there.txt"));
    EXPECT_NE(0, DeleteFileForced(scratch / L"no-folder\\never-there.txt"));
    // A name that cannot be looked at is no name that is gone (as a file
    // whose folder denies access is not): the system refuses this one.
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(scratch / L"part*.kvtpart"));
    EXPECT_NE((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(0, DeleteFileForced(scratch / L"part*.kvtpart"));
    EXPECT_EQ(0, DeleteFileForced(scratch.Path()));
    EXPECT_EQ(0, DeleteFileForced(L""));
    EXPECT_EQ(0, DeleteFileForced(nullptr));
}

TEST(DeleteFolderTree, RemovesReadOnlyEntriesAndNestedFolders) {
    ScratchFolder scratch(L"delete-tree");
    CString root = scratch / L"root";
    ASSERT_TRUE(MakeTree(root, {L"a", L"a\\b"}, {{L"top.txt", "1"}, {L"a\\b\\deep.txt", "2"}}));
    ASSERT_TRUE(SetFileAttributesW(root + L"\\a\\b\\deep.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(root + L"\\a", FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(0, DeleteFolderTree(root));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root));

    // A path with a trailing separator names the same folder.
    ASSERT_TRUE(CreateDirectoryW(root, nullptr));
    ASSERT_TRUE(WriteBytes(root + L"\\x.txt", "1"));
    EXPECT_NE(0, DeleteFolderTree(root + L"\\"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root));

    EXPECT_EQ(0, DeleteFolderTree(L""));
    EXPECT_EQ(0, DeleteFolderTree(root));  // no longer there
    ASSERT_TRUE(WriteBytes(scratch / L"file.txt", "1"));
    EXPECT_EQ(0, DeleteFolderTree(scratch / L"file.txt"));
    EXPECT_EQ("1", ReadBytes(scratch / L"file.txt"));
}

TEST(DeleteFolderTree, StopsAtAFileInUse) {
    ScratchFolder scratch(L"delete-locked");
    CString root = scratch / L"root";
    ASSERT_TRUE(MakeTree(root, {}, {{L"busy.txt", "1"}}));
    HANDLE busy = CreateFileW(root + L"\\busy.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    EXPECT_EQ(0, DeleteFolderTree(root));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root + L"\\busy.txt"));
    CloseHandle(busy);
    EXPECT_NE(0, DeleteFolderTree(root));
}

TEST(ListFilesRecursive, EveryFileBelowWithItsSize) {
    ScratchFolder scratch(L"list");
    CString root = scratch / L"root";
    ASSERT_TRUE(MakeTree(root, {L"a", L"a\\b", L"empty"},
                         {{L"top.txt", "123"}, {L"a\\b\\deep.txt", std::string(5000, 'z')}}));
    // Above 4 GiB, made sparse by setting its end: the size is 64-bit.
    HANDLE big = CreateFileW(root + L"\\a\\big.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, big);
    LARGE_INTEGER end;
    end.QuadPart = 5LL << 30;
    ASSERT_TRUE(SetFilePointerEx(big, end, nullptr, FILE_BEGIN) && SetEndOfFile(big));
    CloseHandle(big);

    CArray<_File_PATH_INFO> list;
    _File_PATH_INFO earlier;
    earlier.path = L"earlier";
    earlier.size = 1;
    list.Add(earlier);  // appended to, never cleared
    ListFilesRecursive(root, list);
    std::map<std::string, ULONGLONG> found;
    for (INT_PTR i = 0; i < list.GetSize(); ++i) found[Narrow(list[i].path)] = list[i].size;
    std::map<std::string, ULONGLONG> expected = {
        {"earlier", 1},
        {Narrow(root + L"\\top.txt"), 3},
        {Narrow(root + L"\\a\\b\\deep.txt"), 5000},
        {Narrow(root + L"\\a\\big.bin"), 5ULL << 30},
    };
    EXPECT_EQ(expected, found);
    EXPECT_EQ(4, list.GetSize());
    EXPECT_EQ(5ULL << 30, GetFileSize64(root + L"\\a\\big.bin"));
    EXPECT_EQ(5000u, GetFileSize64(root + L"\\a\\b\\deep.txt"));
    EXPECT_EQ(0u, GetFileSize64(root + L"\\missing.bin"));

    ListFilesRecursive(scratch / L"missing", list);
    EXPECT_EQ(4, list.GetSize());
}

// The link fixture of make_reparse_fixture.sh, made before each CTest run in
// the run's own folder (KAVETTA_TEST_RUN_DIR\fixtures\reparse).
CString ReparseFixture() { return CString(TestRunDirectory().c_str()) + L"\\fixtures\\reparse"; }

// Whether `link` is the fixture's link. Inside a run of the test command the
// fixture is always made, so a missing one fails there; a test program
// started by hand skips.
bool LinkFixtureIsThere(const CString& link) {
    DWORD attributes = GetFileAttributesW(link);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    if (GetEnvironmentVariableW(L"KAVETTA_TEST_RUN_DIR", nullptr, 0) != 0)
        ADD_FAILURE() << "the test run's link fixture is missing: " << Narrow(link);
    return false;
}

TEST(TreeWalks, LinksOutOfTheTreeAreNeverFollowed) {
    // The fixture holds tree\link, a link to the folder "outside" beside the tree.
    CString fixture = ReparseFixture();
    CString tree = fixture + L"\\tree";
    CString kept = fixture + L"\\outside\\keep.txt";
    if (!LinkFixtureIsThere(tree + L"\\link"))
        GTEST_SKIP() << "the link fixture is made by CTest (core_tests_reparse_fixture)";

    CArray<_File_PATH_INFO> list;
    ListFilesRecursive(tree, list);
    ASSERT_EQ(1, list.GetSize());
    EXPECT_EQ(Narrow(tree + L"\\sub\\mine.txt"), Narrow(list[0].path));

    // Windows removes the link itself and then the tree; Wine cannot remove
    // a host link and stops there. Either way nothing outside is touched.
    int result = DeleteFolderTree(tree);
    EXPECT_EQ("keep", ReadBytes(kept));
    if (result) EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(tree));
}

TEST(TreeWalks, ALinkLeadsWhereItPoints) {
    CString fixture = ReparseFixture();
    CString link = fixture + L"\\tree\\link";
    if (!LinkFixtureIsThere(link)) GTEST_SKIP() << "the link fixture is made by CTest (core_tests_reparse_fixture)";
    const CString outside = LinkFinalPath(fixture + L"\\outside");
    ASSERT_FALSE(outside.IsEmpty());
    EXPECT_EQ(0, LinkFinalPath(link).CompareNoCase(outside)) << Narrow(LinkFinalPath(link)) << " / " << Narrow(outside);
    EXPECT_EQ(0, LinkFinalPath(LongPathForm(link)).CompareNoCase(outside));
    EXPECT_EQ(CString(), LinkFinalPath(fixture + L"\\no such link"));
}

TEST(TreeWalks, AFolderPathThatIsALinkDeletesNothing) {
    // rootlink stands where a folder was (a work folder swapped for a link
    // to another folder): the delete leaves the link and what it points to.
    CString fixture = ReparseFixture();
    CString link = fixture + L"\\rootlink";
    CString kept = fixture + L"\\outside\\keep.txt";
    if (!LinkFixtureIsThere(link))
        GTEST_SKIP() << "the link fixture is made by CTest (core_tests_reparse_fixture)";
    EXPECT_EQ(0, DeleteFolderTree(link));
    EXPECT_EQ("keep", ReadBytes(kept));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(link)) << "the link is not ours to remove";
}

namespace {

TEST(LongPathForm, Table) {
    const struct {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Users\\li\\Desktop", L"\\\\?\\C:\\Users\\li\\Desktop"},
        {L"d:\\", L"\\\\?\\d:\\"},
        {L"C:/Users/li", L"\\\\?\\C:\\Users\\li"},
        {L"\\\\nas\\home\\li\\Desktop", L"\\\\?\\UNC\\nas\\home\\li\\Desktop"},
        // Already long, a device, or relative: as it is.
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"\\\\?\\UNC\\nas\\home", L"\\\\?\\UNC\\nas\\home"},
        {L"\\\\.\\PhysicalDrive0", L"\\\\.\\PhysicalDrive0"},
        {L"folder\\file.txt", L"folder\\file.txt"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(CString(c.expected), LongPathForm(c.path)) << Narrow(c.path);
}

TEST(IsLinkTag, OnlyJunctionsAndSymbolicLinks) {
    EXPECT_TRUE(IsLinkTag(IO_REPARSE_TAG_MOUNT_POINT));
    EXPECT_TRUE(IsLinkTag(IO_REPARSE_TAG_SYMLINK));
    // Cloud files (OneDrive), deduplication, single-instance storage, none.
    for (DWORD data : {0x9000001Au, 0x9000601Au, 0x9000701Au, 0x80000013u, 0x80000007u, 0u})
        EXPECT_FALSE(IsLinkTag(data)) << std::hex << data;
    WIN32_FIND_DATAW entry = {};
    entry.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    EXPECT_FALSE(IsLinkEntry(entry)) << "a tag counts only on a reparse point";
    entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_TRUE(IsLinkEntry(entry));
    entry.dwReserved0 = 0x9000601A;
    EXPECT_FALSE(IsLinkEntry(entry));
    // Windows always shows a reparse point's tag; a listing without one
    // (Wine's, for its links) is not followed.
    entry.dwReserved0 = 0;
    EXPECT_TRUE(IsLinkEntry(entry));
}

TEST(ContentIsElsewhere, PlaceholdersAndOfflineFiles) {
    EXPECT_TRUE(ContentIsElsewhere(0x00400000 | FILE_ATTRIBUTE_ARCHIVE));  // recall on data access
    EXPECT_TRUE(ContentIsElsewhere(FILE_ATTRIBUTE_OFFLINE));
    EXPECT_FALSE(ContentIsElsewhere(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(ContentIsElsewhere(0x00040000));  // recall on open: a folder's listing, not a file's content
}

// A fresh folder `root` with a chain of folders below it whose path passes
// 260 characters; the deepest, or empty when one could not be made. The
// scratch folder's own clean-up stops at 260 characters, so an earlier
// run's tree is removed here in the long form.
CString MakeDeepTree(const CString& root, int levels) {
    DeleteFolderTree(LongPathForm(root));
    if (!CreateDirectoryW(root, nullptr)) return CString();
    CString path = root;
    for (int i = 0; i < levels; ++i) {
        CString name;
        name.Format(L"\\很长的项目文件夹名称_%02d_abcdefghijklmnop", i);
        path += name;
        if (!CreateDirectoryW(LongPathForm(path), nullptr)) return CString();
    }
    return path;
}

TEST(ListFilesRecursive, ADeepTreeIsListedWholeAndAMissingFolderIsNoListing) {
    ScratchFolder scratch(L"deeplist");
    const CString root = scratch / L"root";
    const CString deep = MakeDeepTree(root, 12);
    ASSERT_FALSE(deep.IsEmpty());
    ASSERT_GT(deep.GetLength(), 300);
    ASSERT_TRUE(WriteBytes(LongPathForm(deep + L"\\聊天记录.db"), "chat"));

    CArray<_File_PATH_INFO> list;
    EXPECT_TRUE(ListFilesRecursive(root, list));
    ASSERT_EQ(1, list.GetSize());
    EXPECT_EQ(Narrow(deep + L"\\聊天记录.db"), Narrow(list[0].path));
    EXPECT_EQ(4u, list[0].size);

    std::vector<WIN32_FIND_DATAW> entries;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, ListFolderEntries(deep, entries));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(std::wstring(L"聊天记录.db"), std::wstring(entries[0].cFileName));

    EXPECT_FALSE(ListFilesRecursive(scratch / L"missing", list));
    EXPECT_NE((DWORD)ERROR_SUCCESS, ListFolderEntries(scratch / L"missing", entries));
    EXPECT_NE(0, DeleteFolderTree(LongPathForm(root)));
}

TEST(CopyFileSharingReadOnly, CopiesDeepFilesAndNeverAFileAnotherProgramWrites) {
    ScratchFolder scratch(L"readonlycopy");
    const CString root = scratch / L"root";
    const CString deep = MakeDeepTree(root, 10);
    ASSERT_FALSE(deep.IsEmpty());
    const CString source = deep + L"\\MSG0.db";
    ASSERT_TRUE(WriteBytes(LongPathForm(source), "messages"));
    const CString target = scratch / L"MSG0 copy.db";

    bool readFailed = true;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, CopyFileSharingReadOnly(source, target, &readFailed));
    EXPECT_FALSE(readFailed);
    EXPECT_EQ("messages", ReadBytes(target));

    // Another program writes it, sharing reading and writing as chat
    // programs do with their databases: no copy, and the source is blamed.
    HANDLE writer = CreateFileW(LongPathForm(source), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    DeleteFileW(target);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, CopyFileSharingReadOnly(source, target, &readFailed));
    EXPECT_TRUE(readFailed);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target)) << "a copy of a file being written";
    CloseHandle(writer);

    // A reader that shares reading does not stop it.
    HANDLE reader = CreateFileW(LongPathForm(source), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ((DWORD)ERROR_SUCCESS, CopyFileSharingReadOnly(source, target, &readFailed));
    CloseHandle(reader);
    // A target the copy cannot write is not the source's fault.
    EXPECT_NE((DWORD)ERROR_SUCCESS, CopyFileSharingReadOnly(source, scratch / L"missing\\copy.db", &readFailed));
    EXPECT_FALSE(readFailed);
    EXPECT_NE(0, DeleteFolderTree(LongPathForm(root)));
}

}  // namespace
