// Mutates a real NTFS image with byte patches taken from the input, then
// mounts it, walks the tree and reads every file. The reader must return
// errors for whatever damage results, never crash, hang or overrun.
#include "Ntfs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> g_base;
uint64_t g_mftOffset = 0;

constexpr size_t kPatchSize = 5;       // region, three offset bytes, value
constexpr uint64_t kMftSpan = 128 * 1024;
constexpr unsigned kMaxDepth = 6;
constexpr unsigned kMaxEntries = 400;
constexpr uint64_t kMaxFileBytes = 1 << 20;

void Walk(const ntfs::Volume& volume, uint64_t record, unsigned depth, unsigned& budget, std::vector<uint8_t>& buffer)
{
    std::vector<ntfs::DirEntry> entries;
    if (depth > kMaxDepth || volume.ListDirectory(record, entries) != ntfs::Status::Ok) {
        return;
    }
    for (const ntfs::DirEntry& entry : entries) {
        if (budget == 0) {
            return;
        }
        --budget;
        if (entry.IsDirectory()) {
            Walk(volume, entry.record, depth + 1, budget, buffer);
            continue;
        }
        std::unique_ptr<ntfs::File> file;
        if (volume.OpenFile(entry.record, file) != ntfs::Status::Ok) {
            continue;
        }
        uint32_t got = 0;
        for (uint64_t offset = 0; offset < kMaxFileBytes; offset += got) {
            if (file->Read(offset, buffer.data(), static_cast<uint32_t>(buffer.size()), got) != ntfs::Status::Ok ||
                got == 0) {
                break;
            }
            if (got > buffer.size()) {
                std::abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* path = std::getenv("TW_FUZZ_IMAGE");
    std::ifstream in(path ? path : "", std::ios::binary);
    g_base.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (g_base.size() < 4096) {
        std::fprintf(stderr, "TW_FUZZ_IMAGE must name the base image\n");
        std::exit(1);
    }
    uint64_t mftLcn = 0;
    std::memcpy(&mftLcn, g_base.data() + 0x30, 8);
    const uint64_t clusterSize = static_cast<uint64_t>(g_base[0x0D]) * (g_base[0x0B] | (g_base[0x0C] << 8));
    g_mftOffset = mftLcn * clusterSize;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> image = g_base;
    const uint32_t sectorSize = size > 0 && (data[0] & 1) ? 4096 : 512;
    for (size_t at = 1; at + kPatchSize <= size; at += kPatchSize) {
        const uint64_t raw = data[at + 1] | (data[at + 2] << 8) | (static_cast<uint64_t>(data[at + 3]) << 16);
        uint64_t offset = 0;
        switch (data[at] % 4) {
        case 0:
            offset = raw % 512;
            break;
        case 1:
        case 2:
            offset = g_mftOffset + raw % kMftSpan;
            break;
        default:
            offset = raw;
            break;
        }
        image[offset % image.size()] = data[at + 4];
    }
    const ntfs::SectorReader reader = [&image, sectorSize](void* buffer, uint64_t first, uint32_t count) {
        const uint64_t begin = first * sectorSize;
        const uint64_t length = static_cast<uint64_t>(count) * sectorSize;
        if (first > image.size() || begin > image.size() || length > image.size() - begin) {
            return false;
        }
        std::memcpy(buffer, image.data() + begin, static_cast<size_t>(length));
        return true;
    };
    ntfs::Error error;
    std::unique_ptr<ntfs::Volume> volume = ntfs::Volume::Mount(reader, sectorSize, image.size() / sectorSize, error);
    if (!volume) {
        return 0;
    }
    std::vector<uint8_t> buffer(64 * 1024);
    unsigned budget = kMaxEntries;
    Walk(*volume, 5, 0, budget, buffer);
    ntfs::DirEntry entry;
    volume->Lookup(u"/Recovery/WindowsRE/winre.wim", entry);
    volume->Label();
    return 0;
}
