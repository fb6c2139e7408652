// The stand-in rule for the files of the tools archive. Where a real boot
// file cannot be shipped, the archive carries a stand-in of ours that begins
// with a marker text. A real machine (the host's real-host rule) never puts a
// stand-in on a disk; a simulated machine accepts them unless its scenario
// asks for the real rule. The boot-disk writer and the boot setup both ask here.
#pragma once

#include "disk/disk_calls.h"

enum ToolFileState {
    kToolFileReady = 0,    // present, and real (or the host accepts stand-ins)
    kToolFileMissing = 1,  // no such file (or a folder)
    kToolFileStandIn = 2,  // our stand-in, and the host wants the real file
};

// Whether the first bytes of a file carry the stand-in marker.
BOOL IsStandInBytes(const void* bytes, DWORD size);
// What a file of the tools archive is worth on this host.
ToolFileState CheckToolFile(IBootHost& host, const wchar_t* path);
