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

void AppendUtf8(std::string& text, unsigned code)
{
    if (code < 0x80) {
        text += static_cast<char>(code);
        return;
    }
    if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    text += static_cast<char>(0x80 | (code & 0x3F));
}

// UTF-16 units (surrogate pairs joined) as UTF-8.
std::string Utf8(const std::wstring& text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned code = static_cast<unsigned>(text[i]) & 0xFFFF;
        const unsigned next = i + 1 < text.size() ? static_cast<unsigned>(text[i + 1]) & 0xFFFF : 0;
        if (code >= 0xD800 && code < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        AppendUtf8(bytes, code);
    }
    return bytes;
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

std::wstring WimlibUpdateCommandLine(const std::wstring& tool, const std::wstring& wim, bool rebuild, bool quiet,
                                     const std::wstring& config)
{
    std::wstring line = L"\"" + tool + L"\" update \"" + wim + L"\" 1";
    if (rebuild) {
        line += L" --rebuild";
    }
    line += quiet ? L" --no-acls --quiet" : L" --no-acls";
    if (!config.empty()) {
        line += L" --config=\"" + config + L"\"";
    }
    return line;
}

std::wstring WimlibOptimizeCommandLine(const std::wstring& tool, const std::wstring& wim)
{
    return L"\"" + tool + L"\" optimize \"" + wim + L"\"";
}

std::string ExclusionConfig(const std::vector<std::wstring>& excluded)
{
    std::string text = "[ExclusionList]\r\n";
    for (const std::wstring& path : excluded) {
        text += Utf8(path) + "\r\n";
    }
    return text;
}

}  // namespace pemaker
