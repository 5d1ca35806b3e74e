#pragma once

#include <windows.h>

#include <cstdint>

// Fixed names, paths, time limits and texts of the WinPE builder.
namespace pemaker {

constexpr size_t kPathChars = 260;
constexpr size_t kCommandChars = 1040;
constexpr size_t kShortCommandChars = 520;

constexpr const wchar_t* kPEFolderName = L"PE";
constexpr const wchar_t* kWimPathFormat = L"%ls\\ISO\\SOURCES\\BOOT.wim";
constexpr const wchar_t* kSourcesFolder = L"\\ISO\\SOURCES";
constexpr const wchar_t* kIsoFolder = L"\\ISO";
constexpr const wchar_t* kWimFileName = L"BOOT.wim";

// WIM updates.
constexpr const wchar_t* kWimlibRelativePath = L"tools\\wimlib-imagex.exe";
constexpr const wchar_t* kUpdateFilePrefix = L"WIM";
constexpr DWORD kWimlibTimeoutMs = 1200000;

// Command runner limits.
constexpr DWORD kCommandTimeoutMs = 200000;
constexpr DWORD kCapturedCommandTimeoutMs = 300000;

// Log texts.
constexpr const char* kInitFunction = "CPEMaker::Init";
constexpr const char* kLogWimNotFound = "PEMaker::Init: Source WIM not found at %ls, error code: %s";

constexpr const char* kUpdateFunction = "CPEMaker::_UpdateWIM";
constexpr const char* kLogNoWimlib = "PEMaker::_UpdateWIM: Failed to locate wimlib-imagex.exe";
constexpr const char* kLogNoCommandFile = "PEMaker::_UpdateWIM: Failed to create update command file";
constexpr const char* kLogUpdateFailed = "PEMaker::_UpdateWIM: wimlib update failed. wim=%s, output=%s";
constexpr const char* kLogUpdateCommand = "PEMaker::_UpdateWIM: update command[%u]=%s";
constexpr const char* kLogImageUpToDate =
    "PEMaker::_UpdateWIM: BOOT.wim already holds these sources as they are; not updated";
constexpr const char* kLogOptimizeFailed = "PEMaker::_UpdateWIM: wimlib optimize failed. wim=%s, output=%s";

// Image paths and host folders of the application injection.
constexpr const wchar_t* kToolsetFolder = L"\\TarnwickToolset";
constexpr const wchar_t* kAppFolderName = L"Brightmoor";
constexpr const wchar_t* kRenameAppAway = L"rename \"\\TarnwickToolset\\Brightmoor\" \"\\_Brightmoor\"";
constexpr const wchar_t* kDeleteToolset = L"delete --recursive \"\\TarnwickToolset\"";
constexpr const wchar_t* kRenameAppBack = L"rename \"\\_Brightmoor\" \"\\TarnwickToolset\\Brightmoor\"";
constexpr const wchar_t* kWinpeshlImagePath = L"\\Windows\\System32\\winpeshl.ini";
constexpr const wchar_t* kEmptyFolderName = L"_wim_empty";
constexpr const wchar_t* kStagingPrefix = L"PEC";
constexpr const wchar_t* kStartupFilePrefix = L"PES";
constexpr const wchar_t* kRobocopyFormat = L"ROBOCOPY \"%ls\" \"%ls\" /E /NFL /NDL /R:1 /W:1 /XD \"%ls\"";
constexpr const wchar_t* kRmdirFormat = L"rmdir /s /q \"%ls\"";

// What MakePEWithOptions adds: driver packages, networking, a clean folder.
constexpr const wchar_t* kCleanDeleteToolset = L"delete --force --recursive \"\\TarnwickToolset\"";
constexpr const wchar_t* kDriverFolderFormat = L"\\TarnwickToolset\\Drivers\\%02u";
// An accepted INF's folder below the image's Drivers folder, as load.cmd names it.
constexpr const wchar_t* kDriverInfFolderFormat = L"%02u\\";
// The forms of a final path; "\\?\UNC\server\share" is "\\server\share".
constexpr const wchar_t* kLongPrefix = L"\\\\?\\";
constexpr const wchar_t* kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr const wchar_t* kUncPrefix = L"\\\\";
constexpr const wchar_t* kLoadCmdImagePath = L"\\TarnwickToolset\\Drivers\\load.cmd";
// load.cmd: a command script cannot be UTF-16, so plain ASCII. One block
// per INF, each logged before and after with drvload's exit code. The log
// lines put the redirection first: "exit 1>>" would redirect handle 1.
constexpr const char* kLoadCmdHeadFormat =
    "@echo off\r\n"
    "set LOG=%%SYSTEMROOT%%\\Temp\\tarnwick-drivers.log\r\n"
    ">>\"%%LOG%%\" echo %%DATE%% %%TIME%% tarnwick: loading %u driver packages\r\n";
// Its texts: the INF's number, the count, then the INF's path four times,
// escaped for where it stands.
constexpr const char* kLoadCmdInfFormat =
    "echo Loading driver %u of %u: %s\r\n"
    ">>\"%%LOG%%\" echo %%TIME%% %s\r\n"
    "drvload \"%%~dp0%s\">>\"%%LOG%%\" 2>&1\r\n"
    ">>\"%%LOG%%\" echo %%TIME%% %s exit %%ERRORLEVEL%%\r\n";
constexpr const char* kLoadCmdEnd = "exit /b 0\r\n";
constexpr const wchar_t* kLaunchAppsHeader = L"[LaunchApps]\r\n";
// Device setup and unattend handling; a list without it skips them.
constexpr const wchar_t* kLaunchDeviceSetup = L"%SYSTEMROOT%\\System32\\wpeinit.exe\r\n";
constexpr const wchar_t* kLaunchDrivers =
    L"%SYSTEMROOT%\\System32\\cmd.exe, /c %SYSTEMDRIVE%\\TarnwickToolset\\Drivers\\load.cmd\r\n";
constexpr const wchar_t* kLaunchNetwork = L"%SYSTEMROOT%\\System32\\wpeutil.exe, InitializeNetwork\r\n"
                                          L"%SYSTEMROOT%\\System32\\wpeutil.exe, WaitForNetwork\r\n";
constexpr const wchar_t* kLaunchAppFormat = L"\"%%systemdrive%%\\%ls\"\r\n";
constexpr const wchar_t* kLaunchShell = L"%systemdrive%\\Windows\\System32\\cmd.exe";
constexpr size_t kMaxDriverFolders = 99;
constexpr const wchar_t* kInfPattern = L"*.inf";
constexpr const char* kErrorInvalidOptions = "BuildPE: Invalid options";
constexpr const char* kErrorUnknownFlags = "BuildPE: Unknown flags";
constexpr const char* kErrorDriverFolderNotFound = "BuildPE: Driver folder not found: ";
constexpr const char* kErrorDriveRootDriverFolder = "BuildPE: A drive root cannot be a driver folder: ";
constexpr const char* kErrorNoUsableDriver = "BuildPE: No usable driver package in ";
constexpr const char* kReasonNoInf = "no .inf file";
constexpr const char* kReasonUnreadableInf = "cannot be read";
constexpr const char* kLogDriverSkipped = "BuildPE: Driver package skipped: %ls: %s";
constexpr const char* kErrorDriverFolderHoldsPE = "BuildPE: Driver folder holds the PE folder: ";
constexpr const char* kReasonHoldsLink = "package holds a link: ";
// load.cmd is ASCII, read by the interpreter in the OEM code page.
constexpr const char* kReasonNotAsciiPath = "path is not ASCII, load.cmd cannot name it";
constexpr const char* kErrorAddDrivers = "BuildPE: Failed to add driver packages";

// Progress values of the flows.
constexpr uint64_t kProgressStart = 0;
constexpr uint64_t kProgressInitialized = 5;
constexpr uint64_t kProgressCleared = 15;
constexpr uint64_t kProgressSourceSpan = 45;
constexpr uint64_t kProgressSourceBase = 40;
constexpr uint64_t kProgressSourceCap = 85;
constexpr uint64_t kProgressConfigFiles = 20;
constexpr uint64_t kProgressDriversEnd = 89;
constexpr uint64_t kProgressInjected = 90;
constexpr uint64_t kProgressDone = 100;
constexpr uint64_t kProgressTotal = 100;

constexpr const char* kCopyAppFunction = "CPEMaker::CopyApp";
constexpr const char* kLogInvalidParameters = "PEMaker::CopyApp: invalid parameters.";
constexpr const char* kLogClearOutFailed = "PEMaker::CopyApp: failed to clean up old user content";
constexpr const char* kLogAttributesFailed = "PEMaker::CopyApp: GetFileAttributesW failed for %ls, error: %s";
constexpr const char* kLogStartupNotFound = "PEMaker::CopyApp: startup exe not found in copied content.";
// ROBOCOPY's exit codes below 8 report what it copied; 8 and above, failures.
constexpr DWORD kRobocopyFirstFailure = 8;
constexpr const char* kLogRobocopyFailed = "PEMaker::CopyApp: ROBOCOPY failed, exit code: %lu, output=%s";
constexpr size_t kToolOutputLogBytes = 1024;

// ISO creation.
constexpr const wchar_t* kBootSectorFormat = L"%ls\\etfsboot.com";
constexpr const wchar_t* kIsoRootFormat = L"%ls\\ISO";
constexpr const wchar_t* kIsoFileFormat = L"%ls\\boot.iso";
constexpr const wchar_t* kIsoFileName = L"boot.iso";
constexpr const wchar_t* kOscdimgFormat = L"oscdimg.exe -n -m -o -b\"%ls\" -t%02d/%02d/%04d,%02d:%02d:00 \"%ls\" \"%ls\"";
// An installation that ships efisys.bin beside etfsboot.com gets media that
// boot on UEFI firmware too: a second, platform 0xEF, boot entry.
constexpr const wchar_t* kEfiImageFormat = L"%ls\\efisys.bin";
constexpr const wchar_t* kOscdimgUefiFormat =
    L"oscdimg.exe -n -m -o -bootdata:2#p0,e,b\"%ls\"#pEF,e,b\"%ls\" -t%02d/%02d/%04d,%02d:%02d:00 \"%ls\" \"%ls\"";
// Reported when the command does not fit its buffer; nothing is run then.
constexpr DWORD kIsoCommandTooLongError = ERROR_INSUFFICIENT_BUFFER;
// Reported when the output folder leaves no room for "boot.iso"; nothing is run then.
constexpr DWORD kIsoPathTooLongError = ERROR_FILENAME_EXCED_RANGE;
constexpr int kIsoStampMonth = 7;
constexpr int kIsoStampDay = 9;
constexpr int kIsoStampYear = 2021;
constexpr int kIsoStampHour = 17;
constexpr int kIsoStampMinute = 30;
constexpr const char* kCreateIsoFunction = "CPEMaker::CreateISO";
constexpr const char* kLogIsoFailed = "PEMaker::CreateISO: Failed to create ISO, error code: %s";
// After a run that ended with another exit code than 0: that code and the
// start of what the tool wrote.
constexpr const char* kLogIsoToolFailed = "PEMaker::CreateISO: oscdimg exit code: %lu, output: %s";
constexpr const char* kLogIsoPrepareFailed = "PEMaker::CreateISO: Failed to clear the partial ISO, error code: %s";
constexpr const char* kLogIsoPlaceFailed = "PEMaker::CreateISO: Failed to put the ISO in place, error code: %s";

// Ramdisk boot entry and restart.
constexpr const wchar_t* kSdiPathFormat = L"%ls\\ISO\\BOOT\\BOOT.SDI";
constexpr const wchar_t* kRestartCommand = L"shutdown /r /t 0";
constexpr const char* kRestartFunction = "CPEMaker::RestartToPE";
constexpr const char* kConfigureBcdFunction = "CPEMaker::ConfigureBCD";
constexpr const char* kLogNotInitialized = "PEMaker::RestartToPE: Not initialized";
constexpr const char* kLogBcdFailed = "PEMaker::RestartToPE: Failed to configure BCD";
constexpr const char* kLogRestarting = "PEMaker::RestartToPE: restarting to PE...";
constexpr const char* kLogCreateEntryFailed = "PEMaker::RestartToPE: Failed to create BCD entry, error code: %s";
constexpr const wchar_t* kBcdDeleteOptions = L"bcdedit /delete {ramdiskoptions} /f";
constexpr const wchar_t* kBcdCreateOptions = L"bcdedit /create {ramdiskoptions} /d \"Ramdisk Options\"";
constexpr const wchar_t* kBcdSetSdiDevice = L"bcdedit /set {ramdiskoptions} ramdisksdidevice partition=%ls";
constexpr const wchar_t* kBcdSetSdiPath = L"bcdedit /set {ramdiskoptions} ramdisksdipath \"%ls\"";
constexpr const wchar_t* kBcdCreateEntry = L"bcdedit /create /d \"Temporary WinPE\" /application osloader";
constexpr const char* kBcdCreateOptionsFailed = "Failed to create {ramdiskoptions}";
constexpr const char* kBcdSdiDeviceFailed = "Failed to set ramdisksdidevice";
constexpr const char* kBcdSdiPathFailed = "Failed to set ramdisksdipath";

// The settings of the new entry, in order. withDevice: the format takes the
// WIM's drive and rest after the identifier. optionsFormat, when set, takes
// the place of format in MakePEWithOptions and the PC's locale after the
// identifier.
struct BcdEntryStep {
    const wchar_t* format;
    bool withDevice;
    const char* failure;
    const wchar_t* optionsFormat = nullptr;
};
constexpr BcdEntryStep kBcdEntrySteps[] = {
    {L"bcdedit /set {%ls} device ramdisk=[%ls]\"%ls\",{ramdiskoptions}", true, "Failed to set device"},
    {L"bcdedit /set {%ls} path \\windows\\system32\\winload.efi", false, "Failed to set path"},
    {L"bcdedit /set {%ls} osdevice ramdisk=[%ls]\"%ls\",{ramdiskoptions}", true, "Failed to set osdevice"},
    {L"bcdedit /set {%ls} systemroot \\windows", false, "Failed to set systemroot"},
    {L"bcdedit /set {%ls} winpe yes", false, "Failed to set winpe"},
    {L"bcdedit /set {%ls} nx optin", false, "Failed to set nx"},
    {L"bcdedit /set {%ls} detecthal yes", false, "Failed to set detecthal"},
    {L"bcdedit /set {%ls} bootmenupolicy Standard", false, "Failed to set bootmenupolicy"},
    {L"bcdedit /set {%ls} isolatedcontext yes", false, "Failed to set isolatedcontext"},
    {L"bcdedit /set {%ls} locale zh-CN", false, "Failed to set locale", L"bcdedit /set {%ls} locale %ls"},
    {L"bcdedit /bootsequence {%ls} /addfirst", false, "Failed to set bootsequence"},
};

// A boot entry made by a build that was then cancelled before the restart.
constexpr const wchar_t* kBcdDeleteEntry = L"bcdedit /delete {%ls} /f";
constexpr const char* kLogDeleteEntryFailed = "PEMaker::RestartToPE: Failed to delete the boot entry";

constexpr const char* kLogParseGuidFailed = "PEMaker::RestartToPE: Failed to parse BCD GUID from output: %ls";

// MakePEWithOptions keeps one entry of its own on the PC: made with its
// description, so that the next build finds it even half-made, in the PC's
// UI language, and shown to the user for a few seconds before the restart.
constexpr const wchar_t* kBootEntryDescription = L"Tarnwick rescue media";
constexpr const wchar_t* kBcdCreateDescribedEntry = L"bcdedit /create /d \"%ls\" /application osloader";
constexpr const wchar_t* kBcdEnumAll = L"bcdedit /enum all";
constexpr const wchar_t* kFallbackLocale = L"en-US";
constexpr const wchar_t* kDelayedRestartCommand = L"shutdown /r /t 5";
constexpr const char* kLogListEntriesFailed = "PEMaker::ConfigureBCD: Failed to list the boot entries";
constexpr const char* kLogDeleteOlderFailed = "PEMaker::ConfigureBCD: Failed to delete the older entry {%ls}";
constexpr const char* kLogRestartFailed = "PEMaker::RestartToPE: Failed to order the restart";
constexpr const char* kLogEntryMade = "PEMaker::RestartToPE: boot entry {%ls} made";

// Build flows.
constexpr const char* kCreatePEFunction = "CPEMaker::CreatePE";
constexpr const char* kConfigureBootWimFunction = "CPEMaker::ConfigureBootWim";
constexpr const char* kLogNoRequirements = "ConfigureBootWim: no requirements found in %s\\pe_requirements";
constexpr const char* kErrorInit = "BuildPE: Failed to initialize CPEMaker";
constexpr const char* kErrorCopyApp = "BuildPE: Failed to copy application files";
constexpr const char* kErrorRestart = "BuildPE: Failed to restart to PE environment";
constexpr const char* kErrorIso = "Failed to create ISO file";
constexpr const char* kErrorProductionType = "Incorrect production type";
constexpr const char* kErrorConfigFiles = "BuildPE: Failed to copy configuration files";
constexpr const char* kLogCancelled = "Operation cancelled by user";
constexpr const char* kLogFormat = "%s";
// Paths that the command interpreter could rewrite (%NAME% is expanded inside
// quotes too) are refused before anything runs.
constexpr const char* kLogPathUnsupported = "BuildPE: Path not supported by the command interpreter: %ls";
constexpr const char* kErrorPathUnsupported = "Path not supported by the command interpreter";
// Builds edit the PE folder's BOOT.wim in place: one at a time per folder,
// through a lock file in it (outside ISO\, so never on the media).
constexpr const char* kErrorPEFolderInUse = "BuildPE: PE folder in use by another build";
// Failure texts that end in a path or a code are these prefixes and it.
constexpr const char* kErrorCannotLock = "BuildPE: Cannot lock the PE folder, error code: ";
constexpr const wchar_t* kLockFileName = L"tarnwick-build.lock";

// The boot image's working copy, the old image while the new one is being
// delivered, and the record of that swap, all in the PE folder (never on the media).
constexpr const wchar_t* kWimWorkName = L"BOOT.wim.work";
constexpr const wchar_t* kWimPreviousName = L"BOOT.wim.previous";
constexpr const wchar_t* kSwapStateName = L"tarnwick-build.state";
// The image's size after its last full rewrite, by its identity; a build
// rewrites it whole once it has grown past 3/2 of that.
constexpr const wchar_t* kRewriteRecordName = L"tarnwick-image.size";
constexpr unsigned long long kRewriteGrowthNumerator = 3;
constexpr unsigned long long kRewriteGrowthDenominator = 2;
// What the last release saved its image as.
constexpr const wchar_t* kOldWimBackupName = L"BOOT.wim.bak";
constexpr const char* kErrorCopyWimFailed = "BuildPE: Failed to copy BOOT.wim, error code: ";
constexpr const char* kErrorRestoreFailed = "BuildPE: Failed to restore BOOT.wim, error code: ";
constexpr const char* kErrorReplaceWimFailed = "BuildPE: Failed to put BOOT.wim in place, error code: ";
constexpr const char* kErrorSettleFailed = "BuildPE: Failed to settle an interrupted build, error code: ";
constexpr const char* kLogRestoredInterrupted = "BuildPE: Restored BOOT.wim of an interrupted build";
constexpr const char* kLogKeptInterrupted = "BuildPE: Kept BOOT.wim; discarded the image of an interrupted build";
constexpr const char* kErrorOtherVolume = "BuildPE: The boot image is on another volume than the PE folder";

// Checks of a build's inputs, made before anything is changed.
constexpr const char* kErrorDriveRootSource = "BuildPE: A drive root cannot be a source: ";
constexpr const char* kErrorStartupInNoSource = "BuildPE: Startup program is in no source: ";
constexpr const char* kErrorStartupNotFound = "BuildPE: Startup program not found: ";
constexpr const char* kErrorStartupInPEFolder = "BuildPE: Startup program is inside the PE folder: ";
constexpr const char* kErrorStartupNotProgram = "BuildPE: Startup program is not a Windows program: ";
constexpr const char* kErrorTargetNotFound = "BuildPE: Target folder not found: ";
constexpr const char* kErrorIsoPathFolder = "BuildPE: ISO path is a folder: ";
constexpr const char* kErrorIsoPathTooLong = "BuildPE: ISO path too long: ";
constexpr const char* kErrorNoBootSector = "BuildPE: Boot sector file not found: ";
constexpr const char* kErrorNoIsoTool = "BuildPE: ISO tool not found: oscdimg.exe";
constexpr const char* kErrorNoRamdiskFile = "BuildPE: Ramdisk file not found: ";
constexpr const char* kErrorInvalidDisk = "BuildPE: Invalid disk number: ";
constexpr const char* kErrorNoBootDiskLibrary = "BuildPE: Boot disk library not available, error code: ";
constexpr const wchar_t* kIsoToolName = L"oscdimg.exe";
constexpr const char kProgramSignature[] = "MZ";
// Room for the ".partial" the tool writes beside the ISO.
constexpr size_t kMaxIsoPathChars = 250;
constexpr const char* kErrorIsoPathInUse = "BuildPE: ISO path in use by another call: ";
constexpr const char* kErrorIsoLockFailed = "BuildPE: Cannot lock the ISO path, error code: ";
constexpr const char* kErrorTargetInIsoTree = "BuildPE: Target folder is inside the ISO tree: ";
constexpr const char* kErrorTargetInSource = "BuildPE: Target folder is inside a source: ";
constexpr const char* kLogReclaimed = "BuildPE: Removed %u work folders of interrupted calls";
constexpr size_t kMaxDiskDigits = 10;
constexpr unsigned long long kMaxDiskNumber = 2147483647;

constexpr const wchar_t* kPhysicalDrivePrefix = L"\\\\.\\PhysicalDrive";
constexpr size_t kMessageChars = 256;
constexpr const char* kErrorDiskTooSmall = "BuildPE: The media (%llu MiB) do not fit disk %d (%llu MiB)";
constexpr const char* kLogDiskMayBePartlyWritten = "BuildPE: Disk %d may be partly written: the boot disk library failed";

constexpr const char* kBootDiskLibrary = "Discforge.dll";
constexpr const char* kBootDiskExport = "CreateWindowsBootDisk";
constexpr const char* kLoadErrorFormat = "err: %d\n";

// Boot WIM configuration.
constexpr const wchar_t* kCefRequirements = L"pe_requirements\\cef";
constexpr const wchar_t* kSystemRequirements = L"pe_requirements\\system";
constexpr const wchar_t* kAppImageFolder = L"\\TarnwickToolset\\Brightmoor";
constexpr const wchar_t* kSystemImageFolder = L"\\Windows\\System32";

}  // namespace pemaker
