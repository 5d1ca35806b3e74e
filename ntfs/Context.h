#pragma once

#include "BootSector.h"
#include "Device.h"
#include "Runs.h"

namespace ntfs {

// What the structure readers share once the volume is mounted.
struct Context {
    Context(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount)
        : device(std::move(reader), sectorSize, sectorCount)
    {
    }

    Device device;
    Geometry geometry;
    Stream mft;  // the MFT's own data stream
};

}  // namespace ntfs
