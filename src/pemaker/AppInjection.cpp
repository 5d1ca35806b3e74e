// Putting the host application into the working WIM and making WinPE start it.
#include "PEMaker.h"

#include "BoundedText.h"
#include "StagingFolders.h"
#include "TempFile.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"
#include "common/UniqueHandle.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The entry is compared as given; CreatePE hands over entries without
// trailing separators.
bool HoldsStartup(const std::wstring& entry, const wchar_t* startupExe, const wchar_t*& rest)
{
    const size_t length = entry.size();
    if (std::wcslen(startupExe) < length || _wcsnicmp(startupExe, entry.c_str(), length) != 0) {
        return false;
    }
    const wchar_t next = startupExe[length];
    if (next != L'\0' && !IsSeparator(next)) {
        return false;
    }
    rest = next == L'\0' ? startupExe + length : startupExe + length + 1;
    return true;
}

std::string WideBytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// bytes in a new temporary file of the given prefix in folder, named in buffer.
bool WriteTempFile(const std::wstring& folder, const wchar_t* prefix, const std::string& bytes, wchar_t* buffer)
{
    if (folder.empty() || GetTempFileNameW(folder.c_str(), prefix, 0, buffer) == 0) {
        return false;
    }
    UniqueHandle file(
        CreateFileW(buffer, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    DWORD written = 0;
    return file.Valid() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

uint64_t SourceProgress(size_t index, size_t count)
{
    const uint64_t value = pemaker::kProgressSourceSpan * (index + 1) / count + pemaker::kProgressSourceBase;
    return value < pemaker::kProgressSourceCap ? value : pemaker::kProgressSourceCap;
}

}  // namespace

bool CPEMaker::CopyApp(const std::vector<std::wstring>& appSources, const wchar_t* startupExe)
{
    // Declared in this order so that the start-up file goes before the
    // staging folders on every way out.
    StagingFolders staging;
    TempFile startupFile;

    if (appSources.empty() || !startupExe) {
        TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogInvalidParameters);
        return false;
    }

    wchar_t appFolder[pemaker::kPathChars];
    CopyBounded(appFolder, m_szPEDir);
    PathRemoveFileSpecW(appFolder);

    wchar_t tempFolder[pemaker::kPathChars] = {};
    GetTempPathW(pemaker::kPathChars, tempFolder);
    wchar_t emptyFolder[pemaker::kPathChars] = {};
    PathCombineW(emptyFolder, tempFolder, pemaker::kEmptyFolderName);
    CreateDirectoryW(emptyFolder, nullptr);

    const BuildOptions* options = m_pFlow ? m_pFlow->options : nullptr;
    std::vector<std::wstring> clearOut{pemaker::kRenameAppAway, pemaker::kDeleteToolset,
                                       MakeAddCommand(emptyFolder, pemaker::kToolsetFolder), pemaker::kRenameAppBack};
    if (options && options->cleanAppFolder) {
        // Nothing of an earlier build stays, and an image without the folder works too.
        clearOut = {pemaker::kCleanDeleteToolset, MakeAddCommand(emptyFolder, pemaker::kToolsetFolder)};
        wchar_t cefFolder[pemaker::kPathChars] = {};
        PathCombineW(cefFolder, m_szPEDir, pemaker::kCefRequirements);
        if (PathFileExistsW(cefFolder)) {
            clearOut.push_back(MakeAddCommand(cefFolder, pemaker::kAppImageFolder));
        }
    }
    _BeginSpan(pemaker::kProgressCleared);
    if (!_UpdateWIM(clearOut, true)) {
        if (!_Stopped()) {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogClearOutFailed);
        }
        return false;
    }
    _ReportProgress(pemaker::kProgressCleared, pemaker::kProgressTotal, nullptr);

    wchar_t startupInImage[pemaker::kPathChars] = {};
    const size_t count = appSources.size();
    for (size_t index = 0; index < count; ++index) {
        const std::wstring& entry = appSources[index];
        if (entry.empty()) {
            continue;
        }
        const DWORD attributes = GetFileAttributesW(entry.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogAttributesFailed, entry.c_str(), GetLastError());
            continue;
        }
        wchar_t destination[pemaker::kPathChars] = {};
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            const wchar_t* name =
                IsSameOrSubPath(appFolder, entry) ? pemaker::kAppFolderName : PathFindFileNameW(entry.c_str());
            PathCombineW(destination, pemaker::kToolsetFolder, name);

            const wchar_t* rest = nullptr;
            const bool holdsStartup = HoldsStartup(entry, startupExe, rest);
            std::wstring folderToAdd = entry;
            if (IsSameOrSubPath(entry, m_szPEDir)) {
                std::wstring stagingFolder;
                if (!staging.Make(_TempFolder(), stagingFolder) || !_StageFolder(entry, stagingFolder)) {
                    return false;
                }
                // Media whose WinPE cannot find the program are no success.
                if (holdsStartup && *rest != L'\0' && GetFileAttributesW((stagingFolder + L"\\" + rest).c_str()) ==
                                                           INVALID_FILE_ATTRIBUTES) {
                    TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogStartupNotFound);
                    return false;
                }
                folderToAdd = stagingFolder;
            }
            _BeginSpan(SourceProgress(index, count));
            if (!_UpdateWIM({MakeAddCommand(folderToAdd, destination)}, false)) {
                return false;
            }
            if (holdsStartup) {
                CopyBounded(startupInImage, destination);
                if (*rest != L'\0') {
                    PathCombineW(startupInImage, destination, rest);
                }
            }
        } else {
            PathCombineW(destination, pemaker::kToolsetFolder, PathFindFileNameW(entry.c_str()));
            _BeginSpan(SourceProgress(index, count));
            if (!_UpdateWIM({MakeAddCommand(entry, destination)}, false)) {
                return false;
            }
            if (_wcsicmp(entry.c_str(), startupExe) == 0) {
                CopyBounded(startupInImage, destination);
            }
        }
        _ReportProgress(SourceProgress(index, count), pemaker::kProgressTotal, nullptr);
    }

    if (options && !options->driverFolders.empty() && !_AddDriverPackages()) {
        m_pFlow->copyAppFailure = pemaker::kErrorAddDrivers;
        return false;
    }
    // Drivers and the network are started by the start-up file, with or without the application.
    const bool startsMore = options && (options->network || !options->driverFolders.empty());
    if (startupExe[0] != L'\0' || startsMore) {
        // Media whose WinPE cannot start the application are no success; a
        // start-up file of an earlier build would even start an old program.
        if (startupExe[0] != L'\0' && startupInImage[0] == L'\0') {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogStartupNotFound);
            return false;
        }
        _BeginSpan(0);
        if (!_CreateWinpeshlIni(startupInImage, startupFile.Buffer()) ||
            !_UpdateWIM({MakeAddCommand(startupFile.Path(), pemaker::kWinpeshlImagePath)}, false)) {
            return false;
        }
    }
    _ReportProgress(pemaker::kProgressInjected, pemaker::kProgressTotal, nullptr);
    return true;
}

bool CPEMaker::_CreateWinpeshlIni(const wchar_t* startupPath, wchar_t* buffer)
{
    if (!startupPath || !buffer) {
        return false;
    }
    const BuildOptions* options = m_pFlow ? m_pFlow->options : nullptr;
    std::wstring text = pemaker::kLaunchAppsHeader;
    if (options && !options->driverFolders.empty()) {
        text += pemaker::kLaunchDrivers;
    }
    if (options && options->network) {
        text += pemaker::kLaunchNetwork;
    }
    while (IsSeparator(*startupPath)) {
        ++startupPath;
    }
    if (*startupPath != L'\0') {
        wchar_t line[pemaker::kCommandChars];
        FormatBounded(line, pemaker::kCommandChars, pemaker::kLaunchAppFormat, startupPath);
        text += line;
    }
    text += pemaker::kLaunchShell;
    // The text of one fixed buffer, as the file always was.
    text.resize(std::min(text.size(), pemaker::kCommandChars - 1));
    return WriteTempFile(_TempFolder(), pemaker::kStartupFilePrefix, WideBytes(text), buffer);
}

bool CPEMaker::_AddDriverPackages()
{
    TempFile loadCmd;
    if (!WriteTempFile(_TempFolder(), pemaker::kStartupFilePrefix, pemaker::kLoadCmdText, loadCmd.Buffer())) {
        return false;
    }
    std::vector<std::wstring> batch;
    const std::vector<std::wstring>& folders = m_pFlow->options->driverFolders;
    for (size_t index = 0; index < folders.size(); ++index) {
        wchar_t destination[pemaker::kPathChars];
        FormatBounded(destination, pemaker::kPathChars, pemaker::kDriverFolderFormat,
                      static_cast<unsigned>(index + 1));
        batch.push_back(MakeAddCommand(WithoutTrailingSeparators(folders[index]), destination));
    }
    batch.push_back(MakeAddCommand(loadCmd.Path(), pemaker::kLoadCmdImagePath));
    _BeginSpan(pemaker::kProgressDriversEnd);
    return _UpdateWIM(batch, false);
}

bool CPEMaker::_StageFolder(const std::wstring& source, const std::wstring& stagingFolder)
{
    wchar_t command[pemaker::kCommandChars];
    FormatBounded(command, pemaker::kCommandChars, pemaker::kRobocopyFormat, source.c_str(), stagingFolder.c_str(),
                  m_szPEDir);
    std::wstring output;
    DWORD exitCode = 0;
    if (_RunCommandWithOutput(command, output, nullptr, pemaker::kCommandTimeoutMs, &exitCode)) {
        return true;
    }
    // Exit codes 1 to 7 report what was copied; a run that could not start
    // or was cut off leaves exitCode 0 and its runner's log entry.
    if (exitCode > 0 && exitCode < pemaker::kRobocopyFirstFailure) {
        return true;
    }
    if (!_Stopped()) {
        std::string text = WideToAnsi(output);
        if (text.size() > pemaker::kToolOutputLogBytes) {
            text.resize(pemaker::kToolOutputLogBytes);
        }
        TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogRobocopyFailed, exitCode, text.c_str());
    }
    return false;
}
