#include "LogExcerpt.h"

#include <windows.h>

namespace host {
namespace {

const wchar_t kLogFile[] = L"tarnwick.log";

long long LogSize()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(kLogFile, GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

LogExcerpt::LogExcerpt() : m_start(LogSize()) {}

std::string LogExcerpt::Added(size_t maxLines) const
{
    HANDLE file = CreateFileW(kLogFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    LARGE_INTEGER offset;
    offset.QuadPart = m_start;
    std::string text;
    if (SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) {
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            text.append(buffer, got);
        }
    }
    CloseHandle(file);
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
