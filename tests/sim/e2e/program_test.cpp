// kavetta-sim.exe end to end, under Wine, on the scenario that
// with_scenario.sh prepared and named in KAVETTA_SIM_SCENARIO: the program
// starts on the scenario, unpacks the test tools payload (whose recording
// tools answer from the scenario), and ends cleanly when its window is
// closed, removing its work folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <set>
#include <string>
#include <vector>

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

// The paths of the modules loaded in a process, in lower case.
std::vector<std::wstring> ModulePaths(HANDLE process) {
    std::vector<std::wstring> paths;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(process, modules, sizeof modules, &bytes)) return paths;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
        wchar_t path[MAX_PATH] = {};
        if (!GetModuleFileNameExW(process, modules[i], path, MAX_PATH)) continue;
        CharLowerW(path);
        paths.push_back(path);
    }
    return paths;
}

std::wstring Lower(std::wstring text) {
    CharLowerW(&text[0]);
    return text;
}

TEST_F(SimProgramTest, ADllPlantedBesideTheProgramIsNeverLoaded) {
    // A copy of the program in a folder of its own (a download folder, a USB
    // stick), with a DLL under the name of system DLLs it uses that are not
    // among Windows' known DLLs. The planted DLL leaves a mark when it is
    // loaded; a test program must not sit beside such DLLs itself.
    // version.dll is not planted here: Wine's own user32 and setupapi import
    // it while the process starts, before any code of the program runs (on
    // Windows those are known DLLs, which import no other kind), so with
    // native DLLs first Wine itself would take a planted one.
    const wchar_t* const planted[] = {L"wininet", L"crypt32", L"bcrypt", L"gdiplus"};
    const std::wstring folder = MakeTempFolder(L"simplanted");
    const std::wstring temp = MakeTempFolder(L"simplanted-temp");
    const std::wstring copy = folder + L"\\kavetta-planted.exe";
    ASSERT_TRUE(CopyFileW(m_program.c_str(), copy.c_str(), FALSE));
    for (const wchar_t* name : planted)
        ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\planted_probe.dll").c_str(),
                              (folder + L"\\" + name + L".dll").c_str(), FALSE))
            << Utf8Of(name);

    // Wine takes its own built-in DLL even when a DLL of the name lies
    // beside the program; Windows takes the one beside the program. Told to
    // take native DLLs first for this program name, Wine searches as Windows
    // does (Windows itself never reads this key).
    NativeDllsFirst wineSearchesAsWindows(L"kavetta-planted.exe", planted);
    ProgramCopy program;
    bool started = program.Start(copy.c_str(), temp.c_str());
    ASSERT_TRUE(started) << "could not start " << Utf8Of(copy);
    // Its window, unless the copy ends first (a planted DLL's missing calls end it).
    HWND window = nullptr;
    WaitUntil([&] {
        window = WaitForProgramWindow(program.pi.dwProcessId, 100);
        return window || program.WaitExit(0);
    }, 120000);
    for (const wchar_t* name : planted)
        EXPECT_FALSE(FileExists(folder + L"\\" + name + L".dll.loaded")) << "the planted " << Utf8Of(name)
                                                                         << ".dll was loaded";
    ASSERT_NE(nullptr, window) << "the copy showed no window";

    // The window is drawn with GDI+, from the system folder; no module of
    // the running copy but the program itself comes from its folder.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring systemFolder = Lower(system) + L"\\";
    const std::wstring ownFolder = Lower(folder) + L"\\";
    bool gdiplusFromSystem = false;
    for (const std::wstring& path : ModulePaths(program.pi.hProcess)) {
        if (path == Lower(copy)) continue;
        EXPECT_NE(0, path.compare(0, ownFolder.size(), ownFolder)) << Utf8Of(path);
        if (path == systemFolder + L"gdiplus.dll") gdiplusFromSystem = true;
    }
    EXPECT_TRUE(gdiplusFromSystem) << "GDI+ was not loaded from " << Utf8Of(systemFolder);

    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    ASSERT_TRUE(program.WaitExit(120000)) << "the copy did not end within 120 s of WM_CLOSE";
    for (const wchar_t* name : planted)
        EXPECT_FALSE(FileExists(folder + L"\\" + name + L".dll.loaded")) << "the planted " << Utf8Of(name)
                                                                         << ".dll was loaded";
    RemoveTree(folder);
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
