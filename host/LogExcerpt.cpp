#include "LogExcerpt.h"

#include "FileText.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"

#include <windows.h>

namespace host {
namespace {

const wchar_t kLogFile[] = L"tarnwick.log";

}  // namespace

LogExcerpt::LogExcerpt() : m_path(FullPath(kLogFile)), m_start(static_cast<long long>(FileSize(m_path))) {}

std::string LogExcerpt::Added(size_t maxLines) const
{
    const UniqueHandle file(CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return std::string();
    }
    LARGE_INTEGER offset;
    offset.QuadPart = m_start;
    std::string text;
    if (SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN)) {
        plainwin::ReadToEnd(file.Get(), text);
    }
    return LastLines(text, maxLines);
}

std::string LastLines(const std::string& text, size_t maxLines)
{
    if (maxLines == 0) {
        return std::string();
    }
    // The final line break ends the last line; it does not start another one.
    size_t searchEnd = (!text.empty() && text.back() == '\n') ? text.size() - 1 : text.size();
    size_t count = 0;
    while (searchEnd > 0) {
        const size_t newline = text.rfind('\n', searchEnd - 1);
        if (newline == std::string::npos) {
            break;
        }
        if (++count == maxLines) {
            return text.substr(newline + 1);
        }
        searchEnd = newline;
    }
    return text;
}

}  // namespace host
