#pragma once

#include "Context.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ntfs {

// Checks the signature ("FILE" or "INDX") and undoes the update sequence
// that guards every 512-byte stride of a multi-sector block.
Error ApplyFixup(uint8_t* block, size_t size, const char* magic, const Origin& origin);

// One MFT record with its fixups undone.
struct Record {
    std::vector<uint8_t> bytes;
    Origin origin;
};

// A record in use, found through the MFT's data runs.
Error ReadRecord(const Context& context, uint64_t number, Record& record);
// The MFT's first record, found through the boot sector alone.
Error ReadFirstRecord(const Context& context, Record& record);

}  // namespace ntfs
