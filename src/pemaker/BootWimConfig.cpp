// Adding the WinPE requirements of the PE folder to the working WIM.
#include "PEMaker.h"

#include "UpdateCommands.h"
#include "common/ErrorText.h"
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
    BootImageTransaction image(peDir);
    if (!_SettleInterruptedCalls(image, function)) {
        return false;
    }
    BuildFlowState flow;
    flow.image = &image;
    m_pFlow = &flow;

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
        // Nothing to add: the image stays as it is, uncopied.
        const bool edits = !ConfigFileCommands(m_szPEDir).empty();
        if (!edits) {
            TW_LOG(function, pemaker::kLogNoRequirements, WideToAnsi(m_szPEDir).c_str());
        }
        DWORD error = 0;
        if (edits && !image.OnOneVolume()) {
            errorText = pemaker::kErrorOtherVolume;
            break;
        }
        if (edits && !image.Begin(error)) {
            errorText = pemaker::kErrorCopyWimFailed + ErrorTextAnsi(error);
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
        if (edits && !image.Replace(error)) {
            errorText = pemaker::kErrorReplaceWimFailed + ErrorTextAnsi(error);
            break;
        }
        _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);
        result = true;
    } while (false);
    m_pFlow = nullptr;

    if (cancelled) {
        TW_LOG(function, pemaker::kLogCancelled);
    } else if (!errorText.empty()) {
        _Fail(function, errorText);
    }
    _EndBootImage(image, result, function);
    return result;
}

bool CPEMaker::CopyConfigFiles()
{
    const std::vector<std::wstring> commands = ConfigFileCommands(m_szPEDir);
    _ReportProgress(pemaker::kProgressConfigFiles, pemaker::kProgressTotal, nullptr);
    return _UpdateWIM(commands, false);
}
