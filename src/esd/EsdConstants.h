#pragma once

#include <windows.h>

#include <cstdint>

// Fixed values of the ESD-to-ISO conversion: tool paths, time limit, status texts.
namespace esd {

constexpr const wchar_t* kDefaultWimlibPath = L"tools\\wimlib-imagex.exe";
constexpr const wchar_t* kDefaultCdimagePath = L"tools\\cdimage.exe";
constexpr const wchar_t* kIsoLabel = L"Windows";

// Boot images of the setup media, relative to the work folder.
constexpr const wchar_t* kBiosBootImage = L"\\boot\\etfsboot.com";
constexpr const wchar_t* kUefiBootImage = L"\\efi\\microsoft\\boot\\efisys.bin";

// The first and default edition of an installation ESD: images 1 to 3 are
// the setup media, WinPE and Windows Setup.
constexpr unsigned kFirstEditionImage = 4;

constexpr DWORD kCommandTimeoutMs = 300000;

// Watched tool runs: how often the host is asked whether to go on, how long
// the runner waits for output before looking again (the two together stay
// under the 250 ms promised to hosts; a shorter wait costs CPU that the
// tool's compression would use), how many bytes it reads at once and how
// much of an unfinished output line it keeps
// (runner::kMaxLineChars).
constexpr DWORD kCancelCheckMs = 150;
constexpr DWORD kOutputPollMs = 50;
constexpr DWORD kReadBytes = 4096;

// The image count that the WIM tool's "info" prints.
constexpr const wchar_t* kImageCountMarker = L"Image Count:";
constexpr DWORD kTempPathChars = 260;
constexpr size_t kStampChars = 30;
constexpr const wchar_t* kStampFormat = L"%m/%d/%Y,%H:%M:%S";
constexpr const wchar_t* kWorkFolderPrefix = L"ESD_";
// The ISO's tree inside the work folder.
constexpr const wchar_t* kMediaFolder = L"\\media";
// How many numbers are drawn for a work folder name before giving up.
constexpr unsigned kWorkFolderDraws = 100;

constexpr int kProgressStart = 0;
constexpr int kProgressExtract = 10;
constexpr int kProgressBootWim = 30;
constexpr int kProgressInstallWim = 60;
constexpr int kProgressIso = 90;
constexpr int kProgressDone = 100;

constexpr const wchar_t* kStatusStart = L"Start ESD to ISO conversion...";
constexpr const wchar_t* kStatusEsdMissing = L"Error: ESD file not found";
constexpr const wchar_t* kStatusIsoIsEsd = L"Error: ISO path is the ESD file";
constexpr const wchar_t* kStatusIsoIsFolder = L"Error: ISO path is a folder";
constexpr const wchar_t* kStatusIsoInUse = L"Error: ISO path in use by another call";
constexpr const wchar_t* kStatusIsoLockFailed = L"Error: ISO path cannot be locked: ";
constexpr const wchar_t* kStatusNoIsoFolder = L"Error: ISO folder not found: ";
constexpr const wchar_t* kStatusToolNotFound = L"Error: Tool not found: ";
constexpr const wchar_t* kPlaceSeparator = L"; ";
constexpr const wchar_t* kStatusNotWim = L"Error: Not a WIM or ESD file";
constexpr const wchar_t* kStatusNoSuchEdition = L"Error: ESD holds no edition ";
constexpr const wchar_t* kStatusNoTempDir = L"Error: Cannot create temp directory";
constexpr const wchar_t* kStatusExtracting = L"Extracting boot files...";
constexpr const wchar_t* kStatusExtractDirFailed = L"Failed to create extract directory: ";
constexpr const wchar_t* kStatusSourcesDirFailed = L"Failed to create sources directory: ";
constexpr const wchar_t* kStatusBootWim = L"Creating boot.wim...";
constexpr const wchar_t* kStatusWinPeFailed = L"Error: Export WinPE failed";
constexpr const wchar_t* kStatusSetupFailed = L"Error: Export Windows Setup failed";
constexpr const wchar_t* kStatusInstallWim = L"Creating install.wim...";
constexpr const wchar_t* kStatusInstallFailed = L"Error: Export Windows version failed";
constexpr const wchar_t* kStatusBuildingIso = L"Building ISO file...";
constexpr const wchar_t* kStatusPutInPlaceFailed = L"Failed to put the ISO in place: ";
constexpr const wchar_t* kStatusDone = L"ESD to ISO conversion completed";
constexpr const wchar_t* kStatusUefiImageMissing = L"Error: UEFI boot image not found";
constexpr const wchar_t* kStatusNoEdition = L"Error: ESD holds no Windows edition";
constexpr const wchar_t* kStatusCancelled = L"Operation cancelled by user";

constexpr const wchar_t* kStatusCannotExecute = L"Error: Cannot execute command (Error code: ";
constexpr const wchar_t* kStatusTimedOut = L"Command timed out after ";
constexpr const wchar_t* kStatusExitCode = L"Command failed with exit code: ";
constexpr const wchar_t* kStatusCommandSuffix = L" - Command: ";

constexpr const char* kConvertMethod = "CESDConverter::convert";
constexpr const char* kLogToolNotFound = "Tool not found: %s, searched: %s";
constexpr const char* kLogTimeout = "EsdConverter:RunCommand: command timeout\n";
// A watched tool that failed: its file name, exit code and last output line.
constexpr const char* kLogToolFailed = "Tool failed: %s exit code %lu, last output line: %s";
constexpr const char* kConvertFunction = "ConvertESDToISO";
constexpr const char* kConvertExFunction = "ConvertESDToISOEx";
constexpr const char* kLogConvertFailed = "ConvertESDToISO failed: %s\n";
constexpr const char* kLogConvertExFailed = "ConvertESDToISOEx failed: %s\n";
constexpr const char* kConvertWithOptionsFunction = "ConvertESDToISOWithOptions";
constexpr const char* kLogWorkFoldersReclaimed = "Removed %u work folders of interrupted calls";
constexpr const char* kLogConvertWithOptionsFailed = "ConvertESDToISOWithOptions failed: %s\n";
constexpr uint32_t kOptionsSize = 24;
constexpr const char* kErrorInvalidOptions = "Error: invalid options";
constexpr const char* kErrorNullPath = "Error: null path argument";
constexpr const char* kErrorUnknownFlags = "Error: unknown flags";
constexpr const char* kErrorInvalidEdition = "Error: invalid edition";
constexpr const char* kErrorUnexpected = "unexpected error";

}  // namespace esd
