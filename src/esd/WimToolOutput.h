#pragma once

#include <string>

// Reading what the WIM tool prints.
namespace esd {

// The number after "Image Count:".
bool ImageCount(const std::wstring& line, unsigned& count);

}  // namespace esd
