// Starting a tool with only the handles meant for it.
#pragma once

#include <windows.h>

// CreateProcessW (no security attributes, the inherited environment and
// current folder) for a tool whose standard handles `startup` names
// (STARTF_USESTDHANDLES): exactly those handles are inherited, nothing else
// this process holds (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so that no pipe
// or file another thread of ours opens at the same moment leaks into the tool
// and outlives it. The named handles are made inheritable here. Console
// handles of Windows before 8 are not real handles: they reach the tool
// without inheritance and stay off the list. Windows XP lacks the list: there
// every inheritable handle is inherited, as plain CreateProcessW does.
// Without STARTF_USESTDHANDLES nothing is inherited. TRUE when the tool
// started; otherwise FALSE, with the last error set.
BOOL StartToolProcess(const wchar_t* application, wchar_t* commandLine, STARTUPINFOW& startup,
                      PROCESS_INFORMATION& process);
