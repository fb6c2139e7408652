// Where the program's DLLs come from. The program runs elevated, often from
// a folder its user can write (downloads, a USB stick), and Windows looks
// for a DLL named without a path beside the program first: a DLL put there
// would run with administrator rights. So start-up restricts the search to
// the system folder, and the system DLLs that are not among Windows' known
// DLLs are imported delay-loaded (cmake/delay_imports.cmake), to be loaded
// from the system folder on their first call.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

// Restricts the DLL search of the process to the system folder
// (SetDefaultDllDirectories, looked up at run time: a Windows 7 without its
// update lacks it; there only the current folder leaves the search, and a
// DLL named without a path is still looked for beside the program first) and
// makes the delay-load helper take each delay-imported DLL from the system
// folder by its full path. Runs before any other static object of the
// program is built (core/the_app.cpp). TRUE when the search was restricted.
BOOL RestrictDllSearch();

// Loads a DLL by its full path so that the DLLs it imports are looked for
// in its own folder and the system folder, never beside the program:
// LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 where the
// system has them (SetDefaultDllDirectories exists), else
// LOAD_WITH_ALTERED_SEARCH_PATH. Null when it cannot be loaded.
HMODULE LoadLibraryFromItsFolder(const wchar_t* fullPath);

// The full path of a DLL of the system folder (32-bit: under WOW64 the
// folder is redirected to the 32-bit one); empty when the folder cannot be
// read or the name is not a plain file name.
CString SystemFolderDllPath(const wchar_t* name);
