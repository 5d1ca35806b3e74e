#pragma once

#include "Ntfs.h"

#include <cstdint>
#include <string>
#include <vector>

// A real NTFS image made by mkntfs and the image filler, held in memory.
struct NtfsImage {
    // Builds the image from filler commands; empty bytes on failure.
    static NtfsImage Make(const std::string& name, unsigned sizeMib, unsigned clusterBytes,
                          const std::string& commands);

    // A sector reader over the bytes that counts its calls.
    ntfs::SectorReader Reader(uint32_t sectorSize);

    std::string path;
    std::vector<uint8_t> bytes;
    unsigned calls = 0;
};

// A scratch file of pseudo-random bytes, made from a seed.
std::string MakeHostFile(const std::string& name, size_t size, unsigned seed);
std::string ReadHostFile(const std::string& path);
std::string ScratchDir();
