/* A DLL that someone put beside the program under the name of a system DLL.
   It does nothing but leave a mark, "<its own path>.loaded", when a process
   loads it, so that a test can tell whether the program took it. It exports
   nothing: a program that resolves its imports against it gets no working
   calls, which a test notices too. */
#include <windows.h>

BOOL WINAPI PlantedEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 16];
        DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n && n < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
        }
    }
    return TRUE;
}
