#include "core/dll_search.h"

#include <delayimp.h>

#include "core/process_file_utils.h"

namespace {

// The delay-load helper's notification before it loads a DLL by name: here
// the DLL is loaded from the system folder by its full path instead, and the
// helper uses that module. Its own dependencies come from its folder, the
// system folder.
FARPROC WINAPI LoadDelayedDllFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    // The common controls come from the side-by-side store, as the
    // program's manifest asks; a full path would bypass it. The helper
    // loads them by name, which the manifest redirects before any folder
    // is searched.
    if (lstrcmpiA(info->szDll, "comctl32.dll") == 0) return nullptr;
    CString path = SystemFolderDllPath(CString(info->szDll));
    if (path.IsEmpty()) return nullptr;
    return reinterpret_cast<FARPROC>(LoadLibraryFromItsFolder(path));
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);

// The system's SetDefaultDllDirectories; null on a Windows 7 without its
// update, which also does not know the LOAD_LIBRARY_SEARCH_* flags.
SetDefaultDllDirectoriesFn DefaultDllDirectoriesCall() {
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
}

}  // namespace

HMODULE LoadLibraryFromItsFolder(const wchar_t* fullPath) {
    if (!fullPath || !*fullPath) return nullptr;
    if (DefaultDllDirectoriesCall())
        return LoadLibraryExW(fullPath, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Its own folder takes the place of the program's in the search order.
    return LoadLibraryExW(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

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
    SetDefaultDllDirectoriesFn setDefault = DefaultDllDirectoriesCall();
    bool restricted = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without it only the current folder leaves the search: a DLL named
    // without a path is still looked for beside the program first.
    if (!restricted) SetDllDirectoryW(L"");
    __pfnDliNotifyHook2 = LoadDelayedDllFromSystemFolder;
    return restricted ? TRUE : FALSE;
}
