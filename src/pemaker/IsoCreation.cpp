// Writing the PE folder's image tree as a bootable ISO.
#include "PEMaker.h"

#include "BoundedText.h"
#include "common/ErrorText.h"
#include "common/LogFile.h"
#include "common/PathIdentity.h"

#include <shlwapi.h>

#include <cwchar>
#include <string>

namespace {

// A refusal before the tool runs, logged and coded as a failed run.
bool RefuseBeforeRun(DWORD error)
{
    SetLastError(error);
    TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoFailed, ErrorTextAnsi(GetLastError()).c_str());
    return false;
}

}  // namespace

std::wstring IsoPathFor(const wchar_t* peDir, const wchar_t* outputFolder)
{
    wchar_t isoPath[pemaker::kPathChars] = {};
    if (!outputFolder) {
        FormatBounded(isoPath, pemaker::kPathChars, pemaker::kIsoFileFormat, peDir);
        return isoPath;
    }
    wchar_t folder[pemaker::kPathChars];
    CopyBounded(folder, outputFolder);
    return PathCombineW(isoPath, folder, pemaker::kIsoFileName) ? std::wstring(isoPath) : std::wstring();
}

bool CPEMaker::CreateISO(const wchar_t* outputFolder)
{
    wchar_t bootSector[pemaker::kPathChars];
    wchar_t efiImage[pemaker::kPathChars];
    wchar_t isoRoot[pemaker::kPathChars];
    FormatBounded(bootSector, pemaker::kPathChars, pemaker::kBootSectorFormat, m_szPEDir);
    FormatBounded(efiImage, pemaker::kPathChars, pemaker::kEfiImageFormat, m_szPEDir);
    FormatBounded(isoRoot, pemaker::kPathChars, pemaker::kIsoRootFormat, m_szPEDir);
    const std::wstring isoPath = IsoPathFor(m_szPEDir, outputFolder);
    CopyBounded(m_szIsoPath, isoPath.c_str());
    // Given "" as its output, the tool could still answer success.
    if (isoPath.empty()) {
        return RefuseBeforeRun(pemaker::kIsoPathTooLongError);
    }

    // The tool writes beside the ISO path, which only a complete ISO
    // replaces: inside a flow when the flow decides, outside one at once.
    std::optional<IsoTarget> ownTarget;
    IsoTarget& iso = m_pFlow && m_pFlow->iso ? *m_pFlow->iso : ownTarget.emplace(FullPath(isoPath));
    const std::wstring& partial = iso.PartialPath();

    // Four long paths can overflow the buffer; a cut command would master
    // the wrong files, so it is not run at all. One character more than the
    // buffer tells a command that fits from one that was cut.
    wchar_t command[pemaker::kCommandChars + 1];
    if (IsFile(efiImage)) {
        FormatBounded(command, pemaker::kCommandChars + 1, pemaker::kOscdimgUefiFormat, bootSector, efiImage,
                      pemaker::kIsoStampMonth, pemaker::kIsoStampDay, pemaker::kIsoStampYear, pemaker::kIsoStampHour,
                      pemaker::kIsoStampMinute, isoRoot, partial.c_str());
    } else {
        FormatBounded(command, pemaker::kCommandChars + 1, pemaker::kOscdimgFormat, bootSector,
                      pemaker::kIsoStampMonth, pemaker::kIsoStampDay, pemaker::kIsoStampYear, pemaker::kIsoStampHour,
                      pemaker::kIsoStampMinute, isoRoot, partial.c_str());
    }
    if (std::wcslen(command) >= pemaker::kCommandChars) {
        return RefuseBeforeRun(pemaker::kIsoCommandTooLongError);
    }
    DWORD error = 0;
    if (!iso.Prepare(error)) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoPrepareFailed, ErrorTextAnsi(error).c_str());
        return false;
    }

    std::wstring output;
    DWORD exitCode = 0;
    const bool succeeded =
        _RunCommandWithOutput(command, output, m_szPEDir, pemaker::kCapturedCommandTimeoutMs, &exitCode);
    if (!succeeded && !_Stopped()) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoFailed, ErrorTextAnsi(GetLastError()).c_str());
        // That code is whatever the pipe left behind; the tool's own exit
        // code and words name the cause.
        if (exitCode != 0) {
            std::string text = WideToAnsi(output);
            if (text.size() > pemaker::kToolOutputLogBytes) {
                text.resize(pemaker::kToolOutputLogBytes);
            }
            TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoToolFailed, exitCode, text.c_str());
        }
    }
    if (succeeded && !m_pFlow && !iso.Commit(error)) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoPlaceFailed, ErrorTextAnsi(error).c_str());
        return false;
    }
    return succeeded;
}
