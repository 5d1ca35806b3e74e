// Any report text gives either nothing or a well-formed partition path.
#include "RecoveryReport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool Digits(const std::string& text, size_t& at)
{
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        ++at;
    }
    return at > start;
}

bool WellFormed(const std::string& path)
{
    const std::string disk = "\\\\.\\Harddisk";
    const std::string partition = "Partition";
    if (path.compare(0, disk.size(), disk) != 0) {
        return false;
    }
    size_t at = disk.size();
    if (!Digits(path, at) || path.compare(at, partition.size(), partition) != 0) {
        return false;
    }
    at += partition.size();
    return Digits(path, at) && at == path.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string report(reinterpret_cast<const char*>(data), size);
    const std::string path = RecoveryPartitionFromReport(report);
    if (!path.empty() && !WellFormed(path)) {
        std::abort();
    }
    return 0;
}
