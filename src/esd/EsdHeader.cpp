#include "EsdHeader.h"

#include <cstring>

namespace esd {
namespace {

uint64_t LittleEndian(const unsigned char* field, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i > 0; --i) {
        value = value << 8 | field[i - 1];
    }
    return value;
}

}  // namespace

bool WimImageCount(const unsigned char* bytes, size_t size, uint32_t& count)
{
    if (size < kWimHeaderBytes || (std::memcmp(bytes, kWimMagic, kWimMagicBytes) != 0 &&
                                   std::memcmp(bytes, kPipableWimMagic, kWimMagicBytes) != 0)) {
        return false;
    }
    count = static_cast<uint32_t>(LittleEndian(bytes + kWimImageCountOffset, 4));
    return true;
}

bool WimXmlData(const unsigned char* bytes, size_t size, uint64_t& offset, uint64_t& length)
{
    uint32_t count = 0;
    if (size < kWimHeaderWithXmlBytes || !WimImageCount(bytes, size, count)) {
        return false;
    }
    const unsigned char* entry = bytes + kWimXmlEntryOffset;
    length = LittleEndian(entry, 7);
    offset = LittleEndian(entry + 8, 8);
    return length > 0;
}

}  // namespace esd
