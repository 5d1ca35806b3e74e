#pragma once

#include "CommandLine.h"

namespace host {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// Loads the library beside this program, runs the chosen export, reports
// progress and, on failure, the log entries the call wrote.
int Run(const Options& options);

}  // namespace host
