#pragma once

#include <cstdint>
#include <string>

// Turns progress and failure records into console text: a bar redrawn in
// place on a terminal, plain lines when the output is redirected.
namespace host {

struct ProgressRecord {
    bool failure = false;
    std::uint64_t current = 0;
    std::uint64_t total = 0;
    std::string message;
};

struct ConsoleText {
    std::string out;  // for standard output
    std::string err;  // for standard error
};

class ProgressBar {
public:
    explicit ProgressBar(bool terminal) : m_terminal(terminal) {}

    ConsoleText Update(const ProgressRecord& record);
    // Ends a bar that is still on its line.
    std::string Finish();

    static constexpr int kWidth = 40;

private:
    bool m_terminal;
    bool m_barOnLine = false;
    int m_lastPercent = -1;
};

}  // namespace host
