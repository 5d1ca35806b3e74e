// The MakePE flow: the checks, Init, the application on a working copy of the
// boot image, the images swapped, then delivery by production type; the old
// image comes back unless the delivery succeeds.
#include "PEMaker.h"

#include "BoundedText.h"
#include "UpdateCommands.h"
#include "common/ErrorText.h"
#include "common/LogFile.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"
#include "common/WorkFolder.h"

#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr unsigned long long kMiB = 1024ull * 1024ull;

// The size of disk number; false when it cannot be read (a disk that is a
// file has no size to keep to). The query needs read access to the disk.
bool DiskLength(int number, unsigned long long& bytes)
{
    const std::wstring path = pemaker::kPhysicalDrivePrefix + std::to_wstring(number);
    UniqueHandle disk(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    GET_LENGTH_INFORMATION length = {};
    DWORD returned = 0;
    if (!disk.Valid() || !DeviceIoControl(disk.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                          sizeof(length), &returned, nullptr)) {
        return false;
    }
    bytes = static_cast<unsigned long long>(length.Length.QuadPart);
    return true;
}

}  // namespace

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
    // The ISO folder in its one absolute form: the tool runs in the PE
    // folder, so a relative one would name two places.
    const std::wstring isoFolder = productionType == kMakePEWriteIso && target ? FullPath(target) : std::wstring();
    const wchar_t* const deliveryTarget = isoFolder.empty() ? target : isoFolder.c_str();

    // Before any record or tool: the flow runs ROBOCOPY, oscdimg, bcdedit and
    // shutdown through the interpreter, which would expand %NAME% in these paths.
    const std::wstring unsafe = _FindInterpreterUnsafePath(checkedPaths, deliveryTarget);
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
    BootImageTransaction image(peDir);
    if (!_SettleInterruptedCalls(image, pemaker::kCreatePEFunction)) {
        return false;
    }
    // Ends before the lock: its work folder and the ISO path's lock go with it.
    BuildFlowState flow;
    flow.image = &image;
    flow.options = options;
    flow.watch.keepGoing = [this] { return _ShouldContinue(); };
    flow.watch.onLine = [this](const std::wstring& line) { return _OnToolLine(line); };
    m_pFlow = &flow;

    // Everything that would fail a delivery is found before the image is touched.
    CreateWindowsBootDiskFn createBootDisk = nullptr;
    const std::string refusal =
        _CheckBuildInputs(sources, startupExe, productionType, deliveryTarget, createBootDisk);
    bool result = false;
    if (!refusal.empty()) {
        _Fail(pemaker::kCreatePEFunction, refusal);
    } else if (!options || _CheckDriverFolders(options->driverFolders)) {
        result = _BuildAndDeliver(sources, startupExe, productionType, deliveryTarget, createBootDisk);
    }
    m_pFlow = nullptr;
    _EndBootImage(image, result, pemaker::kCreatePEFunction);
    return result;
}

bool CPEMaker::_BuildAndDeliver(const std::vector<std::wstring>& sources, const wchar_t* startupExe,
                                int productionType, const wchar_t* target, CreateWindowsBootDiskFn createBootDisk)
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

        // With options the working copy is made only when the image is to change.
        DWORD error = 0;
        if (!m_pFlow->options && !m_pFlow->image->Begin(error)) {
            errorText = pemaker::kErrorCopyWimFailed + ErrorTextAnsi(error);
            break;
        }
        if (!CopyApp(sources, startupExe)) {
            errorText = m_pFlow->copyAppFailure.empty() ? pemaker::kErrorCopyApp : m_pFlow->copyAppFailure;
            break;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        _ReportProgress(pemaker::kProgressInjected, pemaker::kProgressTotal, nullptr);

        // Every delivery reads the image at its place in ISO\SOURCES.
        if (m_pFlow->image->Begun() && !m_pFlow->image->Swap(error)) {
            errorText = pemaker::kErrorReplaceWimFailed + ErrorTextAnsi(error);
            break;
        }
        if (productionType == kMakePERestartToRamdisk) {
            // The restart is under way once this returns true: nothing is asked after it.
            if (!RestartToPE()) {
                errorText = pemaker::kErrorRestart;
                break;
            }
            _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);
            result = true;
            break;
        }
        // The ISO path is locked among the checks, which find the image first.
        if (!m_pFlow->iso || !CreateISO(productionType == kMakePEWriteIso ? target : nullptr)) {
            errorText = pemaker::kErrorIso;
            break;
        }
        // The disk type's ISO is only a step: in place for the library, then gone.
        if (productionType == kMakePEWriteDisk) {
            if (!m_pFlow->iso->Commit(error)) {
                TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoPlaceFailed, ErrorTextAnsi(error).c_str());
                errorText = pemaker::kErrorIso;
                break;
            }
            m_pFlow->deleteIsoAtEnd = true;
        }
        if (!_ShouldContinue()) {
            cancelled = true;
            break;
        }
        if (productionType == kMakePEWriteIso && !m_pFlow->iso->Commit(error)) {
            TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoPlaceFailed, ErrorTextAnsi(error).c_str());
            errorText = pemaker::kErrorIso;
            break;
        }
        _ReportProgress(pemaker::kProgressDone, pemaker::kProgressTotal, nullptr);
        result = productionType == kMakePEWriteIso || _WriteDisk(target, createBootDisk);
    } while (false);

    if (m_pFlow->deleteIsoAtEnd) {
        DeleteFileW(m_pFlow->iso->IsoPath().c_str());
    }
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

bool CPEMaker::_WriteDisk(const wchar_t* target, CreateWindowsBootDiskFn createBootDisk)
{
    const int disk = _wtoi(target);
    const unsigned long long isoBytes = FileSize(m_szIsoPath);
    unsigned long long diskBytes = 0;
    if (DiskLength(disk, diskBytes) && diskBytes < isoBytes) {
        char text[pemaker::kMessageChars] = {};
        std::snprintf(text, sizeof(text), pemaker::kErrorDiskTooSmall, (isoBytes + kMiB - 1) / kMiB, disk,
                      diskBytes / kMiB);
        _Fail(pemaker::kCreatePEFunction, text);
        return false;
    }
    // The library may have written part of the disk before it failed.
    if (!createBootDisk(m_szIsoPath, disk, m_pSink)) {
        TW_LOG(pemaker::kCreatePEFunction, pemaker::kLogDiskMayBePartlyWritten, disk);
        return false;
    }
    return true;
}

bool CPEMaker::_SettleInterruptedCalls(BootImageTransaction& image, const char* function)
{
    const unsigned reclaimed = ReclaimAbandonedWorkFolders();
    if (reclaimed > 0) {
        TW_LOG(function, pemaker::kLogReclaimed, reclaimed);
    }
    BootImageTransaction::Leftover found = BootImageTransaction::Leftover::None;
    DWORD error = 0;
    if (!image.SettleInterrupted(found, error)) {
        _Fail(function, pemaker::kErrorSettleFailed + ErrorTextAnsi(error));
        return false;
    }
    if (found == BootImageTransaction::Leftover::Restored) {
        TW_LOG(function, pemaker::kLogFormat, pemaker::kLogRestoredInterrupted);
    } else if (found == BootImageTransaction::Leftover::Discarded) {
        TW_LOG(function, pemaker::kLogFormat, pemaker::kLogKeptInterrupted);
    }
    return true;
}

void CPEMaker::_EndBootImage(BootImageTransaction& image, bool succeeded, const char* function)
{
    if (succeeded) {
        image.Commit();
        return;
    }
    DWORD error = 0;
    if (!image.Undo(error)) {
        TW_LOG(function, pemaker::kLogFormat, (pemaker::kErrorRestoreFailed + ErrorTextAnsi(error)).c_str());
    }
}
