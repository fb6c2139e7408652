// Names shared by the simulated machine and the recording tools of its
// tools payload, and the one way both write the files beside the scenario.
#pragma once

#include <windows.h>

#include <string>

// The environment variable that names the scenario file of kavetta-sim.exe;
// the tools it starts inherit it.
constexpr const wchar_t* kSimScenarioVariable = L"KAVETTA_SIM_SCENARIO";
// Files beside the scenario: the journal of what the program asked for, the
// state that separate tool processes change (one token a line), and the
// recording tools' log of their command lines.
constexpr const wchar_t* kSimJournalName = L"sim-journal.txt";
constexpr const wchar_t* kSimStateName = L"sim-state.txt";
constexpr const wchar_t* kSimToolLogName = L"sim-tool-runs.txt";

// Appends one line (UTF-8) to a file beside the scenario, which other
// processes may be appending to at the same time.
inline void AppendSimLine(const std::wstring& path, const std::string& utf8Line) {
    if (path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string bytes = utf8Line + "\n";
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}
