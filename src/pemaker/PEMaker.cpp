#include "PEMaker.h"

#include "BoundedText.h"
#include "common/CommandRunner.h"
#include "common/ErrorText.h"
#include "common/LogFile.h"
#include "common/ProgressReport.h"
#include "common/ToolOutputLines.h"

#include <shlwapi.h>

#include <algorithm>

CPEMaker::CPEMaker() : m_pSink(nullptr), m_szWimPath{}, m_szPEDir{}, m_szIsoPath{}, m_bInitialized(0), m_pFlow(nullptr)
{
}

void ComposePEFolder(wchar_t* peDir)
{
    wchar_t exePath[pemaker::kPathChars] = {};
    GetModuleFileNameW(nullptr, exePath, pemaker::kPathChars);
    PathRemoveFileSpecW(exePath);
    PathCombineW(peDir, exePath, pemaker::kPEFolderName);
}

bool InterpreterMayRewrite(const std::wstring& text)
{
    // One '%' alone is left as it is; two may enclose a variable name.
    return std::count(text.begin(), text.end(), L'%') >= 2;
}

bool CPEMaker::Init()
{
    ComposePEFolder(m_szPEDir);

    FormatBounded(m_szWimPath, pemaker::kPathChars, pemaker::kWimPathFormat, m_szPEDir);
    if (!PathFileExistsW(m_szWimPath)) {
        const DWORD error = GetLastError();
        TW_LOG(pemaker::kInitFunction, pemaker::kLogWimNotFound, m_szWimPath, ErrorTextAnsi(error).c_str());
        return false;
    }
    m_bInitialized = 1;
    return true;
}

void CPEMaker::_ReportProgress(uint64_t current, uint64_t total, const char* message)
{
    if (m_pFlow && total != 0) {
        m_pFlow->lastSent = current;
    }
    progress::Report(m_pSink, current, total, message);
}

ToolWatch* CPEMaker::_Watch()
{
    return m_pFlow && m_pFlow->options ? &m_pFlow->watch : nullptr;
}

bool CPEMaker::_Stopped() const
{
    return m_pFlow && m_pFlow->watch.stopped;
}

void CPEMaker::_BeginSpan(uint64_t spanEnd)
{
    if (m_pFlow) {
        m_pFlow->spanStart = m_pFlow->lastSent;
        m_pFlow->spanEnd = spanEnd;
    }
}

bool CPEMaker::_OnToolLine(const std::wstring& line)
{
    unsigned percent = 0;
    if (!runner::FileDataPercent(line, percent)) {
        return true;
    }
    const uint64_t start = m_pFlow->spanStart;
    const uint64_t end = m_pFlow->spanEnd;
    if (end > start + 1) {
        uint64_t value = start + (end - start) * percent / runner::kFullPercent;
        value = value < end ? value : end - 1;
        if (value > m_pFlow->lastSent) {
            _ReportProgress(value, pemaker::kProgressTotal, nullptr);
        }
    }
    return false;
}

bool CPEMaker::_ShouldContinue()
{
    return progress::ShouldContinue(m_pSink);
}

bool CPEMaker::_AskToGoOn()
{
    if (_ShouldContinue()) {
        return true;
    }
    if (m_pFlow) {
        m_pFlow->watch.stopped = true;
    }
    return false;
}

const wchar_t* CPEMaker::_EditedWim() const
{
    return m_pFlow && m_pFlow->image && m_pFlow->image->Begun() ? m_pFlow->image->WorkPath().c_str() : m_szWimPath;
}

std::wstring CPEMaker::_TempFolder()
{
    if (m_pFlow) {
        return m_pFlow->work.Folder();
    }
    wchar_t tempFolder[pemaker::kPathChars] = {};
    const DWORD length = GetTempPathW(pemaker::kPathChars, tempFolder);
    return length == 0 || length >= pemaker::kPathChars ? std::wstring() : std::wstring(tempFolder);
}

void CPEMaker::_Fail(const char* function, const std::string& text)
{
    TW_LOG(function, pemaker::kLogFormat, text.c_str());
    _ReportProgress(0, 0, text.c_str());
}

bool CPEMaker::_OwnsPEFolder(const PEFolderLock& lock, const char* function)
{
    switch (lock.Get()) {
    case PEFolderLock::State::Owned:
    case PEFolderLock::State::NoFolder:
        return true;
    case PEFolderLock::State::InUse:
        _Fail(function, pemaker::kErrorPEFolderInUse);
        return false;
    case PEFolderLock::State::Failed:
        break;
    }
    _Fail(function, pemaker::kErrorCannotLock + ErrorTextAnsi(lock.Error()));
    return false;
}

std::wstring CPEMaker::_FindInterpreterUnsafePath(const std::vector<std::wstring>& paths, const wchar_t* target)
{
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    wchar_t tempDir[pemaker::kPathChars] = {};
    GetTempPathW(pemaker::kPathChars, tempDir);
    std::vector<std::wstring> all{peDir, tempDir, target ? target : L""};
    all.insert(all.end(), paths.begin(), paths.end());
    for (const std::wstring& path : all) {
        if (InterpreterMayRewrite(path)) {
            return path;
        }
    }
    return std::wstring();
}

bool CPEMaker::_RunCommand(const std::wstring& command, DWORD limitMs, bool watched)
{
    return runner::RunCommand(command, limitMs, watched ? _Watch() : nullptr);
}

bool CPEMaker::_RunCommandWithOutput(const std::wstring& command, std::wstring& output, const wchar_t* workDir,
                                     DWORD limitMs, DWORD* exitCode, bool watched)
{
    return runner::RunCommandWithOutput(command, output, workDir, limitMs, exitCode, watched ? _Watch() : nullptr);
}
