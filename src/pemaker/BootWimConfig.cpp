// Adding the WinPE requirements of the PE folder to the working WIM.
#include "PEMaker.h"

#include "UpdateCommands.h"
#include "common/LogFile.h"

#include <shlwapi.h>

#include <string>

namespace {

// The batch that adds the requirements the PE folder holds.
std::vector<std::wstring> ConfigFileCommands(const wchar_t* peDir)
{
    wchar_t cefFolder[pemaker::kPathChars] = {};
    wchar_t systemFolder[pemaker::kPathChars] = {};
    PathCombineW(cefFolder, peDir, pemaker::kCefRequirements);
    PathCombineW(systemFolder, peDir, pemaker::kSystemRequirements);

    std::vector<std::wstring> commands;
    if (PathFileExistsW(cefFolder)) {
        commands.push_back(MakeAddCommand(cefFolder, pemaker::kAppImageFolder));
    }
    if (PathFileExistsW(systemFolder)) {
        commands.push_back(MakeAddCommand(systemFolder, pemaker::kSystemImageFolder));
    }
    return commands;
}

}  // namespace

bool CPEMaker::ConfigureBootWim(IProgressSink* sink)
{
    if (sink) {
        m_pSink = sink;
    }
    const char* const function = pemaker::kConfigureBootWimFunction;
    const PEFolderLock lock;
    if (!_OwnsPEFolder(lock, function)) {
        return false;
    }
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    BootImageBackup backup(peDir);
    if (!_RestoreInterruptedBuild(backup, function)) {
        return false;
    }

    std::string errorText;
    bool result = false;
    bool cancelled = false;
    _ReportProgress(pemaker::kProgressStart, pemaker::kProgressTotal, nullptr);
    do {
        if (!Init()) {
            errorText = pemaker::kErrorInit;
            break;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        _ReportProgress(pemaker::kProgressInitialized, pemaker::kProgressTotal, nullptr);
        // The batch edits the image in place: the save is a copy.
        DWORD saveError = 0;
        if (!ConfigFileCommands(m_szPEDir).empty() && !backup.Save(false, saveError)) {
            errorText = pemaker::kErrorSaveFailed + std::to_string(saveError);
            break;
        }
        if (!CopyConfigFiles()) {
            errorText = pemaker::kErrorConfigFiles;
            break;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);
        result = true;
    } while (false);

    if (cancelled) {
        TW_LOG(function, pemaker::kLogCancelled);
    } else if (!errorText.empty()) {
        _Fail(function, errorText);
    }
    _SettleBootImage(backup, result, function);
    return result;
}

bool CPEMaker::CopyConfigFiles()
{
    const std::vector<std::wstring> commands = ConfigFileCommands(m_szPEDir);
    _ReportProgress(pemaker::kProgressConfigFiles, pemaker::kProgressTotal, nullptr);
    return _UpdateWIM(commands, false);
}
