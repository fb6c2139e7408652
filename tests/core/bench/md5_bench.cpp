// Digest throughput of Md5Hasher on one file, for comparison with md5sum on
// the same file:  md5_bench.exe <file>
// Prints the digest, the bytes, the seconds and the MB/s (10^6 bytes).
#include <windows.h>
#include <stdio.h>

#include "core/md5.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: md5_bench <file>\n");
        return 2;
    }
    Md5Hasher hasher;
    hasher.m_sourceKind = Md5Hasher::kKindFile;
    hasher.m_filePath = argv[1];
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    CString digest = hasher.Compute();
    QueryPerformanceCounter(&end);
    double seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    LONGLONG bytes = hasher.m_doneBytes;
    wprintf(L"%ls  %lld bytes  %.3f s  %.1f MB/s\n", digest.GetString(), bytes, seconds,
            seconds > 0 ? (double)bytes / seconds / 1e6 : 0.0);
    return digest.GetLength() == 32 ? 0 : 1;
}
