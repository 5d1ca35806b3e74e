// Writing the PE folder's image tree as a bootable ISO.
#include "PEMaker.h"

#include "BoundedText.h"
#include "common/LogFile.h"

#include <shlwapi.h>

bool CPEMaker::CreateISO(const wchar_t* outputFolder)
{
    wchar_t bootSector[pemaker::kPathChars];
    wchar_t isoRoot[pemaker::kPathChars];
    wchar_t isoPath[pemaker::kPathChars];
    FormatBounded(bootSector, pemaker::kPathChars, pemaker::kBootSectorFormat, m_szPEDir);
    FormatBounded(isoRoot, pemaker::kPathChars, pemaker::kIsoRootFormat, m_szPEDir);
    if (!outputFolder) {
        FormatBounded(isoPath, pemaker::kPathChars, pemaker::kIsoFileFormat, m_szPEDir);
    } else {
        wchar_t folder[pemaker::kPathChars];
        CopyBounded(folder, outputFolder);
        if (!PathCombineW(isoPath, folder, pemaker::kIsoFileName)) {
            isoPath[0] = L'\0';
        }
    }
    CopyBounded(m_szIsoPath, isoPath);

    wchar_t command[pemaker::kCommandChars];
    FormatBounded(command, pemaker::kCommandChars, pemaker::kOscdimgFormat, bootSector, pemaker::kIsoStampMonth,
                  pemaker::kIsoStampDay, pemaker::kIsoStampYear, pemaker::kIsoStampHour, pemaker::kIsoStampMinute,
                  isoRoot, isoPath);
    std::wstring output;
    const bool succeeded = _RunCommandWithOutput(command, output, m_szPEDir, pemaker::kCapturedCommandTimeoutMs);
    if (!succeeded) {
        TW_LOG(pemaker::kCreateIsoFunction, pemaker::kLogIsoFailed, GetLastError());
    }
    return succeeded;
}
