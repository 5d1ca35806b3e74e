#pragma once

#include <string>

// The entries a call added to "tarnwick.log" in the current folder.
namespace host {

class LogExcerpt {
public:
    LogExcerpt();
    // What was appended since construction, at most maxLines lines (the last ones).
    std::string Added(size_t maxLines = 20) const;
    // Full path of the log, fixed at construction.
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
    long long m_start;
};

// The last maxLines lines of text (plain C++, for tests).
std::string LastLines(const std::string& text, size_t maxLines);

}  // namespace host
