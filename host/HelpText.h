#pragma once

#include "CommandLine.h"

#include <string>

namespace host {

// What --help prints: for make-pe, configure-boot-wim, esd-to-iso or
// extract-winre that command's usage and options only, else all of it with
// the tools, the log and the exit codes.
std::wstring HelpText(Command command);

}  // namespace host
