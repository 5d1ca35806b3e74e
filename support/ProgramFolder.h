#pragma once

#include <string>

namespace plainwin {

// Folder of the running program, with a trailing backslash.
std::wstring ProgramFolder();

}  // namespace plainwin
