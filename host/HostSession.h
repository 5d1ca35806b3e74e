#pragma once

#include "CommandLine.h"
#include "HostConstants.h"

namespace host {

// Loads the library beside this program, runs the chosen export, reports
// progress and, on failure, the log entries the call wrote.
int Run(const Options& options);

}  // namespace host
