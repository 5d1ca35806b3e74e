#pragma once

#include "Ntfs.h"

#include <cstdint>
#include <vector>

namespace ntfs {

// Byte-addressed reads over the sector callback, never past the device's end.
class Device {
public:
    Device(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount);

    Error Read(uint64_t offset, uint8_t* dest, uint64_t length) const;

private:
    uint8_t* Bounce(uint64_t bytes) const;

    SectorReader m_reader;
    uint32_t m_sectorSize;
    uint64_t m_bytes = 0;
    mutable std::vector<uint8_t> m_bounce;
};

}  // namespace ntfs
