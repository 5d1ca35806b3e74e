#include "Index.h"

#include "Attribute.h"
#include "Bytes.h"
#include "Layout.h"

#include <algorithm>

namespace ntfs {

namespace {

DirEntry EntryFromKey(const uint8_t* key, size_t nameChars, uint64_t record)
{
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
    return item;
}

// Walks the B-tree depth first: each child block before the entry that points to it.
class IndexWalk {
public:
    IndexWalk(const Context& context, const Attribute& allocation, uint32_t blockSize)
        : m_context(context), m_allocation(allocation), m_blockSize(blockSize),
          // Index VCNs count clusters, or 512-byte units when blocks are smaller than a cluster.
          m_vcnUnit(blockSize >= context.geometry.clusterSize ? context.geometry.clusterSize : 512)
    {
    }

    Error Node(const std::vector<uint8_t>& node, size_t headerAt, const Origin& origin, unsigned depth);
    std::vector<DirEntry> entries;

private:
    Error Child(uint64_t vcn, const Origin& vcnField, unsigned depth);

    const Context& m_context;
    const Attribute& m_allocation;
    const uint32_t m_blockSize;
    const uint32_t m_vcnUnit;
    std::vector<uint64_t> m_visited;
};

Error IndexWalk::Node(const std::vector<uint8_t>& node, size_t headerAt, const Origin& origin, unsigned depth)
{
    if (depth > kMaxIndexDepth || headerAt + kNodeHeaderSize > node.size()) {
        return Corrupt(origin, "an index node header inside the node, at most 32 levels deep");
    }
    const uint8_t* header = node.data() + headerAt;
    const uint64_t first = headerAt + static_cast<uint64_t>(Le32(header + kNodeEntriesOffset));
    const uint64_t end =
        std::min<uint64_t>(headerAt + static_cast<uint64_t>(Le32(header + kNodeEntriesEnd)), node.size());
    uint64_t at = first;
    while (true) {
        if (at + kEntryKey > end) {
            return Corrupt(origin + headerAt, "index entries that end with a last entry inside the node");
        }
        const uint8_t* entry = node.data() + at;
        const uint16_t length = Le16(entry + kEntryLength);
        const uint16_t flags = Le16(entry + kEntryFlags);
        if (length < kEntryKey || length % 8 != 0 || length > end - at) {
            return Corrupt(origin + at + kEntryLength, "an index entry length of whole quadwords, inside the node");
        }
        if (flags & kEntryHasChild) {
            if (length < kEntryKey + 8) {
                return Corrupt(origin + at + kEntryLength, "an index entry long enough for its child's VCN");
            }
            const Origin vcnField = origin + (at + length - 8);
            const uint64_t vcn = Le64(entry + length - 8);
            // A block seen before would loop.
            if (vcn > kMaxVcn || std::find(m_visited.begin(), m_visited.end(), vcn) != m_visited.end()) {
                return Corrupt(vcnField, "a child index block not visited before");
            }
            m_visited.push_back(vcn);
            const Error error = Child(vcn, vcnField, depth);
            if (error.status != Status::Ok) {
                return error;
            }
        }
        if (flags & kEntryLast) {
            return Error();
        }
        const size_t keyLength = Le16(entry + kEntryKeyLength);
        if (keyLength < kNameChars || kEntryKey + keyLength > length) {
            return Corrupt(origin + at + kEntryKeyLength, "a file-name key inside the index entry");
        }
        const uint8_t* key = entry + kEntryKey;
        const size_t nameChars = key[kNameLength];
        if (kNameChars + nameChars * 2 > keyLength) {
            return Corrupt(origin + at + kEntryKey + kNameLength, "a file name inside the index key");
        }
        const uint64_t record = Le64(entry) & kRecordNumberMask;
        if (key[kNameSpace] != kNamespaceDos && record >= kFirstUserRecord) {
            entries.push_back(EntryFromKey(key, nameChars, record));
        }
        at += length;
    }
}

Error IndexWalk::Child(uint64_t vcn, const Origin& vcnField, unsigned depth)
{
    const Stream& stream = m_allocation.stream;
    std::vector<uint8_t> block(m_blockSize);
    Error error = ReadStream(m_context.device, m_context.geometry.clusterSize, stream, vcn * m_vcnUnit, block.data(),
                             m_blockSize);
    if (error.status != Status::Ok) {
        return error;
    }
    if (stream.runs.empty() || vcn * m_vcnUnit + m_blockSize > stream.size) {
        return Corrupt(vcnField, "a child index block inside the index allocation");
    }
    const Origin origin = Origin::InStream(stream, m_context.geometry.clusterSize, vcn * m_vcnUnit);
    error = ApplyFixup(block.data(), m_blockSize, kIndexMagic, origin);
    if (error.status != Status::Ok) {
        return error;
    }
    return Node(block, kIndexBlockNodeHeader, origin, depth + 1);
}

}  // namespace

Error ListIndex(const Context& context, uint64_t record, std::vector<DirEntry>& entries)
{
    static const std::u16string kIndexName = u"$I30";
    BaseRecord base;
    Error error = ReadBaseRecord(context, record, base);
    if (error.status != Status::Ok) {
        return error;
    }
    Attribute root;
    error = FindAttribute(context, base, kTypeIndexRoot, kIndexName, root);
    if (error.status == Status::NotFound) {
        return Error{Status::NotADirectory, error.offset, "a file-name index root"};
    }
    if (error.status != Status::Ok) {
        return error;
    }
    if (!root.resident || root.value.size() < kRootNodeHeader + kNodeHeaderSize) {
        return Error{Status::Corrupt, root.stream.header, "a resident index root with a node header"};
    }
    const uint32_t blockSize = Le32(root.value.data() + kRootIndexRecordSize);
    if (blockSize < kMinRecordSize || blockSize > kMaxRecordSize || !IsPowerOfTwo(blockSize)) {
        return Corrupt(root.valueOrigin + kRootIndexRecordSize,
                       "an index block size of a power of two from 512 bytes to 64 KiB");
    }
    Attribute allocation;
    error = FindAttribute(context, base, kTypeIndexAllocation, kIndexName, allocation);
    if (error.status == Status::NotFound) {
        allocation = Attribute();
    } else if (error.status != Status::Ok) {
        return error;
    } else if (allocation.resident) {
        return Error{Status::Corrupt, allocation.stream.header, "a non-resident index allocation"};
    }
    IndexWalk walk(context, allocation, blockSize);
    error = walk.Node(root.value, kRootNodeHeader, root.valueOrigin, 0);
    if (error.status == Status::Ok) {
        entries = std::move(walk.entries);
    }
    return error;
}

}  // namespace ntfs
