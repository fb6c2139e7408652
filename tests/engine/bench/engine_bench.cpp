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
    DownWrapper engine(FixedText::kEngineLibraryName);
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
