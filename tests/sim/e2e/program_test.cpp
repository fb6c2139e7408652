// kavetta-sim.exe end to end, under Wine, on the scenario that
// with_scenario.sh prepared and named in KAVETTA_SIM_SCENARIO: the program
// starts on the scenario, unpacks the test tools payload (whose recording
// tools answer from the scenario), and ends cleanly when its window is
// closed, removing its work folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "sim/sim_names.h"
#include "support/program_runner.h"
#include "support/test_files.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n && n < 1024 ? value : L"";
}

// Subfolders of a folder (names).
std::set<std::wstring> Subfolders(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && data.cFileName[0] != L'.') names.insert(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// Runs a tool to its end and returns its exit code (-1: did not start or did not end in time).
DWORD RunTool(const std::wstring& program, const std::wstring& arguments, DWORD milliseconds) {
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return (DWORD)-1;
    CloseHandle(info.hThread);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(info.hProcess, milliseconds) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
    else TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hProcess);
    return code;
}

std::wstring Beside(const std::wstring& scenario, const wchar_t* name) {
    return scenario.substr(0, scenario.find_last_of(L"\\/") + 1) + name;
}

class SimProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_scenario = Environment(kSimScenarioVariable);
        if (m_scenario.empty()) GTEST_SKIP() << "no prepared scenario: run through tests/sim/with_scenario.sh";
        m_program = TestProgramDirectory() + L"\\kavetta-sim.exe";
    }
    std::wstring m_scenario, m_program;
};

TEST_F(SimProgramTest, StartsOnTheScenarioUnpacksTheTestToolsAndClosesCleanly) {
    // A temporary folder of its own, so that its work folder is the one new folder there.
    const std::wstring temp = MakeTempFolder(L"simprogram");
    ProgramCopy program;
    ASSERT_TRUE(program.Start(m_program.c_str(), temp.c_str())) << "could not start " << Utf8Of(m_program);
    // Wine runs under emulation here: the first window can take a while.
    HWND window = WaitForProgramWindow(program.pi.dwProcessId, 120000);
    if (!window) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(program.pi.hProcess, &code);
        FAIL() << "kavetta-sim.exe showed no window within 120 s"
               << (code == STILL_ACTIVE ? "" : " (it ended with " + std::to_string(code) + ")");
    }

    const std::string journal = ReadWholeFile(Beside(m_scenario, kSimJournalName));
    EXPECT_NE(std::string::npos, journal.find("start " + Utf8Of(m_scenario))) << journal;

    // The work folder holds the engine and the recording boot-entry tool of
    // the test tools payload, byte for byte.
    const std::string expected = ReadWholeFile(KAVETTA_SIM_TOOLS_DIR L"\\kvtbcd.exe");
    ASSERT_FALSE(expected.empty());
    std::wstring work;
    bool unpacked = WaitUntil([&] {
        for (const std::wstring& name : Subfolders(temp)) {
            std::wstring folder = temp + L"\\" + name;
            if (FileExists(folder + L"\\kvtengine.dll") && ReadWholeFile(folder + L"\\kvtbcd.exe") == expected) {
                work = folder;
                return true;
            }
        }
        return false;
    }, 120000);
    ASSERT_TRUE(unpacked) << "no work folder with the test tools appeared";

    // The recording tool answers as the scenario says and logs its command line.
    EXPECT_EQ(0u, RunTool(work + L"\\kvtbcd.exe", L"/enum {bootmgr}", 60000));
    EXPECT_NE(std::string::npos,
              ReadWholeFile(Beside(m_scenario, kSimToolLogName)).find("kvtbcd|/enum {bootmgr}"));

    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    ASSERT_TRUE(program.WaitExit(120000)) << "kavetta-sim.exe did not end within 120 s of WM_CLOSE";
    DWORD code = 12345;
    GetExitCodeProcess(program.pi.hProcess, &code);
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(FileExists(work + L"\\kvtengine.dll")) << "the work folder was left behind";
    // Nothing was opened on the host.
    EXPECT_EQ(std::string::npos, ReadWholeFile(Beside(m_scenario, kSimJournalName)).find("\nshell "));
    RemoveTree(temp);
}

TEST_F(SimProgramTest, ABadScenarioStopsTheProgramBeforeItStarts) {
    std::wstring folder = MakeTempFolder(L"simbad");
    std::wstring bad = folder + L"\\bad.json";
    ASSERT_TRUE(WriteWholeFile(bad, "{\"disks\": []}"));
    for (const std::wstring& value : {bad, std::wstring()}) {
        SetEnvironmentVariableW(kSimScenarioVariable, value.empty() ? nullptr : value.c_str());
        EXPECT_EQ(2u, RunTool(m_program, L"", 120000)) << Utf8Of(value);
    }
    SetEnvironmentVariableW(kSimScenarioVariable, m_scenario.c_str());
    RemoveTree(folder);
}

}  // namespace
