#pragma once

#include "CommandLine.h"

#include <string>

// What the host settles before it loads the library: absolute paths, inputs
// make-pe would only fail on later, and the folder the library runs in.
namespace host {

// Resolves the path arguments against the folder tarnwick was started from.
void MakePathsAbsolute(Options& options);

// Why make-pe cannot build from these (absolute) paths; empty when it can.
std::wstring CheckMakePeInputs(const Options& options);

// Where make-pe --deliver iso writes: boot.iso in the (absolute) target folder.
std::wstring IsoPathIn(const std::wstring& folder);

// The ISO the command writes: <target>\boot.iso of make-pe --deliver iso,
// the ISO of esd-to-iso; empty for the others.
std::wstring IsoToReplace(const Options& options);

// Why the library could not, or should not without --force, write its result
// where the (absolute) paths say: make-pe --deliver iso into --target,
// esd-to-iso into ISO. Empty when it can.
std::wstring CheckOutputs(const Options& options);

// %LOCALAPPDATA%\Tarnwick, where the library works; empty without LOCALAPPDATA.
std::wstring WorkFolder();

// Makes the work folder (made if missing) current, so that no command writes
// into the installation. Returns why it could not, empty on success.
std::wstring EnterWorkFolder();

}  // namespace host
