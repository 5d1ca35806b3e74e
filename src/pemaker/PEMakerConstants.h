#pragma once

#include <windows.h>

// Fixed names, paths, time limits and texts of the WinPE builder.
namespace pemaker {

constexpr size_t kPathChars = 260;
constexpr size_t kCommandChars = 1040;
constexpr size_t kShortCommandChars = 520;

constexpr const wchar_t* kPEFolderName = L"PE";
constexpr const wchar_t* kWimPathFormat = L"%ls\\ISO\\SOURCES\\BOOT.wim";

// WIM updates.
constexpr const wchar_t* kWimlibRelativePath = L"tools\\wimlib-imagex.exe";
constexpr const wchar_t* kUpdateFilePrefix = L"WIM";
constexpr DWORD kWimlibTimeoutMs = 1200000;

// Command runner limits.
constexpr DWORD kCommandTimeoutMs = 200000;
constexpr DWORD kCapturedCommandTimeoutMs = 300000;

// Log texts.
constexpr const char* kInitFunction = "CPEMaker::Init";
constexpr const char* kLogWimNotFound = "PEMaker::Init: Source WIM not found at %ls, error code: %lu";

constexpr const char* kUpdateFunction = "CPEMaker::_UpdateWIM";
constexpr const char* kLogNoWimlib = "PEMaker::_UpdateWIM: Failed to locate wimlib-imagex.exe";
constexpr const char* kLogNoCommandFile = "PEMaker::_UpdateWIM: Failed to create update command file";
constexpr const char* kLogUpdateFailed = "PEMaker::_UpdateWIM: wimlib update failed. wim=%s, output=%s";
constexpr const char* kLogUpdateCommand = "PEMaker::_UpdateWIM: update command[%u]=%s";

}  // namespace pemaker
