#pragma once

#include "Ntfs.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The base NTFS image of the fuzz target, held in memory, with a map of
// where each structure lies. Inputs are lists of patches aimed at those
// structures; they are applied in place and undone after every run.
namespace fuzz {

constexpr size_t kPatchSize = 10;

// What a patch aims at. Structure kinds keep multi-sector blocks valid by
// writing a stride's last two bytes into the update sequence array; raw
// patches do not. A session patch changes the run instead: bit 0 of its
// value asks for 4 KiB sectors, bits 8-15 make that sector read fail, bits
// 16-23 take that many sectors off the device's end, bit 24 resolves paths
// by name lookups.
enum Kind : uint8_t {
    kBoot,
    kRecordHeader,
    kAttributeHeader,
    kRunList,
    kValue,
    kIndexHeader,
    kIndexEntries,
    kRaw,
    kSession,
    kKindCount
};

// kind, region (16 bits), offset in the region (16 bits), op, value (32 bits), little-endian.
struct Patch {
    Kind kind;
    uint16_t region;
    uint16_t offset;
    uint8_t op;
    uint32_t value;

    static Patch Decode(const uint8_t* bytes);
    void Encode(uint8_t* bytes) const;
};

class FuzzImage {
public:
    // Loads and maps the image; false with a reason on standard error.
    bool Load(const std::string& path);

    // Applies the patches and notes the records whose structures they touched.
    void Apply(const uint8_t* data, size_t size);
    void Undo();

    ntfs::SectorReader Reader();
    uint32_t SectorSize() const { return m_sectorSize; }
    uint64_t SectorCount() const;
    bool UsesLookup() const { return m_lookup; }
    const std::vector<uint64_t>& Touched() const { return m_touched; }

private:
    static constexpr uint32_t kNoBlock = ~0u;

    // A record, an index block or an attribute list: the device offset of each 512-byte stride.
    struct Block {
        std::vector<uint64_t> strides;
        bool fixups = false;
        uint32_t usaOffset = 0;
        uint64_t owner = 0;  // the record to visit after patching the block
    };
    struct Region {
        uint32_t block;  // kNoBlock: offsets are device offsets
        uint32_t begin;
        uint32_t size;
    };

    bool Map();
    uint32_t AddBlock(const std::vector<uint64_t>& strides, bool fixups, uint64_t owner);
    void AddRegion(Kind kind, uint64_t group, uint32_t block, size_t begin, size_t size);
    uint64_t Address(uint32_t block, uint64_t offset) const;
    void Write(const Patch& patch);
    void Touch(uint32_t block);

    std::vector<uint8_t> m_bytes;
    std::vector<Block> m_blocks;
    // Per kind, regions in groups of a kind of structure (an attribute type,
    // one directory's index blocks) that patches pick alike: a lone
    // attribute list as often as the hundreds of file names.
    std::vector<std::pair<uint64_t, std::vector<Region>>> m_regions[kKindCount];
    std::vector<uint32_t> m_strideBlock;  // per 512 bytes of the device: the block there, or kNoBlock
    std::vector<std::pair<uint64_t, uint8_t>> m_undo;
    std::vector<uint64_t> m_touched;
    uint32_t m_sectorSize = 512;
    uint32_t m_failingRead = 0;
    uint32_t m_reads = 0;
    uint64_t m_missingSectors = 0;
    bool m_lookup = false;
};

}  // namespace fuzz
