// Any bytes as an INF, with any answers about the files beside it: the
// reader gives a verdict of one line and never crashes, hangs or overruns,
// and ASCII text gets the same verdict in each encoding it may come in.
#include "InfPackage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The first byte chooses the answers: 0 every file exists, 1 none does,
// else one bit of a hash of the path, the same for the same path.
drivers::FileExists Answers(uint8_t choice)
{
    return [choice](const std::wstring& path) {
        uint32_t hash = 2166136261u;
        for (const wchar_t c : path) {
            hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
        }
        return choice == 0 || (choice != 1 && (hash >> (choice % 32) & 1) != 0);
    };
}

bool PlainAscii(const std::string& text)
{
    for (const char c : text) {
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string Utf16(const std::string& ascii)
{
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const drivers::FileExists exists = Answers(data[0]);
    const std::string inf(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string reason = drivers::UnusableReason(inf, exists);
    if (reason.find_first_of("\r\n") != std::string::npos) {
        std::abort();
    }
    if (PlainAscii(inf) && (drivers::UnusableReason("\xEF\xBB\xBF" + inf, exists) != reason ||
                            drivers::UnusableReason(Utf16(inf), exists) != reason)) {
        std::abort();
    }
    return 0;
}
