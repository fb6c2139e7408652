// Downloads one URL through the engine DLL and prints the throughput.
//   engine_bench.exe <url> <save folder> <file name>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "core/down_wrapper.h"
#include "core/fixed_texts.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: engine_bench <url> <save folder> <file name>\n");
        return 2;
    }
    // The engine is loaded by its full path only: the one beside this program.
    wchar_t library[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, library, MAX_PATH);
    wchar_t* name = length && length < MAX_PATH ? wcsrchr(library, L'\\') : nullptr;
    if (!name || (size_t)(name + 1 - library) + wcslen(FixedText::kEngineLibraryName) >= MAX_PATH) {
        fwprintf(stderr, L"the program's folder cannot be told\n");
        return 1;
    }
    wcscpy(name + 1, FixedText::kEngineLibraryName);
    DownWrapper engine(library);
    if (!engine.Initialize || !engine.Initialize()) {
        fwprintf(stderr, L"the engine cannot be used\n");
        return 1;
    }
    DownloadTaskParams* params = new DownloadTaskParams;
    InitDownloadTaskParams(*params);
    if (!SetDownloadTaskTexts(*params, argv[1], argv[3], argv[2])) return 1;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int task = engine.CreateTask(params);
    if (!task || !engine.StartTask(task)) return 1;
    DownloadTaskInfo info = {};
    for (;;) {
        Sleep(20);
        if (engine.QueryTask(task, &info) && (info.status == 1 || info.status == 2 || info.status == 4)) break;
    }
    QueryPerformanceCounter(&end);
    double seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    printf("engine: status %d, %lld bytes in %.2f s = %.1f MB/s\n", info.status, info.doneBytes, seconds,
           info.doneBytes / seconds / 1e6);
    engine.DeleteTask(task);
    engine.Uninitialize();
    return info.status == 4 ? 0 : 1;
}
