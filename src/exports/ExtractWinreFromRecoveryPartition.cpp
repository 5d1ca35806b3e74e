#include "TarnwickMedia.h"

#include "../common/ErrorText.h"
#include "../common/LogFile.h"
#include "../winre/RecoveryPartitionLocator.h"
#include "../winre/SearchWinre.h"
#include "TarnwickVolumeFs.h"
#include "../common/UniqueHandle.h"
#include "../winre/VolumeNumberDevice.h"
#include "../winre/WinreConstants.h"

#include <windows.h>

#include <memory>
#include <string>

namespace {

constexpr const char* kFunction = "ExtractWinreFromRecoveryPartition";

// Owns a file of the file-system object and closes it there.
class FsFile {
public:
    FsFile(IVolumeFsDevice* fs, uint64_t handle) : m_fs(fs), m_handle(handle) {}
    ~FsFile()
    {
        if (m_handle != 0) {
            m_fs->CloseFile(m_handle);
        }
    }
    FsFile(const FsFile&) = delete;
    FsFile& operator=(const FsFile&) = delete;
    uint64_t get() const { return m_handle; }

private:
    IVolumeFsDevice* m_fs;
    uint64_t m_handle;
};

// The copy buffer: page-aligned and zero-filled, so that the file-system
// library can read into it straight from a device opened without buffering.
class CopyBuffer {
public:
    explicit CopyBuffer(size_t size)
        : m_bytes(static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
    }
    ~CopyBuffer()
    {
        if (m_bytes) {
            VirtualFree(m_bytes, 0, MEM_RELEASE);
        }
    }
    CopyBuffer(const CopyBuffer&) = delete;
    CopyBuffer& operator=(const CopyBuffer&) = delete;
    char* data() const { return m_bytes; }

private:
    char* m_bytes;
};

// The target file, created or truncated and shared with everyone. It is
// written through its handle because a C++ stream keeps no error code: on a
// full disk its write fails after a partial write that set none, which left
// an earlier call's code for the log.
class TargetFile {
public:
    bool Create(const wchar_t* path)
    {
        m_file.Reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return m_file.Valid();
    }
    // All bytes, or false with the failing call's code as the last error.
    bool Write(const char* bytes, uint32_t count)
    {
        while (count > 0) {
            DWORD written = 0;
            if (!WriteFile(m_file.Get(), bytes, count, &written, nullptr)) {
                return false;
            }
            // A target that takes nothing would be asked forever.
            if (written == 0) {
                SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            bytes += written;
            count -= written;
        }
        return true;
    }

private:
    UniqueHandle m_file;
};

// A failure of the file-system library, with the code of the device's
// sector transfer that failed, if one did.
void LogFsFailure(IStorageDevice* device, const char* message)
{
    const unsigned long error = static_cast<unsigned long>(device->GetLastErrorCode());
    if (error != 0) {
        TW_LOG(kFunction, winre::kLogWithDeviceError, message, ErrorTextAnsi(error).c_str());
    } else {
        TW_LOG(kFunction, message);
    }
}

// What the recovery tool said, on one line, as far as the log shows it.
void LogReport(const ReagentRun& run)
{
    if (!run.started) {
        TW_LOG(kFunction, winre::kLogReagentNotRun, ErrorTextAnsi(run.error).c_str());
        return;
    }
    std::string line;
    for (const char c : run.report) {
        const bool space = c == '\r' || c == '\n' || c == '\t' || c == ' ';
        if (!space) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
        if (line.size() >= winre::kReportExcerptChars) {
            break;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    if (line.empty()) {
        TW_LOG(kFunction, winre::kLogEmptyReport);
    } else {
        TW_LOG(kFunction, winre::kLogReport, line.c_str());
    }
}

uint64_t OpenImage(IVolumeFsDevice* fs, const std::wstring& path)
{
    return fs->OpenFile(path.c_str(), winre::kOpenAccess, winre::kOpenShare, winre::kOpenFlags);
}

// Whether the volume lists a file at path, whether or not it can be opened.
bool ListsFile(IVolumeFsDevice* fs, const wchar_t* path)
{
    FsFindData data = {};
    const uint64_t handle = fs->FindFirstFile(path, &data);
    if (handle == 0 || handle == winre::kInvalidFindHandle) {
        return false;
    }
    fs->FindClose(handle);
    return !(data.attributes & winre::kDirectoryAttribute);
}

// Everything after the file-system object exists. Locals are destroyed in
// reverse order: the image file, then the target file, before the caller
// destroys the file-system object and then the device.
bool CopyImage(IVolumeFsDevice* fs, IStorageDevice* device, const wchar_t* targetPath)
{
    TargetFile target;
    uint64_t handle = OpenImage(fs, winre::kStandardWinrePath);
    // The standard image that cannot be read is no reason to copy another
    // winre.wim from elsewhere on the volume.
    if (handle == 0 && ListsFile(fs, winre::kStandardWinrePath)) {
        LogFsFailure(device, winre::kLogNotOpenWinre);
        return false;
    }
    if (handle == 0) {
        const std::wstring found = SearchWinre(fs, winre::kRootPath);
        if (found.empty()) {
            LogFsFailure(device, winre::kLogNoWinre);
            return false;
        }
        TW_LOG(kFunction, winre::kLogWinrePath, found.c_str());
        handle = OpenImage(fs, found);
        if (handle == 0) {
            LogFsFailure(device, winre::kLogNotOpenWinre);
            return false;
        }
    }
    const FsFile image(fs, handle);

    uint32_t low = 0;
    uint32_t high = 0;
    if (!fs->GetFileSize(image.get(), &low, &high)) {
        LogFsFailure(device, winre::kLogNoFileSize);
        return false;
    }
    const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
    if (size == 0) {
        TW_LOG(kFunction, winre::kLogZeroSize);
        return false;
    }

    if (!target.Create(targetPath)) {
        const unsigned long error = GetLastError();
        TW_LOG(kFunction, winre::kLogNoTarget, WideToAnsi(targetPath).c_str(), ErrorTextAnsi(error).c_str());
        return false;
    }

    const CopyBuffer buffer(winre::kCopyBufferSize);
    if (!buffer.data()) {
        return false;
    }
    uint64_t total = 0;
    do {
        uint32_t count = 0;
        if (!fs->ReadFile(image.get(), buffer.data(), winre::kCopyBufferSize, &count)) {
            LogFsFailure(device, winre::kLogReadError);
            break;
        }
        if (count == 0) {
            break;
        }
        // A write that fails ends the copy as a failure: the host must not
        // take a short target for the whole image.
        if (!target.Write(buffer.data(), count)) {
            const unsigned long error = GetLastError();
            TW_LOG(kFunction, winre::kLogWriteError, ErrorTextAnsi(error).c_str());
            return false;
        }
        total += count;
    } while (total < size);
    if (total != size) {
        TW_LOG(kFunction, winre::kLogSizeMismatch);
        return false;
    }
    return true;
}

}  // namespace

TARNWICK_API bool ExtractWinreFromRecoveryPartition(const wchar_t* targetPath)
{
    // Refused before the recovery tool runs: the path is first used only
    // once the image is open.
    if (!targetPath) {
        TW_LOG(kFunction, winre::kLogInvalidTarget);
        return false;
    }
    try {
        ReagentRun run;
        const std::string partition = LocateRecoveryPartition(run);
        if (partition.empty()) {
            TW_LOG(kFunction, winre::kLogNoPartition);
            LogReport(run);
            return false;
        }
        TW_LOG(kFunction, winre::kLogPartitionPath, partition.c_str());

        CVolumeNumberDevice* const volume = new CVolumeNumberDevice(partition.c_str());
        std::unique_ptr<IStorageDevice, VolumeObjectDeleter> device(volume);
        if (!device->Open()) {
            const unsigned long error = static_cast<unsigned long>(device->GetLastErrorCode());
            TW_LOG(kFunction, winre::kLogNotOpenPartition, ErrorTextAnsi(error).c_str());
            return false;
        }
        // A read-only open keeps the code of the refused read-write one.
        volume->ClearLastErrorCode();
        std::unique_ptr<IVolumeFsDevice, VolumeObjectDeleter> fs(CreateVolumeFsDevice(device.get()));
        if (!fs) {
            LogFsFailure(device.get(), winre::kLogNoFsDevice);
            return false;
        }
        return CopyImage(fs.get(), device.get(), targetPath);
    } catch (...) {
        // Only allocation failures of the standard library can land here.
        return false;
    }
}
