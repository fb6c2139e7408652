// What Windows does once a session ends (a restart request taken, a user's
// shutdown, an update's restart): it asks the program's top-level windows
// whether the session may end (WM_QUERYENDSESSION), then tells each how it
// came out (WM_ENDSESSION). Nothing here ends a session.
#pragma once

#include <windows.h>
#include <wchar.h>

#include <vector>

#include "core/fixed_texts.h"

// The end after our own restart request, posted to the session window the
// program waits with (it pumps while it waits) and to every other top-level
// window of the calling thread, the main window among them, as Windows asks
// them all.
inline BOOL CALLBACK PostSessionEndTo(HWND window, LPARAM ends) {
    PostMessageW(window, WM_QUERYENDSESSION, 0, 0);
    PostMessageW(window, WM_ENDSESSION, (WPARAM)ends, 0);
    return TRUE;
}

inline void PostSessionEnd(bool ends) { EnumThreadWindows(GetCurrentThreadId(), PostSessionEndTo, ends ? 1 : 0); }

// A session end that meets the program while it works, delivered as Windows
// delivers it: from a thread of its own, sent to each top-level window of
// the program's window thread `uiThread`, every answer awaited. The session
// ends when every window agreed; a forced end (the user's "shut down
// anyway", an update's restart) ends it whatever they answered, with
// ENDSESSION_CRITICAL. Otherwise each window hears that it was cancelled.
class SessionEndDelivery {
public:
    SessionEndDelivery(DWORD uiThread, bool forced)
        : m_uiThread(uiThread), m_forced(forced), m_queried(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = CreateThread(nullptr, 0, Proc, this, 0, nullptr);
    }
    ~SessionEndDelivery() {
        Wait(120000);
        if (m_thread) CloseHandle(m_thread);
        CloseHandle(m_queried);
    }
    SessionEndDelivery(const SessionEndDelivery&) = delete;
    SessionEndDelivery& operator=(const SessionEndDelivery&) = delete;
    // Until every window answered the question (false: not within `ms`).
    bool WaitQueried(DWORD ms) { return WaitForSingleObject(m_queried, ms) == WAIT_OBJECT_0; }
    // Until every window heard the outcome.
    bool Wait(DWORD ms) { return !m_thread || WaitForSingleObject(m_thread, ms) == WAIT_OBJECT_0; }
    // Whether every window has heard the outcome, without waiting.
    bool Done() { return Wait(0); }
    // How the thread's windows answered; read after WaitQueried.
    bool refused = false;
    int asked = 0;
    bool ended = false;

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
    }
    static DWORD WINAPI Proc(void* self) {
        SessionEndDelivery& d = *static_cast<SessionEndDelivery*>(self);
        std::vector<HWND> windows;
        EnumThreadWindows(d.m_uiThread, Collect, reinterpret_cast<LPARAM>(&windows));
        const LPARAM how = d.m_forced ? ENDSESSION_CRITICAL : 0;
        for (HWND window : windows) {
            DWORD_PTR answer = TRUE;
            if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, how, SMTO_NORMAL, 120000, &answer)) continue;
            ++d.asked;
            if (!answer) d.refused = true;
        }
        SetEvent(d.m_queried);
        d.ended = d.m_forced || !d.refused;
        for (HWND window : windows) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, WM_ENDSESSION, d.ended ? TRUE : FALSE, how, SMTO_NORMAL, 120000, &ignored);
        }
        return 0;
    }
    DWORD m_uiThread;
    bool m_forced;
    HANDLE m_queried;
    HANDLE m_thread;
};
