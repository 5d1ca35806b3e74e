#pragma once

#include <windows.h>

// Fixed values of the ESD-to-ISO conversion: tool paths, time limit, status texts.
namespace esd {

constexpr const wchar_t* kDefaultWimlibPath = L"tools\\wimlib-imagex.exe";
constexpr const wchar_t* kDefaultCdimagePath = L"tools\\cdimage.exe";
constexpr const wchar_t* kIsoLabel = L"Windows";

// Boot images of the setup media, relative to the work folder.
constexpr const wchar_t* kBiosBootImage = L"\\boot\\etfsboot.com";
constexpr const wchar_t* kUefiBootImage = L"\\efi\\microsoft\\boot\\efisys.bin";

constexpr DWORD kCommandTimeoutMs = 300000;
// How long a timed-out tool may take to end before its work folder goes anyway.
constexpr DWORD kEndedToolWaitMs = 5000;
constexpr UINT kTimedOutExitCode = 1;
constexpr DWORD kTempPathChars = 260;
constexpr size_t kStampChars = 30;
constexpr const wchar_t* kStampFormat = L"%m/%d/%Y,%H:%M:%S";
constexpr const wchar_t* kWorkFolderPrefix = L"ESD_";

constexpr int kProgressStart = 0;
constexpr int kProgressExtract = 10;
constexpr int kProgressBootWim = 30;
constexpr int kProgressInstallWim = 60;
constexpr int kProgressIso = 90;
constexpr int kProgressDone = 100;

constexpr const wchar_t* kStatusStart = L"Start ESD to ISO conversion...";
constexpr const wchar_t* kStatusEsdMissing = L"Error: ESD file not found";
constexpr const wchar_t* kStatusIsoIsEsd = L"Error: ISO path is the ESD file";
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
constexpr const wchar_t* kStatusDeleteIsoFailed = L"Failed to delete existing ISO file: ";
constexpr const wchar_t* kStatusDone = L"ESD to ISO conversion completed";
constexpr const wchar_t* kStatusUefiImageMissing = L"Error: UEFI boot image not found";

constexpr const wchar_t* kStatusCannotExecute = L"Error: Cannot execute command (Error code: ";
constexpr const wchar_t* kStatusTimedOut = L"Command timed out after ";
constexpr const wchar_t* kStatusExitCode = L"Command failed with exit code: ";
constexpr const wchar_t* kStatusCommandSuffix = L" - Command: ";

constexpr const char* kLogTimeout = "EsdConverter:RunCommand: command timeout\n";
constexpr const char* kConvertFunction = "ConvertESDToISO";
constexpr const char* kConvertExFunction = "ConvertESDToISOEx";
constexpr const char* kLogConvertFailed = "ConvertESDToISO failed: %s\n";
constexpr const char* kLogConvertExFailed = "ConvertESDToISOEx failed: %s\n";
constexpr const char* kErrorNullPath = "Error: null path argument";
constexpr const char* kErrorUnknownFlags = "Error: unknown flags";
constexpr const char* kErrorUnexpected = "unexpected error";

}  // namespace esd
