#include "ResultLine.h"

#include <cstdio>

namespace host {
namespace {

std::wstring Widened(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

std::string SizeText(unsigned long long bytes)
{
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    // 1023.96 MiB would print as 1024.0 MiB.
    while (value >= 1023.95 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        value /= 1024.0;
        ++unit;
    }
    char text[32] = {};
    std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
    return text;
}

std::wstring MadeLine(const wchar_t* what, const std::wstring& path, unsigned long long bytes)
{
    return std::wstring(what) + L": " + path + L" (" + Widened(SizeText(bytes)) + L")";
}

std::wstring DiskWrittenLine(unsigned long disk, unsigned long long bytes)
{
    return L"disk " + std::to_wstring(disk) + L" written: " + Widened(SizeText(bytes));
}

std::wstring ReplacingLine(const std::wstring& path, unsigned long long bytes, const SYSTEMTIME& written)
{
    wchar_t date[32] = {};
    std::swprintf(date, sizeof(date) / sizeof(date[0]), L"%04u-%02u-%02u %02u:%02u", written.wYear, written.wMonth,
                  written.wDay, written.wHour, written.wMinute);
    return L"replacing " + path + L" (" + Widened(SizeText(bytes)) + L", " + date + L")";
}

std::wstring ReplacingNotice(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    SYSTEMTIME utc = {};
    SYSTEMTIME local = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return std::wstring();
    }
    const unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return ReplacingLine(path, bytes, local);
}

void PrintLine(const std::wstring& line)
{
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace host
