#pragma once

#include "CommandLine.h"

#include <string>

// Where the library will look for the tools a command runs.
namespace host {

// Appends this program's tools\ to the search path that the library and its
// children inherit, so that an installation that ships oscdimg.exe there
// works as it stands. Appended, not prepended: a program of the system's own
// comes first and none of ours can shadow it.
void AppendToolsToPath();

// Why a tool the command runs would not be found, naming the folders in the
// order they are searched; empty when every one is where it will be looked for.
// workFolder: the folder the library will work in.
std::wstring CheckTools(const Options& options, const std::wstring& workFolder);

}  // namespace host
