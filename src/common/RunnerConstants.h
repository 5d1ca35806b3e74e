#pragma once

#include <windows.h>

// Fixed values of the command runner of the WinPE builder.
namespace runner {

constexpr const wchar_t* kShellPrefix = L"cmd.exe /C ";
constexpr size_t kCommandLineChars = 2080;

// The tools the runners name by their full path: the interpreter would look
// for them in its current folder before PATH. A run's own working folder
// (the PE folder, for the ISO tool) is searched first.
constexpr const wchar_t* kSearchedPrograms[] = {L"ROBOCOPY", L"bcdedit", L"shutdown", L"oscdimg.exe"};
// The longest path the system gives for a module.
constexpr size_t kLongPathChars = 32768;
constexpr const wchar_t* kDefaultPathExt = L".COM;.EXE;.BAT;.CMD";
// Set in every child's environment: Windows' interpreter then leaves its
// current folder out of its own search too.
constexpr const wchar_t* kNoCurrentFolderVariable = L"NoDefaultCurrentDirectoryInExePath";
constexpr const wchar_t* kNoCurrentFolderValue = L"1";
constexpr DWORD kReadPieceBytes = 4095;
constexpr size_t kReadBufferBytes = 4096;

// Output beyond this many bytes is read and dropped.
constexpr size_t kMaxDecodedOutputBytes = 1048576;

// How long the output pipe may stay open after the child has ended.
constexpr DWORD kEndedChildGraceMs = 1000;

// Polling interval while waiting for output that has not arrived yet.
constexpr DWORD kOutputPollMs = 5;

// The longest system text of an error code that a status or log line takes.
constexpr DWORD kErrorTextChars = 512;

constexpr DWORD kKillWaitMs = 5000;
constexpr UINT kKilledExitCode = 1;

// How long ending a tool's job may take before the caller goes on anyway,
// and how often the job is looked at meanwhile.
constexpr DWORD kJobEndWaitMs = 5000;
constexpr DWORD kJobEndPollMs = 10;

// What a tool's output is read for: lines, at most this long, and the WIM
// tool's "... file data: X MiB of Y MiB (NN%) done" progress.
constexpr size_t kMaxLineChars = 1024;
constexpr const wchar_t* kFileDataMarker = L"file data:";
constexpr unsigned kFullPercent = 100;
constexpr size_t kMaxPercentDigits = 3;

// A watched run asks whether to go on at least this often (hosts are
// promised 250 ms).
constexpr DWORD kWatchIntervalMs = 150;

constexpr const char* kRunCommandFunction = "CPEMaker::_RunCommand";
constexpr const char* kRunWithOutputFunction = "CPEMaker::_RunCommandWithOutput";
constexpr const char* kLogCreateFailed = "PEMaker:RunCommand: CreateProcess failed, error code: %s";
constexpr const char* kLogTimeoutKill =
    "PEMaker:RunCommand: command timeout, terminating process tree. pid=%lu, timeout=%lu, command=%s";
constexpr const char* kLogProgramNotFound = "PEMaker:RunCommand: program not found: %s";
constexpr const char* kLogOutputTimeout = "PEMaker:_RunCommandWithOutput: command timeout";

}  // namespace runner
