#include "Device.h"

#include "Layout.h"

#include <algorithm>
#include <cstring>

namespace ntfs {

Device::Device(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount)
    : m_reader(std::move(reader)), m_sectorSize(sectorSize)
{
    if (sectorSize != 0 && sectorCount <= UINT64_MAX / sectorSize) {
        m_bytes = sectorCount * sectorSize;
    }
}

uint8_t* Device::Bounce(uint64_t bytes) const
{
    // Grown to the largest transfer so far rather than to the most it may
    // take: most are a record or an index block. Unbuffered devices want
    // sector-aligned buffers, so the buffer is aligned by hand.
    if (m_bounce.size() < bytes + m_sectorSize) {
        m_bounce.resize(static_cast<size_t>(bytes + m_sectorSize));
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(m_bounce.data());
    return m_bounce.data() + (m_sectorSize - address % m_sectorSize) % m_sectorSize;
}

Error Device::Read(uint64_t offset, uint8_t* dest, uint64_t length) const
{
    if (length == 0) {
        return Error();
    }
    if (offset > m_bytes || length > m_bytes - offset) {
        return Error{Status::IoError, offset, "a range inside the device"};
    }
    while (length > 0) {
        const uint64_t sector = offset / m_sectorSize;
        const uint64_t within = offset % m_sectorSize;
        const bool alignedDest = reinterpret_cast<uintptr_t>(dest) % m_sectorSize == 0;
        if (within != 0 || length < m_sectorSize || !alignedDest) {
            // Partial sectors, and whole ones bound for an unaligned buffer, pass through the bounce buffer.
            const uint64_t span = within + std::min<uint64_t>(length, kBounceBytes - m_sectorSize);
            const uint64_t sectors = (span + m_sectorSize - 1) / m_sectorSize;
            uint8_t* bounce = Bounce(sectors * m_sectorSize);
            if (!m_reader(bounce, sector, static_cast<uint32_t>(sectors))) {
                return Error{Status::IoError, sector * m_sectorSize, "readable sectors"};
            }
            const uint64_t take = std::min<uint64_t>(length, sectors * m_sectorSize - within);
            std::memcpy(dest, bounce + within, static_cast<size_t>(take));
            dest += take;
            offset += take;
            length -= take;
            continue;
        }
        // Whole sectors go straight into the caller's buffer in one transfer.
        const uint64_t bytes = std::min(length - length % m_sectorSize, kMaxTransferBytes);
        if (!m_reader(dest, sector, static_cast<uint32_t>(bytes / m_sectorSize))) {
            return Error{Status::IoError, offset, "readable sectors"};
        }
        dest += bytes;
        offset += bytes;
        length -= bytes;
    }
    return Error();
}

}  // namespace ntfs
