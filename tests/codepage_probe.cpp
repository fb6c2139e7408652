// Prints the ANSI code page and the user's default locale as "936 0x804",
// so that the test command can tell which Windows the suite is about to run
// under before it starts.
#include <windows.h>

#include <stdio.h>

int main() {
    printf("%u 0x%lx\n", GetACP(), (unsigned long)GetUserDefaultLCID());
    return 0;
}
