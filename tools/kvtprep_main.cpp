// kvtprep.exe: locks and dismounts the volumes of a USB disk before it is partitioned.
#include "tools/usb_tools.h"

int wmain(int argc, wchar_t** argv) { return ToolMain(RunPrepareTool, argc, argv); }
