// The control tests' entry point: GDI+ and the common controls are started
// as the program starts them, and the program's application object provides
// the skin archive and the main window that message boxes take as their owner.
#include <gtest/gtest.h>

#include "controls/skin_picture.h"
#include "controls_test_support.h"
#include "core/tarvel_app.h"
#include "winlib/winlib.h"

int main(int argc, char** argv) {
    CTarvelApp app;
    GuiTestSession gui;
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    return rc;
}
