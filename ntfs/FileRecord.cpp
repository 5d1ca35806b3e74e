#include "FileRecord.h"

#include "Bytes.h"
#include "Layout.h"

#include <cstring>

namespace ntfs {

Error ApplyFixup(uint8_t* block, size_t size, const char* magic, const Origin& origin)
{
    if (size < kFixupStride || size % kFixupStride != 0) {
        return Corrupt(origin, "a block of whole 512-byte strides");
    }
    if (std::memcmp(block, magic, 4) != 0) {
        return Corrupt(origin, std::memcmp(magic, kFileMagic, 4) == 0 ? "the FILE signature" : "the INDX signature");
    }
    const size_t usaOffset = Le16(block + kUsaOffset);
    const size_t usaCount = Le16(block + kUsaCount);
    if (usaCount != size / kFixupStride + 1 || usaOffset % 2 != 0 || usaOffset + usaCount * 2 > size) {
        return Corrupt(origin + kUsaOffset, "an even update sequence offset, one entry per stride");
    }
    const uint8_t* usa = block + usaOffset;
    for (size_t i = 1; i < usaCount; ++i) {
        uint8_t* tail = block + i * kFixupStride - 2;
        if (tail[0] != usa[0] || tail[1] != usa[1]) {
            return Corrupt(origin + (i * kFixupStride - 2), "the update sequence number at the end of the stride");
        }
        tail[0] = usa[i * 2];
        tail[1] = usa[i * 2 + 1];
    }
    return Error();
}

Error ReadRecord(const Context& context, uint64_t number, Record& record)
{
    const uint32_t size = context.geometry.recordSize;
    if (number > context.mft.size / size || (number + 1) * size > context.mft.size) {
        return Error{Status::Corrupt, context.mft.header, "a record number inside the MFT"};
    }
    record.origin = Origin::InStream(context.mft, context.geometry.clusterSize, number * size);
    record.bytes.resize(size);
    Error error = ReadStream(context.device, context.geometry.clusterSize, context.mft, number * size,
                             record.bytes.data(), size);
    if (error.status == Status::Ok) {
        error = ApplyFixup(record.bytes.data(), size, kFileMagic, record.origin);
    }
    if (error.status != Status::Ok) {
        return error;
    }
    if ((Le16(record.bytes.data() + kRecordFlags) & kRecordInUse) == 0) {
        return Corrupt(record.origin + kRecordFlags, "a record in use");
    }
    return Error();
}

Error ReadFirstRecord(const Context& context, Record& record)
{
    const uint64_t offset = context.geometry.mftLcn * context.geometry.clusterSize;
    record.origin = Origin::OnDevice(offset);
    record.bytes.resize(context.geometry.recordSize);
    const Error error = context.device.Read(offset, record.bytes.data(), record.bytes.size());
    if (error.status != Status::Ok) {
        return error;
    }
    return ApplyFixup(record.bytes.data(), record.bytes.size(), kFileMagic, record.origin);
}

}  // namespace ntfs
