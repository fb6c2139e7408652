// The start of a page test program on a prepared scenario: the application
// object, a power seam that never restarts, GDI+, the common controls, the
// scenario from the environment, a work folder and the skin archive; then
// every test. `scenarioLoaded` is set before the tests run.
#pragma once

int RunSimPageTests(int argc, char** argv, const wchar_t* workFolderTag, bool& scenarioLoaded);
