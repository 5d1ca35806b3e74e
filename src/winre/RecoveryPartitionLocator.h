#pragma once

#include <string>

// Runs "reagentc /info" and returns the raw device path of the recovery
// partition that its report names, or empty. Logs nothing.
std::string LocateRecoveryPartition();
