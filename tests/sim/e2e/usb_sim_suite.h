// What the USB page suites on the usb scenario share: the work folder filled
// with the tools the program would unpack, the state and journal files read
// as lines, and the commands our tools record for a boot disk made on the
// scenario's stick (device 1), in order.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/tarvel_app.h"
#include "sim/e2e/sim_page_main.h"
#include "support/test_files.h"

inline std::vector<std::string> Lines(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline const std::vector<std::string>& BootDiskCommandsOnTheStick() {
    static const std::vector<std::string> commands = {
        "kvtprep.exe|prep 1",      "kvtpart.exe|/del 1",       "kvtpart.exe|/cre:EFI 1", "kvtpart.exe|/act 1",
        "kvtpart.exe|/cre:DATA 1", "kvtmbr.exe|/partitions 1", "kvtmbr.exe|/mbr 1"};
    return commands;
}

class SimUsbSuite : public SimWindowSuite {
protected:
    static void SetUpTestSuite() {
        // The work folder holds what the program unpacks there: the engine,
        // our tools, the boot files and the boot record.
        CTarvelApp* app = GetTarvelApp();
        if (!CopyTree(KAVETTA_SIM_TOOLS_STAGE, app->m_workFolder.GetString()))
            fprintf(stderr, "the test tools could not be put into the work folder\n");
        SimWindowSuite::SetUpTestSuite();
    }
};
