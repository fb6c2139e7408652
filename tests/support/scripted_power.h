// Windows as the power seam meets it: it refuses the restart request, or
// takes it and then ends the session, or cancels its end (a user who
// pressed Cancel on "apps are preventing restart"), or says nothing more.
// Nothing here restarts anything.
#pragma once

#include "core/process_file_utils.h"
#include "support/session_end.h"

class ScriptedPowerControl : public IPowerControl {
public:
    enum Answer { kRefuse, kEnd, kCancel, kSilent };
    explicit ScriptedPowerControl(Answer first = kEnd) : answer(first) {}
    Answer answer;
    int requests = 0;
    void Wait(DWORD) override {}
    BOOL EnableShutdownPrivilege() override { return TRUE; }
    BOOL RequestRestart() override {
        ++requests;
        if (answer == kRefuse) return FALSE;
        if (answer == kSilent) return TRUE;
        PostSessionEnd(answer == kEnd);
        return TRUE;
    }
};
