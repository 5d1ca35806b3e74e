#include "BcdOutput.h"

#include <algorithm>

namespace pemaker {
namespace {

const wchar_t* const kBlanks = L" \t\r";

bool IsUnderline(const std::wstring& line)
{
    return !line.empty() && line.find_first_not_of(L'-') == std::wstring::npos;
}

}  // namespace

bool ParseBcdIdentifier(const std::wstring& output, std::wstring& identifier)
{
    const size_t open = output.find(L'{');
    if (open == std::wstring::npos) {
        return false;
    }
    const size_t close = output.find(L'}', open);
    if (close == std::wstring::npos) {
        return false;
    }
    identifier = output.substr(open + 1, close - open - 1);
    return true;
}

// Each object is a heading underlined with dashes, then "name  value" lines,
// its identifier first, up to a blank line; a value of several lines goes on
// in indented lines. The names are in the PC's language, so no line is
// recognised by its name.
std::vector<std::wstring> FindDescribedBcdObjects(const std::wstring& output, const std::wstring& description)
{
    std::vector<std::wstring> found;
    bool inObject = false;
    std::wstring identifier;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = std::min(output.find(L'\n', start), output.size());
        const std::wstring raw = output.substr(start, end - start);
        start = end + 1;
        const size_t last = raw.find_last_not_of(kBlanks);
        const std::wstring line = last == std::wstring::npos ? std::wstring() : raw.substr(0, last + 1);
        if (line.empty()) {
            inObject = false;
        } else if (IsUnderline(line)) {
            inObject = true;
            identifier.clear();
        } else if (inObject && line.find_first_of(kBlanks) != 0) {
            const size_t gap = line.find_first_of(kBlanks);
            const size_t valueAt = gap == std::wstring::npos ? line.size() : line.find_first_not_of(kBlanks, gap);
            const std::wstring value = line.substr(valueAt);
            if (identifier.empty()) {
                if (value.size() < 2 || value.front() != L'{' || value.back() != L'}') {
                    inObject = false;
                    continue;
                }
                identifier = value.substr(1, value.size() - 2);
            } else if (value == description &&
                       std::find(found.begin(), found.end(), identifier) == found.end()) {
                found.push_back(identifier);
            }
        }
    }
    return found;
}

}  // namespace pemaker
