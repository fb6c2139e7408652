// The core tests' entry point: before any test runs, the power control is
// replaced by a recorder, so that nothing can ever restart Windows (under
// Wine that would end the whole session).
#include <gtest/gtest.h>

#include "core/process_file_utils.h"
#include "core_test_support.h"

RecordingPowerControl& TestPower() {
    static RecordingPowerControl power;
    return power;
}

int main(int argc, char** argv) {
    SetPowerControl(&TestPower());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
