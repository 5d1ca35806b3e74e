#pragma once

#include "Device.h"

#include <cstdint>

namespace ntfs {

// What the boot sector says about the volume's layout.
struct Geometry {
    uint32_t clusterSize = 0;
    uint64_t clusterCount = 0;
    uint64_t mftLcn = 0;
    uint32_t recordSize = 0;
    uint32_t indexBlockSize = 0;
};

Error ReadBootSector(const Device& device, Geometry& geometry);

}  // namespace ntfs
