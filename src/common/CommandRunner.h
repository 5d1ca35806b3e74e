#pragma once

#include "RunnerConstants.h"
#include "ToolWatch.h"

#include <windows.h>

#include <string>

// Runs commands through "cmd.exe /C " as hidden child processes. These are the
// builder's runners; they log under its function names and use nothing of it.
namespace runner {

// Each command runs in a job of its own (ToolJob.h), which ends with the call.
// A command that begins with a program of kSearchedPrograms names it by the
// full path FindProgram gives (a run's working folder first); one found
// nowhere fails the run, logged. Every child gets kNoCurrentFolderVariable.

// True only if the command ended within limitMs with exit code 0. On the time
// limit the whole process tree is ended, and the job with it. A watch that
// says stop ends the job (watch->stopped set) and the run fails.
bool RunCommand(const std::wstring& command, DWORD limitMs, ToolWatch* watch = nullptr);

// Same, with standard output and error captured into output (cleared first;
// left untouched when the pipe or the process cannot be made). workDir may be
// null. On the time limit the job is ended. exitCode, when given,
// receives the exit code of a child that ended and is left untouched otherwise.
bool RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                          DWORD limitMs, DWORD* exitCode = nullptr, ToolWatch* watch = nullptr);

// "cmd.exe /C " and the command in a 2080-character buffer; a longer command
// is cut to what fits.
void BuildShellCommandLine(const std::wstring& command, wchar_t (&buffer)[kCommandLineChars]);

}  // namespace runner
