// The reference beside the engine in the throughput benchmark: one URL
// fetched by a bare libcurl easy handle under Wine, written to a file in
// blocks as libcurl hands them over, with a given receive buffer size.
//   curl_bench.exe <url> <output file> <receive buffer bytes>
#include <windows.h>

#include <curl/curl.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
    DWORD written = 0;
    DWORD bytes = (DWORD)(size * count);
    if (!WriteFile((HANDLE)file, data, bytes, &written, nullptr) || written != bytes) return 0;
    return size * count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: curl_bench <url> <output file> <receive buffer bytes>\n");
        return 2;
    }
    char url[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, url, sizeof(url) - 1, nullptr, nullptr);
    long buffer = _wtol(argv[3]);
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, buffer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, (void*)file);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    CURLcode result = curl_easy_perform(curl);
    QueryPerformanceCounter(&end);
    curl_off_t bytes = 0;
    curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    CloseHandle(file);
    double seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    printf("libcurl %ld: result %d, %lld bytes in %.2f s = %.1f MB/s\n", buffer, (int)result, (long long)bytes, seconds,
           bytes / seconds / 1e6);
    return result == CURLE_OK ? 0 : 1;
}
