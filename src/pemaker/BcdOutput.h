#pragma once

#include <string>

namespace pemaker {

// The text between the first opening brace and the first closing brace after
// it; false when either is missing.
bool ParseBcdIdentifier(const std::wstring& output, std::wstring& identifier);

}  // namespace pemaker
