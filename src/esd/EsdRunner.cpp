// Tool execution and the work folder of the ESD converter.
#include "EsdConverter.h"

#include "EsdCommandLines.h"
#include "EsdConstants.h"
#include "WimToolOutput.h"
#include "../common/ToolOutputLines.h"
#include "../common/ErrorText.h"
#include "../common/LogFile.h"
#include "../common/OutputPipe.h"
#include "../common/ProgramSearch.h"
#include "../common/RemoveTree.h"
#include "../common/ToolJob.h"
#include "../common/UniqueHandle.h"
#include "../common/WorkFolder.h"

#include <process.h>
#include <time.h>

#include <cstdlib>
#include <vector>

namespace {

std::wstring CannotExecute(DWORD error)
{
    return esd::kStatusCannotExecute + ErrorText(error) + L")";
}

// The file name of a command line's first, quoted token.
std::wstring ToolName(const std::wstring& command)
{
    const size_t end = command.find(L'"', 1);
    const std::wstring path = command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    return path.substr(path.find_last_of(L"\\/") + 1);
}

}  // namespace

std::wstring CESDConverter::toolProgram(const std::wstring& tool)
{
    return FirstFileOf(RelativeProgramPlaces(tool));
}

// The program runs by the full path of the search the conversion's checks
// made: what was checked is what runs, and nothing else is looked for.
bool CESDConverter::startTool(ToolJob& job, std::vector<wchar_t>& commandLine, const STARTUPINFOW& startup,
                              PROCESS_INFORMATION& info)
{
    const std::wstring program = toolProgram(esd::ProgramOf(commandLine.data()));
    if (program.empty()) {
        m_statusMessage = CannotExecute(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!job.Start(commandLine.data(), CREATE_NO_WINDOW, nullptr, startup, info, nullptr, program.c_str())) {
        m_statusMessage = CannotExecute(GetLastError());
        return false;
    }
    return true;
}

bool CESDConverter::runCommand(const std::wstring& command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};

    // Process creation may write into its command-line buffer.
    std::vector<wchar_t> commandLine(command.c_str(), command.c_str() + command.size() + 1);

    ToolJob job;
    if (!startTool(job, commandLine, startup, info)) {
        return false;
    }
    ProcessHandles process;
    process.Adopt(info);

    if (WaitForSingleObject(process.process.Get(), s_commandTimeoutMs) == WAIT_TIMEOUT) {
        return timedOut(job);
    }
    return finishRun(process.process.Get(), commandLine);
}

// The work folder is removed next: the tool and whatever it started must be
// gone first, or they would go on writing into it.
bool CESDConverter::timedOut(ToolJob& job)
{
    TW_LOG("CESDConverter::runCommand", esd::kLogTimeout);
    job.EndAll();
    m_statusMessage = esd::kStatusTimedOut;
    return false;
}

// The outcome of a run whose tool has ended.
bool CESDConverter::finishRun(HANDLE process, const std::vector<wchar_t>& commandLine)
{
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) {
        m_statusMessage = CannotExecute(GetLastError());
        return false;
    }
    if (exitCode == 0) {
        return true;
    }
    // The stage's status may replace the runner's text; the log keeps the tool's own words.
    if (m_watched) {
        TW_LOG("CESDConverter::runWatchedCommand", esd::kLogToolFailed, WideToAnsi(ToolName(commandLine.data())).c_str(),
               exitCode, WideToAnsi(m_lastLine).c_str());
    }
    m_statusMessage = esd::kStatusExitCode + std::to_wstring(exitCode) + esd::kStatusCommandSuffix +
                      std::wstring(commandLine.data());
    return false;
}

bool CESDConverter::runWatchedCommand(const std::wstring& command)
{
    OutputPipe pipe;
    if (!pipe.Create()) {
        m_statusMessage = CannotExecute(GetLastError());
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = pipe.write.Get();
    startup.hStdError = pipe.write.Get();
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> commandLine(command.c_str(), command.c_str() + command.size() + 1);
    ToolJob job;
    if (!startTool(job, commandLine, startup, info)) {
        return false;
    }
    ProcessHandles process;
    process.Adopt(info);
    // Ours must go, or the pipe would never end.
    pipe.write.Reset();

    m_lastLine.clear();
    runner::ToolOutputLines lines([this](const std::wstring& line) { onToolLine(line); });
    // Reads at most limit bytes, of those already in the pipe: never blocks.
    const auto readWaiting = [&pipe, &lines](DWORD limit) {
        char buffer[esd::kReadBytes];
        DWORD got = 0;
        const DWORD wanted = limit < sizeof(buffer) ? limit : static_cast<DWORD>(sizeof(buffer));
        if (!ReadFile(pipe.read.Get(), buffer, wanted, &got, nullptr) || got == 0) {
            return DWORD{0};
        }
        lines.Append(buffer, got);
        return got;
    };
    ULONGLONG lastOutput = GetTickCount64();
    ULONGLONG nextCheck = lastOutput + esd::kCancelCheckMs;
    bool ended = false;
    for (;;) {
        const DWORD waiting = ended ? 0 : BytesWaiting(pipe.read.Get(), ended);
        if (waiting > 0 && readWaiting(waiting) > 0) {
            lastOutput = GetTickCount64();
            // A process the tool left behind may keep the pipe busy.
            if (WaitForSingleObject(process.process.Get(), 0) == WAIT_OBJECT_0) {
                break;
            }
        } else if (WaitForSingleObject(process.process.Get(), esd::kOutputPollMs) == WAIT_OBJECT_0) {
            break;
        }
        const ULONGLONG now = GetTickCount64();
        if (m_sink && now >= nextCheck) {
            nextCheck = now + esd::kCancelCheckMs;
            if (!goOn()) {
                job.EndAll();
                return false;
            }
        }
        if (now - lastOutput >= s_commandTimeoutMs) {
            return timedOut(job);
        }
    }
    // Everything the tool wrote is in the pipe once it has ended; what a
    // process it left behind writes later is not waited for.
    DWORD left = ended ? 0 : BytesWaiting(pipe.read.Get(), ended);
    while (left > 0) {
        const DWORD got = readWaiting(left);
        left = got > 0 ? left - got : 0;
    }
    lines.Finish();
    return finishRun(process.process.Get(), commandLine);
}

// If the temporary folder cannot be read, no folder is made and the caller
// gets the empty string, which it reports as its own failure. Conversions
// started in the same second draw the same numbers: a name that is taken is
// drawn again, so the next one takes the next number. The lock is taken at
// once: until then another call's reclaim leaves the folder alone, as it has
// no lock file.
std::wstring CESDConverter::createTempDirectory(WorkFolderLock& lock)
{
    srand(static_cast<unsigned int>(time(nullptr)));
    wchar_t tempPath[esd::kTempPathChars] = {};
    const DWORD length = GetTempPathW(esd::kTempPathChars, tempPath);
    if (length == 0 || length >= esd::kTempPathChars) {
        return std::wstring();
    }
    for (unsigned draw = 0; draw < esd::kWorkFolderDraws; ++draw) {
        const std::wstring path = std::wstring(tempPath) + esd::kWorkFolderPrefix + std::to_wstring(rand());
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            if (lock.Take(path)) {
                return path;
            }
            RemoveDirectoryW(path.c_str());
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return std::wstring();
}

void CESDConverter::removeTempDirectory(const std::wstring& path)
{
    if (path.empty()) {
        return;
    }
    const std::wstring command = L"rmdir /s /q \"" + path + L"\"";
    _wsystem(command.c_str());
    // The interpreter expands %NAME% inside the quotes too, so its rmdir can
    // miss a folder whose path holds one.
    RemoveTree(path);
}
