#pragma once

#include <string>

// A Win32 error code as statuses and log lines give it: the code in unsigned
// decimal, then the system's text for it in parentheses, as in
// "3 (The system cannot find the path specified.)"; the code alone when the
// system has no text for it.
std::wstring ErrorText(unsigned long code);
// The same in the system ANSI code page, for log entries.
std::string ErrorTextAnsi(unsigned long code);
