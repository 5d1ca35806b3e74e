#include "PEMaker.h"

#include "BoundedText.h"
#include "common/CommandRunner.h"
#include "common/LogFile.h"
#include "common/ProgressReport.h"

#include <shlwapi.h>

CPEMaker::CPEMaker() : m_pSink(nullptr), m_szWimPath{}, m_szPEDir{}, m_szIsoPath{}, m_bInitialized(0) {}

bool CPEMaker::Init()
{
    wchar_t exePath[pemaker::kPathChars] = {};
    GetModuleFileNameW(nullptr, exePath, pemaker::kPathChars);
    PathRemoveFileSpecW(exePath);
    PathCombineW(m_szPEDir, exePath, pemaker::kPEFolderName);

    FormatBounded(m_szWimPath, pemaker::kPathChars, pemaker::kWimPathFormat, m_szPEDir);
    if (!PathFileExistsW(m_szWimPath)) {
        const DWORD error = GetLastError();
        TW_LOG(pemaker::kInitFunction, pemaker::kLogWimNotFound, m_szWimPath, error);
        return false;
    }
    m_bInitialized = 1;
    return true;
}

void CPEMaker::_ReportProgress(uint64_t current, uint64_t total, const char* message)
{
    progress::Report(m_pSink, current, total, message);
}

bool CPEMaker::_ShouldContinue()
{
    return progress::ShouldContinue(m_pSink);
}

bool CPEMaker::_RunCommand(const std::wstring& command, DWORD limitMs)
{
    return runner::RunCommand(command, limitMs);
}

bool CPEMaker::_RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                                     DWORD limitMs)
{
    return runner::RunCommandWithOutput(command, output, workDir, limitMs);
}
