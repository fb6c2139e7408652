// Our download engine: a DLL that the tools archive carries and the program
// binds by name (core/down_wrapper.h). Every entry uses the C calling
// convention and may be called from any thread.
//
// Behaviour the program relies on:
// - A task downloads one URL over HTTP or HTTPS (certificates checked against
//   the Windows certificate store) on a thread of its own, into
//   "<folder>\<name>.kvtpart", and renames it to "<folder>\<name>" when the
//   transfer is complete. Only then does the query report status 4.
// - A partial file is kept when a task is stopped, fails or is deleted; the
//   next start (of the same or of a new task for the same file) asks the
//   server for the rest with a range request. A server that ignores the range
//   sends the whole file, which then replaces the partial one.
// - Status 2 (this source failed): code = the HTTP status for an HTTP error,
//   else 1000 + the transfer error. Status 1 with code 1: the file cannot be
//   written in the save folder, which no other source would change.
// - A reply must say where its body ends: a length, or chunks (HTTP/1.x); one
//   that would end only with the connection is refused before anything is
//   written (status 2, kEngineCodeUnframedReply). A download whose length is
//   not known ends at kEngineUnknownLengthCap bytes (status 2,
//   kEngineCodeTooLong) and its partial file is deleted. A body shorter than
//   its announced length fails the source (status 2, 1000 + the transfer
//   error) and is never renamed.
// - A reply whose announced length (what remains to be written, for a
//   resumed download) exceeds the free space of the save folder's volume is
//   refused before anything is written (status 2, kEngineCodeNoSpace); the
//   partial file stays as it was.
// - A transfer that stalls is not a failure: the query reports status 3 with
//   speed 0 (status 5 before the first byte); the caller decides when to give
//   up and stops the task.
#pragma once

#include "core/down_wrapper.h"

#define KVT_ENGINE_API extern "C" __declspec(dllexport)

// Failure codes beside HTTP statuses.
enum {
    kEngineCodeLocalFile = 1,      // with status 1: the save file cannot be created or written
    kEngineCodeTransferBase = 1000, // + CURLcode, with status 2
    kEngineCodeUnframedReply = 1008, // 1000 + CURLE_WEIRD_SERVER_REPLY: neither a length nor chunks
    kEngineCodeTooLong = 1063,       // 1000 + CURLE_FILESIZE_EXCEEDED: past the cap without a known length
    kEngineCodeNoSpace = 1023,       // 1000 + CURLE_WRITE_ERROR: the announced length exceeds the free space
};

// The most a download without a known length may write: more than any file
// of the catalogue, far less than an endless reply would fill.
const long long kEngineUnknownLengthCap = 8ll << 30;

KVT_ENGINE_API int __cdecl KvtInitialize(void);
KVT_ENGINE_API void __cdecl KvtUninitialize(void);
KVT_ENGINE_API int __cdecl KvtCreateTask(const DownloadTaskParams* params);
KVT_ENGINE_API void __cdecl KvtDeleteTask(int task);
KVT_ENGINE_API int __cdecl KvtStartTask(int task);
KVT_ENGINE_API int __cdecl KvtStartAll(void);
KVT_ENGINE_API void __cdecl KvtStopTask(int task);
KVT_ENGINE_API int __cdecl KvtStopAll(void);
KVT_ENGINE_API int __cdecl KvtQueryTask(int task, DownloadTaskInfo* info);
KVT_ENGINE_API int __cdecl KvtQueryTaskEx(void);
KVT_ENGINE_API int __cdecl KvtSetSpeedLimit(void);
KVT_ENGINE_API int __cdecl KvtSetProxy(void);
KVT_ENGINE_API int __cdecl KvtSetUserAgent(void);
KVT_ENGINE_API int __cdecl KvtSetMaxTasks(void);
KVT_ENGINE_API int __cdecl KvtGetVersion(void);
KVT_ENGINE_API int __cdecl KvtDeleteAll(void);
KVT_ENGINE_API int __cdecl KvtSetConnections(void);
KVT_ENGINE_API int __cdecl KvtSetOption(void);
