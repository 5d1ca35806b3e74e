#include "Runs.h"

#include "Bytes.h"
#include "Layout.h"

#include <algorithm>
#include <cstring>

namespace ntfs {

namespace {

// The run that holds vcn, or null when none does.
const Run* RunAt(const std::vector<Run>& runs, uint64_t vcn)
{
    const auto next =
        std::upper_bound(runs.begin(), runs.end(), vcn, [](uint64_t value, const Run& run) { return value < run.vcn; });
    if (next == runs.begin()) {
        return nullptr;
    }
    const Run& run = *(next - 1);
    return vcn < run.vcn + run.length ? &run : nullptr;
}

}  // namespace

Origin Origin::OnDevice(uint64_t offset)
{
    Origin origin;
    origin.m_offset = offset;
    return origin;
}

Origin Origin::InStream(const Stream& stream, uint32_t clusterSize, uint64_t offset)
{
    Origin origin;
    origin.m_stream = &stream;
    origin.m_clusterSize = clusterSize;
    origin.m_offset = offset;
    return origin;
}

Origin Origin::operator+(uint64_t bytes) const
{
    Origin moved = *this;
    moved.m_offset += bytes;
    return moved;
}

uint64_t Origin::DeviceOffset() const
{
    if (!m_stream) {
        return m_offset;
    }
    const Run* run = RunAt(m_stream->runs, m_offset / m_clusterSize);
    if (!run || run->lcn < 0) {
        return kNoOffset;
    }
    return static_cast<uint64_t>(run->lcn) * m_clusterSize + (m_offset - run->vcn * m_clusterSize);
}

Error Corrupt(const Origin& at, const char* expected)
{
    return Error{Status::Corrupt, at.DeviceOffset(), expected};
}

Error DecodeRuns(const uint8_t* header, uint32_t length, uint64_t lowestVcn, uint64_t clusterCount,
                 const Origin& origin, std::vector<Run>& runs)
{
    size_t at = Le16(header + kAttrMappingPairs);
    if (at < kNonResidentHeaderSize || at > length) {
        return Corrupt(origin + kAttrMappingPairs, "a run list inside the attribute, after its header");
    }
    uint64_t vcn = lowestVcn;
    int64_t lcn = 0;
    while (at < length && header[at] != 0) {
        const unsigned lengthBytes = header[at] & 0x0F;
        const unsigned offsetBytes = header[at] >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || at + 1 + lengthBytes + offsetBytes > length) {
            return Corrupt(origin + at, "a run header of 1 to 8 length and 0 to 8 offset bytes");
        }
        const uint8_t* p = header + at + 1;
        uint64_t count = 0;
        for (unsigned i = 0; i < lengthBytes; ++i) {
            count |= static_cast<uint64_t>(p[i]) << (8 * i);
        }
        uint64_t delta = 0;
        for (unsigned i = 0; i < offsetBytes; ++i) {
            delta |= static_cast<uint64_t>(p[lengthBytes + i]) << (8 * i);
        }
        if (offsetBytes > 0 && offsetBytes < 8 && (p[lengthBytes + offsetBytes - 1] & 0x80) != 0) {
            delta |= ~0ull << (8 * offsetBytes);
        }
        if (count == 0 || count > kMaxVcn || vcn > kMaxVcn - count) {
            return Corrupt(origin + at + 1, "a run of at least one cluster below the largest VCN");
        }
        Run run;
        run.vcn = vcn;
        run.length = count;
        if (offsetBytes > 0) {
            // Unsigned wrap-around arithmetic, then range-checked against the volume.
            lcn = static_cast<int64_t>(static_cast<uint64_t>(lcn) + delta);
            if (lcn < 0 || static_cast<uint64_t>(lcn) > kMaxVcn || static_cast<uint64_t>(lcn) + count > clusterCount) {
                return Corrupt(origin + at + 1 + lengthBytes, "a run that lies inside the volume");
            }
            run.lcn = lcn;
        }
        runs.push_back(run);
        vcn += count;
        at += 1 + lengthBytes + offsetBytes;
    }
    return Error();
}

Error ReadStream(const Device& device, uint32_t clusterSize, const Stream& stream, uint64_t offset, uint8_t* dest,
                 uint64_t length)
{
    const uint64_t end = offset + length;
    while (offset < end) {
        if (offset >= stream.initialized) {
            std::memset(dest, 0, static_cast<size_t>(end - offset));
            return Error();
        }
        const Run* run = RunAt(stream.runs, offset / clusterSize);
        if (!run) {
            return Error{Status::Corrupt, stream.header, "runs that map every cluster of the stream"};
        }
        const uint64_t runEnd = (run->vcn + run->length) * clusterSize;
        const uint64_t chunk = std::min({end, stream.initialized, runEnd}) - offset;
        if (run->lcn < 0) {
            std::memset(dest, 0, static_cast<size_t>(chunk));
        } else {
            const uint64_t disk = static_cast<uint64_t>(run->lcn) * clusterSize + (offset - run->vcn * clusterSize);
            const Error error = device.Read(disk, dest, chunk);
            if (error.status != Status::Ok) {
                return error;
            }
        }
        dest += chunk;
        offset += chunk;
    }
    return Error();
}

}  // namespace ntfs
