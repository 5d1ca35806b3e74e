#include "UpCase.h"

#include "Bytes.h"
#include "Layout.h"

namespace ntfs {

namespace {

constexpr size_t kPageChars = 256;

}  // namespace

char16_t UpCaseTable::Fold(char16_t c)
{
    if (!m_opened) {
        m_opened = true;
        if (OpenData(m_context, kRecordUpCase, m_table).status == Status::Ok &&
            m_table.stream.size >= kUpCaseChars * 2) {
            m_pages.resize(kUpCaseChars / kPageChars);
        }
    }
    if (!m_pages.empty()) {
        const size_t number = c / kPageChars;
        Page& page = m_pages[number];
        if (!page.read) {
            page.read = true;
            page.bytes.resize(kPageChars * 2);
            if (ReadData(m_context, m_table, number * page.bytes.size(), page.bytes.data(), page.bytes.size())
                    .status != Status::Ok) {
                page.bytes.clear();
            }
        }
        if (!page.bytes.empty()) {
            return static_cast<char16_t>(Le16(page.bytes.data() + c % kPageChars * 2));
        }
    }
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

}  // namespace ntfs
