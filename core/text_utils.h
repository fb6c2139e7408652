// Text, size and version utilities: random names, version texts, size and
// duration texts, splitting, UTF-8 decoding and text-encoding probes.
#pragma once

#include <windows.h>

#include "winlib/collections.h"
#include "winlib/strings.h"

// Text <-> bytes in the calling thread's ANSI code page (CP_THREAD_ACP), the
// code page of the INI, cipher and digest texts. No terminator is counted.
CStringA WideToThreadAnsi(const wchar_t* text);
CString ThreadAnsiToWide(const char* bytes, int length = -1);
