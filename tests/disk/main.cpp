// The disk tests' entry point. The tests link the application object, whose
// exit can restart Windows, so the power control is a recorder; and every
// inventory made without explicit seams (the application object's own) gets
// an empty scripted machine, so no test can define a real DOS device.
#include <gtest/gtest.h>

#include "disk/disk_calls.h"
#include "support/fake_machine.h"
#include "support/no_restart.h"

int main(int argc, char** argv) {
    static NoRestartPowerControl power;
    static FakeMachine empty;
    SetPowerControl(&power);
    SetStorageCalls(&empty);
    SetBootHost(&empty);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
