#include "sim/e2e/sim_page_main.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "../../controls/controls_test_support.h"
#include "../../pages/pages_test_support.h"
#include "core/tarvel_app.h"
#include "sim/sim_machine.h"
#include "support/no_restart.h"
#include "support/test_files.h"

namespace {
bool* s_scenarioLoaded = nullptr;
}  // namespace

int RunSimPageTests(int argc, char** argv, const wchar_t* workFolderTag, bool& scenarioLoaded) {
    s_scenarioLoaded = &scenarioLoaded;
    CTarvelApp app;
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    GuiTestSession gui;
    testing::InitGoogleTest(&argc, argv);
    CString error;
    scenarioLoaded = LoadSimScenarioFromEnvironment(&error) != false;
    if (!scenarioLoaded) fprintf(stderr, "no scenario: %s\n", Utf8Of((const wchar_t*)error).c_str());
    app.m_workFolder = MakeTempFolder(workFolderTag).c_str();
    app.m_workFolderCreated = true;  // made for this process: the configuration fetch needs one
#ifdef KAVETTA_SIM_TOOLS_STAGE
    // The work folder holds what the unpack thread extracts there (the test
    // tools archive's files), and the unpack has ended.
    if (!CopyTree(KAVETTA_SIM_TOOLS_STAGE, app.m_workFolder.GetString()))
        fprintf(stderr, "the test tools could not be put into the work folder\n");
    app.m_toolsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    app.FinishUnpack(TRUE);
#endif
    if (!LoadTestSkin()) fprintf(stderr, "the skin archive could not be loaded; pages draw without pictures\n");
    int rc = RUN_ALL_TESTS();
    UnloadSimScenario();
    // Whatever a test left, the exit restarts nothing on the host.
    SetPowerControl(&power);
    app.m_rebootAtExit = 0;
    return rc;
}

MainWindowFixture* SimWindowSuite::window = nullptr;

void SimWindowSuite::SetUpTestSuite() {
    if (!s_scenarioLoaded || !*s_scenarioLoaded) return;
    window = new MainWindowFixture;
    if (window->Create()) window->WaitForCheck(300000);
}

void SimWindowSuite::TearDownTestSuite() {
    delete window;
    window = nullptr;
}
