// Our USB disk tools as programs on the simulated machine (run through
// with_scenario.sh on the usb scenario): the simulated builds of the tools
// archive, started with the command lines the writer and the page send.
// A USB disk is accepted and its command reaches the recording diskpart of
// the scenario; a number that maps to no disk, a disk that is not on the
// USB bus and a disk holding the Windows, program or data-folder volume are
// refused with a non-zero code, and no diskpart run is recorded.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

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

// The journal's lines that record a diskpart run.
int DiskpartRuns() {
    std::ifstream in(SimFileBeside(ScenarioPath(), kSimJournalName).c_str(), std::ios::binary);
    int runs = 0;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 4, "run ") == 0 && line.find("diskpart") != std::string::npos) ++runs;
    return runs;
}

CString Arguments(const wchar_t* format, int number) {
    CString text;
    text.Format(format, number);
    return text;
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
        {"clear the stick", FixedText::kUsbPartitionTool, Arguments(FixedText::kUsbClearArgsFormat, 2), nullptr, 0,
         true},
        {"activate on the stick", FixedText::kUsbPartitionTool, Arguments(FixedText::kUsbActivateArgsFormat, 2),
         nullptr, 0, true},
        {"restore the stick", FixedText::kUsbDiskTool, Arguments(FixedText::kUsbDiskToolArgsFormat, 1), nullptr, 0,
         true},
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
    };
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, c.protectedPaths);
        const int before = DiskpartRuns();
        const CString program = CString(KAVETTA_SIM_TOOLS_DIR) + L"\\" + c.tool;
        EXPECT_EQ(c.exitCode, RunProcessAndWait(program, c.arguments)) << Utf16ToUtf8(c.arguments).GetString();
        EXPECT_EQ(c.runsDiskpart ? before + 1 : before, DiskpartRuns());
    }
    SetEnvironmentVariableW(FixedText::kProtectedPathsVariable, nullptr);
}
