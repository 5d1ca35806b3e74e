#include "EsdConverter.h"

#include "EsdCommandLines.h"
#include "EsdConstants.h"
#include "common/PathIdentity.h"

#include <time.h>

#include <iostream>
#include <utility>

namespace {

// Writes one line to standard wide output. A character the stream cannot
// convert sets its fail bit; clearing it keeps later lines from being lost.
void EchoLine(const std::wstring& prefix, const std::wstring& text)
{
    std::wcout << prefix << text << std::endl;
    if (!std::wcout) {
        std::wcout.clear();
        std::wcout << std::flush;
    }
}

// Removes the work folder when the conversion leaves, whatever the path.
class WorkFolderOwner {
public:
    WorkFolderOwner(CESDConverter& converter, std::wstring path)
        : m_converter(converter), m_path(std::move(path)) {}
    ~WorkFolderOwner() { m_converter.removeTempDirectory(m_path); }
    WorkFolderOwner(const WorkFolderOwner&) = delete;
    WorkFolderOwner& operator=(const WorkFolderOwner&) = delete;

private:
    CESDConverter& m_converter;
    std::wstring m_path;
};

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderOrExisting(const std::wstring& path, DWORD& error)
{
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    error = GetLastError();
    return error == ERROR_ALREADY_EXISTS;
}

}  // namespace

DWORD CESDConverter::s_commandTimeoutMs = esd::kCommandTimeoutMs;
BOOL(WINAPI* CESDConverter::s_endProcess)(HANDLE, UINT) = TerminateProcess;

CESDConverter::CESDConverter()
    : m_wimlibPath(esd::kDefaultWimlibPath),
      m_cdimagePath(esd::kDefaultCdimagePath),
      m_progress(esd::kProgressStart),
      m_verbose(false),
      m_uefi(false)
{
}

CESDConverter::~CESDConverter() = default;

void CESDConverter::setWimlibPath(const std::wstring& path) { m_wimlibPath = path; }
void CESDConverter::setCdimagePath(const std::wstring& path) { m_cdimagePath = path; }
void CESDConverter::enableVerbose() { m_verbose = true; }
void CESDConverter::enableUefi() { m_uefi = true; }
int CESDConverter::getProgress() const { return m_progress; }
std::wstring CESDConverter::getStatusMessage() const { return m_statusMessage; }

void CESDConverter::setStage(int progress, const wchar_t* status)
{
    m_progress = progress;
    m_statusMessage = status;
}

bool CESDConverter::runEchoed(const std::wstring& command)
{
    if (m_verbose) {
        EchoLine(L"Command: ", command);
    }
    return runCommand(command);
}

bool CESDConverter::convert(const std::wstring& esdPath, const std::wstring& isoPath, const std::wstring& label)
{
    setStage(esd::kProgressStart, esd::kStatusStart);
    if (m_verbose) {
        EchoLine(L"ESD file: ", esdPath);
        EchoLine(L"ISO file: ", isoPath);
        EchoLine(L"ISO label: ", label);
    }

    if (GetFileAttributesW(esdPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        m_statusMessage = esd::kStatusEsdMissing;
        return false;
    }
    // The ISO stage deletes an existing ISO before its tool runs: that would be the ESD.
    if (SameFile(esdPath, isoPath)) {
        m_statusMessage = esd::kStatusIsoIsEsd;
        return false;
    }

    const std::wstring workDir = createTempDirectory();
    if (workDir.empty()) {
        m_statusMessage = esd::kStatusNoTempDir;
        return false;
    }
    WorkFolderOwner workFolder(*this, workDir);

    setStage(esd::kProgressExtract, esd::kStatusExtracting);
    if (!extractBootFiles(esdPath, workDir)) {
        return false;
    }
    setStage(esd::kProgressBootWim, esd::kStatusBootWim);
    if (!createBootWim(esdPath, workDir)) {
        return false;
    }
    setStage(esd::kProgressInstallWim, esd::kStatusInstallWim);
    if (!createInstallWim(esdPath, workDir)) {
        return false;
    }
    setStage(esd::kProgressIso, esd::kStatusBuildingIso);
    if (!buildIso(workDir, isoPath, label)) {
        return false;
    }
    setStage(esd::kProgressDone, esd::kStatusDone);
    return true;
}

bool CESDConverter::extractBootFiles(const std::wstring& esdPath, const std::wstring& workDir)
{
    DWORD error = 0;
    if (!CreateFolderOrExisting(workDir, error)) {
        m_statusMessage = esd::kStatusExtractDirFailed + std::to_wstring(error);
        return false;
    }
    if (!CreateFolderOrExisting(workDir + L"\\sources", error)) {
        m_statusMessage = esd::kStatusSourcesDirFailed + std::to_wstring(error);
        return false;
    }
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    if (!runEchoed(esd::ExtractCommand(tools, esdPath, workDir))) {
        return false;
    }
    // Checked here so that a medium without the image costs no exports.
    if (m_uefi && !IsFile(workDir + esd::kUefiBootImage)) {
        m_statusMessage = esd::kStatusUefiImageMissing;
        return false;
    }
    return true;
}

bool CESDConverter::createBootWim(const std::wstring& esdPath, const std::wstring& workDir)
{
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    const std::wstring bootWim = workDir + L"\\sources\\boot.wim";
    if (!runEchoed(esd::ExportWinPeCommand(tools, esdPath, bootWim))) {
        m_statusMessage = esd::kStatusWinPeFailed;
        return false;
    }
    if (!runEchoed(esd::ExportSetupCommand(tools, esdPath, bootWim))) {
        m_statusMessage = esd::kStatusSetupFailed;
        return false;
    }
    return true;
}

bool CESDConverter::createInstallWim(const std::wstring& esdPath, const std::wstring& workDir)
{
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    if (!runEchoed(esd::ExportInstallCommand(tools, esdPath, workDir + L"\\sources\\install.wim"))) {
        m_statusMessage = esd::kStatusInstallFailed;
        return false;
    }
    return true;
}

bool CESDConverter::buildIso(const std::wstring& workDir, const std::wstring& isoPath, const std::wstring& label)
{
    if (!DeleteFileW(isoPath.c_str())) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            m_statusMessage = esd::kStatusDeleteIsoFailed + std::to_wstring(error);
            return false;
        }
    }

    wchar_t stamp[esd::kStampChars] = {};
    const __time64_t now = _time64(nullptr);
    struct tm local = {};
    if (_localtime64_s(&local, &now) == 0) {
        wcsftime(stamp, esd::kStampChars, esd::kStampFormat, &local);
    }

    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    return runEchoed(esd::IsoCommand(tools, workDir, isoPath, label, stamp, m_uefi));
}
