// The program's one application object, built by the run-time start-up
// before the entry point runs. Only the program links this file; the test
// programs build their own objects.
#include "core/dll_search.h"
#include "core/tarvel_app.h"

// First of all the program's static initialisers: no DLL is looked for
// beside the program from here on.
__attribute__((constructor(101))) static void RestrictDllSearchAtStart() { RestrictDllSearch(); }

CTarvelApp theApp;
