// A power control that never restarts anything, for test programs that link
// the application object (whose main window can restart Windows). It answers
// as Windows does when it takes the request: the session's end is announced
// and goes ahead, and nothing here restarts.
#pragma once

#include "support/scripted_power.h"

class NoRestartPowerControl : public ScriptedPowerControl {
public:
    NoRestartPowerControl() : ScriptedPowerControl(kEnd) {}
};
