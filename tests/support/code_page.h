// Tests that only mean something under one ANSI code page say so: they skip
// elsewhere with the reason, and the test command runs the suite under both
// the host's code page and 936 (Chinese Windows).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

inline bool RunningUnderCodePage(UINT codePage) { return GetACP() == codePage; }

// Skips the current test unless the ANSI code page is `codePage`.
#define SKIP_UNLESS_CODE_PAGE(codePage, why)                                                          \
    do {                                                                                              \
        if (!RunningUnderCodePage(codePage))                                                          \
            GTEST_SKIP() << "only under ANSI code page " << (codePage) << " (this run has " << GetACP() \
                         << "): " << (why);                                                           \
    } while (0)
