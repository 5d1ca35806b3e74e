#pragma once

#include "Attribute.h"

#include <cstdint>
#include <vector>

namespace ntfs {

// The volume's up-case table, read a page of 256 entries at a time as names
// need them: a lookup of plain names then reads one sector of it, not 128 KiB.
// Characters whose page cannot be read, or all of them when the table is
// missing or short, fold by ASCII rules only.
class UpCaseTable {
public:
    explicit UpCaseTable(const Context& context) : m_context(context) {}

    char16_t Fold(char16_t c);

private:
    struct Page {
        bool read = false;
        std::vector<uint8_t> bytes;  // little-endian entries; empty when unreadable
    };

    const Context& m_context;
    bool m_opened = false;
    Attribute m_table;
    std::vector<Page> m_pages;  // none when the table is unusable
};

}  // namespace ntfs
