// kvtpart.exe: partitions a USB disk through the system's diskpart.
#include "tools/usb_tools.h"

int wmain(int argc, wchar_t** argv) { return ToolMain(RunPartitionTool, argc, argv); }
