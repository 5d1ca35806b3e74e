#include "NtfsImage.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// The scratch folder of the test run, removed with its content at exit.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/tw-native-XXXXXX";
        if (mkdtemp(pattern)) {
            path = pattern;
        }
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string path;
};

}  // namespace

std::string ScratchDir()
{
    static const ScratchFolder folder;
    return folder.path;
}

std::string MakeHostFile(const std::string& name, size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    const std::string path = ScratchDir() + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string ReadHostFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

NtfsImage NtfsImage::Make(const std::string& name, unsigned sizeMib, unsigned clusterBytes,
                          const std::string& commands)
{
    NtfsImage image;
    image.path = ScratchDir() + "/" + name;
    const std::string recipe = image.path + ".commands";
    std::ofstream(recipe) << commands;
    const std::string command = std::string(TW_SOURCE_DIR) + "/scripts/make-ntfs-image.sh '" + image.path + "' " +
                                std::to_string(sizeMib) + " " + std::to_string(clusterBytes) + " < '" + recipe +
                                "' > '" + image.path + ".log' 2>&1";
    if (std::system(command.c_str()) == 0) {
        const std::string bytes = ReadHostFile(image.path);
        image.bytes.assign(bytes.begin(), bytes.end());
    }
    return image;
}

ntfs::SectorReader NtfsImage::Reader(uint32_t sectorSize)
{
    return [this, sectorSize](void* buffer, uint64_t first, uint32_t count) {
        ++calls;
        // Like a device opened without buffering: sector-aligned buffers only.
        if (reinterpret_cast<uintptr_t>(buffer) % sectorSize != 0) {
            return false;
        }
        const uint64_t offset = first * sectorSize;
        const uint64_t length = static_cast<uint64_t>(count) * sectorSize;
        if (offset > bytes.size() || length > bytes.size() - offset) {
            return false;
        }
        std::memcpy(buffer, bytes.data() + offset, static_cast<size_t>(length));
        return true;
    };
}
