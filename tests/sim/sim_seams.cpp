// kavetta-sim.exe's binding of the platform seams: the scenario named by the
// environment variable is loaded and every seam answers from it. Without a
// usable scenario the program does not start, so that the simulated machine
// never falls through to the real one.
#include <stdio.h>

#include "core/platform_seams.h"
#include "sim/sim_machine.h"
#include "winlib/strings.h"

void InstallPlatformSeams() {
    CString error;
    if (LoadSimScenarioFromEnvironment(&error)) return;
    CString line = L"kavetta-sim: " + error + L"\n";
    OutputDebugStringW(line);
    fputs(Utf16ToUtf8(line).GetString(), stderr);
    fflush(stderr);
    ExitProcess(2);
}
