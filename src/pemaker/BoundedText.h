#pragma once

#include <cstddef>

// Fills fixed wide buffers the way the builder does: what does not fit is
// cut, and the buffer always ends in a zero. Formats use %ls for wide strings.
void FormatBounded(wchar_t* buffer, size_t chars, const wchar_t* format, ...);
void CopyBounded(wchar_t* buffer, size_t chars, const wchar_t* text);

template <size_t N>
void CopyBounded(wchar_t (&buffer)[N], const wchar_t* text)
{
    CopyBounded(buffer, N, text);
}
