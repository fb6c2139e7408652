// The program's one application object, built by the run-time start-up
// before the entry point runs. Only the program links this file; the test
// programs build their own objects.
#include "core/tarvel_app.h"

CTarvelApp theApp;
