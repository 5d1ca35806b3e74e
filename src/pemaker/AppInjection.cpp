// Putting the host application into the working WIM and making WinPE start it.
#include "PEMaker.h"

#include "BoundedText.h"
#include "StagingFolders.h"
#include "TempFile.h"
#include "UpdateCommands.h"
#include "common/ErrorText.h"
#include "common/LogFile.h"
#include "common/UniqueHandle.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
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

// The part of fullPath below base (from its separator on), each name as the
// file system spells it: a capture configuration is matched by name, and a
// case-sensitive reader must still find the folder.
std::wstring SpelledOnDisk(const std::wstring& base, const std::wstring& rest)
{
    std::wstring spelled;
    std::wstring path = base;
    size_t start = 0;
    while (start < rest.size()) {
        while (start < rest.size() && IsSeparator(rest[start])) {
            ++start;
        }
        const size_t end = rest.find_first_of(L"\\/", start);
        const std::wstring name = rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (name.empty()) {
            break;
        }
        path += L"\\" + name;
        WIN32_FIND_DATAW found = {};
        UniqueFindHandle search(FindFirstFileW(path.c_str(), &found));
        spelled += L"\\" + (search.Valid() ? std::wstring(found.cFileName) : name);
        start = end == std::wstring::npos ? rest.size() : end;
    }
    return spelled;
}

std::string Formatted(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list counting;
    va_copy(counting, args);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) {
        std::vsnprintf(&text[0], text.size(), format, args);
    }
    va_end(args);
    text.pop_back();
    return text;
}

// path as the interpreter shows it: % doubled in a script, and outside
// quotes & and ^ escaped, so that a folder "A & B" names itself only.
std::string ForScript(const std::string& path, bool quoted)
{
    std::string text;
    for (const char c : path) {
        if (c == '%') {
            text += '%';
        } else if (!quoted && (c == '&' || c == '^')) {
            text += '^';
        }
        text += c;
    }
    return text;
}

// ASCII, CR LF: one block per INF, the paths below load.cmd's folder.
std::string LoadCmdText(const std::vector<std::string>& infs)
{
    const unsigned count = static_cast<unsigned>(infs.size());
    std::string text = Formatted(pemaker::kLoadCmdHeadFormat, count);
    for (unsigned index = 0; index < count; ++index) {
        const std::string shown = ForScript(infs[index], false);
        text += Formatted(pemaker::kLoadCmdInfFormat, index + 1, count, shown.c_str(), shown.c_str(),
                          ForScript(infs[index], true).c_str(), shown.c_str());
    }
    return text + pemaker::kLoadCmdEnd;
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
    TempFile loadCmd;

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
    // MakePEWithOptions edits the image in one run of the WIM tool without a
    // rebuild: data the image already holds is only referenced again, so an
    // unchanged application costs no compression. Folders that hold the PE
    // folder go in straight, the PE folder left out by a capture configuration.
    const bool oneRun = options != nullptr;
    std::vector<std::wstring> batch;
    std::vector<std::wstring> excluded;
    BuildInputs inputs(oneRun, CLogFile::GetInstance().Path());
    const auto edit = [&](const std::vector<std::wstring>& commands, bool rebuild, uint64_t spanEnd) {
        if (oneRun) {
            batch.insert(batch.end(), commands.begin(), commands.end());
            return true;
        }
        _BeginSpan(spanEnd);
        return _UpdateWIM(commands, rebuild);
    };
    const auto report = [&](uint64_t value) {
        if (!oneRun) {
            _ReportProgress(value, pemaker::kProgressTotal, nullptr);
        }
    };
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
    for (const std::wstring& command : clearOut) {
        inputs.Text(command);
    }
    if (options && options->cleanAppFolder) {
        wchar_t cefFolder[pemaker::kPathChars] = {};
        PathCombineW(cefFolder, m_szPEDir, pemaker::kCefRequirements);
        inputs.Tree(cefFolder, std::wstring());
    }
    if (!edit(clearOut, true, pemaker::kProgressCleared)) {
        if (!_Stopped()) {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogClearOutFailed);
        }
        return false;
    }
    report(pemaker::kProgressCleared);

    wchar_t startupInImage[pemaker::kPathChars] = {};
    const size_t count = appSources.size();
    for (size_t index = 0; index < count; ++index) {
        const std::wstring& entry = appSources[index];
        if (entry.empty()) {
            continue;
        }
        const DWORD attributes = GetFileAttributesW(entry.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            TW_LOG(pemaker::kCopyAppFunction, pemaker::kLogAttributesFailed, entry.c_str(),
                   ErrorTextAnsi(GetLastError()).c_str());
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
            if (oneRun && IsSameOrSubPath(entry, m_szPEDir)) {
                excluded.push_back(SpelledOnDisk(entry, m_szPEDir + entry.size()));
            } else if (IsSameOrSubPath(entry, m_szPEDir)) {
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
            inputs.Text(destination);
            inputs.Tree(folderToAdd, m_szPEDir);
            if (!edit({MakeAddCommand(folderToAdd, destination)}, false, SourceProgress(index, count))) {
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
            inputs.Text(destination);
            inputs.Tree(entry, std::wstring());
            if (!edit({MakeAddCommand(entry, destination)}, false, SourceProgress(index, count))) {
                return false;
            }
            if (_wcsicmp(entry.c_str(), startupExe) == 0) {
                CopyBounded(startupInImage, destination);
            }
        }
        report(SourceProgress(index, count));
    }

    if (options && !options->driverFolders.empty()) {
        std::vector<std::wstring> drivers;
        if (!_DriverPackageCommands(drivers, loadCmd) || !edit(drivers, false, pemaker::kProgressDriversEnd)) {
            m_pFlow->copyAppFailure = pemaker::kErrorAddDrivers;
            return false;
        }
        for (const std::wstring& folder : m_pFlow->driverFolders) {
            inputs.Tree(folder, std::wstring());
        }
        inputs.Content(loadCmd.Path());
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
        if (!_CreateWinpeshlIni(startupInImage, startupFile.Buffer()) ||
            !edit({MakeAddCommand(startupFile.Path(), pemaker::kWinpeshlImagePath)}, false, 0)) {
            return false;
        }
        inputs.Content(startupFile.Path());
    }
    if (oneRun && !_UpdateInOneRun(batch, excluded, inputs)) {
        return false;
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
    if (options) {
        text += pemaker::kLaunchDeviceSetup;
        if (!options->driverFolders.empty()) {
            text += pemaker::kLaunchDrivers;
        }
        // After load.cmd, so that an adapter whose driver it loaded comes up too.
        if (options->network) {
            text += pemaker::kLaunchNetwork;
        }
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

bool CPEMaker::_DriverPackageCommands(std::vector<std::wstring>& batch, TempFile& loadCmd)
{
    if (!WriteTempFile(_TempFolder(), pemaker::kStartupFilePrefix, LoadCmdText(m_pFlow->driverInfs),
                       loadCmd.Buffer())) {
        return false;
    }
    const std::vector<std::wstring>& folders = m_pFlow->driverFolders;
    for (size_t index = 0; index < folders.size(); ++index) {
        wchar_t destination[pemaker::kPathChars];
        FormatBounded(destination, pemaker::kPathChars, pemaker::kDriverFolderFormat,
                      static_cast<unsigned>(index + 1));
        batch.push_back(MakeAddCommand(folders[index], destination));
    }
    batch.push_back(MakeAddCommand(loadCmd.Path(), pemaker::kLoadCmdImagePath));
    return true;
}

bool CPEMaker::_UpdateInOneRun(const std::vector<std::wstring>& batch, const std::vector<std::wstring>& excluded,
                               BuildInputs& inputs)
{
    for (const std::wstring& path : excluded) {
        inputs.Text(path);
    }
    // The same sources, unchanged by the test a mirroring copy makes, into
    // the image their last build made: that build's image is this one's.
    BootImageTransaction& image = *m_pFlow->image;
    const std::string digest = inputs.Digest();
    if (image.HoldsBuild(digest)) {
        TW_LOG(pemaker::kUpdateFunction, pemaker::kLogFormat, pemaker::kLogImageUpToDate);
        return true;
    }
    DWORD error = 0;
    if (!image.Begin(error)) {
        m_pFlow->copyAppFailure = pemaker::kErrorCopyWimFailed + ErrorTextAnsi(error);
        return false;
    }
    TempFile config;
    if (!excluded.empty()) {
        if (!WriteTempFile(_TempFolder(), pemaker::kUpdateFilePrefix, pemaker::ExclusionConfig(excluded),
                           config.Buffer())) {
            TW_LOG(pemaker::kUpdateFunction, pemaker::kLogNoCommandFile);
            return false;
        }
        m_pFlow->captureConfig = config.Path();
    }
    _BeginSpan(pemaker::kProgressInjected);
    const bool updated = _UpdateWIM(batch, false);
    m_pFlow->captureConfig.clear();
    if (!updated) {
        return false;
    }
    // Without rebuilds the image keeps the space of data it no longer uses:
    // it is rewritten whole once it has grown half again since the last time.
    // An image without a record was last written whole elsewhere (shipped,
    // or by a build with a rebuild): what this build added is mostly the
    // application, live data, so its size now is where counting starts.
    unsigned long long rewritten = 0;
    if (!image.SizeAtLastRewrite(rewritten)) {
        rewritten = image.WorkSize();
    }
    if (image.WorkSize() * pemaker::kRewriteGrowthDenominator > rewritten * pemaker::kRewriteGrowthNumerator) {
        if (!_OptimizeWIM()) {
            return false;
        }
        rewritten = image.WorkSize();
    }
    image.RecordBuild(rewritten, digest);
    return true;
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
