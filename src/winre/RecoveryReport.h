#pragma once

#include <string>

// The raw partition device path "\\.\HarddiskNPartitionM" of the recovery
// location that a recovery-environment report names, or empty when the
// report names none. Pure: depends on nothing but the text.
std::string RecoveryPartitionFromReport(const std::string& report);
