// Putting the host application into the working WIM and making WinPE start it.
#include "PEMaker.h"

#include "BoundedText.h"
#include "StagingFolders.h"
#include "TempFile.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"
#include "common/UniqueHandle.h"

#include <shlwapi.h>

#include <cwchar>

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

    const std::vector<std::wstring> clearOut{pemaker::kRenameAppAway, pemaker::kDeleteToolset,
                                             MakeAddCommand(emptyFolder, pemaker::kToolsetFolder),
                                             pemaker::kRenameAppBack};
    if (!_UpdateWIM(clearOut, true)) {
        TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogClearOutFailed);
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

            std::wstring folderToAdd = entry;
            if (IsSameOrSubPath(entry, m_szPEDir)) {
                std::wstring stagingFolder;
                if (!staging.Make(stagingFolder)) {
                    return false;
                }
                wchar_t command[pemaker::kCommandChars];
                FormatBounded(command, pemaker::kCommandChars, pemaker::kRobocopyFormat, entry.c_str(),
                              stagingFolder.c_str(), m_szPEDir);
                // ROBOCOPY's exit codes report what was copied, not only
                // failures; whatever reached the staging folder is added.
                _RunCommand(command, pemaker::kCommandTimeoutMs);
                folderToAdd = stagingFolder;
            }
            if (!_UpdateWIM({MakeAddCommand(folderToAdd, destination)}, false)) {
                return false;
            }
            const wchar_t* rest = nullptr;
            if (HoldsStartup(entry, startupExe, rest)) {
                CopyBounded(startupInImage, destination);
                if (*rest != L'\0') {
                    PathCombineW(startupInImage, destination, rest);
                }
            }
        } else {
            PathCombineW(destination, pemaker::kToolsetFolder, PathFindFileNameW(entry.c_str()));
            if (!_UpdateWIM({MakeAddCommand(entry, destination)}, false)) {
                return false;
            }
            if (_wcsicmp(entry.c_str(), startupExe) == 0) {
                CopyBounded(startupInImage, destination);
            }
        }
        _ReportProgress(SourceProgress(index, count), pemaker::kProgressTotal, nullptr);
    }

    if (startupExe[0] != L'\0') {
        // Media whose WinPE cannot start the application are no success; a
        // start-up file of an earlier build would even start an old program.
        if (startupInImage[0] == L'\0') {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogStartupNotFound);
            return false;
        }
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
    wchar_t tempFolder[pemaker::kPathChars] = {};
    const DWORD length = GetTempPathW(pemaker::kPathChars, tempFolder);
    if (length == 0 || length >= pemaker::kPathChars ||
        GetTempFileNameW(tempFolder, pemaker::kStartupFilePrefix, 0, buffer) == 0) {
        return false;
    }
    while (IsSeparator(*startupPath)) {
        ++startupPath;
    }
    wchar_t text[pemaker::kCommandChars];
    FormatBounded(text, pemaker::kCommandChars, pemaker::kWinpeshlFormat, startupPath);

    UniqueHandle file(
        CreateFileW(buffer, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file.Valid()) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t));
    DWORD written = 0;
    return WriteFile(file.Get(), text, bytes, &written, nullptr) && written == bytes;
}
