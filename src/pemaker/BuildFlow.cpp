// The MakePE flow: the checks, Init, the application, then delivery by
// production type, with the boot image put back when it does not succeed.
#include "PEMaker.h"

#include "BoundedText.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"

#include <cstdlib>
#include <string>

bool CPEMaker::CreatePE(const std::vector<std::wstring>& appSources, const wchar_t* startupExe, int productionType,
                        const wchar_t* target, IProgressSink* sink)
{
    return _CreatePE(appSources, startupExe, productionType, target, nullptr, sink);
}

bool CPEMaker::CreatePEWithOptions(const std::vector<std::wstring>& appSources, const wchar_t* startupExe,
                                   int productionType, const wchar_t* target, const BuildOptions& options,
                                   IProgressSink* sink)
{
    return _CreatePE(appSources, startupExe, productionType, target, &options, sink);
}

bool CPEMaker::_CreatePE(const std::vector<std::wstring>& appSources, const wchar_t* startupExe, int productionType,
                         const wchar_t* target, const BuildOptions* options, IProgressSink* sink)
{
    if (sink) {
        m_pSink = sink;
    }
    // ROBOCOPY and the C runtime read \" as a literal quote: a folder given as
    // C:\Host\ would run the copy's arguments together and nothing would be
    // copied. Every later step sees the trimmed form only.
    std::vector<std::wstring> sources;
    sources.reserve(appSources.size());
    for (const std::wstring& source : appSources) {
        sources.push_back(WithoutTrailingSeparators(source));
    }
    std::vector<std::wstring> checkedPaths = sources;
    if (options) {
        checkedPaths.insert(checkedPaths.end(), options->driverFolders.begin(), options->driverFolders.end());
    }

    // Before any record or tool: the flow runs ROBOCOPY, oscdimg, bcdedit and
    // shutdown through the interpreter, which would expand %NAME% in these paths.
    const std::wstring unsafe = _FindInterpreterUnsafePath(checkedPaths, target);
    if (!unsafe.empty()) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogPathUnsupported, unsafe.c_str());
        _ReportProgress(0, 0, pemaker::kErrorPathUnsupported);
        return false;
    }
    const PEFolderLock lock;
    if (!_OwnsPEFolder(lock, pemaker::kCreatePEFunction)) {
        return false;
    }
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    BootImageBackup backup(peDir);
    if (!_RestoreInterruptedBuild(backup, pemaker::kCreatePEFunction)) {
        return false;
    }
    // Everything that would fail a delivery is found before the image is touched.
    CreateWindowsBootDiskFn createBootDisk = nullptr;
    std::string refusal = _CheckBuildInputs(sources, startupExe, productionType, target, createBootDisk);
    if (refusal.empty() && options) {
        refusal = _CheckDriverFolders(options->driverFolders);
    }
    if (!refusal.empty()) {
        _Fail(pemaker::kCreatePEFunction, refusal);
        return false;
    }

    // Ends before the lock: an ISO set aside comes back unless kept.
    BuildFlowState flow;
    flow.backup = &backup;
    flow.options = options;
    flow.watch.keepGoing = [this] { return _ShouldContinue(); };
    flow.watch.onLine = [this](const std::wstring& line) { return _OnToolLine(line); };
    m_pFlow = &flow;
    const bool result = _BuildAndDeliver(sources, startupExe, productionType, target, createBootDisk, backup);
    m_pFlow = nullptr;
    // The disk type's ISO is only a step: the previous one comes back whatever the outcome.
    if (result && productionType == kMakePEWriteIso && flow.isoAside) {
        flow.isoAside->Keep();
    }
    _SettleBootImage(backup, result, pemaker::kCreatePEFunction);
    return result;
}

bool CPEMaker::_BuildAndDeliver(const std::vector<std::wstring>& sources, const wchar_t* startupExe,
                                int productionType, const wchar_t* target, CreateWindowsBootDiskFn createBootDisk,
                                BootImageBackup& backup)
{
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

        // The clear-out that comes first rebuilds the image into a new file.
        DWORD saveError = 0;
        if (!backup.Save(true, saveError)) {
            errorText = pemaker::kErrorSaveFailed + std::to_string(saveError);
            break;
        }
        if (!CopyApp(sources, startupExe)) {
            errorText = m_pFlow->copyAppFailure ? m_pFlow->copyAppFailure : pemaker::kErrorCopyApp;
            break;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        _ReportProgress(pemaker::kProgressInjected, pemaker::kProgressTotal, nullptr);

        switch (productionType) {
        case kMakePERestartToRamdisk:
            if (!RestartToPE()) {
                errorText = pemaker::kErrorRestart;
            }
            break;
        case kMakePEWriteIso:
            if (!CreateISO(target)) {
                errorText = pemaker::kErrorIso;
            }
            break;
        case kMakePEWriteDisk:
            if (!CreateISO(nullptr)) {
                errorText = pemaker::kErrorIso;
            }
            break;
        }
        if (!errorText.empty()) {
            break;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);

        if (productionType != kMakePEWriteDisk) {
            result = true;
            break;
        }
        // The library reports its own failure.
        if (!createBootDisk(m_szIsoPath, _wtoi(target), m_pSink)) {
            return false;
        }
        wchar_t isoPath[pemaker::kPathChars];
        FormatBounded(isoPath, pemaker::kPathChars, pemaker::kIsoFileFormat, m_szPEDir);
        DeleteFileW(isoPath);
        result = true;
    } while (false);

    // The host also stops the flow by stopping a tool it runs.
    if (cancelled || _Stopped()) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogCancelled);
        return false;
    }
    if (!errorText.empty()) {
        _Fail(pemaker::kCreatePEFunction, errorText);
    }
    return result;
}

bool CPEMaker::_RestoreInterruptedBuild(BootImageBackup& backup, const char* function)
{
    bool restored = false;
    DWORD error = 0;
    if (!backup.RestoreLeftover(restored, error)) {
        _Fail(function, pemaker::kErrorRestoreFailed + std::to_string(error));
        return false;
    }
    if (restored) {
        TW_LOG(function, pemaker::kLogFormat, pemaker::kLogRestoredInterrupted);
    }
    return true;
}

void CPEMaker::_SettleBootImage(BootImageBackup& backup, bool succeeded, const char* function)
{
    if (succeeded) {
        backup.Discard();
        return;
    }
    DWORD error = 0;
    if (!backup.Restore(error)) {
        TW_LOG(function, pemaker::kLogFormat, (pemaker::kErrorRestoreFailed + std::to_string(error)).c_str());
    }
}
