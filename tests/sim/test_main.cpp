// The simulated machine's tests. Until a scenario is loaded, the power
// control never restarts anything.
#include <gtest/gtest.h>

#include "support/no_restart.h"

int main(int argc, char** argv) {
    static NoRestartPowerControl power;
    SetPowerControl(&power);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
