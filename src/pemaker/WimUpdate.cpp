// WIM edits through update command files handed to the WIM tool.
#include "PEMaker.h"

#include "BoundedText.h"
#include "TempFile.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"
#include "common/OutputPipe.h"
#include "common/ProgramSearch.h"
#include "common/ToolJob.h"
#include "common/UniqueHandle.h"

bool CPEMaker::_UpdateWIM(const std::vector<std::wstring>& commands, bool rebuild)
{
    if (commands.empty()) {
        return true;
    }
    wchar_t toolPath[pemaker::kPathChars] = {};
    if (!_FindWimlibPath(toolPath)) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogNoWimlib);
        return false;
    }
    TempFile commandFile;
    if (!_CreateUpdateCommandFile(commands, commandFile.Buffer())) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogNoCommandFile);
        return false;
    }
    std::wstring output;
    const wchar_t* const wim = _EditedWim();
    // A watched run reads the tool's progress, which --quiet would silence.
    const std::wstring config = m_pFlow ? m_pFlow->captureConfig : std::wstring();
    if (_RunWimTool(pemaker::WimlibUpdateCommandLine(toolPath, wim, rebuild, !_Watch(), config), commandFile.Path(),
                    output)) {
        return true;
    }
    if (_Stopped()) {
        return false;
    }
    TW_LOG(pemaker::kUpdateFunction, pemaker::kLogUpdateFailed, WideToAnsi(wim).c_str(),
           WideToAnsi(output).c_str());
    for (size_t index = 0; index < commands.size(); ++index) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogUpdateCommand, static_cast<unsigned>(index),
               WideToAnsi(commands[index]).c_str());
    }
    return false;
}

bool CPEMaker::_FindWimlibPath(wchar_t* buffer)
{
    if (!buffer) {
        return false;
    }
    const std::wstring program = FirstFileOf(RelativeProgramPlaces(pemaker::kWimlibRelativePath));
    CopyBounded(buffer, pemaker::kPathChars, program.c_str());
    return !program.empty() && program.size() < pemaker::kPathChars;
}

bool CPEMaker::_CreateUpdateCommandFile(const std::vector<std::wstring>& commands, wchar_t* buffer)
{
    if (commands.empty() || !buffer) {
        return false;
    }
    const std::wstring folder = _TempFolder();
    if (folder.empty() || GetTempFileNameW(folder.c_str(), pemaker::kUpdateFilePrefix, 0, buffer) == 0) {
        return false;
    }
    UniqueHandle file(CreateFileW(buffer, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                                  nullptr));
    if (!file.Valid()) {
        return false;
    }
    for (const std::wstring& command : commands) {
        const std::string bytes = pemaker::EncodeUpdateCommand(command);
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            return false;
        }
    }
    return true;
}

bool CPEMaker::_OptimizeWIM()
{
    wchar_t toolPath[pemaker::kPathChars] = {};
    if (!_FindWimlibPath(toolPath)) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogNoWimlib);
        return false;
    }
    const wchar_t* const wim = _EditedWim();
    std::wstring output;
    if (_RunWimTool(pemaker::WimlibOptimizeCommandLine(toolPath, wim), nullptr, output)) {
        return true;
    }
    if (!_Stopped()) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogOptimizeFailed, WideToAnsi(wim).c_str(),
               WideToAnsi(output).c_str());
    }
    return false;
}

bool CPEMaker::_RunWimTool(const std::wstring& commandLine, const wchar_t* inputFile, std::wstring& output)
{
    OutputPipe pipe;
    if (!pipe.Create()) {
        return false;
    }
    SECURITY_ATTRIBUTES inheritable = InheritableAttributes();
    UniqueHandle input;
    if (inputFile) {
        input.Reset(CreateFileW(inputFile, GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!input.Valid()) {
            return false;
        }
    }
    ToolWatch* const watch = _Watch();
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input.Get();
    startup.hStdOutput = pipe.write.Get();
    startup.hStdError = pipe.write.Get();
    PROCESS_INFORMATION info = {};
    ToolJob job;
    if (!job.Start(writable.data(), CREATE_NO_WINDOW, nullptr, startup, info)) {
        return false;
    }
    ProcessHandles child;
    child.Adopt(info);
    pipe.write.Reset();
    input.Reset();

    // The limit covers the reading and the wait. A tool cut off there is
    // ended before the call goes on, to put the image back.
    const ULONGLONG deadline = DeadlineAfter(pemaker::kWimlibTimeoutMs);
    output.clear();
    const bool readInTime = ReadOutputUntil(pipe.read.Get(), child.process.Get(), output, deadline, watch);
    if (!readInTime ||
        WaitForSingleObject(child.process.Get(), RemainingMs(deadline)) == WAIT_TIMEOUT) {
        job.EndAll();
        return false;
    }
    DWORD exitCode = 1;
    return GetExitCodeProcess(child.process.Get(), &exitCode) && exitCode == 0;
}
