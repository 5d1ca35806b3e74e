#pragma once

#include "PEMakerConstants.h"

#include "TarnwickMedia.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The WinPE builder. It works in the folder "PE" beside the host executable
// and edits that folder's boot WIM in place through update batches of the
// WIM tool. One object serves one exported call.
class CPEMaker {
public:
    CPEMaker();

    // Fixes the PE folder and the working WIM; true when the WIM exists.
    bool Init();

private:
    friend struct PEMakerTestPeer;

    void _ReportProgress(uint64_t current, uint64_t total, const char* message);
    bool _ShouldContinue();

    bool _RunCommand(const std::wstring& command, DWORD limitMs);
    bool _RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                               DWORD limitMs);

    // Applies the batch to image 1 of the working WIM in one run of the tool.
    bool _UpdateWIM(const std::vector<std::wstring>& commands, bool rebuild);
    bool _FindWimlibPath(wchar_t* buffer);
    bool _CreateUpdateCommandFile(const std::vector<std::wstring>& commands, wchar_t* buffer);
    bool _RunWimlibUpdate(const wchar_t* toolPath, const wchar_t* wimPath, const wchar_t* commandFile,
                          std::wstring& output, bool rebuild);

    IProgressSink* m_pSink;
    wchar_t m_szWimPath[pemaker::kPathChars];
    wchar_t m_szPEDir[pemaker::kPathChars];
    wchar_t m_szIsoPath[pemaker::kPathChars];
    BYTE m_bInitialized;
};
