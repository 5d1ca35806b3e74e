#pragma once

#include "Context.h"

#include <cstdint>
#include <vector>

namespace ntfs {

// The entries of a directory's file-name index, from its root and its
// allocation blocks, in index order. Entries stay untouched on failure.
Error ListIndex(const Context& context, uint64_t record, std::vector<DirEntry>& entries);

}  // namespace ntfs
