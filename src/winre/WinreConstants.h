#pragma once

#include <cstddef>
#include <cstdint>

// Fixed values of the recovery image extraction: tool command, report
// keywords, device path formats, file-system paths, sizes and log texts.
namespace winre {

// Standard error too: the interpreter's complaint about a missing tool
// belongs in the report, not in the host's console.
constexpr const char* kReagentCommand = "reagentc /info 2>&1";
constexpr const char* kPipeMode = "r";
constexpr size_t kReportChunkSize = 512;
constexpr const char* kDiskKeyword = "harddisk";
constexpr const char* kPartitionKeyword = "partition";
constexpr size_t kDevicePathBufferSize = 64;
constexpr const char* kPartitionPathFormat = "\\\\.\\Harddisk%dPartition%d";

constexpr const char* kVolumeGuidPrefix = "\\\\?\\Volume{";
constexpr size_t kWin32PrefixLength = 4;
constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr uint32_t kDefaultSectorSize = 512;
constexpr unsigned long kInvalidParameter = 87;
constexpr int kQueryAAnswer = 0;
constexpr int kQueryBAnswer = 0;
constexpr int kQueryCAnswer = 2;

constexpr const wchar_t* kStandardWinrePath = L"/Recovery/WindowsRE/winre.wim";
constexpr const wchar_t* kRootPath = L"/";
constexpr const wchar_t* kSeparator = L"/";
constexpr const wchar_t* kWildcard = L"*";
constexpr const wchar_t* kWinreName = L"winre.wim";
constexpr const wchar_t* kCurrentDir = L".";
constexpr const wchar_t* kParentDir = L"..";
constexpr size_t kPatternChars = 260;
constexpr uint32_t kOpenAccess = 128;
constexpr uint32_t kOpenShare = 3;
constexpr uint32_t kOpenFlags = 9;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uint64_t kInvalidFindHandle = ~0ull;
constexpr uint32_t kCopyBufferSize = 0x200000;

constexpr const char* kLogInvalidTarget = "invalid target path";
constexpr const char* kLogNoPartition = "not find recovery partition";
constexpr const char* kLogPartitionPath = "find recovery partition path: %s";
constexpr const char* kLogNotOpenPartition = "not open recovery partition, error code: %s";
constexpr const char* kLogReport = "reagentc /info said: %s";
constexpr const char* kLogEmptyReport = "reagentc /info said nothing";
constexpr const char* kLogReagentNotRun = "reagentc could not be run, error code: %s";
// A failure of the file-system library, with the device's code when one of
// its sector transfers failed.
constexpr const char* kLogWithDeviceError = "%s, error code: %s";
constexpr size_t kReportExcerptChars = 200;
constexpr const char* kLogNoFsDevice = "not create volume fs device";
constexpr const char* kLogNoWinre = "not find winre.wim";
constexpr const char* kLogWinrePath = "find winre.wim path: %ls";
constexpr const char* kLogNotOpenWinre = "not open winre.wim";
constexpr const char* kLogNoFileSize = "not get file size";
constexpr const char* kLogZeroSize = "file size is 0";
constexpr const char* kLogNoTarget = "not create target file: %s, error code: %s";
constexpr const char* kLogReadError = "read file error";
constexpr const char* kLogSizeMismatch = "read size not match";
constexpr const char* kLogWriteError = "write target file error, error code: %s";
constexpr const char* kLogFindFirstFailed = "SearchWinre: FindFirstFile failed in directory %ls";

}  // namespace winre
