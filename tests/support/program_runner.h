// Starting the built program under Wine from a test and finding its window.
#pragma once

#include <windows.h>

#include <string>

#include "winlib/strings.h"

// One running copy of a program, with its own temporary folder (TMP and
// TEMP are set for it). Ended by force if it still runs when the object goes.
struct ProgramCopy {
    PROCESS_INFORMATION pi = {};
    bool Start(const CString& exe, const CString& tempFolder);
    bool WaitExit(DWORD ms);
    void Stop();
    ~ProgramCopy() { Stop(); }
};

// The first visible top-level window of the process, waiting up to `ms`
// (nullptr at once when the process ends without one).
HWND WaitForProgramWindow(DWORD pid, DWORD ms);

// Wine's per-program DLL load order: native DLLs (a file found on the
// search path) before Wine's own, for the named DLLs of one program name,
// for the object's life. Wine otherwise takes its own built-in DLL even when
// a DLL of the name lies beside the program, where Windows takes that one;
// so told, Wine searches as Windows does (Windows never reads this key).
class NativeDllsFirst {
public:
    template <size_t N>
    NativeDllsFirst(const wchar_t* program, const wchar_t* const (&dlls)[N])
        : m_key(std::wstring(L"Software\\Wine\\AppDefaults\\") + program) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (m_key + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t order[] = L"native,builtin";
        for (const wchar_t* dll : dlls)
            RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
        RegCloseKey(key);
    }
    ~NativeDllsFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }
    NativeDllsFirst(const NativeDllsFirst&) = delete;
    NativeDllsFirst& operator=(const NativeDllsFirst&) = delete;

private:
    std::wstring m_key;
};
