// The page tests' entry point: the program's application object with its
// skin archive, GDI+ and the common controls, and a scripted machine behind
// every platform seam, so that no test touches the host's disks, opens a
// browser or adds a real notification-area icon.
#include <gtest/gtest.h>

#include "core/tarvel_app.h"
#include "../controls/controls_test_support.h"
#include "pages_test_support.h"
#include "support/no_restart.h"
#include "winlib/winlib.h"

int main(int argc, char** argv) {
    CTarvelApp app;
    GuiTestSession gui;
    // The main window asks for the restart it takes; nothing restarts here.
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    SetSystemFacts(&TestMachine().facts);
    SetShellCalls(&TestMachine().shell);
    SetStorageCalls(&TestMachine().storage);
    delete app.m_diskInventory;
    app.m_diskInventory = new CDiskInventory;
    // No catalogue server: the mirror is a closed port on this machine.
    app.m_mirrorUrls.RemoveAll();
    app.m_mirrorUrls.Add(L"http://127.0.0.1:9/kavetta.ini");
    if (!LoadTestSkin()) fprintf(stderr, "the skin archive could not be loaded; pages draw without pictures\n");
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    return rc;
}
