#include "disk/tool_files.h"

#include <string.h>

#include "core/fixed_texts.h"

BOOL IsStandInBytes(const void* bytes, DWORD size) {
    const size_t length = strlen(FixedText::kStandInMarker);
    return bytes && size >= length && memcmp(bytes, FixedText::kStandInMarker, length) == 0;
}

ToolFileState CheckToolFile(IBootHost& host, const wchar_t* path) {
    if (!path || !*path || !host.PathExists(path) || host.IsFolder(path)) return kToolFileMissing;
    if (!host.RealHostRule()) return kToolFileReady;
    char head[32] = {};
    DWORD got = 0;
    // A file we cannot read cannot be written to a disk either.
    if (!host.ReadFileBytes(path, head, sizeof(head), &got)) return kToolFileMissing;
    return IsStandInBytes(head, got) ? kToolFileStandIn : kToolFileReady;
}
