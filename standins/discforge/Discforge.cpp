// Stand-in for the boot-disk library Discforge.dll: writes the ISO's bytes to
// \\.\PhysicalDrive<disk> (in tests a file, through a Wine dosdevices link)
// and reports its progress to the host's sink.
#include "TarnwickMedia.h"

#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kChunkBytes = 1 << 20;

void Report(IProgressSink* sink, uint64_t done, uint64_t total)
{
    if (!sink) {
        return;
    }
    ProgressInfo info;
    std::memset(&info, 0, sizeof(info));
    info.type = 32;
    info.state = 2;
    info.total = 100;
    info.current = total == 0 ? 100 : done * 100 / total;
    sink->OnProgress(&info);
}

}  // namespace

extern "C" __declspec(dllexport) bool CreateWindowsBootDisk(const wchar_t* isoPath, int diskNumber,
                                                            IProgressSink* sink)
{
    if (!isoPath || diskNumber < 0) {
        return false;
    }
    const UniqueHandle iso(CreateFileW(isoPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring device = L"\\\\.\\PhysicalDrive" + std::to_wstring(diskNumber);
    const UniqueHandle disk(CreateFileW(device.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    // An empty file (what a scripted ISO tool leaves) is no image to write.
    if (!iso.Valid() || !disk.Valid() || !GetFileSizeEx(iso.Get(), &size) || size.QuadPart == 0) {
        return false;
    }
    const uint64_t total = static_cast<uint64_t>(size.QuadPart);
    uint64_t done = 0;
    std::vector<char> buffer(kChunkBytes);
    Report(sink, 0, total);
    while (done < total) {
        DWORD got = 0;
        if (!ReadFile(iso.Get(), buffer.data(), kChunkBytes, &got, nullptr) || got == 0) {
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(disk.Get(), buffer.data(), got, &written, nullptr) || written != got) {
            return false;
        }
        done += got;
        Report(sink, done, total);
    }
    FlushFileBuffers(disk.Get());
    return true;
}
