#pragma once

#include <string>
#include <vector>

namespace pemaker {

// The text between the first opening brace and the first closing brace after
// it; false when either is missing.
bool ParseBcdIdentifier(const std::wstring& output, std::wstring& identifier);

// The identifiers, without braces, of the objects in the output of
// "bcdedit /enum all" whose description is exactly description.
std::vector<std::wstring> FindDescribedBcdObjects(const std::wstring& output, const std::wstring& description);

}  // namespace pemaker
