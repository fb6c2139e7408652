// What Windows does once it has taken a restart request: it asks the
// program's session window (the hidden one the application object waits
// with) whether the session may end, then ends it or cancels the end.
// Posted to the calling thread's windows, as the program pumps while it waits.
#pragma once

#include <windows.h>
#include <wchar.h>

#include "core/fixed_texts.h"

inline BOOL CALLBACK PostSessionEndTo(HWND window, LPARAM ends) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (wcscmp(name, FixedText::kSessionWindowClass) != 0) return TRUE;
    PostMessageW(window, WM_QUERYENDSESSION, 0, 0);
    PostMessageW(window, WM_ENDSESSION, (WPARAM)ends, 0);
    return TRUE;
}

inline void PostSessionEnd(bool ends) { EnumThreadWindows(GetCurrentThreadId(), PostSessionEndTo, ends ? 1 : 0); }
