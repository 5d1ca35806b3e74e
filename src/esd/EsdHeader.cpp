#include "EsdHeader.h"

#include <cstring>

namespace esd {

bool WimImageCount(const unsigned char* bytes, size_t size, uint32_t& count)
{
    if (size < kWimHeaderBytes || (std::memcmp(bytes, kWimMagic, kWimMagicBytes) != 0 &&
                                   std::memcmp(bytes, kPipableWimMagic, kWimMagicBytes) != 0)) {
        return false;
    }
    const unsigned char* field = bytes + kWimImageCountOffset;
    count = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
            static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    return true;
}

}  // namespace esd
