#include "core/tool_start.h"

#include <vector>

#include "core/fixed_texts.h"

namespace {

typedef BOOL(WINAPI* InitializeListCall)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
typedef BOOL(WINAPI* UpdateListCall)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
typedef VOID(WINAPI* DeleteListCall)(LPPROC_THREAD_ATTRIBUTE_LIST);

// A handle the tool inherits: a real one (not null, not invalid, not a
// console handle of Windows before 8, whose low two bits are set).
bool IsInheritableHandle(HANDLE handle) {
    return handle && handle != INVALID_HANDLE_VALUE && ((ULONG_PTR)handle & 3) != 3;
}

// A call of kernel32 by name: Vista and later have the attribute lists.
template <typename Call>
Call Kernel32Call(const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(FixedText::kAttributeListModule), name)));
}

}  // namespace

BOOL StartToolProcess(const wchar_t* application, wchar_t* commandLine, STARTUPINFOW& startup,
                      PROCESS_INFORMATION& process) {
    // The tool's handles, each once: the list refuses a handle named twice.
    HANDLE handles[3] = {};
    DWORD count = 0;
    if (startup.dwFlags & STARTF_USESTDHANDLES) {
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
            if (!IsInheritableHandle(handle)) continue;
            bool listed = false;
            for (DWORD i = 0; i < count; ++i) listed = listed || handles[i] == handle;
            if (listed) continue;
            if (!SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return FALSE;
            handles[count++] = handle;
        }
    }
    if (count == 0)
        return CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process);
    const InitializeListCall initialize = Kernel32Call<InitializeListCall>(FixedText::kInitializeAttributeListFunction);
    const UpdateListCall update = Kernel32Call<UpdateListCall>(FixedText::kUpdateAttributeFunction);
    const DeleteListCall remove = Kernel32Call<DeleteListCall>(FixedText::kDeleteAttributeListFunction);
    if (!initialize || !update || !remove)
        return CreateProcessW(application, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process);
    SIZE_T size = 0;
    initialize(nullptr, 1, 0, &size);
    if (size == 0) return FALSE;
    std::vector<BYTE> buffer(size);
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
    if (!initialize(attributes, 1, 0, &size)) return FALSE;
    BOOL started = FALSE;
    if (update(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE), nullptr,
               nullptr)) {
        STARTUPINFOEXW extended = {};
        extended.StartupInfo = startup;
        extended.StartupInfo.cb = sizeof extended;
        extended.lpAttributeList = attributes;
        started = CreateProcessW(application, commandLine, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                                 nullptr, nullptr, &extended.StartupInfo, &process);
    }
    const DWORD error = GetLastError();
    remove(attributes);
    SetLastError(error);
    return started;
}
