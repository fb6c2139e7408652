// The skin archive held in memory.
#pragma once

class CResourceZip {
public:
    CResourceZip() {}
    ~CResourceZip() {}
};
