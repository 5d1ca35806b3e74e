#include "BootSector.h"

#include "Bytes.h"
#include "Layout.h"

#include <cstring>

namespace ntfs {

namespace {

// Record and index block sizes: positive counts clusters, negative is a power of two in bytes.
uint32_t BlockSize(int8_t raw, uint32_t clusterSize)
{
    if (raw > 0) {
        return static_cast<uint64_t>(raw) * clusterSize > kMaxRecordSize ? 0 : raw * clusterSize;
    }
    const int shift = -static_cast<int>(raw);
    return shift >= 9 && shift <= 16 ? (1u << shift) : 0;
}

Error Damaged(size_t field, const char* expected)
{
    return Error{Status::Corrupt, field, expected};
}

}  // namespace

Error ReadBootSector(const Device& device, Geometry& geometry)
{
    uint8_t boot[512];
    const Error error = device.Read(0, boot, sizeof boot);
    if (error.status != Status::Ok) {
        return error;
    }
    if (std::memcmp(boot + kBootOemId, kOemId, 8) != 0) {
        return Error{Status::Unsupported, kBootOemId, "the NTFS signature"};
    }
    const uint32_t bytesPerSector = Le16(boot + kBootBytesPerSector);
    const uint8_t rawSectorsPerCluster = boot[kBootSectorsPerCluster];
    if (bytesPerSector < 256 || bytesPerSector > 4096 || !IsPowerOfTwo(bytesPerSector)) {
        return Damaged(kBootBytesPerSector, "a power of two from 256 to 4096 bytes per sector");
    }
    uint64_t sectorsPerCluster = rawSectorsPerCluster;
    if (rawSectorsPerCluster > 0x80) {
        const unsigned shift = 256u - rawSectorsPerCluster;
        sectorsPerCluster = shift <= 12 ? (1ull << shift) : 0;
    }
    const uint64_t clusterSize = sectorsPerCluster * bytesPerSector;
    if (!IsPowerOfTwo(clusterSize) || clusterSize > kMaxClusterSize) {
        return Damaged(kBootSectorsPerCluster, "a cluster of a power of two bytes up to 2 MiB");
    }
    geometry.clusterSize = static_cast<uint32_t>(clusterSize);
    geometry.clusterCount = Le64(boot + kBootTotalSectors) / sectorsPerCluster;
    geometry.mftLcn = Le64(boot + kBootMftLcn);
    geometry.recordSize = BlockSize(static_cast<int8_t>(boot[kBootClustersPerMftRecord]), geometry.clusterSize);
    geometry.indexBlockSize = BlockSize(static_cast<int8_t>(boot[kBootClustersPerIndexRecord]), geometry.clusterSize);
    if (geometry.recordSize < kMinRecordSize) {
        return Damaged(kBootClustersPerMftRecord, "MFT records of 512 bytes to 64 KiB");
    }
    if (geometry.indexBlockSize < kMinRecordSize) {
        return Damaged(kBootClustersPerIndexRecord, "index blocks of 512 bytes to 64 KiB");
    }
    if (geometry.clusterCount > kMaxVcn) {
        return Damaged(kBootTotalSectors, "a volume of at most 2^40 clusters");
    }
    if (geometry.mftLcn >= geometry.clusterCount) {
        return Damaged(kBootMftLcn, "an MFT that starts inside the volume");
    }
    return Error();
}

}  // namespace ntfs
