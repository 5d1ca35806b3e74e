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

// The image count of a standard or pipable WIM (an ESD is one) from its first
// size bytes; false when they are not the start of one.
bool WimImageCount(const unsigned char* bytes, size_t size, uint32_t& count);

}  // namespace esd
