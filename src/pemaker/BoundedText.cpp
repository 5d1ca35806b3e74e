#include "BoundedText.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace {
const size_t kMaxFormattedChars = 65536;
}

void FormatBounded(wchar_t* buffer, size_t chars, const wchar_t* format, ...)
{
    if (chars == 0) {
        return;
    }
    // vswprintf leaves the buffer's content unspecified when the result does
    // not fit, so the text is formatted whole first and then cut.
    std::vector<wchar_t> whole(chars + 1);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int written = std::vswprintf(whole.data(), whole.size(), format, args);
        va_end(args);
        if (written >= 0 || whole.size() >= kMaxFormattedChars) {
            if (written < 0) {
                whole.back() = L'\0';
            }
            break;
        }
        whole.resize(whole.size() * 2);
    }
    CopyBounded(buffer, chars, whole.data());
}

void CopyBounded(wchar_t* buffer, size_t chars, const wchar_t* text)
{
    if (chars == 0) {
        return;
    }
    std::wcsncpy(buffer, text ? text : L"", chars - 1);
    buffer[chars - 1] = L'\0';
}
