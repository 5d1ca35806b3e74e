#include "BcdOutput.h"

namespace pemaker {

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

}  // namespace pemaker
