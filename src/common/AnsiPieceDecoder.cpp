#include "AnsiPieceDecoder.h"

#include <vector>

AnsiPieceDecoder::AnsiPieceDecoder(UINT codePage) : m_codePage(codePage), m_utf8(false), m_doubleByte(false)
{
    const UINT actual = codePage == CP_ACP ? GetACP() : codePage;
    m_utf8 = actual == CP_UTF8;
    CPINFO info = {};
    m_doubleByte = !m_utf8 && GetCPInfo(actual, &info) && info.MaxCharSize == 2;
    if (m_doubleByte) {
        m_codePage = actual;
    }
}

void AnsiPieceDecoder::Append(const char* bytes, size_t count, std::wstring& output)
{
    m_pending.append(bytes, count);
    const size_t keep = IncompleteTail(m_pending);
    Convert(m_pending.data(), m_pending.size() - keep, output);
    m_pending.erase(0, m_pending.size() - keep);
}

void AnsiPieceDecoder::Finish(std::wstring& output)
{
    Convert(m_pending.data(), m_pending.size(), output);
    m_pending.clear();
}

// Number of bytes at the end that start a character not yet complete.
size_t AnsiPieceDecoder::IncompleteTail(const std::string& bytes) const
{
    if (m_utf8) {
        // Look back over at most three continuation bytes for the lead byte.
        const size_t size = bytes.size();
        for (size_t back = 1; back <= 4 && back <= size; ++back) {
            const unsigned char c = static_cast<unsigned char>(bytes[size - back]);
            if ((c & 0xC0) == 0x80) {
                continue;
            }
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return length > back ? back : 0;
        }
        return 0;
    }
    if (m_doubleByte) {
        // Lead bytes can also be trail bytes, so walk from the start.
        size_t i = 0;
        while (i < bytes.size()) {
            if (IsDBCSLeadByteEx(m_codePage, static_cast<BYTE>(bytes[i]))) {
                if (i + 1 == bytes.size()) {
                    return 1;
                }
                i += 2;
            } else {
                ++i;
            }
        }
    }
    return 0;
}

void AnsiPieceDecoder::Convert(const char* bytes, size_t count, std::wstring& output) const
{
    if (count == 0) {
        return;
    }
    const int length = MultiByteToWideChar(m_codePage, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (length <= 0) {
        return;
    }
    std::vector<wchar_t> converted(static_cast<size_t>(length) + 1, L'\0');
    MultiByteToWideChar(m_codePage, 0, bytes, static_cast<int>(count), converted.data(), length);
    output.append(converted.data(), static_cast<size_t>(length));
}
