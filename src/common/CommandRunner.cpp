#include "CommandRunner.h"

#include "ChildProcess.h"
#include "ErrorText.h"
#include "KillProcessTree.h"
#include "LogFile.h"
#include "OutputPipe.h"
#include "ProgramSearch.h"
#include "ToolJob.h"
#include "UniqueHandle.h"

#include <cwchar>

namespace runner {

void BuildShellCommandLine(const std::wstring& command, wchar_t (&buffer)[kCommandLineChars])
{
    // Cut rather than refused: no caller comes near the limit.
    std::wcsncpy(buffer, kShellPrefix, kCommandLineChars - 1);
    buffer[kCommandLineChars - 1] = L'\0';
    const size_t used = std::wcslen(buffer);
    std::wcsncat(buffer, command.c_str(), kCommandLineChars - 1 - used);
}

namespace {

// A run's command line and its child's environment.
struct PreparedRun {
    wchar_t commandLine[kCommandLineChars];
    std::wstring environment;
};

// The command, with a program of kSearchedPrograms named by its full path
// (firstFolder searched first), in the shell's command line, and the
// environment. False, logged under function, when that program is found
// nowhere: falling back to its bare name would let the interpreter take one
// from its current folder.
bool Prepare(const std::wstring& command, const wchar_t* firstFolder, const char* function, PreparedRun& run)
{
    const std::wstring name = command.substr(0, command.find(L' '));
    std::wstring named = command;
    for (const wchar_t* searched : kSearchedPrograms) {
        if (_wcsicmp(name.c_str(), searched) != 0) {
            continue;
        }
        const std::wstring path = FindProgram(name, firstFolder);
        if (path.empty()) {
            TW_LOG(function, kLogProgramNotFound, WideToAnsi(name).c_str());
            SetLastError(ERROR_FILE_NOT_FOUND);
            return false;
        }
        // Windows' /C takes off the first and last quote of a line with more
        // than two: one more pair around the whole line keeps the others.
        named = L"\"\"" + path + L"\"" + command.substr(name.size()) + L"\"";
        break;
    }
    run.environment = EnvironmentWith(kNoCurrentFolderVariable, kNoCurrentFolderValue);
    if (run.environment.empty()) {
        TW_LOG(function, kLogCreateFailed, ErrorTextAnsi(GetLastError()).c_str());
        return false;
    }
    BuildShellCommandLine(named, run.commandLine);
    return true;
}

// Waits for the process for limitMs; with a watch, in slices between which it
// is asked whether to go on (false: watch->stopped set, WAIT_FAILED).
DWORD WaitWatched(HANDLE process, DWORD limitMs, ToolWatch* watch)
{
    if (!watch) {
        return WaitForSingleObject(process, limitMs);
    }
    const ULONGLONG deadline = DeadlineAfter(limitMs);
    for (;;) {
        const DWORD left = RemainingMs(deadline);
        const DWORD waited = WaitForSingleObject(process, left < kWatchIntervalMs ? left : kWatchIntervalMs);
        if (waited != WAIT_TIMEOUT || left <= kWatchIntervalMs) {
            return waited;
        }
        if (!watch->keepGoing()) {
            watch->stopped = true;
            return WAIT_FAILED;
        }
    }
}

}  // namespace

bool RunCommand(const std::wstring& command, DWORD limitMs, ToolWatch* watch)
{
    PreparedRun run;
    if (!Prepare(command, nullptr, kRunCommandFunction, run)) {
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    ToolJob job;
    if (!job.Start(run.commandLine, CREATE_NO_WINDOW, nullptr, startup, info, &run.environment[0])) {
        TW_LOG(kRunCommandFunction, kLogCreateFailed, ErrorTextAnsi(GetLastError()).c_str());
        return false;
    }
    ProcessHandles child;
    child.Adopt(info);

    const DWORD waited = WaitWatched(child.process.Get(), limitMs, watch);
    if (watch && watch->stopped) {
        job.EndAll();
        return false;
    }
    if (waited == WAIT_TIMEOUT) {
        TW_LOG(kRunCommandFunction, kLogTimeoutKill, info.dwProcessId, limitMs, WideToAnsi(command).c_str());
        KillProcessTree(info.dwProcessId);
        // The walk misses what left the tree; nothing leaves the job, and
        // the call goes on only once all of it has ended.
        job.EndAll();
        return false;
    }
    DWORD exitCode = 1;
    return GetExitCodeProcess(child.process.Get(), &exitCode) && exitCode == 0;
}

bool RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                          DWORD limitMs, DWORD* exitCode, ToolWatch* watch)
{
    PreparedRun run;
    if (!Prepare(command, workDir, kRunWithOutputFunction, run)) {
        return false;
    }
    OutputPipe pipe;
    if (!pipe.Create()) {
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = pipe.write.Get();
    startup.hStdError = pipe.write.Get();
    PROCESS_INFORMATION info = {};
    ToolJob job;
    if (!job.Start(run.commandLine, CREATE_NO_WINDOW, workDir, startup, info, &run.environment[0])) {
        return false;
    }
    ProcessHandles child;
    child.Adopt(info);
    pipe.write.Reset();

    // The time limit covers the reading as well as the wait that follows it.
    const ULONGLONG deadline = DeadlineAfter(limitMs);
    output.clear();
    const bool readInTime = ReadOutputUntil(pipe.read.Get(), child.process.Get(), output, deadline, watch);
    if (watch && watch->stopped) {
        job.EndAll();
        return false;
    }
    if (!readInTime || WaitForSingleObject(child.process.Get(), RemainingMs(deadline)) == WAIT_TIMEOUT) {
        TW_LOG(kRunWithOutputFunction, kLogOutputTimeout);
        job.EndAll();
        return false;
    }
    DWORD code = 1;
    if (!GetExitCodeProcess(child.process.Get(), &code)) {
        return false;
    }
    if (exitCode) {
        *exitCode = code;
    }
    return code == 0;
}

}  // namespace runner
