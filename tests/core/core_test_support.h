#pragma once

#include <string>
#include <vector>

#include "core/process_file_utils.h"

// Records the restart steps instead of taking them.
class RecordingPowerControl : public IPowerControl {
public:
    std::vector<std::string> steps;
    void Wait(DWORD ms) override { steps.push_back("wait " + std::to_string(ms)); }
    BOOL EnableShutdownPrivilege() override {
        steps.push_back("privilege");
        return TRUE;
    }
    BOOL RequestRestart() override {
        steps.push_back("restart");
        return TRUE;
    }
    BOOL CreateShutdownBlockReason(HWND, const wchar_t*) override {
        steps.push_back("block");
        return TRUE;
    }
    BOOL DestroyShutdownBlockReason(HWND) override {
        steps.push_back("unblock");
        return TRUE;
    }
};

RecordingPowerControl& TestPower();

// The folder of the running test program (the built program lies beside it).
CString TestProgramFolder();
