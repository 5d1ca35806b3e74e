#include "RecoveryReport.h"

#include "WinreConstants.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Reads the digits right after a keyword with wrapping signed 32-bit
// arithmetic; false when no digit follows directly.
bool ReadNumber(const std::string& text, size_t at, int32_t& number)
{
    if (at >= text.size() || text[at] < '0' || text[at] > '9') {
        return false;
    }
    uint32_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10u + static_cast<uint32_t>(text[at] - '0');
    }
    number = static_cast<int32_t>(value);
    return true;
}

}  // namespace

std::string RecoveryPartitionFromReport(const std::string& report)
{
    if (report.empty()) {
        return std::string();
    }
    std::string lower(report);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    const size_t disk = lower.find(winre::kDiskKeyword);
    if (disk == std::string::npos) {
        return std::string();
    }
    const size_t partition = lower.find(winre::kPartitionKeyword, disk);
    if (partition == std::string::npos) {
        return std::string();
    }
    int32_t diskNumber = 0;
    int32_t partitionNumber = 0;
    if (!ReadNumber(lower, disk + std::strlen(winre::kDiskKeyword), diskNumber) ||
        !ReadNumber(lower, partition + std::strlen(winre::kPartitionKeyword), partitionNumber) ||
        diskNumber < 0 || partitionNumber < 0) {
        return std::string();
    }
    char path[winre::kDevicePathBufferSize] = {};
    std::snprintf(path, sizeof path, winre::kPartitionPathFormat, diskNumber, partitionNumber);
    return path;
}
