#include "CommandRunner.h"

#include "KillProcessTree.h"
#include "LogFile.h"
#include "OutputPipe.h"
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
    wchar_t commandLine[kCommandLineChars];
    BuildShellCommandLine(command, commandLine);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    ToolJob job;
    if (!job.Start(commandLine, CREATE_NO_WINDOW, nullptr, startup, info)) {
        TW_LOG(kRunCommandFunction, kLogCreateFailed, GetLastError());
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
    OutputPipe pipe;
    if (!pipe.Create()) {
        return false;
    }
    wchar_t commandLine[kCommandLineChars];
    BuildShellCommandLine(command, commandLine);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = pipe.write.Get();
    startup.hStdError = pipe.write.Get();
    PROCESS_INFORMATION info = {};
    ToolJob job;
    if (!job.Start(commandLine, CREATE_NO_WINDOW, workDir, startup, info)) {
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
