#pragma once

#include "FileRecord.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ntfs {

// One attribute header inside a record, checked against the record's bytes in use.
struct AttrView {
    uint32_t type = 0;
    std::u16string name;
    bool nonResident = false;
    uint16_t flags = 0;
    const uint8_t* header = nullptr;
    uint32_t length = 0;
    uint64_t lowestVcn = 0;
    Origin origin;
};

Error ParseAttributes(const Record& record, std::vector<AttrView>& views);
// Appends the runs of a non-resident segment.
Error DecodeRuns(const Context& context, const AttrView& view, std::vector<Run>& runs);

// The segments that an attribute list names for one attribute, as lowest
// VCN and record number, in VCN order.
using Segment = std::pair<uint64_t, uint64_t>;
Error ReadAttributeList(const Context& context, const AttrView& list, uint32_t type, const std::u16string& name,
                        std::vector<Segment>& segments);

// An attribute gathered from all its segments. A resident one keeps its
// value; its stream then has the value's size and no runs.
struct Attribute {
    bool resident = false;
    uint16_t flags = 0;
    std::vector<uint8_t> value;
    Origin valueOrigin;
    Stream stream;
};

// A file's base record and its attribute headers, read once for several lookups.
struct BaseRecord {
    uint64_t number = 0;
    Record record;
    std::vector<AttrView> views;
};

Error ReadBaseRecord(const Context& context, uint64_t number, BaseRecord& base);
Error FindAttribute(const Context& context, const BaseRecord& base, uint32_t type, const std::u16string& name,
                    Attribute& attribute);
Error FindAttribute(const Context& context, uint64_t number, uint32_t type, const std::u16string& name,
                    Attribute& attribute);
// A file's unnamed data stream, unless stored in a way the reader cannot
// decode: compressed, encrypted, or kept elsewhere behind a reparse point.
Error OpenData(const Context& context, uint64_t record, Attribute& data);
Error ReadData(const Context& context, const Attribute& data, uint64_t offset, uint8_t* dest, uint64_t length);

// Fills context.mft once the geometry is known.
Error LoadMft(Context& context);

}  // namespace ntfs
