// A small program that binds a download engine as the program does:
//   engine_loader.exe <full path of the engine library>
// Exit code 0 when the library was loaded and its initialise entry said yes,
// 2 when it could not be loaded, 3 when it was loaded but not usable.
#include <windows.h>

#include "core/down_wrapper.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    DownWrapper engine(argv[1]);
    if (!engine.m_module) return 2;
    if (!engine.Initialize || !engine.Initialize()) return 3;
    if (engine.Uninitialize) engine.Uninitialize();
    return 0;
}
