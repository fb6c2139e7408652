// A power control that never restarts anything, for test programs that link
// the application object (whose exit can restart Windows).
#pragma once

#include "core/process_file_utils.h"

class NoRestartPowerControl : public IPowerControl {
public:
    void Wait(DWORD) override {}
    BOOL EnableShutdownPrivilege() override { return TRUE; }
    BOOL RequestRestart() override { return TRUE; }
};
