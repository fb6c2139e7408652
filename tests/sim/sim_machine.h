// The simulated machine: a scenario file (JSON) declares a whole machine -
// disks, partitions, volumes and drive letters, WMI facts, installed memory,
// the exit codes of external programs - and LoadSimScenario installs fakes
// for every platform seam that answer from it and record what the program
// asked for. Files stay real: each drive letter of a scenario is a real
// Wine drive backed by a folder (made host-side by prepare_scenario.py
// before the program starts), so downloads, the data folder and backups are
// real files.
//
// Used in-process by page tests (link ksim, call LoadSimScenario) and by
// kavetta-sim.exe, whose seam binding loads the scenario named by the
// environment variable kSimScenarioVariable (sim_names.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sim/sim_names.h"
#include "winlib/strings.h"

// Reads the scenario, builds the fake machine and installs the fakes for
// the storage calls, the boot host, the system facts, the shell calls and
// the power control; an existing application object gets a new disk
// inventory that uses them. Clears the records. On failure nothing is
// installed and error (when given) says what is wrong and where.
bool LoadSimScenario(const wchar_t* scenarioPath, CString* error);
// LoadSimScenario of the file named by kSimScenarioVariable (what
// with_scenario.sh prepared); false with an error when it names none.
bool LoadSimScenarioFromEnvironment(CString* error);
// Puts the Win32 calls back and forgets the scenario.
void UnloadSimScenario();

// What the program asked of the machine since the scenario was loaded or
// the records were last reset. Each record is also appended, as one line,
// to the journal beside the scenario (SimJournalPath), so that a test can
// read what a separate kavetta-sim.exe process did.
struct SimRecords {
    // "verb|file|parameters|folder" of every shell execute (nothing is opened).
    std::vector<std::wstring> shellExecutes;
    // "address|folder" of every page handed to the desktop's shell (nothing is opened).
    std::vector<std::wstring> desktopShellOpens;
    int trayAdds = 0;
    int trayDeletes = 0;
    int trayModifies = 0;
    int reboots = 0;
    // "program|arguments" of every process run of the boot host.
    std::vector<std::wstring> processRuns;
};
SimRecords GetSimRecords();
void ResetSimRecords();
// How the simulated Windows answers a restart request from now on: the
// session ends (the default), its end is cancelled (a user's Cancel on
// "apps are preventing restart"), or the request is refused. Every
// request counts in `reboots`.
enum class SimRestartAnswer { kEnds, kCancelled, kRefused };
void SetSimRestartAnswer(SimRestartAnswer answer);

// Files beside the scenario: the journal of records, the state file that
// separate tool processes change (one token a line) and the tools' log of
// their command lines.
std::wstring SimJournalPath();
std::wstring SimStatePath();
std::wstring SimToolLogPath();
// Appends a token to the state file; a later letter waiting for it appears.
void SetSimState(const wchar_t* token);

// A file beside a given scenario.
std::wstring SimFileBeside(const std::wstring& scenarioPath, const wchar_t* name);
// The backing folder of a partition without a letter (drives\part-<device>-<number>
// beside the scenario): where the boot host's paths on a temporary letter of
// that partition lead.
std::wstring SimPartitionFolder(const std::wstring& scenarioPath, int device, int partition);
