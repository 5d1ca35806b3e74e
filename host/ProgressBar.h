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
    // cursorHome: on a terminal the bar ends with CR, so that the next line
    // written (a longer one) replaces it.
    explicit ProgressBar(bool terminal, bool cursorHome = false) : m_terminal(terminal), m_cursorHome(cursorHome) {}

    ConsoleText Update(const ProgressRecord& record);
    // Ends a bar that is still on its line.
    std::string Finish();

    static constexpr int kWidth = 40;

private:
    bool m_terminal;
    bool m_cursorHome;
    bool m_barOnLine = false;
    int m_lastPercent = -1;
};

}  // namespace host
