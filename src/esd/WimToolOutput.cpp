#include "WimToolOutput.h"

#include "EsdConstants.h"

#include <cwchar>

namespace esd {
namespace {

// More digits than this cannot be an image count.
constexpr size_t kMaxCountDigits = 9;

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

}  // namespace

bool ImageCount(const std::wstring& line, unsigned& count)
{
    const size_t marker = line.find(kImageCountMarker);
    if (marker == std::wstring::npos) {
        return false;
    }
    size_t at = marker + std::wcslen(kImageCountMarker);
    while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) {
        ++at;
    }
    size_t digits = 0;
    unsigned value = 0;
    while (at + digits < line.size() && IsDigit(line[at + digits]) && digits < kMaxCountDigits) {
        value = value * 10 + static_cast<unsigned>(line[at + digits] - L'0');
        ++digits;
    }
    if (digits == 0 || (at + digits < line.size() && IsDigit(line[at + digits]))) {
        return false;
    }
    count = value;
    return true;
}

}  // namespace esd
