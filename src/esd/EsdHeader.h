#pragma once

#include <cstddef>
#include <cstdint>

// The start of a WIM header, as much of it as the conversion reads. Plain C++
// so that it can be built and checked without Windows.
namespace esd {

// The magic (8 bytes) and, at byte 44, the image count (32-bit little-endian).
constexpr size_t kWimHeaderBytes = 48;
constexpr size_t kWimImageCountOffset = 44;
constexpr char kWimMagic[] = "MSWIM\0\0";
constexpr char kPipableWimMagic[] = "WLPWM\0\0";
constexpr size_t kWimMagicBytes = 8;

// The entry of the XML data that describes the images, at byte 72: a 7-byte
// stored size, a flags byte, an 8-byte offset and an 8-byte original size,
// little-endian. The XML is never compressed.
constexpr size_t kWimXmlEntryOffset = 72;
constexpr size_t kWimHeaderWithXmlBytes = 96;

// The image count of a standard or pipable WIM (an ESD is one) from its first
// size bytes; false when they are not the start of one.
bool WimImageCount(const unsigned char* bytes, size_t size, uint32_t& count);

// Where the XML data lies, from the first size bytes; false when they are not
// the start of a WIM or name no XML.
bool WimXmlData(const unsigned char* bytes, size_t size, uint64_t& offset, uint64_t& length);

}  // namespace esd
