// Tool execution and the work folder of the ESD converter.
#include "EsdConverter.h"

#include "EsdConstants.h"
#include "../common/LogFile.h"
#include "../common/RemoveTree.h"
#include "../common/UniqueHandle.h"

#include <process.h>
#include <time.h>

#include <cstdlib>
#include <vector>

namespace {

std::wstring CannotExecute(DWORD error)
{
    return esd::kStatusCannotExecute + std::to_wstring(error) + L")";
}

}  // namespace

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

    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        m_statusMessage = CannotExecute(GetLastError());
        return false;
    }
    ProcessHandles process;
    process.Adopt(info);

    if (WaitForSingleObject(process.process.Get(), s_commandTimeoutMs) == WAIT_TIMEOUT) {
        TW_LOG("CESDConverter::runCommand", esd::kLogTimeout);
        // The ending goes on after the call returns; the work folder is
        // removed next, and a tool still writing into it would keep it.
        s_endProcess(process.process.Get(), esd::kTimedOutExitCode);
        WaitForSingleObject(process.process.Get(), esd::kEndedToolWaitMs);
        m_statusMessage = esd::kStatusTimedOut;
        return false;
    }

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.process.Get(), &exitCode)) {
        m_statusMessage = CannotExecute(GetLastError());
        return false;
    }
    if (exitCode == 0) {
        return true;
    }
    m_statusMessage = esd::kStatusExitCode + std::to_wstring(exitCode) + esd::kStatusCommandSuffix +
                      std::wstring(commandLine.data());
    return false;
}

// If the temporary folder cannot be read, no folder is made and the caller
// gets the empty string, which it reports as its own failure.
std::wstring CESDConverter::createTempDirectory()
{
    srand(static_cast<unsigned int>(time(nullptr)));
    wchar_t tempPath[esd::kTempPathChars] = {};
    const DWORD length = GetTempPathW(esd::kTempPathChars, tempPath);
    if (length == 0 || length >= esd::kTempPathChars) {
        return std::wstring();
    }
    const std::wstring path = std::wstring(tempPath) + esd::kWorkFolderPrefix + std::to_wstring(rand());
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        return std::wstring();
    }
    return path;
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
