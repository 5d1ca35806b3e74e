#include "FuzzImage.h"

#include "Attribute.h"
#include "Bytes.h"
#include "Layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace fuzz {

namespace {

constexpr uint32_t kStride = 512;
constexpr size_t kBaseRecord = 0x20;
constexpr uint16_t kRecordIsFolder = 0x0002;

// Field values that sit on the reader's limits, for patches with bit 3 of op set.
constexpr uint64_t kInteresting[] = {
    0, 1, 2, 3, 7, 8, 0x10, 0x18, 0x20, 0x28, 0x30, 0x40, 0x48, 0x7F, 0x80, 0xFF, 0x100, 0x1FF, 0x200, 0x3FF,
    0x400, 0xFFF, 0x1000, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x100000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
    0x100000000, 0xFFFFFFFFFF, 0x10000000000, 0xFFFFFFFFFFFF, 0x7FFFFFFFFFFFFFFF, 0x8000000000000000,
    0xFFFFFFFFFFFFFFFE, 0xFFFFFFFFFFFFFFFF};

bool IsOk(const ntfs::Error& error)
{
    return error.status == ntfs::Status::Ok;
}

}  // namespace

Patch Patch::Decode(const uint8_t* bytes)
{
    Patch patch;
    patch.kind = static_cast<Kind>(bytes[0] % kKindCount);
    patch.region = ntfs::Le16(bytes + 1);
    patch.offset = ntfs::Le16(bytes + 3);
    patch.op = bytes[5];
    patch.value = ntfs::Le32(bytes + 6);
    return patch;
}

void Patch::Encode(uint8_t* bytes) const
{
    const uint8_t fields[kPatchSize] = {kind,
                                        static_cast<uint8_t>(region),
                                        static_cast<uint8_t>(region >> 8),
                                        static_cast<uint8_t>(offset),
                                        static_cast<uint8_t>(offset >> 8),
                                        op,
                                        static_cast<uint8_t>(value),
                                        static_cast<uint8_t>(value >> 8),
                                        static_cast<uint8_t>(value >> 16),
                                        static_cast<uint8_t>(value >> 24)};
    std::memcpy(bytes, fields, kPatchSize);
}

bool FuzzImage::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    m_bytes.resize(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(m_bytes.data()), static_cast<std::streamsize>(m_bytes.size())) ||
        m_bytes.size() < 64 * 1024 || m_bytes.size() % 4096 != 0) {
        std::fprintf(stderr, "%s: not the base image (configure the build to unpack it)\n", path.c_str());
        return false;
    }
    m_strideBlock.assign(m_bytes.size() / kStride, kNoBlock);
    if (!Map()) {
        std::fprintf(stderr, "%s: the reader cannot map the base image\n", path.c_str());
        return false;
    }
    return true;
}

uint64_t FuzzImage::SectorCount() const
{
    const uint64_t sectors = m_bytes.size() / m_sectorSize;
    return sectors - std::min(sectors, m_missingSectors);
}

ntfs::SectorReader FuzzImage::Reader()
{
    return [this](void* buffer, uint64_t first, uint32_t count) {
        if (++m_reads == m_failingRead) {
            return false;
        }
        const uint64_t sectors = SectorCount();
        if (first > sectors || count > sectors - first) {
            return false;
        }
        std::memcpy(buffer, m_bytes.data() + first * m_sectorSize, static_cast<size_t>(count) * m_sectorSize);
        return true;
    };
}

uint32_t FuzzImage::AddBlock(const std::vector<uint64_t>& strides, bool fixups, uint64_t owner)
{
    Block block;
    block.strides = strides;
    block.fixups = fixups;
    block.usaOffset = fixups ? ntfs::Le16(m_bytes.data() + strides[0] + ntfs::kUsaOffset) : 0;
    block.owner = owner;
    const uint32_t index = static_cast<uint32_t>(m_blocks.size());
    for (uint64_t stride : strides) {
        m_strideBlock[stride / kStride] = index;
    }
    m_blocks.push_back(std::move(block));
    return index;
}

void FuzzImage::AddRegion(Kind kind, uint64_t group, uint32_t block, size_t begin, size_t size)
{
    if (size == 0) {
        return;
    }
    auto& groups = m_regions[kind];
    auto found = std::find_if(groups.begin(), groups.end(), [&](const auto& entry) { return entry.first == group; });
    if (found == groups.end()) {
        found = groups.insert(groups.end(), {group, {}});
    }
    found->second.push_back(Region{block, static_cast<uint32_t>(begin), static_cast<uint32_t>(size)});
}

// Walks the base image with the reader itself: every record in use, its
// attribute headers, run lists and resident values, attribute lists kept
// in clusters, and index blocks.
bool FuzzImage::Map()
{
    m_sectorSize = 512;
    ntfs::Context context(Reader(), kStride, m_bytes.size() / kStride);
    if (!IsOk(ntfs::ReadBootSector(context.device, context.geometry)) || !IsOk(ntfs::LoadMft(context))) {
        return false;
    }
    const ntfs::Geometry& geometry = context.geometry;
    // Where each stride of a block lies; none when part of it has no clusters.
    const auto strides = [&](const ntfs::Stream& stream, uint64_t offset, uint32_t size) {
        std::vector<uint64_t> result;
        for (uint32_t at = 0; at < size; at += kStride) {
            result.push_back(ntfs::Origin::InStream(stream, geometry.clusterSize, offset + at).DeviceOffset());
            if (result.back() == ntfs::kNoOffset) {
                return std::vector<uint64_t>();
            }
        }
        return result;
    };
    AddRegion(kBoot, 0, kNoBlock, 0, kStride);
    AddRegion(kRaw, 0, kNoBlock, 0, m_bytes.size());
    for (uint64_t number = 0; number < context.mft.size / geometry.recordSize; ++number) {
        ntfs::Record record;
        std::vector<ntfs::AttrView> views;
        if (!IsOk(ntfs::ReadRecord(context, number, record)) || !IsOk(ntfs::ParseAttributes(record, views))) {
            continue;
        }
        const std::vector<uint64_t> places = strides(context.mft, number * geometry.recordSize, geometry.recordSize);
        if (places.empty()) {
            continue;
        }
        // Extension records are visited through the file they extend.
        const uint8_t* bytes = record.bytes.data();
        const uint64_t base = ntfs::Le64(bytes + kBaseRecord) & ntfs::kRecordNumberMask;
        const uint32_t block = AddBlock(places, true, base != 0 ? base : number);
        // Records group as system files, extension records, folders and files.
        const bool folder = (ntfs::Le16(bytes + ntfs::kRecordFlags) & kRecordIsFolder) != 0;
        const uint64_t group = number < ntfs::kFirstUserRecord ? 0 : base != 0 ? 1 : folder ? 2 : 3;
        AddRegion(kRecordHeader, group, block, 0, ntfs::Le16(bytes + ntfs::kRecordFirstAttribute));
        bool directory = false;
        for (const ntfs::AttrView& view : views) {
            const size_t at = static_cast<size_t>(view.header - bytes);
            const size_t headerSize = view.nonResident ? ntfs::kNonResidentHeaderSize : ntfs::kResidentHeaderSize;
            AddRegion(kAttributeHeader, view.type, block, at, headerSize + view.name.size() * 2);
            if (view.nonResident) {
                const size_t runs = ntfs::Le16(view.header + ntfs::kAttrMappingPairs);
                AddRegion(kRunList, view.type, block, at + runs, view.length - runs);
            } else {
                AddRegion(kValue, view.type, block, at + ntfs::Le16(view.header + ntfs::kAttrValueOffset),
                          ntfs::Le32(view.header + ntfs::kAttrValueLength));
            }
            directory = directory || view.type == ntfs::kTypeIndexAllocation;
        }
        // An attribute list too long for its record lies in clusters of its own.
        ntfs::Attribute list;
        if (IsOk(ntfs::FindAttribute(context, number, ntfs::kTypeAttributeList, u"", list)) && !list.resident) {
            const uint32_t size = static_cast<uint32_t>(list.stream.size);
            const std::vector<uint64_t> places = strides(list.stream, 0, size);
            if (!places.empty()) {
                AddRegion(kValue, ntfs::kTypeAttributeList, AddBlock(places, false, number), 0, size);
            }
        }
        ntfs::Attribute root;
        ntfs::Attribute allocation;
        if (!directory ||
            !IsOk(ntfs::FindAttribute(context, number, ntfs::kTypeIndexRoot, u"$I30", root)) ||
            !IsOk(ntfs::FindAttribute(context, number, ntfs::kTypeIndexAllocation, u"$I30", allocation))) {
            continue;
        }
        const uint32_t blockSize = ntfs::Le32(root.value.data() + ntfs::kRootIndexRecordSize);
        for (uint64_t offset = 0; offset + blockSize <= allocation.stream.size; offset += blockSize) {
            const std::vector<uint64_t> places = strides(allocation.stream, offset, blockSize);
            if (places.empty() || std::memcmp(m_bytes.data() + places[0], ntfs::kIndexMagic, 4) != 0) {
                continue;
            }
            const uint32_t index = AddBlock(places, true, number);
            const uint8_t* node = m_bytes.data() + places[0] + ntfs::kIndexBlockNodeHeader;
            const uint32_t first = ntfs::Le32(node + ntfs::kNodeEntriesOffset);
            const uint32_t end = ntfs::Le32(node + ntfs::kNodeEntriesEnd);
            AddRegion(kIndexHeader, number, index, 0, ntfs::kIndexBlockNodeHeader + ntfs::kNodeHeaderSize);
            AddRegion(kIndexEntries, number, index, ntfs::kIndexBlockNodeHeader + first, end - first);
        }
    }
    return !m_regions[kIndexEntries].empty();
}

// The device offset of a byte of a block, or of the update sequence entry
// that holds it when it is one of a stride's last two bytes.
uint64_t FuzzImage::Address(uint32_t index, uint64_t offset) const
{
    if (index == kNoBlock) {
        return offset % m_bytes.size();
    }
    const Block& block = m_blocks[index];
    const uint64_t size = block.strides.size() * kStride;
    offset %= size;
    const uint64_t within = offset % kStride;
    if (block.fixups && within >= kStride - 2) {
        const uint64_t entry = block.usaOffset + 2 * (offset / kStride + 1) + (within - (kStride - 2));
        if (entry % kStride < kStride - 2 && entry < size) {
            offset = entry;
        }
    }
    return block.strides[offset / kStride] + offset % kStride;
}

void FuzzImage::Touch(uint32_t block)
{
    if (block != kNoBlock && m_touched.size() < 8 &&
        std::find(m_touched.begin(), m_touched.end(), m_blocks[block].owner) == m_touched.end()) {
        m_touched.push_back(m_blocks[block].owner);
    }
}

void FuzzImage::Write(const Patch& patch)
{
    const auto& groups = m_regions[patch.kind];
    const std::vector<Region>& regions = groups[patch.region % groups.size()].second;
    const Region& region = regions[patch.region / groups.size() % regions.size()];
    uint64_t offset = region.begin + patch.offset % region.size;
    if (patch.kind == kRaw) {
        // The region number gives a raw offset its upper bits.
        offset = ((static_cast<uint64_t>(patch.region) << 16) | patch.offset) % m_bytes.size();
        Touch(m_strideBlock[offset / kStride]);
    } else {
        Touch(region.block);
    }
    const unsigned width = 1u << (patch.op & 3);
    const uint64_t signExtended = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(patch.value)));
    uint64_t value = (patch.op & 8) ? kInteresting[patch.value % std::size(kInteresting)] : signExtended;
    if (patch.op & 4) {
        uint64_t current = 0;
        for (unsigned i = 0; i < width; ++i) {
            current |= static_cast<uint64_t>(m_bytes[Address(region.block, offset + i)]) << (8 * i);
        }
        value += current;
    }
    for (unsigned i = 0; i < width; ++i) {
        const uint64_t address = Address(region.block, offset + i);
        m_undo.emplace_back(address, m_bytes[address]);
        m_bytes[address] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void FuzzImage::Apply(const uint8_t* data, size_t size)
{
    m_touched.clear();
    m_sectorSize = 512;
    m_failingRead = 0;
    m_missingSectors = 0;
    m_lookup = false;
    m_reads = 0;
    for (size_t at = 0; at + kPatchSize <= size; at += kPatchSize) {
        const Patch patch = Patch::Decode(data + at);
        if (patch.kind == kSession) {
            m_sectorSize = (patch.value & 1) ? 4096 : 512;
            m_failingRead = (patch.value >> 8) & 0xFF;
            m_missingSectors = (patch.value >> 16) & 0xFF;
            m_lookup = (patch.value >> 24) & 1;
            continue;
        }
        Write(patch);
    }
}

void FuzzImage::Undo()
{
    for (auto change = m_undo.rbegin(); change != m_undo.rend(); ++change) {
        m_bytes[change->first] = change->second;
    }
    m_undo.clear();
}

}  // namespace fuzz
