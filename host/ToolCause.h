#pragma once

#include <string>

// Why a tool of the conversion failed, in words, from its last output line.
namespace host {

// "<tool>: <words> (exit <code>)": the words of the first pattern of the
// table the line holds, else the line itself. tool is the program's file name.
std::string ToolCause(const std::string& tool, unsigned long exitCode, const std::string& lastLine);

// ToolCause of the last entry of a failed tool in the log text; empty when
// it holds none.
std::string ToolCauseInLog(const std::string& log);

}  // namespace host
