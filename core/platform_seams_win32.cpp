// The program's binding of the platform seams: every seam already defaults
// to its Win32 implementation, so there is nothing to install. Linked by the
// program and the test programs, never into the core library, so that the
// simulated machine can bring its own definition.
#include "core/platform_seams.h"

void InstallPlatformSeams() {}
