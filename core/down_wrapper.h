// The binding of the download-engine library: the two interface blocks that
// pass through its task entries, and DownWrapper, which loads the library
// and binds its 18 entry points by name.
//
// The engine (engine/) includes this header for the two blocks only.
#pragma once

#include <windows.h>
#include <stddef.h>

// Field sizes of the three texts, in UTF-16 code units including the
// terminating zero.
enum {
    kTaskUrlChars = 8264,       // up to 8263 characters
    kTaskFileNameChars = 520,   // up to 519 characters
    kTaskFolderChars = 262,     // up to 261 characters
    kTaskInfoNameChars = 520,
};

#pragma pack(push, 1)
// What a page hands to the engine's create-task entry.
struct DownloadTaskParams {
    int reserved0;                          // 0
    wchar_t sourceUrl[kTaskUrlChars];       // source URL
    wchar_t fileName[kTaskFileNameChars];   // file name to save as
    wchar_t saveFolder[kTaskFolderChars];   // save folder (the data folder)
    int option1;                            // 0
    BYTE reserved1[256];
    int option2;                            // 0
    int option3;                            // 5
    int option4;                            // 0
    int option5;                            // 1
    BYTE reserved2[8192];
};

// What the engine's query entry fills.
struct DownloadTaskInfo {
    int status;                             // 1..5, see DownloadStatus
    int code;                               // the engine's failure code
    wchar_t fileName[kTaskInfoNameChars];   // the file the engine writes, in the save folder
    LONGLONG totalBytes;
    LONGLONG doneBytes;
    float fraction;                         // 0.0 .. 1.0
    BYTE unused1[84];
    int speed;                              // bytes per second
    BYTE unused2[273];
};
#pragma pack(pop)

static_assert(sizeof(DownloadTaskParams) == 26564, "DownloadTaskParams size");
static_assert(offsetof(DownloadTaskParams, sourceUrl) == 4, "sourceUrl offset");
static_assert(offsetof(DownloadTaskParams, fileName) == 16532, "fileName offset");
static_assert(offsetof(DownloadTaskParams, saveFolder) == 17572, "saveFolder offset");
static_assert(offsetof(DownloadTaskParams, option1) == 18096, "option1 offset");
static_assert(offsetof(DownloadTaskParams, reserved1) == 18100, "reserved1 offset");
static_assert(offsetof(DownloadTaskParams, option2) == 18356, "option2 offset");
static_assert(offsetof(DownloadTaskParams, option3) == 18360, "option3 offset");
static_assert(offsetof(DownloadTaskParams, option4) == 18364, "option4 offset");
static_assert(offsetof(DownloadTaskParams, option5) == 18368, "option5 offset");
static_assert(offsetof(DownloadTaskParams, reserved2) == 18372, "reserved2 offset");

static_assert(sizeof(DownloadTaskInfo) == 1429, "DownloadTaskInfo size");
static_assert(offsetof(DownloadTaskInfo, code) == 4, "code offset");
static_assert(offsetof(DownloadTaskInfo, fileName) == 8, "fileName offset");
static_assert(offsetof(DownloadTaskInfo, totalBytes) == 1048, "totalBytes offset");
static_assert(offsetof(DownloadTaskInfo, doneBytes) == 1056, "doneBytes offset");
static_assert(offsetof(DownloadTaskInfo, fraction) == 1064, "fraction offset");
static_assert(offsetof(DownloadTaskInfo, unused1) == 1068, "unused1 offset");
static_assert(offsetof(DownloadTaskInfo, speed) == 1152, "speed offset");
static_assert(offsetof(DownloadTaskInfo, unused2) == 1156, "unused2 offset");

// Statuses of DownloadTaskInfo::status.
enum DownloadStatus {
    kTaskFailed = 1,          // failed; code 1 means no other source can help either
    kTaskSourceFailed = 2,    // failed at this source: try the next mirror
    kTaskTransferring = 3,    // running; speed 0 is a poll without progress
    kTaskFinished = 4,        // complete in the save folder under fileName
    kTaskWaiting = 5,         // running but nothing arrives yet
};

// Zeroes the block and sets the five preset integers (0, 0, 5, 0, 1).
void InitDownloadTaskParams(DownloadTaskParams& params);

// Copies the three texts into the block, each with its terminating zero.
// False (and the block's texts emptied) when one of them does not fit its
// field: the caller treats that as a failure at this mirror.
bool SetDownloadTaskTexts(DownloadTaskParams& params, const wchar_t* url, const wchar_t* fileName,
                          const wchar_t* saveFolder);

// Copies src into a field of `capacity` code units with its terminator; false
// (field emptied) when it does not fit.
bool CopyBoundedText(wchar_t* field, size_t capacity, const wchar_t* src);

class DownWrapper {
public:
    typedef int(__cdecl* InitializeFn)();
    typedef void(__cdecl* UninitializeFn)();
    typedef int(__cdecl* CreateTaskFn)(const DownloadTaskParams*);
    typedef void(__cdecl* TaskFn)(int);
    typedef int(__cdecl* StartTaskFn)(int);
    typedef int(__cdecl* QueryTaskFn)(int, DownloadTaskInfo*);
    typedef int(__cdecl* UnusedFn)();

    // Loads the library at `libraryPath` and binds every entry that it
    // exports; when it cannot be loaded nothing is bound.
    explicit DownWrapper(const wchar_t* libraryPath);
    // Unloads the library when it was loaded.
    virtual ~DownWrapper();

    DownWrapper(const DownWrapper&) = delete;
    DownWrapper& operator=(const DownWrapper&) = delete;

    HMODULE m_module;
    // The entries in binding order; each may be null (not exported), so every
    // caller tests the pointer before the call.
    InitializeFn Initialize;      // 1
    UninitializeFn Uninitialize;  // 2 (the engine accepts a second call)
    CreateTaskFn CreateTask;      // 3
    TaskFn DeleteTask;            // 4
    StartTaskFn StartTask;        // 5 (also resumes a stopped task)
    UnusedFn Entry6;
    TaskFn StopTask;              // 7 (pauses)
    UnusedFn Entry8;
    QueryTaskFn QueryTask;        // 9
    UnusedFn Entry10;
    UnusedFn Entry11;
    UnusedFn Entry12;
    UnusedFn Entry13;
    UnusedFn Entry14;
    UnusedFn Entry15;
    UnusedFn Entry16;
    UnusedFn Entry17;
    UnusedFn Entry18;
};
