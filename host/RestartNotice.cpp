#include "RestartNotice.h"

#include "HostSession.h"

#include "common/ProgramSearch.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstdio>

namespace host {
namespace {

// Runs "shutdown /a"; empty when it took effect, else why not.
std::string AbortRestart()
{
    const std::wstring program = FindProgram(kShutdownProgram);
    if (program.empty()) {
        return "not found";
    }
    std::wstring commandLine = L"\"" + program + L"\"" + kAbortArguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return "error " + std::to_string(GetLastError());
    }
    ProcessHandles child;
    child.Adopt(info);
    DWORD exitCode = 0;
    if (WaitForSingleObject(child.process.Get(), kAbortLimitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child.process.Get(), &exitCode)) {
        return "no answer";
    }
    return exitCode == 0 ? std::string() : "exit code " + std::to_string(exitCode);
}

}  // namespace

std::string MadeBootEntry(const std::string& log)
{
    const size_t at = log.rfind(kEntryMadeLogText);
    if (at == std::string::npos) {
        return std::string();
    }
    const size_t start = at + sizeof(kEntryMadeLogText) - 1;
    const size_t end = log.find('}', start);
    return end == std::string::npos ? std::string() : log.substr(start, end - start);
}

int AwaitRestart(const std::string& entryId, const std::function<bool()>& stopRequested)
{
    std::printf(kEntryMadeFormat, entryId.c_str());
    std::fputs(kRestartDelayText, stdout);
    std::fflush(stdout);
    // Windows counts the delay from the library's order, a moment earlier.
    for (unsigned long waited = 0; waited < kRestartDelayMs; waited += kRestartPollMs) {
        if (stopRequested()) {
            const std::string failure = AbortRestart();
            if (!failure.empty()) {
                std::fprintf(stderr, kAbortFailedFormat, failure.c_str());
                return kExitFailure;
            }
            std::fprintf(stderr, kRestartStoppedFormat, entryId.c_str());
            return kExitCancelled;
        }
        Sleep(kRestartPollMs);
    }
    std::printf(kRestartingFormat, entryId.c_str());
    std::fflush(stdout);
    return kExitSuccess;
}

}  // namespace host
