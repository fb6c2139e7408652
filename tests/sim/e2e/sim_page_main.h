// The start of a page test program on a prepared scenario: the application
// object, a power seam that never restarts, GDI+, the common controls, the
// scenario from the environment, a work folder and the skin archive; then
// every test. `scenarioLoaded` is set before the tests run.
#pragma once

int RunSimPageTests(int argc, char** argv, const wchar_t* workFolderTag, bool& scenarioLoaded);

#include <gtest/gtest.h>

class MainWindowFixture;

// A suite of page tests that share one main window, made once on the
// loaded scenario (its check run to the end) and destroyed after the suite.
class SimWindowSuite : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    static MainWindowFixture* window;
};
