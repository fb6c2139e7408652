// Prints the ANSI code page, the user's default locale and the word size of
// the Windows the program sees, as "936 0x804 64", so that the test command
// can tell which Windows the suite is about to run under before it starts.
// The word size is the program's own answer (a 32-bit process on 64-bit
// Windows runs under WoW64), not the prefix's.
#include <windows.h>

#include <stdio.h>

#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

int main() {
    const BOOL wow64 = DetectWow64(FixedText::kWow64QueryModule, FixedText::kWow64QueryFunction);
    printf("%u 0x%lx %d\n", GetACP(), (unsigned long)GetUserDefaultLCID(), wow64 ? 64 : 32);
    return 0;
}
