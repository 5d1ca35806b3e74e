#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The images an ESD's XML describes: their names and sizes.
namespace host {

struct EsdImage {
    unsigned index = 0;
    std::wstring name;
    std::uint64_t bytes = 0;  // TOTALBYTES: the image's files, uncompressed
};

// The IMAGE elements of a WIM's XML, in their order (plain C++).
std::vector<EsdImage> ImagesOfWimXml(const std::wstring& xml);

// The images of the ESD at path; empty when its XML cannot be read.
std::vector<EsdImage> ReadEsdImages(const std::wstring& path);

// The image of that index, or null.
const EsdImage* FindImage(const std::vector<EsdImage>& images, unsigned index);

}  // namespace host
