#include "tools/boot_entry_tool.h"

#include <shlwapi.h>

#include "core/fixed_texts.h"
#include "core/tool_start.h"

CString SystemProgramPath(const wchar_t* windowsFolder, bool wow64, const wchar_t* program) {
    CString path = windowsFolder;
    path.TrimRight(L'\\');
    path += L"\\";
    path += wow64 ? FixedText::kSysnativeFolder : L"System32";
    path += L"\\";
    path += program;
    return path;
}

CString OwnSystemProgramPath(const wchar_t* program) {
    wchar_t windows[MAX_PATH + 1] = {};
    UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return CString();
    typedef BOOL(WINAPI * Wow64Query)(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    Wow64Query query = reinterpret_cast<Wow64Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    if (query) query(GetCurrentProcess(), &wow64);
    return SystemProgramPath(windows, wow64 != FALSE, program);
}

CString SystemBootEditorPath(const wchar_t* windowsFolder, bool wow64) {
    return SystemProgramPath(windowsFolder, wow64, FixedText::kSystemBootEditor);
}

CString SystemBootEditorPath() { return OwnSystemProgramPath(FixedText::kSystemBootEditor); }

CString ArgumentsAfterProgram(const wchar_t* commandLine) {
    const wchar_t* p = commandLine ? commandLine : L"";
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

int ForwardToEditor(const CString& editor, const CString& arguments, CString& error) {
    if (editor.IsEmpty() || !PathFileExistsW(editor)) {
        error.Format(FixedText::kBootEditorMissing, editor.GetString());
        return kExitEditorMissing;
    }
    CString line = L"\"" + editor + L"\"";
    if (!arguments.IsEmpty()) line += L" " + arguments;
    // The editor gets our own standard handles and no other: its input is
    // the one the program gave us, which ends, so it never waits on a question.
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    wchar_t* buffer = line.GetBuffer();
    BOOL started = StartToolProcess(editor, buffer, si, pi);
    DWORD startError = GetLastError();
    line.ReleaseBuffer();
    if (!started) {
        error.Format(FixedText::kBootEditorStartFailed, editor.GetString(), Win32ErrorText(startError).GetString());
        return kExitEditorNotStarted;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = (DWORD)kExitEditorNotStarted;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}
