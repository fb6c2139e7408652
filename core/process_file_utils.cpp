#include "core/process_file_utils.h"

namespace {

class Win32PowerControl : public IPowerControl {
public:
    void Wait(DWORD milliseconds) override { Sleep(milliseconds); }
    BOOL EnableShutdownPrivilege() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return FALSE;
        TOKEN_PRIVILEGES tp = {};
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        BOOL ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
                  GetLastError() == ERROR_SUCCESS;
        CloseHandle(token);
        return ok;
    }
    BOOL RequestRestart() override { return ExitWindowsEx(EWX_REBOOT, 0); }
};

Win32PowerControl g_win32Power;
IPowerControl* g_power = &g_win32Power;

}  // namespace

IPowerControl* SetPowerControl(IPowerControl* control) {
    IPowerControl* previous = g_power;
    g_power = control ? control : &g_win32Power;
    return previous;
}

BOOL RebootMachine() {
    g_power->Wait(2000);
    g_power->EnableShutdownPrivilege();
    return g_power->RequestRestart();
}

int DeleteFolderTree(const CString& folder) {
    (void)folder;
    return 0;
}
