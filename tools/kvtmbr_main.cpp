// kvtmbr.exe: orders a USB disk's partition table and writes its boot record.
#include "tools/usb_tools.h"

int wmain(int argc, wchar_t** argv) { return ToolMain(RunBootSectorTool, argc, argv); }
