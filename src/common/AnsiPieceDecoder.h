#pragma once

#include <windows.h>

#include <string>

// Converts output read in pieces from a code page to UTF-16, appending each
// piece's characters to a string. A multi-byte character cut at the end of a
// piece is held back and completed by the next piece instead of being
// converted in halves.
class AnsiPieceDecoder {
public:
    explicit AnsiPieceDecoder(UINT codePage = CP_ACP);

    void Append(const char* bytes, size_t count, std::wstring& output);
    // Converts whatever is still held back (a character the output never completed).
    void Finish(std::wstring& output);

private:
    size_t IncompleteTail(const std::string& bytes) const;
    void Convert(const char* bytes, size_t count, std::wstring& output) const;

    UINT m_codePage;
    bool m_utf8;
    bool m_doubleByte;
    std::string m_pending;
};
