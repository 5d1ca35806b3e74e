// Adding the WinPE requirements of the PE folder to the working WIM.
#include "PEMaker.h"

#include "UpdateCommands.h"
#include "common/LogFile.h"

#include <shlwapi.h>

#include <string>

bool CPEMaker::ConfigureBootWim(IProgressSink* sink)
{
    if (sink) {
        m_pSink = sink;
    }
    std::string errorText;
    bool result = false;

    const PEFolderLock lock;
    if (!_OwnsPEFolder(lock, pemaker::kConfigureBootWimFunction)) {
        return false;
    }
    _ReportProgress(pemaker::kProgressStart, pemaker::kProgressTotal, nullptr);
    if (!Init()) {
        errorText = pemaker::kErrorInit;
    } else {
        if (!_ShouldContinue()) {
            TW_LOG(pemaker::kConfigureBootWimFunction, pemaker::kLogCancelled);
            return false;
        }
        _ReportProgress(pemaker::kProgressInitialized, pemaker::kProgressTotal, nullptr);
        if (!CopyConfigFiles()) {
            errorText = pemaker::kErrorConfigFiles;
        } else {
            if (!_ShouldContinue()) {
                TW_LOG(pemaker::kConfigureBootWimFunction, pemaker::kLogCancelled);
                return false;
            }
            _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);
            result = true;
        }
    }
    if (!errorText.empty()) {
        TW_LOG(pemaker::kConfigureBootWimFunction, pemaker::kLogFormat, errorText.c_str());
        _ReportProgress(0, 0, errorText.c_str());
    }
    return result;
}

bool CPEMaker::CopyConfigFiles()
{
    wchar_t cefFolder[pemaker::kPathChars] = {};
    wchar_t systemFolder[pemaker::kPathChars] = {};
    PathCombineW(cefFolder, m_szPEDir, pemaker::kCefRequirements);
    PathCombineW(systemFolder, m_szPEDir, pemaker::kSystemRequirements);

    std::vector<std::wstring> commands;
    if (PathFileExistsW(cefFolder)) {
        commands.push_back(MakeAddCommand(cefFolder, pemaker::kAppImageFolder));
    }
    if (PathFileExistsW(systemFolder)) {
        commands.push_back(MakeAddCommand(systemFolder, pemaker::kSystemImageFolder));
    }
    _ReportProgress(pemaker::kProgressConfigFiles, pemaker::kProgressTotal, nullptr);
    return _UpdateWIM(commands, false);
}
