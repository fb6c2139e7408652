// Binds the platform seams (storage, boot host, system facts, shell calls,
// power) at link time. The program's own definition leaves the Win32 calls
// in place; the simulated machine links a definition of its own that
// installs its scripted fakes. Called first thing at start-up.
#pragma once

void InstallPlatformSeams();
