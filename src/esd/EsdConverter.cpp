#include "EsdConverter.h"

#include "EsdCommandLines.h"
#include "EsdConstants.h"
#include "EsdHeader.h"
#include "WimToolOutput.h"
#include "common/RunnerConstants.h"
#include "common/ToolOutputLines.h"
#include "common/ErrorText.h"
#include "common/IsoTarget.h"
#include "common/LogFile.h"
#include "common/PathIdentity.h"
#include "common/ProgramSearch.h"
#include "common/ProgressReport.h"
#include "common/UniqueHandle.h"
#include "common/WorkFolder.h"

#include <time.h>

#include <iostream>

namespace {

// Makes the work folder and removes it when the conversion leaves, whatever
// the path. Its lock goes first: the removal cannot delete a held lock file.
class WorkFolderOwner {
public:
    explicit WorkFolderOwner(CESDConverter& converter)
        : m_converter(converter), m_path(converter.createTempDirectory(m_lock)) {}
    ~WorkFolderOwner()
    {
        m_lock.Release();
        m_converter.removeTempDirectory(m_path);
    }
    WorkFolderOwner(const WorkFolderOwner&) = delete;
    WorkFolderOwner& operator=(const WorkFolderOwner&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    CESDConverter& m_converter;
    WorkFolderLock m_lock;
    std::wstring m_path;
};

// The first bytes of a file, as many as there are up to size.
size_t ReadStart(const std::wstring& path, unsigned char* bytes, DWORD size)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD got = 0;
    return file.Valid() && ReadFile(file.Get(), bytes, size, &got, nullptr) ? got : 0;
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

CESDConverter::CESDConverter()
    : m_wimlibPath(esd::kDefaultWimlibPath),
      m_cdimagePath(esd::kDefaultCdimagePath),
      m_progress(esd::kProgressStart),
      m_verbose(false),
      m_echoToLog(false),
      m_uefi(false),
      m_watched(false),
      m_allEditions(false),
      m_checkHeader(false),
      m_cancelled(false),
      m_countingImages(false),
      m_edition(esd::kFirstEditionImage),
      m_imageCount(0),
      m_reported(-1),
      m_sink(nullptr),
      m_span{0, 0, 0, 0}
{
}

CESDConverter::~CESDConverter() = default;

void CESDConverter::setWimlibPath(const std::wstring& path) { m_wimlibPath = path; }
void CESDConverter::setCdimagePath(const std::wstring& path) { m_cdimagePath = path; }
void CESDConverter::enableVerbose() { m_verbose = true; }
void CESDConverter::echoToLog() { m_echoToLog = true; }
void CESDConverter::enableUefi() { m_uefi = true; }
void CESDConverter::selectEdition(unsigned edition) { m_edition = edition; }
void CESDConverter::enableAllEditions() { m_allEditions = true; }
void CESDConverter::checkHeader() { m_checkHeader = true; }
int CESDConverter::getProgress() const { return m_progress; }
std::wstring CESDConverter::getStatusMessage() const { return m_statusMessage; }
bool CESDConverter::wasCancelled() const { return m_cancelled; }

void CESDConverter::watchTools(IProgressSink* sink)
{
    m_watched = true;
    m_sink = sink;
}

void CESDConverter::setStage(int progress, const wchar_t* status)
{
    m_progress = progress;
    m_statusMessage = status;
    m_span.runs = 0;
    report(progress);
}

// A failed stage's end: a cancellation keeps its own text over the stage's.
bool CESDConverter::stopped()
{
    if (m_cancelled) {
        m_statusMessage = esd::kStatusCancelled;
    }
    return false;
}

bool CESDConverter::goOn()
{
    if (!m_cancelled && !progress::ShouldContinue(m_sink)) {
        m_cancelled = true;
        m_statusMessage = esd::kStatusCancelled;
    }
    return !m_cancelled;
}

void CESDConverter::report(int value)
{
    if (m_sink && value > m_reported) {
        m_reported = value;
        progress::Report(m_sink, static_cast<uint64_t>(value), progress::kTotal, nullptr);
    }
}

// One line to standard wide output, or to the log. A character the stream
// cannot convert sets its fail bit; clearing it keeps later lines from being lost.
void CESDConverter::echo(const wchar_t* prefix, const std::wstring& text)
{
    if (m_echoToLog) {
        TW_LOG("CESDConverter::convert", "%s", WideToAnsi(prefix + text).c_str());
        return;
    }
    std::wcout << prefix << text << std::endl;
    if (!std::wcout) {
        std::wcout.clear();
        std::wcout << std::flush;
    }
}

void CESDConverter::onToolLine(const std::wstring& line)
{
    if (line.find_first_not_of(L" \t") != std::wstring::npos) {
        m_lastLine = line;
    }
    unsigned number = 0;
    if (m_countingImages) {
        if (m_imageCount == 0 && esd::ImageCount(line, number)) {
            m_imageCount = number;
        }
        return;
    }
    if (m_span.runs == 0 || !runner::FileDataPercent(line, number)) {
        return;
    }
    // Run index of runs at number %: start + span * (100 * index + number) / (100 * runs).
    const long long full = runner::kFullPercent;
    const long long done = full * m_span.index + number;
    const long long value = m_span.start + (m_span.next - m_span.start) * done / (full * m_span.runs);
    report(static_cast<int>(value < m_span.next ? value : m_span.next - 1));
}

bool CESDConverter::runEchoed(const std::wstring& command)
{
    return goOn() && runAsked(command);
}

// The run after its cancellation check.
bool CESDConverter::runAsked(const std::wstring& command)
{
    if (m_verbose) {
        echo(L"Command: ", command);
    }
    return m_watched ? runWatchedCommand(command) : runCommand(command);
}

bool CESDConverter::convert(const std::wstring& esdArgument, const std::wstring& isoArgument,
                            const std::wstring& label)
{
    // Once, here: the tools run in the caller's current folder, which must
    // not decide later where anything lands.
    const std::wstring esdPath = FullPath(esdArgument);
    const std::wstring isoPath = FullPath(isoArgument);
    if (m_verbose) {
        echo(L"ESD file: ", esdPath);
        echo(L"ISO file: ", isoPath);
        echo(L"ISO label: ", label);
    }
    // The first record after the echo, so that a console host's bar follows it.
    setStage(esd::kProgressStart, esd::kStatusStart);

    if (GetFileAttributesW(esdPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        m_statusMessage = esd::kStatusEsdMissing;
        return false;
    }
    // Each of these is replaced or deleted by the call.
    if (SameFile(esdPath, isoPath) || SameFile(esdPath, IsoTarget::PartialPathOf(isoPath)) ||
        SameFile(esdPath, isoPath + IsoTarget::kLockSuffix)) {
        m_statusMessage = esd::kStatusIsoIsEsd;
        return false;
    }
    if (IsFolder(isoPath)) {
        m_statusMessage = esd::kStatusIsoIsFolder;
        return false;
    }
    if (m_checkHeader && !headerHoldsEdition(esdPath)) {
        return false;
    }
    if (!isoFolderAndToolsFound(isoPath)) {
        return false;
    }

    IsoTarget target(isoPath);
    DWORD error = 0;
    const IsoTarget::Claim claim = target.Lock(error);
    if (claim != IsoTarget::Claim::Owned) {
        m_statusMessage = claim == IsoTarget::Claim::InUse ? std::wstring(esd::kStatusIsoInUse)
                                                           : esd::kStatusIsoLockFailed + ErrorText(error);
        return false;
    }

    const WorkFolderOwner workFolder(*this);
    if (workFolder.Path().empty()) {
        m_statusMessage = esd::kStatusNoTempDir;
        return false;
    }
    // The ISO's tree, which the stages and the tools know as the work folder,
    // lies below the lock file: a tool reading the tree could not open it.
    const std::wstring workDir = workFolder.Path() + esd::kMediaFolder;

    setStage(esd::kProgressExtract, esd::kStatusExtracting);
    if (!extractBootFiles(esdPath, workDir)) {
        return stopped();
    }
    setStage(esd::kProgressBootWim, esd::kStatusBootWim);
    if (!createBootWim(esdPath, workDir)) {
        return stopped();
    }
    setStage(esd::kProgressInstallWim, esd::kStatusInstallWim);
    if (!createInstallWim(esdPath, workDir)) {
        return stopped();
    }
    setStage(esd::kProgressIso, esd::kStatusBuildingIso);
    if (!buildIso(workDir, target, label)) {
        return stopped();
    }
    setStage(esd::kProgressDone, esd::kStatusDone);
    return true;
}

// Refuses, before any folder or tool, an ESD that the exports would fail on
// only after minutes of extraction.
bool CESDConverter::headerHoldsEdition(const std::wstring& esdPath)
{
    unsigned char header[esd::kWimHeaderBytes] = {};
    uint32_t count = 0;
    if (!esd::WimImageCount(header, ReadStart(esdPath, header, sizeof(header)), count)) {
        m_statusMessage = esd::kStatusNotWim;
        return false;
    }
    if (count < esd::kFirstEditionImage) {
        m_statusMessage = esd::kStatusNoEdition;
        return false;
    }
    if (!m_allEditions && m_edition > count) {
        m_statusMessage = esd::kStatusNoSuchEdition + std::to_wstring(m_edition);
        return false;
    }
    return true;
}

// Refuses, before any folder or tool, what would fail only after the
// extraction and the exports: a missing ISO folder, a missing tool.
bool CESDConverter::isoFolderAndToolsFound(const std::wstring& isoPath)
{
    std::wstring folder = isoPath.substr(0, isoPath.find_last_of(L"\\/"));
    // "C:" alone would name the drive's current folder.
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';
    }
    if (!IsFolder(folder)) {
        m_statusMessage = esd::kStatusNoIsoFolder + folder;
        return false;
    }
    for (const std::wstring* tool : {&m_wimlibPath, &m_cdimagePath}) {
        const std::vector<std::wstring> places = RelativeProgramPlaces(*tool);
        if (FirstFileOf(places).empty()) {
            const std::wstring name = tool->substr(tool->find_last_of(L"\\/") + 1);
            std::wstring searched;
            for (const std::wstring& place : places) {
                searched += (searched.empty() ? L"" : esd::kPlaceSeparator) + place;
            }
            TW_LOG(esd::kConvertMethod, esd::kLogToolNotFound, WideToAnsi(name).c_str(), WideToAnsi(searched).c_str());
            m_statusMessage = esd::kStatusToolNotFound + name;
            return false;
        }
    }
    return true;
}

bool CESDConverter::extractBootFiles(const std::wstring& esdPath, const std::wstring& workDir)
{
    DWORD error = 0;
    if (!CreateFolderOrExisting(workDir, error)) {
        m_statusMessage = esd::kStatusExtractDirFailed + ErrorText(error);
        return false;
    }
    if (!CreateFolderOrExisting(workDir + L"\\sources", error)) {
        m_statusMessage = esd::kStatusSourcesDirFailed + ErrorText(error);
        return false;
    }
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    m_span = {esd::kProgressExtract, esd::kProgressBootWim, 1, 0};
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
    m_span = {esd::kProgressBootWim, esd::kProgressInstallWim, 2, 0};
    if (!runEchoed(esd::ExportWinPeCommand(tools, esdPath, bootWim))) {
        m_statusMessage = esd::kStatusWinPeFailed;
        return false;
    }
    m_span.index = 1;
    if (!runEchoed(esd::ExportSetupCommand(tools, esdPath, bootWim))) {
        m_statusMessage = esd::kStatusSetupFailed;
        return false;
    }
    return true;
}

bool CESDConverter::createInstallWim(const std::wstring& esdPath, const std::wstring& workDir)
{
    const std::wstring installWim = workDir + L"\\sources\\install.wim";
    if (m_allEditions) {
        return exportEditions(esdPath, installWim);
    }
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    m_span = {esd::kProgressInstallWim, esd::kProgressIso, 1, 0};
    if (!runEchoed(esd::ExportInstallCommand(tools, esdPath, installWim, m_edition))) {
        m_statusMessage = esd::kStatusInstallFailed;
        return false;
    }
    return true;
}

// Images 4 to the count that "info" gives, one export run each.
bool CESDConverter::exportEditions(const std::wstring& esdPath, const std::wstring& installWim)
{
    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    m_imageCount = 0;
    m_countingImages = true;
    const bool described = runEchoed(esd::InfoCommand(tools, esdPath));
    m_countingImages = false;
    if (!described) {
        return false;
    }
    if (m_imageCount < esd::kFirstEditionImage) {
        m_statusMessage = esd::kStatusNoEdition;
        return false;
    }
    m_span = {esd::kProgressInstallWim, esd::kProgressIso, m_imageCount - esd::kFirstEditionImage + 1, 0};
    for (unsigned image = esd::kFirstEditionImage; image <= m_imageCount; ++image) {
        m_span.index = image - esd::kFirstEditionImage;
        if (!runEchoed(esd::ExportInstallCommand(tools, esdPath, installWim, image))) {
            m_statusMessage = esd::kStatusInstallFailed;
            return false;
        }
    }
    return true;
}

bool CESDConverter::buildIso(const std::wstring& workDir, IsoTarget& target, const std::wstring& label)
{
    if (!goOn()) {
        return false;
    }
    DWORD error = 0;
    if (!target.Prepare(error)) {
        m_statusMessage = esd::kStatusPutInPlaceFailed + ErrorText(error);
        return false;
    }

    wchar_t stamp[esd::kStampChars] = {};
    const __time64_t now = _time64(nullptr);
    struct tm local = {};
    if (_localtime64_s(&local, &now) == 0) {
        wcsftime(stamp, esd::kStampChars, esd::kStampFormat, &local);
    }

    const esd::ToolPaths tools{m_wimlibPath, m_cdimagePath, !m_verbose};
    if (!runAsked(esd::IsoCommand(tools, workDir, target.PartialPath(), label, stamp, m_uefi))) {
        return false;
    }
    if (!target.Commit(error)) {
        m_statusMessage = esd::kStatusPutInPlaceFailed + ErrorText(error);
        return false;
    }
    return true;
}
