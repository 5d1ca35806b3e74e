#pragma once

#include <string>

namespace host {

// While it lives, Ctrl+C and Ctrl+Break end the process with kExitCancelled
// after printing text on standard error and deleting the file named by
// unfinished (if any): for waits and calls that cannot be stopped midway.
class CancelExit {
public:
    explicit CancelExit(const char* text, const std::wstring& unfinished = std::wstring());
    ~CancelExit();
    CancelExit(const CancelExit&) = delete;
    CancelExit& operator=(const CancelExit&) = delete;
};

}  // namespace host
