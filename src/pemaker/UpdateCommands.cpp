#include "UpdateCommands.h"

#include <cwctype>

std::wstring QuoteArg(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring MakeAddCommand(const std::wstring& source, const std::wstring& imagePath)
{
    return L"add " + QuoteArg(source) + L" " + QuoteArg(imagePath);
}

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

size_t LengthWithoutTrailingSeparators(const std::wstring& path)
{
    size_t n = path.size();
    while (n > 3 && IsSeparator(path[n - 1])) {
        --n;
    }
    return n;
}

}  // namespace

std::wstring WithoutTrailingSeparators(const std::wstring& path)
{
    return path.substr(0, LengthWithoutTrailingSeparators(path));
}

bool IsSameOrSubPath(const std::wstring& folder, const std::wstring& path)
{
    const size_t n = LengthWithoutTrailingSeparators(folder);
    const size_t m = path.size();
    if (m < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::towlower(folder[i]) != std::towlower(path[i])) {
            return false;
        }
    }
    return n == m || IsSeparator(path[n]);
}

namespace pemaker {

std::string EncodeUpdateCommand(const std::wstring& command)
{
    const std::wstring line = command + L"\r\n";
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (wchar_t c : line) {
        const unsigned unit = static_cast<unsigned>(c) & 0xFFFF;
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::wstring WimlibUpdateCommandLine(const std::wstring& tool, const std::wstring& wim, bool rebuild, bool quiet)
{
    std::wstring line = L"\"" + tool + L"\" update \"" + wim + L"\" 1";
    if (rebuild) {
        line += L" --rebuild";
    }
    line += quiet ? L" --no-acls --quiet" : L" --no-acls";
    return line;
}

}  // namespace pemaker
