#pragma once

#include "TarnwickMedia.h"

#include <cstdint>

// Records to the host's sink. A null sink receives nothing and never cancels.
namespace progress {

constexpr uint32_t kRecordType = 32;
constexpr uint32_t kStateProgress = 2;
constexpr uint32_t kStateFailure = 3;
constexpr uint64_t kTotal = 100;
constexpr size_t kMessageBytes = 255;

// Current and total both 0 make a failure record.
void Report(IProgressSink* sink, uint64_t current, uint64_t total, const char* message);
bool ShouldContinue(IProgressSink* sink);

}  // namespace progress
