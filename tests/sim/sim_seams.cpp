// The simulated machine's binding of the platform seams, linked into
// kavetta-sim.exe and the simulated builds of our USB tools: the scenario
// named by the environment variable is loaded and every seam answers from
// it. Without a usable scenario the program does not start, so that the
// simulated machine never falls through to the real one.
#include <stdio.h>

#include "core/platform_seams.h"
#include "sim/sim_machine.h"
#include "winlib/strings.h"

void InstallPlatformSeams() {
    CString error;
    if (LoadSimScenarioFromEnvironment(&error)) return;
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    const wchar_t* name = wcsrchr(own, L'\\');
    CString line = CString(name ? name + 1 : own) + L" (simulated machine): " + error + L"\n";
    OutputDebugStringW(line);
    fputs(Utf16ToUtf8(line).GetString(), stderr);
    fflush(stderr);
    ExitProcess(2);
}
