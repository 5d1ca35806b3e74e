#pragma once

#include "Device.h"

#include <cstdint>
#include <vector>

namespace ntfs {

struct Run {
    uint64_t vcn = 0;
    uint64_t length = 0;
    int64_t lcn = -1;  // -1 for a sparse run
};

// A non-resident attribute's clusters and sizes.
struct Stream {
    std::vector<Run> runs;
    uint64_t size = 0;
    uint64_t initialized = 0;      // bytes past this read as zero
    uint64_t header = kNoOffset;   // device offset of its first attribute header, for reports
};

// Where a buffer read from the device lies, so that damage in it is
// reported by device offset.
class Origin {
public:
    static Origin OnDevice(uint64_t offset);
    // The stream must outlive the origin.
    static Origin InStream(const Stream& stream, uint32_t clusterSize, uint64_t offset);

    Origin operator+(uint64_t bytes) const;
    uint64_t DeviceOffset() const;

private:
    const Stream* m_stream = nullptr;
    uint32_t m_clusterSize = 0;
    uint64_t m_offset = 0;
};

Error Corrupt(const Origin& at, const char* expected);

// Appends the runs of one attribute segment, whose header of length bytes
// starts at header, after checking every run against the volume.
Error DecodeRuns(const uint8_t* header, uint32_t length, uint64_t lowestVcn, uint64_t clusterCount,
                 const Origin& origin, std::vector<Run>& runs);

Error ReadStream(const Device& device, uint32_t clusterSize, const Stream& stream, uint64_t offset, uint8_t* dest,
                 uint64_t length);

}  // namespace ntfs
