#include "NtfsReader.h"

#include "NtfsLayout.h"

#include <algorithm>
#include <cstring>

namespace ntfs {

namespace {

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(Le16(p)) | (static_cast<uint32_t>(Le16(p + 2)) << 16);
}

uint64_t Le64(const uint8_t* p)
{
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

bool IsPowerOfTwo(uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// Record and index block sizes: positive counts clusters, negative is a power of two in bytes.
uint32_t BlockSize(int8_t raw, uint32_t clusterSize)
{
    if (raw > 0) {
        return static_cast<uint64_t>(raw) * clusterSize > kMaxRecordSize ? 0 : raw * clusterSize;
    }
    const int shift = -static_cast<int>(raw);
    return shift >= 9 && shift <= 16 ? (1u << shift) : 0;
}

// Checks and undoes the update sequence that guards every 512-byte stride.
bool ApplyFixup(uint8_t* block, size_t size, const char* magic)
{
    if (size < kFixupStride || size % kFixupStride != 0 || std::memcmp(block, magic, 4) != 0) {
        return false;
    }
    const size_t usaOffset = Le16(block + kUsaOffset);
    const size_t usaCount = Le16(block + kUsaCount);
    if (usaCount != size / kFixupStride + 1 || usaOffset % 2 != 0 || usaOffset + usaCount * 2 > size) {
        return false;
    }
    const uint8_t* usa = block + usaOffset;
    for (size_t i = 1; i < usaCount; ++i) {
        uint8_t* tail = block + i * kFixupStride - 2;
        if (tail[0] != usa[0] || tail[1] != usa[1]) {
            return false;
        }
        tail[0] = usa[i * 2];
        tail[1] = usa[i * 2 + 1];
    }
    return true;
}

std::u16string NameAt(const uint8_t* p, size_t chars)
{
    std::u16string name(chars, u'\0');
    for (size_t i = 0; i < chars; ++i) {
        name[i] = static_cast<char16_t>(Le16(p + i * 2));
    }
    return name;
}

}  // namespace

bool DirEntry::IsDirectory() const
{
    return (attributes & kWinAttrDirectory) != 0;
}

struct Volume::Record {
    std::vector<uint8_t> bytes;
    uint64_t number = 0;
};

struct Volume::AttrView {
    uint32_t type = 0;
    std::u16string name;
    bool nonResident = false;
    uint16_t flags = 0;
    const uint8_t* header = nullptr;
    uint32_t length = 0;
    uint64_t lowestVcn = 0;
};

// An attribute gathered from all its segments.
struct Volume::Attribute {
    bool resident = false;
    uint16_t flags = 0;
    std::vector<uint8_t> value;
    std::vector<Run> runs;
    uint64_t dataSize = 0;
    uint64_t initialized = 0;
};

Volume::Volume(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount)
    : m_reader(std::move(reader)), m_sectorSize(sectorSize), m_deviceBytes(0)
{
    if (sectorSize != 0 && sectorCount <= UINT64_MAX / sectorSize) {
        m_deviceBytes = sectorCount * sectorSize;
    }
}

std::unique_ptr<Volume> Volume::Mount(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount,
                                      Status& status)
{
    if (!reader || sectorSize < 512 || sectorSize > 4096 || !IsPowerOfTwo(sectorSize)) {
        status = Status::Unsupported;
        return nullptr;
    }
    std::unique_ptr<Volume> volume(new Volume(std::move(reader), sectorSize, sectorCount));
    status = volume->ReadBoot();
    if (status == Status::Ok) {
        status = volume->LoadMft();
    }
    if (status != Status::Ok) {
        return nullptr;
    }
    volume->LoadUpCase();
    return volume;
}

uint8_t* Volume::Bounce() const
{
    // Unbuffered devices want sector-aligned buffers, so the bounce buffer is aligned by hand.
    if (m_bounce.empty()) {
        m_bounce.resize(kBounceBytes + m_sectorSize);
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(m_bounce.data());
    return m_bounce.data() + (m_sectorSize - address % m_sectorSize) % m_sectorSize;
}

bool Volume::ReadBytes(uint64_t offset, uint8_t* dest, uint64_t length) const
{
    if (length == 0) {
        return true;
    }
    if (offset > m_deviceBytes || length > m_deviceBytes - offset) {
        return false;
    }
    uint8_t* bounce = Bounce();
    while (length > 0) {
        const uint64_t sector = offset / m_sectorSize;
        const uint64_t within = offset % m_sectorSize;
        const bool alignedDest = reinterpret_cast<uintptr_t>(dest) % m_sectorSize == 0;
        if (within != 0 || length < m_sectorSize || !alignedDest) {
            // Partial sectors, and whole ones bound for an unaligned buffer, pass through the bounce buffer.
            const uint64_t span = within + std::min<uint64_t>(length, kBounceBytes - m_sectorSize);
            const uint64_t sectors = (span + m_sectorSize - 1) / m_sectorSize;
            if (!m_reader(bounce, sector, static_cast<uint32_t>(sectors))) {
                return false;
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
            return false;
        }
        dest += bytes;
        offset += bytes;
        length -= bytes;
    }
    return true;
}

Status Volume::ReadBoot()
{
    uint8_t boot[512];
    if (!ReadBytes(0, boot, sizeof boot)) {
        return Status::IoError;
    }
    if (std::memcmp(boot + kBootOemId, kOemId, 8) != 0) {
        return Status::Unsupported;
    }
    const uint32_t bytesPerSector = Le16(boot + kBootBytesPerSector);
    const uint8_t rawSectorsPerCluster = boot[kBootSectorsPerCluster];
    if (bytesPerSector < 256 || bytesPerSector > 4096 || !IsPowerOfTwo(bytesPerSector)) {
        return Status::Corrupt;
    }
    uint64_t sectorsPerCluster = rawSectorsPerCluster;
    if (rawSectorsPerCluster > 0x80) {
        const unsigned shift = 256u - rawSectorsPerCluster;
        sectorsPerCluster = shift <= 12 ? (1ull << shift) : 0;
    }
    const uint64_t clusterSize = sectorsPerCluster * bytesPerSector;
    if (!IsPowerOfTwo(clusterSize) || clusterSize > kMaxClusterSize) {
        return Status::Corrupt;
    }
    m_clusterSize = static_cast<uint32_t>(clusterSize);
    const uint64_t totalSectors = Le64(boot + kBootTotalSectors);
    m_clusterCount = totalSectors / sectorsPerCluster;
    m_mftLcn = Le64(boot + kBootMftLcn);
    m_recordSize = BlockSize(static_cast<int8_t>(boot[kBootClustersPerMftRecord]), m_clusterSize);
    m_indexBlockSize = BlockSize(static_cast<int8_t>(boot[kBootClustersPerIndexRecord]), m_clusterSize);
    if (m_recordSize < kMinRecordSize || m_indexBlockSize < kMinRecordSize || m_clusterCount > kMaxVcn ||
        m_mftLcn >= m_clusterCount) {
        return Status::Corrupt;
    }
    return Status::Ok;
}

Status Volume::LoadMft()
{
    // The first record is found through the boot sector; every other one
    // through the MFT's own data runs, which may span several records.
    Record record;
    record.bytes.resize(m_recordSize);
    if (!ReadBytes(m_mftLcn * m_clusterSize, record.bytes.data(), m_recordSize)) {
        return Status::IoError;
    }
    if (!ApplyFixup(record.bytes.data(), m_recordSize, kFileMagic)) {
        return Status::Corrupt;
    }
    std::vector<AttrView> views;
    Status status = ParseAttributes(record, views);
    if (status != Status::Ok) {
        return status;
    }
    const auto data = std::find_if(views.begin(), views.end(), [](const AttrView& view) {
        return view.type == kTypeData && view.name.empty() && view.nonResident && view.lowestVcn == 0;
    });
    if (data == views.end()) {
        return Status::Corrupt;
    }
    status = DecodeRuns(*data, m_mftRuns);
    if (status != Status::Ok) {
        return status;
    }
    m_mftSize = Le64(data->header + kAttrDataSize);
    Attribute full;
    status = FindAttribute(kRecordMft, kTypeData, std::u16string(), full);
    if (status != Status::Ok) {
        return status;
    }
    if (full.resident) {
        return Status::Corrupt;
    }
    m_mftRuns = std::move(full.runs);
    m_mftSize = full.dataSize;
    return Status::Ok;
}

void Volume::LoadUpCase()
{
    // Without a readable table, names compare with ASCII case folding only.
    std::unique_ptr<File> table;
    if (OpenFile(kRecordUpCase, table) != Status::Ok || table->Size() < kUpCaseChars * 2) {
        return;
    }
    std::vector<uint8_t> bytes(kUpCaseChars * 2);
    uint32_t got = 0;
    if (table->Read(0, bytes.data(), static_cast<uint32_t>(bytes.size()), got) != Status::Ok ||
        got != bytes.size()) {
        return;
    }
    m_upCase.resize(kUpCaseChars);
    for (size_t i = 0; i < kUpCaseChars; ++i) {
        m_upCase[i] = Le16(bytes.data() + i * 2);
    }
}

Status Volume::ReadRuns(const std::vector<Run>& runs, uint64_t initialized, uint64_t offset, uint8_t* dest,
                        uint64_t length) const
{
    const uint64_t end = offset + length;
    while (offset < end) {
        if (offset >= initialized) {
            std::memset(dest, 0, static_cast<size_t>(end - offset));
            return Status::Ok;
        }
        const uint64_t vcn = offset / m_clusterSize;
        const auto next = std::upper_bound(runs.begin(), runs.end(), vcn,
                                           [](uint64_t value, const Run& run) { return value < run.vcn; });
        if (next == runs.begin()) {
            return Status::Corrupt;
        }
        const Run& run = *(next - 1);
        if (vcn >= run.vcn + run.length) {
            return Status::Corrupt;
        }
        const uint64_t runEnd = (run.vcn + run.length) * m_clusterSize;
        const uint64_t chunk = std::min({end, initialized, runEnd}) - offset;
        if (run.lcn < 0) {
            std::memset(dest, 0, static_cast<size_t>(chunk));
        } else {
            const uint64_t disk = static_cast<uint64_t>(run.lcn) * m_clusterSize + (offset - run.vcn * m_clusterSize);
            if (!ReadBytes(disk, dest, chunk)) {
                return Status::IoError;
            }
        }
        dest += chunk;
        offset += chunk;
    }
    return Status::Ok;
}

Status Volume::ReadRecord(uint64_t number, Record& record) const
{
    if (number > m_mftSize / m_recordSize || (number + 1) * m_recordSize > m_mftSize) {
        return Status::Corrupt;
    }
    record.number = number;
    record.bytes.resize(m_recordSize);
    const Status status = ReadRuns(m_mftRuns, m_mftSize, number * m_recordSize, record.bytes.data(), m_recordSize);
    if (status != Status::Ok) {
        return status;
    }
    if (!ApplyFixup(record.bytes.data(), m_recordSize, kFileMagic) ||
        (Le16(record.bytes.data() + kRecordFlags) & kRecordInUse) == 0) {
        return Status::Corrupt;
    }
    return Status::Ok;
}

Status Volume::ParseAttributes(const Record& record, std::vector<AttrView>& views) const
{
    const uint8_t* bytes = record.bytes.data();
    const size_t inUse = std::min<size_t>(Le32(bytes + kRecordBytesInUse), record.bytes.size());
    size_t at = Le16(bytes + kRecordFirstAttribute);
    while (true) {
        if (at + 4 > inUse) {
            return Status::Corrupt;
        }
        const uint32_t type = Le32(bytes + at);
        if (type == kTypeEnd) {
            return Status::Ok;
        }
        if (at + kResidentHeaderSize > inUse) {
            return Status::Corrupt;
        }
        AttrView view;
        view.type = type;
        view.header = bytes + at;
        view.length = Le32(view.header + kAttrLength);
        view.nonResident = view.header[kAttrNonResident] != 0;
        view.flags = Le16(view.header + kAttrFlags);
        const size_t headerSize = view.nonResident ? kNonResidentHeaderSize : kResidentHeaderSize;
        if (view.length < headerSize || view.length % 8 != 0 || view.length > inUse - at) {
            return Status::Corrupt;
        }
        const size_t nameChars = view.header[kAttrNameLength];
        const size_t nameOffset = Le16(view.header + kAttrNameOffset);
        if (nameOffset + nameChars * 2 > view.length) {
            return Status::Corrupt;
        }
        view.name = NameAt(view.header + nameOffset, nameChars);
        if (view.nonResident) {
            view.lowestVcn = Le64(view.header + kAttrLowestVcn);
        } else {
            const uint64_t valueEnd =
                static_cast<uint64_t>(Le16(view.header + kAttrValueOffset)) + Le32(view.header + kAttrValueLength);
            if (valueEnd > view.length) {
                return Status::Corrupt;
            }
        }
        views.push_back(view);
        at += view.length;
    }
}

Status Volume::DecodeRuns(const AttrView& view, std::vector<Run>& runs) const
{
    size_t at = Le16(view.header + kAttrMappingPairs);
    if (at < kNonResidentHeaderSize || at > view.length) {
        return Status::Corrupt;
    }
    uint64_t vcn = view.lowestVcn;
    int64_t lcn = 0;
    while (at < view.length && view.header[at] != 0) {
        const unsigned lengthBytes = view.header[at] & 0x0F;
        const unsigned offsetBytes = view.header[at] >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
            at + 1 + lengthBytes + offsetBytes > view.length) {
            return Status::Corrupt;
        }
        const uint8_t* p = view.header + at + 1;
        uint64_t length = 0;
        for (unsigned i = 0; i < lengthBytes; ++i) {
            length |= static_cast<uint64_t>(p[i]) << (8 * i);
        }
        uint64_t delta = 0;
        for (unsigned i = 0; i < offsetBytes; ++i) {
            delta |= static_cast<uint64_t>(p[lengthBytes + i]) << (8 * i);
        }
        if (offsetBytes > 0 && offsetBytes < 8 && (p[lengthBytes + offsetBytes - 1] & 0x80) != 0) {
            delta |= ~0ull << (8 * offsetBytes);
        }
        if (length == 0 || length > kMaxVcn || vcn > kMaxVcn - length) {
            return Status::Corrupt;
        }
        Run run;
        run.vcn = vcn;
        run.length = length;
        if (offsetBytes > 0) {
            // Unsigned wrap-around arithmetic, then range-checked against the volume.
            lcn = static_cast<int64_t>(static_cast<uint64_t>(lcn) + delta);
            if (lcn < 0 || static_cast<uint64_t>(lcn) > kMaxVcn ||
                static_cast<uint64_t>(lcn) + length > m_clusterCount) {
                return Status::Corrupt;
            }
            run.lcn = lcn;
        }
        runs.push_back(run);
        vcn += length;
        at += 1 + lengthBytes + offsetBytes;
    }
    return Status::Ok;
}

Status Volume::FindAttribute(uint64_t number, uint32_t type, const std::u16string& name,
                             Attribute& attribute) const
{
    Record base;
    Status status = ReadRecord(number, base);
    if (status != Status::Ok) {
        return status;
    }
    std::vector<AttrView> views;
    status = ParseAttributes(base, views);
    if (status != Status::Ok) {
        return status;
    }

    // The segments of the attribute: from the attribute list when there is
    // one (a fragmented or crowded file), else from the base record alone.
    std::vector<std::pair<uint64_t, uint64_t>> segments;  // lowest VCN, record
    const auto list = std::find_if(views.begin(), views.end(),
                                   [](const AttrView& view) { return view.type == kTypeAttributeList; });
    if (list != views.end()) {
        std::vector<uint8_t> entries;
        if (list->nonResident) {
            std::vector<Run> runs;
            status = DecodeRuns(*list, runs);
            if (status != Status::Ok) {
                return status;
            }
            const uint64_t size = Le64(list->header + kAttrDataSize);
            if (size > kMaxAttributeListSize) {
                return Status::Corrupt;
            }
            entries.resize(static_cast<size_t>(size));
            status = ReadRuns(runs, Le64(list->header + kAttrInitializedSize), 0, entries.data(), size);
            if (status != Status::Ok) {
                return status;
            }
        } else {
            const uint8_t* value = list->header + Le16(list->header + kAttrValueOffset);
            entries.assign(value, value + Le32(list->header + kAttrValueLength));
        }
        size_t at = 0;
        while (at + kListEntryMinSize <= entries.size()) {
            const uint8_t* entry = entries.data() + at;
            const size_t length = Le16(entry + kListEntryLength);
            const size_t nameChars = entry[kListNameLength];
            const size_t nameOffset = entry[kListNameOffset];
            if (length < kListEntryMinSize || length > entries.size() - at || nameOffset + nameChars * 2 > length) {
                return Status::Corrupt;
            }
            if (Le32(entry) == type && NameAt(entry + nameOffset, nameChars) == name) {
                segments.emplace_back(Le64(entry + kListLowestVcn), Le64(entry + kListSegment) & kRecordNumberMask);
            }
            at += length;
        }
        std::stable_sort(segments.begin(), segments.end());
    }
    if (segments.empty()) {
        segments.emplace_back(0, number);
    }

    bool found = false;
    for (const auto& segment : segments) {
        Record extension;
        std::vector<AttrView> extensionViews;
        const std::vector<AttrView>* recordViews = &views;
        if (segment.second != number) {
            status = ReadRecord(segment.second, extension);
            if (status == Status::Ok) {
                status = ParseAttributes(extension, extensionViews);
            }
            if (status != Status::Ok) {
                return status;
            }
            recordViews = &extensionViews;
        }
        const auto view = std::find_if(recordViews->begin(), recordViews->end(), [&](const AttrView& candidate) {
            return candidate.type == type && candidate.name == name &&
                   (!candidate.nonResident || candidate.lowestVcn == segment.first);
        });
        if (view == recordViews->end()) {
            if (list == views.end()) {
                return Status::NotFound;
            }
            return Status::Corrupt;
        }
        if (!view->nonResident) {
            if (found) {
                return Status::Corrupt;
            }
            attribute.resident = true;
            attribute.flags = view->flags;
            const uint8_t* value = view->header + Le16(view->header + kAttrValueOffset);
            attribute.value.assign(value, value + Le32(view->header + kAttrValueLength));
            attribute.dataSize = attribute.value.size();
            attribute.initialized = attribute.dataSize;
            found = true;
            continue;
        }
        if (attribute.resident) {
            return Status::Corrupt;
        }
        const uint64_t expected = attribute.runs.empty() ? 0 : attribute.runs.back().vcn + attribute.runs.back().length;
        if (view->lowestVcn != expected) {
            return Status::Corrupt;
        }
        if (view->lowestVcn == 0) {
            if (view->length < kNonResidentHeaderSize) {
                return Status::Corrupt;
            }
            attribute.flags = view->flags;
            attribute.dataSize = Le64(view->header + kAttrDataSize);
            attribute.initialized = std::min(attribute.dataSize, Le64(view->header + kAttrInitializedSize));
        }
        status = DecodeRuns(*view, attribute.runs);
        if (status != Status::Ok) {
            return status;
        }
        found = true;
    }
    if (!attribute.resident) {
        const uint64_t clusters = attribute.runs.empty() ? 0 : attribute.runs.back().vcn + attribute.runs.back().length;
        if (attribute.dataSize > clusters * m_clusterSize) {
            return Status::Corrupt;
        }
    }
    return found ? Status::Ok : Status::NotFound;
}

Status Volume::ReadIndexNode(const std::vector<uint8_t>& node, size_t headerAt, const Attribute& allocation,
                             uint32_t blockSize, unsigned depth, std::vector<uint64_t>& visited,
                             std::vector<DirEntry>& entries) const
{
    if (depth > kMaxIndexDepth || headerAt + kNodeHeaderSize > node.size()) {
        return Status::Corrupt;
    }
    const uint8_t* header = node.data() + headerAt;
    const uint64_t first = headerAt + static_cast<uint64_t>(Le32(header + kNodeEntriesOffset));
    const uint64_t end = std::min<uint64_t>(headerAt + static_cast<uint64_t>(Le32(header + kNodeEntriesEnd)), node.size());
    uint64_t at = first;
    // Index VCNs count clusters, or 512-byte units when blocks are smaller than a cluster.
    const uint32_t vcnUnit = blockSize >= m_clusterSize ? m_clusterSize : 512;
    while (true) {
        if (at + kEntryKey > end) {
            return Status::Corrupt;
        }
        const uint8_t* entry = node.data() + at;
        const uint16_t length = Le16(entry + kEntryLength);
        const uint16_t flags = Le16(entry + kEntryFlags);
        if (length < kEntryKey || length % 8 != 0 || length > end - at) {
            return Status::Corrupt;
        }
        if (flags & kEntryHasChild) {
            if (length < kEntryKey + 8) {
                return Status::Corrupt;
            }
            const uint64_t vcn = Le64(entry + length - 8);
            if (vcn > kMaxVcn || std::find(visited.begin(), visited.end(), vcn) != visited.end()) {
                return Status::Corrupt;
            }
            visited.push_back(vcn);
            std::vector<uint8_t> block(blockSize);
            Status status = ReadRuns(allocation.runs, allocation.initialized, vcn * vcnUnit, block.data(), blockSize);
            if (status != Status::Ok) {
                return status;
            }
            if (allocation.runs.empty() || vcn * vcnUnit + blockSize > allocation.dataSize ||
                !ApplyFixup(block.data(), blockSize, kIndexMagic)) {
                return Status::Corrupt;
            }
            status = ReadIndexNode(block, kIndexBlockNodeHeader, allocation, blockSize, depth + 1, visited, entries);
            if (status != Status::Ok) {
                return status;
            }
        }
        if (flags & kEntryLast) {
            return Status::Ok;
        }
        const size_t keyLength = Le16(entry + kEntryKeyLength);
        if (keyLength < kNameChars || kEntryKey + keyLength > length) {
            return Status::Corrupt;
        }
        const uint8_t* key = entry + kEntryKey;
        const size_t nameChars = key[kNameLength];
        if (kNameChars + nameChars * 2 > keyLength) {
            return Status::Corrupt;
        }
        const uint64_t record = Le64(entry) & kRecordNumberMask;
        if (key[kNameSpace] != kNamespaceDos && record >= kFirstUserRecord) {
            DirEntry item;
            item.name = NameAt(key + kNameChars, nameChars);
            item.record = record;
            const uint32_t nameFlags = Le32(key + kNameFlags);
            item.attributes = nameFlags & 0xFFFF;
            if (nameFlags & kNameFlagDirectory) {
                item.attributes |= kWinAttrDirectory;
            }
            if (item.attributes == 0) {
                item.attributes = kWinAttrNormal;
            }
            item.size = Le64(key + kNameDataSize);
            item.creationTime = Le64(key + kNameCreationTime);
            item.writeTime = Le64(key + kNameWriteTime);
            item.accessTime = Le64(key + kNameAccessTime);
            entries.push_back(std::move(item));
        }
        at += length;
    }
}

Status Volume::ListDirectory(uint64_t record, std::vector<DirEntry>& entries) const
{
    static const std::u16string kIndexName = u"$I30";
    Attribute root;
    Status status = FindAttribute(record, kTypeIndexRoot, kIndexName, root);
    if (status == Status::NotFound) {
        return Status::NotADirectory;
    }
    if (status != Status::Ok) {
        return status;
    }
    if (!root.resident || root.value.size() < kRootNodeHeader + kNodeHeaderSize) {
        return Status::Corrupt;
    }
    const uint32_t blockSize = Le32(root.value.data() + kRootIndexRecordSize);
    if (blockSize < kMinRecordSize || blockSize > kMaxRecordSize || !IsPowerOfTwo(blockSize)) {
        return Status::Corrupt;
    }
    Attribute allocation;
    status = FindAttribute(record, kTypeIndexAllocation, kIndexName, allocation);
    if (status == Status::NotFound) {
        allocation = Attribute();
    } else if (status != Status::Ok) {
        return status;
    } else if (allocation.resident) {
        return Status::Corrupt;
    }
    std::vector<uint64_t> visited;
    std::vector<DirEntry> listed;
    status = ReadIndexNode(root.value, kRootNodeHeader, allocation, blockSize, 0, visited, listed);
    if (status == Status::Ok) {
        entries = std::move(listed);
    }
    return status;
}

bool Volume::SameName(const std::u16string& a, const std::u16string& b) const
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (!m_upCase.empty()) {
            x = m_upCase[x];
            y = m_upCase[y];
        } else {
            x = (x >= u'a' && x <= u'z') ? static_cast<char16_t>(x - 32) : x;
            y = (y >= u'a' && y <= u'z') ? static_cast<char16_t>(y - 32) : y;
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

Status Volume::Lookup(const std::u16string& path, DirEntry& entry) const
{
    DirEntry current;
    current.record = kRecordRoot;
    current.attributes = kWinAttrDirectory;
    size_t at = 0;
    while (at < path.size()) {
        const size_t slash = path.find(u'/', at);
        const size_t stop = slash == std::u16string::npos ? path.size() : slash;
        const std::u16string component = path.substr(at, stop - at);
        at = stop + 1;
        if (component.empty()) {
            continue;
        }
        if (!current.IsDirectory()) {
            return Status::NotFound;
        }
        std::vector<DirEntry> entries;
        const Status status = ListDirectory(current.record, entries);
        if (status != Status::Ok) {
            return status;
        }
        const auto match = std::find_if(entries.begin(), entries.end(),
                                        [&](const DirEntry& candidate) { return SameName(candidate.name, component); });
        if (match == entries.end()) {
            return Status::NotFound;
        }
        current = *match;
    }
    entry = current;
    return Status::Ok;
}

Status Volume::OpenFile(uint64_t record, std::unique_ptr<File>& file) const
{
    Attribute data;
    const Status status = FindAttribute(record, kTypeData, std::u16string(), data);
    if (status != Status::Ok) {
        return status;
    }
    if (data.flags & (kAttrCompressed | kAttrEncrypted)) {
        return Status::Unsupported;
    }
    std::unique_ptr<File> opened(new File(*this));
    opened->m_resident = data.resident;
    opened->m_value = std::move(data.value);
    opened->m_runs = std::move(data.runs);
    opened->m_size = data.dataSize;
    opened->m_initialized = data.initialized;
    file = std::move(opened);
    return Status::Ok;
}

std::u16string Volume::Label() const
{
    Attribute name;
    if (FindAttribute(kRecordVolume, kTypeVolumeName, std::u16string(), name) != Status::Ok || !name.resident) {
        return std::u16string();
    }
    return NameAt(name.value.data(), name.value.size() / 2);
}

Status File::Read(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const
{
    got = 0;
    if (offset >= m_size || length == 0) {
        return Status::Ok;
    }
    const uint64_t count = std::min<uint64_t>(length, m_size - offset);
    uint8_t* dest = static_cast<uint8_t*>(buffer);
    if (m_resident) {
        std::memcpy(dest, m_value.data() + offset, static_cast<size_t>(count));
    } else {
        const Status status = m_volume.ReadRuns(m_runs, m_initialized, offset, dest, count);
        if (status != Status::Ok) {
            return status;
        }
    }
    got = static_cast<uint32_t>(count);
    return Status::Ok;
}

}  // namespace ntfs
