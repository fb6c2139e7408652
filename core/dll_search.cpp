#include "core/dll_search.h"

#include <delayimp.h>

#include "core/process_file_utils.h"

namespace {

bool g_defaultDirectoriesSet = false;

// The delay-load helper's notification before it loads a DLL by name: here
// the DLL is loaded from the system folder by its full path instead, and the
// helper uses that module. Its own dependencies are found in the restricted
// search, or (where that could not be set) beside it first.
FARPROC WINAPI LoadDelayedDllFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    // The common controls come from the side-by-side store, as the
    // program's manifest asks; a full path would bypass it. The helper
    // loads them by name, which the manifest redirects before any folder
    // is searched.
    if (lstrcmpiA(info->szDll, "comctl32.dll") == 0) return nullptr;
    CString path = SystemFolderDllPath(CString(info->szDll));
    if (path.IsEmpty()) return nullptr;
    HMODULE module = g_defaultDirectoriesSet ? LoadLibraryW(path)
                                             : LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

CString SystemFolderDllPath(const wchar_t* name) {
    if (!IsPlainFileName(name)) return CString();
    wchar_t system[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return CString();
    CString path(system);
    if (path[path.GetLength() - 1] != L'\\') path += L'\\';
    return path + name;
}

BOOL RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    g_defaultDirectoriesSet = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!g_defaultDirectoriesSet) SetDllDirectoryW(L"");
    __pfnDliNotifyHook2 = LoadDelayedDllFromSystemFolder;
    return g_defaultDirectoriesSet ? TRUE : FALSE;
}
