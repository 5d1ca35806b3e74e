// The MakePE flow: Init, the application, then delivery by production type.
#include "PEMaker.h"

#include "BoundedText.h"
#include "UpdateCommands.h"
#include "common/LogFile.h"

#include <cstdlib>
#include <string>

bool CPEMaker::CreatePE(const std::vector<std::wstring>& appSources, const wchar_t* startupExe, int productionType,
                        const wchar_t* target, IProgressSink* sink)
{
    if (sink) {
        m_pSink = sink;
    }
    std::string errorText;
    bool result = false;
    bool cancelled = false;

    // ROBOCOPY and the C runtime read \" as a literal quote: a folder given as
    // C:\Host\ would run the copy's arguments together and nothing would be
    // copied. Every later step sees the trimmed form only.
    std::vector<std::wstring> sources;
    sources.reserve(appSources.size());
    for (const std::wstring& source : appSources) {
        sources.push_back(WithoutTrailingSeparators(source));
    }

    // Before any record or tool: the flow runs ROBOCOPY, oscdimg, bcdedit and
    // shutdown through the interpreter, which would expand %NAME% in these paths.
    const std::wstring unsafe = _FindInterpreterUnsafePath(sources, target);
    if (!unsafe.empty()) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogPathUnsupported, unsafe.c_str());
        _ReportProgress(0, 0, pemaker::kErrorPathUnsupported);
        return false;
    }
    const PEFolderLock lock;
    if (!_OwnsPEFolder(lock, pemaker::kCreatePEFunction)) {
        return false;
    }

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

        if (!CopyApp(sources, startupExe)) {
            errorText = pemaker::kErrorCopyApp;
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
        default:
            errorText = pemaker::kErrorProductionType;
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
        const CreateWindowsBootDiskFn createBootDisk = reinterpret_cast<CreateWindowsBootDiskFn>(
            reinterpret_cast<void*>(LoadProcFromAppDir(pemaker::kBootDiskLibrary, pemaker::kBootDiskExport)));
        if (!createBootDisk) {
            errorText = pemaker::kErrorNoBootDisk;
            break;
        }
        // The library reports its own failure; the ISO stays for a retry.
        if (!createBootDisk(m_szIsoPath, target ? _wtoi(target) : 0, sink)) {
            return false;
        }
        wchar_t isoPath[pemaker::kPathChars];
        FormatBounded(isoPath, pemaker::kPathChars, pemaker::kIsoFileFormat, m_szPEDir);
        DeleteFileW(isoPath);
        result = true;
    } while (false);

    if (cancelled) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogCancelled);
        return false;
    }
    if (!errorText.empty()) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogFormat, errorText.c_str());
        _ReportProgress(0, 0, errorText.c_str());
    }
    return result;
}
