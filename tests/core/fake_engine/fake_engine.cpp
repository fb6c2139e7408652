// A stand-in for the download engine, built in several variants that lack or
// break one entry, for the binding's tests. FakeCount tells the test how
// often initialise and uninitialise were called.
#include <windows.h>

#define FAKE_API extern "C" __declspec(dllexport)

namespace {
volatile LONG g_initialised = 0;
volatile LONG g_uninitialised = 0;
}  // namespace

FAKE_API int __cdecl FakeCount(int which) { return which == 0 ? g_initialised : g_uninitialised; }

#ifdef FAKE_IMPORTS_SYSTEM_DLL
// Only its import matters: the library loads only where msimg32.dll is found.
FAKE_API void* __cdecl FakeImported(void) { return reinterpret_cast<void*>(&GradientFill); }
#endif

#ifndef FAKE_NO_INITIALIZE
FAKE_API int __cdecl KvtInitialize(void) {
    InterlockedIncrement(&g_initialised);
    Sleep(50);  // a slow start widens the window for two binders at once
#ifdef FAKE_INITIALIZE_FAILS
    return 0;
#else
    return 1;
#endif
}
#endif

FAKE_API void __cdecl KvtUninitialize(void) { InterlockedIncrement(&g_uninitialised); }
FAKE_API int __cdecl KvtCreateTask(const void*) { return 7; }
FAKE_API void __cdecl KvtDeleteTask(int) {}
FAKE_API int __cdecl KvtStartTask(int) { return 1; }
FAKE_API int __cdecl KvtStartAll(void) { return 0; }
FAKE_API void __cdecl KvtStopTask(int) {}
FAKE_API int __cdecl KvtStopAll(void) { return 0; }
#ifndef FAKE_NO_QUERY
FAKE_API int __cdecl KvtQueryTask(int, void*) { return 1; }
#endif
FAKE_API int __cdecl KvtQueryTaskEx(void) { return 0; }
FAKE_API int __cdecl KvtSetSpeedLimit(void) { return 0; }
FAKE_API int __cdecl KvtSetProxy(void) { return 0; }
FAKE_API int __cdecl KvtSetUserAgent(void) { return 0; }
FAKE_API int __cdecl KvtSetMaxTasks(void) { return 0; }
FAKE_API int __cdecl KvtGetVersion(void) { return 0; }
FAKE_API int __cdecl KvtDeleteAll(void) { return 0; }
FAKE_API int __cdecl KvtSetConnections(void) { return 0; }
FAKE_API int __cdecl KvtSetOption(void) { return 0; }
