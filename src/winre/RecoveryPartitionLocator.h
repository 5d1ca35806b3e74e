#pragma once

#include <string>

// What running the recovery-environment tool gave.
struct ReagentRun {
    bool started = false;
    unsigned long error = 0;  // why no interpreter could be started
    std::string report;       // its standard output and error
};

// Runs "reagentc /info" and returns the raw device path of the recovery
// partition that its report names, or empty; run tells what the tool said.
// Logs nothing.
std::string LocateRecoveryPartition(ReagentRun& run);
