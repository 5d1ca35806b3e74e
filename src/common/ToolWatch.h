#pragma once

#include <functional>
#include <string>

// What a watched run does while its tool runs: the host is asked whether to
// go on, and the tool's output is read line by line as it comes.
struct ToolWatch {
    // Asked at least every runner::kWatchIntervalMs; false ends the tool's job.
    std::function<bool()> keepGoing;
    // Each complete line of the output; the captured output keeps only the
    // lines for which it answers true. Unset: the output is captured whole.
    std::function<bool(const std::wstring& line)> onLine;
    // Set by the runner when keepGoing ended the run.
    bool stopped = false;
};
