// Windows as the power seam meets it: it refuses the restart request, or
// takes it and then ends the session, or cancels its end (a user who
// pressed Cancel on "apps are preventing restart"), or says nothing more.
// It keeps the session end's block reasons as Windows does: only the
// thread that made the window may register or withdraw one. Nothing here
// restarts anything.
#pragma once

#include <mutex>
#include <string>
#include <vector>

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
    // "create <reason>", "destroy", and "refused" for a call from a thread
    // that did not make the window (ERROR_ACCESS_DENIED on Windows).
    BOOL CreateShutdownBlockReason(HWND window, const wchar_t* reason) override {
        if (!OnWindowThread(window)) return Refused();
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back(std::wstring(L"create ") + reason);
        m_reason = reason;
        return TRUE;
    }
    BOOL DestroyShutdownBlockReason(HWND window) override {
        if (!OnWindowThread(window)) return Refused();
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back(L"destroy");
        m_reason.clear();
        return TRUE;
    }
    std::vector<std::wstring> BlockCalls() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_calls;
    }
    // The reason registered now; empty when none.
    std::wstring BlockReason() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_reason;
    }

private:
    static bool OnWindowThread(HWND window) {
        return IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
    }
    BOOL Refused() {
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back(L"refused");
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::mutex m_lock;
    std::vector<std::wstring> m_calls;
    std::wstring m_reason;
};
