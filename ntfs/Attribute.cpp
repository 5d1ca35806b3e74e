#include "Attribute.h"

#include "Bytes.h"
#include "Layout.h"

#include <algorithm>
#include <cstring>

namespace ntfs {

Error ParseAttributes(const Record& record, std::vector<AttrView>& views)
{
    const uint8_t* bytes = record.bytes.data();
    const size_t inUse = std::min<size_t>(Le32(bytes + kRecordBytesInUse), record.bytes.size());
    // Enough for most files at once: growing a vector costs more than the parse.
    views.reserve(8);
    size_t at = Le16(bytes + kRecordFirstAttribute);
    while (true) {
        if (at + 4 > inUse) {
            return Corrupt(record.origin + at, "an attribute type or the end marker inside the bytes in use");
        }
        const uint32_t type = Le32(bytes + at);
        if (type == kTypeEnd) {
            return Error();
        }
        AttrView view;
        view.origin = record.origin + at;
        if (at + kResidentHeaderSize > inUse) {
            return Corrupt(view.origin, "a whole attribute header inside the bytes in use");
        }
        view.type = type;
        view.header = bytes + at;
        view.length = Le32(view.header + kAttrLength);
        view.nonResident = view.header[kAttrNonResident] != 0;
        view.flags = Le16(view.header + kAttrFlags);
        const size_t headerSize = view.nonResident ? kNonResidentHeaderSize : kResidentHeaderSize;
        if (view.length < headerSize || view.length % 8 != 0 || view.length > inUse - at) {
            return Corrupt(view.origin + kAttrLength, "a length of whole quadwords inside the bytes in use");
        }
        const size_t nameChars = view.header[kAttrNameLength];
        const size_t nameOffset = Le16(view.header + kAttrNameOffset);
        if (nameOffset + nameChars * 2 > view.length) {
            return Corrupt(view.origin + kAttrNameOffset, "an attribute name inside the attribute");
        }
        view.name = NameAt(view.header + nameOffset, nameChars);
        if (view.nonResident) {
            view.lowestVcn = Le64(view.header + kAttrLowestVcn);
        } else {
            const uint64_t valueEnd =
                static_cast<uint64_t>(Le16(view.header + kAttrValueOffset)) + Le32(view.header + kAttrValueLength);
            if (valueEnd > view.length) {
                return Corrupt(view.origin + kAttrValueLength, "a resident value inside the attribute");
            }
        }
        views.push_back(std::move(view));
        at += views.back().length;
    }
}

Error DecodeRuns(const Context& context, const AttrView& view, std::vector<Run>& runs)
{
    return DecodeRuns(view.header, view.length, view.lowestVcn, context.geometry.clusterCount, view.origin, runs);
}

Error ReadBaseRecord(const Context& context, uint64_t number, BaseRecord& base)
{
    base.number = number;
    const Error error = ReadRecord(context, number, base.record);
    return error.status == Status::Ok ? ParseAttributes(base.record, base.views) : error;
}

Error FindAttribute(const Context& context, uint64_t number, uint32_t type, const std::u16string& name,
                    Attribute& attribute)
{
    BaseRecord base;
    const Error error = ReadBaseRecord(context, number, base);
    return error.status == Status::Ok ? FindAttribute(context, base, type, name, attribute) : error;
}

Error FindAttribute(const Context& context, const BaseRecord& base, uint32_t type, const std::u16string& name,
                    Attribute& attribute)
{
    const uint64_t number = base.number;
    const std::vector<AttrView>& views = base.views;
    Error error;

    // The segments of the attribute: from the attribute list when there is
    // one (a fragmented or crowded file), else from the base record alone.
    // The list names every attribute but itself, those of the base record too.
    std::vector<Segment> segments;
    const auto list = std::find_if(views.begin(), views.end(),
                                   [](const AttrView& view) { return view.type == kTypeAttributeList; });
    if (list != views.end() && type != kTypeAttributeList) {
        error = ReadAttributeList(context, *list, type, name, segments);
        if (error.status != Status::Ok) {
            return error;
        }
        if (segments.empty()) {
            return Error{Status::NotFound, list->origin.DeviceOffset(),
                         "the requested attribute in the attribute list"};
        }
    } else {
        segments.emplace_back(0, number);
    }

    bool gathered = false;
    for (const Segment& segment : segments) {
        Record extension;
        std::vector<AttrView> extensionViews;
        const std::vector<AttrView>* recordViews = &views;
        Origin where = base.record.origin;
        if (segment.second != number) {
            error = ReadRecord(context, segment.second, extension);
            if (error.status == Status::Ok) {
                error = ParseAttributes(extension, extensionViews);
            }
            if (error.status != Status::Ok) {
                return error;
            }
            recordViews = &extensionViews;
            where = extension.origin;
        }
        const auto view = std::find_if(recordViews->begin(), recordViews->end(), [&](const AttrView& candidate) {
            return candidate.type == type && candidate.name == name &&
                   (!candidate.nonResident || candidate.lowestVcn == segment.first);
        });
        if (view == recordViews->end()) {
            if (list == views.end()) {
                return Error{Status::NotFound, where.DeviceOffset(), "the requested attribute in the record"};
            }
            return Corrupt(where, "the attribute segment that the attribute list names");
        }
        if (!view->nonResident) {
            if (gathered) {
                return Corrupt(view->origin, "a resident attribute in one segment only");
            }
            attribute.resident = true;
            attribute.flags = view->flags;
            const size_t valueOffset = Le16(view->header + kAttrValueOffset);
            const uint8_t* value = view->header + valueOffset;
            attribute.value.assign(value, value + Le32(view->header + kAttrValueLength));
            attribute.valueOrigin = view->origin + valueOffset;
            attribute.stream.size = attribute.value.size();
            attribute.stream.initialized = attribute.stream.size;
            attribute.stream.header = view->origin.DeviceOffset();
            gathered = true;
            continue;
        }
        if (attribute.resident) {
            return Corrupt(view->origin, "no non-resident segment beside a resident one");
        }
        const std::vector<Run>& runs = attribute.stream.runs;
        const uint64_t expected = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
        if (view->lowestVcn != expected) {
            return Corrupt(view->origin + kAttrLowestVcn, "a segment that starts where the one before ended");
        }
        if (view->lowestVcn == 0) {
            attribute.flags = view->flags;
            attribute.stream.size = Le64(view->header + kAttrDataSize);
            attribute.stream.initialized =
                std::min(attribute.stream.size, Le64(view->header + kAttrInitializedSize));
            attribute.stream.header = view->origin.DeviceOffset();
        }
        error = DecodeRuns(context, *view, attribute.stream.runs);
        if (error.status != Status::Ok) {
            return error;
        }
        gathered = true;
    }
    if (!attribute.resident) {
        const std::vector<Run>& runs = attribute.stream.runs;
        const uint64_t clusters = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
        if (attribute.stream.size > clusters * context.geometry.clusterSize) {
            return Error{Status::Corrupt, attribute.stream.header, "a data size that the runs cover"};
        }
    }
    return Error();
}

namespace {

// A reparse point (an overlay, deduplication, a link) keeps the file's data
// elsewhere: its own stream is a placeholder, often sparse, that would read
// as zeros. Either the flag or the attribute is enough to tell.
Error RefuseReparsePoint(const Context& context, const BaseRecord& base)
{
    constexpr const char* kExpected = "a file without a reparse point";
    Attribute info;
    Error error = FindAttribute(context, base, kTypeStandardInformation, std::u16string(), info);
    if (error.status == Status::NotFound) {
        return Error{Status::Corrupt, error.offset, "a standard information attribute"};
    }
    if (error.status != Status::Ok) {
        return error;
    }
    if (!info.resident || info.value.size() < kInfoFileAttributes + 4) {
        return Error{Status::Corrupt, info.stream.header, "a resident standard information with file attributes"};
    }
    if (Le32(info.value.data() + kInfoFileAttributes) & kFileAttrReparsePoint) {
        return Error{Status::Unsupported, (info.valueOrigin + kInfoFileAttributes).DeviceOffset(), kExpected};
    }
    Attribute reparse;
    error = FindAttribute(context, base, kTypeReparsePoint, std::u16string(), reparse);
    if (error.status == Status::Ok) {
        return Error{Status::Unsupported, reparse.stream.header, kExpected};
    }
    return error.status == Status::NotFound ? Error() : error;
}

}  // namespace

Error OpenData(const Context& context, uint64_t record, Attribute& data)
{
    BaseRecord base;
    Error error = ReadBaseRecord(context, record, base);
    if (error.status == Status::Ok) {
        error = RefuseReparsePoint(context, base);
    }
    if (error.status == Status::Ok) {
        error = FindAttribute(context, base, kTypeData, std::u16string(), data);
    }
    if (error.status == Status::Ok && (data.flags & (kAttrCompressed | kAttrEncrypted))) {
        return Error{Status::Unsupported, data.stream.header, "a stream neither compressed nor encrypted"};
    }
    return error;
}

Error ReadData(const Context& context, const Attribute& data, uint64_t offset, uint8_t* dest, uint64_t length)
{
    if (data.resident) {
        std::memcpy(dest, data.value.data() + offset, static_cast<size_t>(length));
        return Error();
    }
    return ReadStream(context.device, context.geometry.clusterSize, data.stream, offset, dest, length);
}

Error LoadMft(Context& context)
{
    // The first record is found through the boot sector; every other one
    // through the MFT's own data runs, which may span several records.
    Record record;
    Error error = ReadFirstRecord(context, record);
    std::vector<AttrView> views;
    if (error.status == Status::Ok) {
        error = ParseAttributes(record, views);
    }
    if (error.status != Status::Ok) {
        return error;
    }
    const auto data = std::find_if(views.begin(), views.end(), [](const AttrView& view) {
        return view.type == kTypeData && view.name.empty() && view.nonResident && view.lowestVcn == 0;
    });
    if (data == views.end()) {
        return Corrupt(record.origin, "the MFT's data attribute in its first record");
    }
    error = DecodeRuns(context, *data, context.mft.runs);
    if (error.status != Status::Ok) {
        return error;
    }
    context.mft.size = Le64(data->header + kAttrDataSize);
    context.mft.initialized = context.mft.size;
    context.mft.header = data->origin.DeviceOffset();
    Attribute full;
    error = FindAttribute(context, kRecordMft, kTypeData, std::u16string(), full);
    if (error.status != Status::Ok) {
        return error;
    }
    if (full.resident) {
        return Error{Status::Corrupt, full.stream.header, "a non-resident MFT"};
    }
    context.mft.runs = std::move(full.stream.runs);
    context.mft.size = full.stream.size;
    context.mft.initialized = full.stream.size;
    return Error();
}

}  // namespace ntfs
