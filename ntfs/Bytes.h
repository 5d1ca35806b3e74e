#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Little-endian fields and UTF-16 names, read from ranges the caller has
// already checked against its buffer.
namespace ntfs {

inline uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(Le16(p)) | (static_cast<uint32_t>(Le16(p + 2)) << 16);
}

inline uint64_t Le64(const uint8_t* p)
{
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

inline bool IsPowerOfTwo(uint64_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

inline std::u16string NameAt(const uint8_t* p, size_t chars)
{
    std::u16string name(chars, u'\0');
    for (size_t i = 0; i < chars; ++i) {
        name[i] = static_cast<char16_t>(Le16(p + i * 2));
    }
    return name;
}

}  // namespace ntfs
