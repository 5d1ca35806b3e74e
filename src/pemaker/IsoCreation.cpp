// Writing the PE folder's image tree as a bootable ISO.
#include "PEMaker.h"

#include "BoundedText.h"
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
    TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoFailed, GetLastError());
    return false;
}

}  // namespace

bool CPEMaker::CreateISO(const wchar_t* outputFolder)
{
    wchar_t bootSector[pemaker::kPathChars];
    wchar_t efiImage[pemaker::kPathChars];
    wchar_t isoRoot[pemaker::kPathChars];
    wchar_t isoPath[pemaker::kPathChars];
    FormatBounded(bootSector, pemaker::kPathChars, pemaker::kBootSectorFormat, m_szPEDir);
    FormatBounded(efiImage, pemaker::kPathChars, pemaker::kEfiImageFormat, m_szPEDir);
    FormatBounded(isoRoot, pemaker::kPathChars, pemaker::kIsoRootFormat, m_szPEDir);
    bool isoPathFormed = true;
    if (!outputFolder) {
        FormatBounded(isoPath, pemaker::kPathChars, pemaker::kIsoFileFormat, m_szPEDir);
    } else {
        wchar_t folder[pemaker::kPathChars];
        CopyBounded(folder, outputFolder);
        if (!PathCombineW(isoPath, folder, pemaker::kIsoFileName)) {
            isoPath[0] = L'\0';
            isoPathFormed = false;
        }
    }
    CopyBounded(m_szIsoPath, isoPath);
    // Given "" as its output, the tool could still answer success.
    if (!isoPathFormed) {
        return RefuseBeforeRun(pemaker::kIsoPathTooLongError);
    }

    // Four long paths can overflow the buffer; a cut command would master
    // the wrong files, so it is not run at all. One character more than the
    // buffer tells a command that fits from one that was cut.
    wchar_t command[pemaker::kCommandChars + 1];
    if (IsFile(efiImage)) {
        FormatBounded(command, pemaker::kCommandChars + 1, pemaker::kOscdimgUefiFormat, bootSector, efiImage,
                      pemaker::kIsoStampMonth, pemaker::kIsoStampDay, pemaker::kIsoStampYear, pemaker::kIsoStampHour,
                      pemaker::kIsoStampMinute, isoRoot, isoPath);
    } else {
        FormatBounded(command, pemaker::kCommandChars + 1, pemaker::kOscdimgFormat, bootSector,
                      pemaker::kIsoStampMonth, pemaker::kIsoStampDay, pemaker::kIsoStampYear, pemaker::kIsoStampHour,
                      pemaker::kIsoStampMinute, isoRoot, isoPath);
    }
    if (std::wcslen(command) >= pemaker::kCommandChars) {
        return RefuseBeforeRun(pemaker::kIsoCommandTooLongError);
    }

    // The ISO that stands there survives until its replacement is complete:
    // outside a flow this call decides, inside one the flow does.
    std::optional<IsoAside> ownAside;
    std::optional<IsoAside>& aside = m_pFlow ? m_pFlow->isoAside : ownAside;
    aside.emplace(isoPath);
    DWORD asideError = 0;
    if (!aside->SetAside(asideError)) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoAsideFailed, asideError);
        return false;
    }

    std::wstring output;
    DWORD exitCode = 0;
    const bool succeeded =
        _RunCommandWithOutput(command, output, m_szPEDir, pemaker::kCapturedCommandTimeoutMs, &exitCode);
    if (!succeeded && !_Stopped()) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoFailed, GetLastError());
        // That code is whatever the pipe left behind; the tool's own exit
        // code and words name the cause.
        if (exitCode != 0) {
            std::string text = WideToAnsi(output);
            if (text.size() > pemaker::kIsoToolOutputLogBytes) {
                text.resize(pemaker::kIsoToolOutputLogBytes);
            }
            TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoToolFailed, exitCode, text.c_str());
        }
    }
    if (succeeded && !m_pFlow) {
        aside->Keep();
    }
    return succeeded;
}
