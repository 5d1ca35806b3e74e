// The one-time ramdisk boot entry for the working WIM, and the restart.
#include "PEMaker.h"

#include "BcdOutput.h"
#include "BoundedText.h"
#include "common/ErrorText.h"
#include "common/LogFile.h"

#include <cwchar>

namespace {

const size_t kDriveChars = 4;
const size_t kDriveLength = 2;

// "C:" and the rest of the path; a path without a drive is split all the same.
void SplitDrive(const wchar_t* path, wchar_t (&drive)[kDriveChars], wchar_t (&rest)[pemaker::kPathChars])
{
    wcsncpy(drive, path, kDriveLength);
    drive[kDriveLength] = L'\0';
    const size_t length = std::wcslen(path);
    CopyBounded(rest, length > kDriveLength ? path + kDriveLength : L"");
}

// The locale name of the user's UI language, which the boot menu and the
// image's first screens then use.
std::wstring UiLocaleName()
{
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const LCID uiLocale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    if (LCIDToLocaleName(uiLocale, name, LOCALE_NAME_MAX_LENGTH, 0) == 0) {
        return pemaker::kFallbackLocale;
    }
    return name;
}

}  // namespace

bool CPEMaker::RestartToPE()
{
    if (!m_bInitialized) {
        TW_LOG(pemaker::kRestartFunction, pemaker::kLogNotInitialized);
        return false;
    }
    // A stop anywhere ends the call with false: no restart was ordered.
    if (!_AskToGoOn()) {
        return false;
    }
    wchar_t sdiPath[pemaker::kPathChars];
    FormatBounded(sdiPath, pemaker::kPathChars, pemaker::kSdiPathFormat, m_szPEDir);
    std::wstring entryId;
    if (!ConfigureBCD(m_szWimPath, sdiPath, &entryId)) {
        if (!_Stopped()) {
            TW_LOG(pemaker::kRestartFunction, pemaker::kLogBcdFailed);
        }
        _DeleteBootEntry(entryId);
        return false;
    }
    if (!_AskToGoOn()) {
        _DeleteBootEntry(entryId);
        return false;
    }
    TW_LOG(pemaker::kRestartFunction, pemaker::kLogRestarting);
    // Only MakePEWithOptions' flow has a watch.
    if (!_Watch()) {
        // From here the machine restarts into the new image: it stays.
        if (m_pFlow) {
            m_pFlow->image->Commit();
        }
        _RunCommand(pemaker::kRestartCommand, pemaker::kCommandTimeoutMs, false);
        return true;
    }
    // The delay lets the host offer to abort the restart; an entry that no
    // restart follows would surprise at the next start.
    if (!_RunCommand(pemaker::kDelayedRestartCommand, pemaker::kCommandTimeoutMs, false)) {
        TW_LOG(pemaker::kRestartFunction, pemaker::kLogRestartFailed);
        _DeleteBootEntry(entryId);
        return false;
    }
    m_pFlow->image->Commit();
    TW_LOG(pemaker::kRestartFunction, pemaker::kLogEntryMade, entryId.c_str());
    return true;
}

void CPEMaker::_DeleteDescribedEntries()
{
    std::wstring output;
    if (!_RunCommandWithOutput(pemaker::kBcdEnumAll, output, nullptr, pemaker::kCapturedCommandTimeoutMs, nullptr,
                               false)) {
        TW_LOG(pemaker::kConfigureBcdFunction, pemaker::kLogListEntriesFailed);
        return;
    }
    wchar_t command[pemaker::kShortCommandChars];
    for (const std::wstring& id : pemaker::FindDescribedBcdObjects(output, pemaker::kBootEntryDescription)) {
        if (!_AskToGoOn()) {
            return;
        }
        FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdDeleteEntry, id.c_str());
        if (!_RunCommand(command, pemaker::kCommandTimeoutMs, false)) {
            TW_LOG(pemaker::kConfigureBcdFunction, pemaker::kLogDeleteOlderFailed, id.c_str());
        }
    }
}

void CPEMaker::_DeleteBootEntry(const std::wstring& entryId)
{
    if (entryId.empty()) {
        return;
    }
    wchar_t command[pemaker::kShortCommandChars];
    FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdDeleteEntry, entryId.c_str());
    if (_RunCommand(command, pemaker::kCommandTimeoutMs, false)) {
        return;
    }
    // The one-time entry must boot what it was made for.
    TW_LOG(pemaker::kRestartFunction, pemaker::kLogDeleteEntryFailed);
    if (m_pFlow) {
        m_pFlow->image->Commit();
    }
}

bool CPEMaker::ConfigureBCD(const wchar_t* wimPath, const wchar_t* sdiPath, std::wstring* entryId)
{
    wchar_t wimDrive[kDriveChars];
    wchar_t wimRest[pemaker::kPathChars];
    wchar_t sdiDrive[kDriveChars];
    wchar_t sdiRest[pemaker::kPathChars];
    SplitDrive(wimPath, wimDrive, wimRest);
    SplitDrive(sdiPath, sdiDrive, sdiRest);

    wchar_t command[pemaker::kShortCommandChars];
    // Each run finishes at once and is never cut off, so a half-made entry
    // can always be deleted; a host asked while tools run stops the flow
    // between runs.
    // MakePEWithOptions' flow, the only one with a watch, keeps one entry of
    // its own: older ones go first.
    const bool withOptions = _Watch() != nullptr;
    const auto goOn = [&] { return !withOptions || _AskToGoOn(); };
    const auto run = [&](const char* failure) {
        if (!_RunCommand(command, pemaker::kCommandTimeoutMs, false)) {
            TW_LOG(pemaker::kConfigureBcdFunction, pemaker::kLogFormat, failure);
            return false;
        }
        return goOn();
    };

    if (withOptions) {
        _DeleteDescribedEntries();
        if (!goOn()) {
            return false;
        }
    }
    FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdDeleteOptions);
    _RunCommand(command, pemaker::kCommandTimeoutMs, false);
    if (!goOn()) {
        return false;
    }
    FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdCreateOptions);
    if (!run(pemaker::kBcdCreateOptionsFailed)) {
        return false;
    }
    FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdSetSdiDevice, sdiDrive);
    if (!run(pemaker::kBcdSdiDeviceFailed)) {
        return false;
    }
    FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdSetSdiPath, sdiRest);
    if (!run(pemaker::kBcdSdiPathFailed)) {
        return false;
    }

    if (withOptions) {
        FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdCreateDescribedEntry,
                      pemaker::kBootEntryDescription);
    } else {
        FormatBounded(command, pemaker::kShortCommandChars, pemaker::kBcdCreateEntry);
    }
    std::wstring output;
    if (!_RunCommandWithOutput(command, output, nullptr, pemaker::kCapturedCommandTimeoutMs, nullptr, false)) {
        TW_LOG(pemaker::kConfigureBcdFunction, pemaker::kLogCreateEntryFailed, ErrorTextAnsi(GetLastError()).c_str());
        return false;
    }
    std::wstring id;
    if (!pemaker::ParseBcdIdentifier(output, id)) {
        TW_LOG(pemaker::kConfigureBcdFunction, pemaker::kLogParseGuidFailed, output.c_str());
        return false;
    }
    // Known before the steps, so that an entry stopped half-made can be deleted.
    if (entryId) {
        *entryId = id;
    }
    if (!goOn()) {
        return false;
    }
    const std::wstring locale = withOptions ? UiLocaleName() : std::wstring();
    for (const pemaker::BcdEntryStep& step : pemaker::kBcdEntrySteps) {
        if (step.optionsFormat && withOptions) {
            FormatBounded(command, pemaker::kShortCommandChars, step.optionsFormat, id.c_str(), locale.c_str());
        } else if (step.withDevice) {
            FormatBounded(command, pemaker::kShortCommandChars, step.format, id.c_str(), wimDrive, wimRest);
        } else {
            FormatBounded(command, pemaker::kShortCommandChars, step.format, id.c_str());
        }
        if (!run(step.failure)) {
            return false;
        }
    }
    return true;
}
