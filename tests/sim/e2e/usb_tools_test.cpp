// Our USB disk tools as programs on the simulated machine (run through
// with_scenario.sh on the usb scenario): the simulated builds of the tools
// archive, started with the command lines the writer and the page send.
// A USB disk is accepted and its command reaches the recording diskpart of
// the scenario; a number that maps to no disk, a disk that is not on the
// USB bus, a disk holding the Windows, program or data-folder volume and
// any disk while one of those drives cannot be seen are refused with a
// non-zero code, and no diskpart run is recorded.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/process_file_utils.h"
#include "sim/sim_machine.h"
#include "tools/usb_tools.h"
#include "winlib/strings.h"

namespace {

std::wstring ScenarioPath() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(kSimScenarioVariable, path, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(path) : std::wstring();
}

std::vector<std::string> JournalLines() {
    std::ifstream in(SimFileBeside(ScenarioPath(), kSimJournalName).c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The journal's lines that record a diskpart run.
int DiskpartRuns() {
    int runs = 0;
    for (const std::string& line : JournalLines())
        if (line.compare(0, 4, "run ") == 0 && line.find("diskpart") != std::string::npos) ++runs;
    return runs;
}

CString Arguments(const wchar_t* format, int number) {
    CString text;
    text.Format(format, number);
    return text;
}

// The usb scenario's stick (device 1), as the writer hands it to the tools:
// its interface path; it has no serial number.
UsbDiskIdentity SimStickIdentity() {
    UsbDiskIdentity identity;
    identity.interfacePath = L"\\\\?\\usbstor#disk&ven_sim#1#{53FE1D7A-5350-4B56-8D00-53494D000000}";
    return identity;
}

struct ToolCase {
    const char* name;
    const wchar_t* tool;
    CString arguments;
    const wchar_t* protectedPaths;  // what the parent publishes, or null
    int exitCode;
    bool runsDiskpart;
};

}  // namespace

TEST(SimUsbTools, AcceptTheUsbDiskAndRefuseEveryOther) {
    if (ScenarioPath().empty()) GTEST_SKIP() << "no scenario in the environment (run through with_scenario.sh)";
    // The usb scenario: device 0 is the NVMe system disk (C: and D:, the data
    // folder's drive), device 1 the SanDisk stick (E:); no device 7.
    const ToolCase cases[] = {
        {"prepare the stick", FixedText::kUsbPrepareTool, Arguments(FixedText::kUsbPrepareArgsFormat, 1), nullptr, 0,
         false},
        // Before the clearing, while the stick still has its partition 1.
        {"activate on the stick (through its handle)", FixedText::kUsbPartitionTool,
         Arguments(FixedText::kUsbActivateArgsFormat, 2), nullptr, 0, false},
        {"clear the stick (through its handle)", FixedText::kUsbPartitionTool,
         Arguments(FixedText::kUsbClearArgsFormat, 2), nullptr, 0, false},
        {"create the data partition on the stick", FixedText::kUsbPartitionTool,
         Arguments(FixedText::kUsbCreateDataArgsFormat, 2), nullptr, 0, false},
        {"restore the stick", FixedText::kUsbDiskTool, Arguments(FixedText::kUsbDiskToolArgsFormat, 1), nullptr, 0,
         false},
        {"order the stick's table", FixedText::kUsbBootSectorTool, Arguments(FixedText::kUsbOrderArgsFormat, 1),
         nullptr, 0, false},
        {"prepare no disk", FixedText::kUsbPrepareTool, Arguments(FixedText::kUsbPrepareArgsFormat, 7), nullptr,
         kToolExitRefused, false},
        {"clear no disk", FixedText::kUsbPartitionTool, Arguments(FixedText::kUsbClearArgsFormat, 8), nullptr,
         kToolExitRefused, false},
        {"clear the system disk", FixedText::kUsbPartitionTool, Arguments(FixedText::kUsbClearArgsFormat, 1), nullptr,
         kToolExitRefused, false},
        {"restore the system disk", FixedText::kUsbDiskTool, Arguments(FixedText::kUsbDiskToolArgsFormat, 0), nullptr,
         kToolExitRefused, false},
        {"boot record on the system disk", FixedText::kUsbBootSectorTool,
         Arguments(FixedText::kUsbBootRecordArgsFormat, 0), nullptr, kToolExitRefused, false},
        {"the stick holds the data folder", FixedText::kUsbPartitionTool, Arguments(FixedText::kUsbClearArgsFormat, 2),
         L"e:\\KavettaData", kToolExitRefused, false},
        {"the stick holds the program", FixedText::kUsbDiskTool, Arguments(FixedText::kUsbDiskToolArgsFormat, 1),
         L"D:\\KavettaData|E:\\kavetta.exe", kToolExitRefused, false},
        {"the data folder's drive cannot be seen", FixedText::kUsbPartitionTool,
         Arguments(FixedText::kUsbClearArgsFormat, 2), L"K:\\KavettaData", kToolExitRefused, false},
    };
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    // Every tool is told which disk it is to write: the stick.
    PublishDiskIdentity(SimStickIdentity());
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, c.protectedPaths);
        const int before = DiskpartRuns();
        const CString program = CString(KAVETTA_SIM_TOOLS_DIR) + L"\\" + c.tool;
        EXPECT_EQ(c.exitCode, RunProcessAndWait(program, c.arguments)) << Utf16ToUtf8(c.arguments).GetString();
        EXPECT_EQ(c.runsDiskpart ? before + 1 : before, DiskpartRuns());
    }
    SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, nullptr);
    // Told nothing, a tool refuses even the stick.
    PublishDiskIdentity(UsbDiskIdentity());
    const int before = DiskpartRuns();
    EXPECT_EQ(kToolExitRefused, RunProcessAndWait(CString(KAVETTA_SIM_TOOLS_DIR) + L"\\" + FixedText::kUsbPartitionTool,
                                                  Arguments(FixedText::kUsbCreateDataArgsFormat, 2)));
    EXPECT_EQ(before, DiskpartRuns());
}

// What the simulated machine records of a partitioning run: no diskpart,
// and the system's formatter started by its full system path on the new
// volume's GUID path.
TEST(SimUsbTools, TheFormatterRunsByItsSystemPathOnTheNewVolume) {
    if (ScenarioPath().empty()) GTEST_SKIP() << "no scenario in the environment (run through with_scenario.sh)";
    SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, nullptr);
    PublishDiskIdentity(SimStickIdentity());
    const size_t before = JournalLines().size();
    const CString program = CString(KAVETTA_SIM_TOOLS_DIR) + L"\\" + FixedText::kUsbPartitionTool;
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(0, RunProcessAndWait(program, Arguments(FixedText::kUsbCreateDataArgsFormat, 2)));
    std::vector<std::string> lines = JournalLines();
    ASSERT_GE(lines.size(), before);
    lines.erase(lines.begin(), lines.begin() + before);

    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    // A 32-bit tool on 64-bit Windows reaches the 64-bit formatter through Sysnative.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const std::string format =
        Utf16ToUtf8(CString(windows) + (wow64 ? L"\\Sysnative" : L"\\System32") + L"\\format.com").GetString();
    int formats = 0;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(std::string::npos, line.find("diskpart"));
        const std::string run = "run " + format + "|\\\\?\\Volume{";
        if (line.compare(0, run.size(), run) == 0) ++formats;
    }
    EXPECT_EQ(2, formats) << "one format run per tool run, by its full path";
}
