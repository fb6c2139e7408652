// kvtdisk.exe: returns a USB disk to one plain data partition.
#include "tools/usb_tools.h"

int wmain(int argc, wchar_t** argv) { return ToolMain(RunDiskTool, argc, argv); }
