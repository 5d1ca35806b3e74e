#include "Attribute.h"

#include "Bytes.h"
#include "Layout.h"

#include <algorithm>

namespace ntfs {

Error ReadAttributeList(const Context& context, const AttrView& list, uint32_t type, const std::u16string& name,
                        std::vector<Segment>& segments)
{
    std::vector<uint8_t> entries;
    Stream stream;
    Origin origin;
    if (list.nonResident) {
        Error error = DecodeRuns(context, list, stream.runs);
        if (error.status != Status::Ok) {
            return error;
        }
        stream.size = Le64(list.header + kAttrDataSize);
        stream.initialized = Le64(list.header + kAttrInitializedSize);
        stream.header = list.origin.DeviceOffset();
        if (stream.size > kMaxAttributeListSize) {
            return Corrupt(list.origin + kAttrDataSize, "an attribute list of at most 1 MiB");
        }
        entries.resize(static_cast<size_t>(stream.size));
        error = ReadStream(context.device, context.geometry.clusterSize, stream, 0, entries.data(), stream.size);
        if (error.status != Status::Ok) {
            return error;
        }
        origin = Origin::InStream(stream, context.geometry.clusterSize, 0);
    } else {
        const size_t valueOffset = Le16(list.header + kAttrValueOffset);
        const uint8_t* value = list.header + valueOffset;
        entries.assign(value, value + Le32(list.header + kAttrValueLength));
        origin = list.origin + valueOffset;
    }
    size_t at = 0;
    while (at + kListEntryMinSize <= entries.size()) {
        const uint8_t* entry = entries.data() + at;
        const size_t length = Le16(entry + kListEntryLength);
        const size_t nameChars = entry[kListNameLength];
        const size_t nameOffset = entry[kListNameOffset];
        if (length < kListEntryMinSize || length > entries.size() - at || nameOffset + nameChars * 2 > length) {
            return Corrupt(origin + at, "an attribute list entry with its name inside the list");
        }
        if (Le32(entry) == type && NameAt(entry + nameOffset, nameChars) == name) {
            segments.emplace_back(Le64(entry + kListLowestVcn), Le64(entry + kListSegment) & kRecordNumberMask);
        }
        at += length;
    }
    std::stable_sort(segments.begin(), segments.end());
    return Error();
}

}  // namespace ntfs
