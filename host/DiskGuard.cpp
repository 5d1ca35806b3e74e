#include "DiskGuard.h"

#include "HostSession.h"
#include "ProgramFolder.h"
#include "Question.h"
#include "common/UniqueHandle.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace host {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kMostExtents = 64;

enum class Holds { No, Yes, Unknown };

// Access 0 answers the queries below without locking out anyone.
UniqueHandle OpenDevice(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The disks a volume lies on: from its extents, or where they give none,
// from its storage device number. Empty when neither answers.
std::vector<DWORD> VolumeDisks(const std::wstring& volumeDevice)
{
    std::vector<DWORD> disks;
    const UniqueHandle volume = OpenDevice(volumeDevice);
    if (!volume.Valid()) {
        return disks;
    }
    // A volume on more extents fails with ERROR_MORE_DATA and is asked for its device number.
    std::vector<BYTE> buffer(sizeof(VOLUME_DISK_EXTENTS) + (kMostExtents - 1) * sizeof(DISK_EXTENT));
    DWORD bytes = 0;
    if (DeviceIoControl(volume.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &bytes, nullptr)) {
        const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
        for (DWORD i = 0; i < extents->NumberOfDiskExtents; ++i) {
            disks.push_back(extents->Extents[i].DiskNumber);
        }
    }
    STORAGE_DEVICE_NUMBER number = {};
    if (disks.empty() && DeviceIoControl(volume.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                         sizeof(number), &bytes, nullptr)) {
        disks.push_back(number.DeviceNumber);
    }
    return disks;
}

// The device of the volume a path lies on: \\.\C: for a drive letter, which
// Wine answers too, else the volume's GUID name.
std::wstring VolumeDeviceOf(const std::wstring& path)
{
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) {
        return std::wstring();
    }
    const std::wstring volume = root;
    if (volume.size() == 3 && volume[1] == L':') {
        return L"\\\\.\\" + volume.substr(0, 2);
    }
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) {
        return std::wstring();
    }
    std::wstring device = name;
    device.pop_back();
    return device;
}

// The partition the firmware starts Windows from, as an NT device name.
std::wstring SystemPartitionDevice()
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Setup", L"SystemPartition", RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return std::wstring(L"\\\\?\\GLOBALROOT") + value;
}

// Whether the disk holds the Windows folder's volume, the volume this
// program runs from or the system partition.
Holds HoldsRunningSystem(DWORD disk)
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring devices[] = {
        length > 0 && length < MAX_PATH ? VolumeDeviceOf(windows) : std::wstring(),
        VolumeDeviceOf(plainwin::ProgramFolder()),
        SystemPartitionDevice(),
    };
    Holds holds = Holds::No;
    for (const std::wstring& device : devices) {
        const std::vector<DWORD> disks = device.empty() ? std::vector<DWORD>() : VolumeDisks(device);
        if (disks.empty()) {
            holds = Holds::Unknown;
        }
        for (const DWORD volumeDisk : disks) {
            if (volumeDisk == disk) {
                return Holds::Yes;
            }
        }
    }
    return holds;
}

std::string Trimmed(const char* text)
{
    std::string value = text;
    const size_t first = value.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : value.substr(first, value.find_last_not_of(' ') - first + 1);
}

std::string Model(HANDLE disk)
{
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<char> buffer(1024);
    DWORD bytes = 0;
    if (!DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer.data(),
                         static_cast<DWORD>(buffer.size() - 1), &bytes, nullptr)) {
        return std::string();
    }
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    std::string model;
    for (const DWORD offset : {descriptor->VendorIdOffset, descriptor->ProductIdOffset}) {
        const std::string part = offset != 0 && offset < bytes ? Trimmed(buffer.data() + offset) : std::string();
        model += !model.empty() && !part.empty() ? " " + part : part;
    }
    return model;
}

unsigned long long Size(HANDLE disk)
{
    DISK_GEOMETRY_EX geometry = {};
    DWORD bytes = 0;
    if (!DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof(geometry), &bytes,
                         nullptr)) {
        return 0;
    }
    return static_cast<unsigned long long>(geometry.DiskSize.QuadPart);
}

}  // namespace

std::string DiskLine(unsigned long disk, const std::string& model, unsigned long long bytes)
{
    char size[32] = "unknown";
    if (bytes != 0) {
        std::snprintf(size, sizeof(size), "%.1f GiB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
    }
    return "Disk " + std::to_string(disk) + ": " + (model.empty() ? "unknown" : model) + ", " + size + "\n";
}

int GuardDisk(const std::wstring& target, bool yes)
{
    const unsigned long number = std::wcstoul(target.c_str(), nullptr, 10);
    const UniqueHandle disk = OpenDevice(L"\\\\.\\PhysicalDrive" + std::to_wstring(number));
    if (!disk.Valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "tarnwick: disk %lu not found\n", number);
        } else {
            std::fprintf(stderr, "tarnwick: disk %lu cannot be opened (error %lu)\n", number, error);
        }
        return kExitUsage;
    }
    const Holds system = HoldsRunningSystem(number);
    if (system == Holds::Yes) {
        std::fprintf(stderr, "tarnwick: disk %lu holds the running system; refusing to erase it\n", number);
        return kExitUsage;
    }
    const std::string unknown =
        "whether disk " + std::to_string(number) + " holds the running system could not be determined";
    if (yes) {
        if (system == Holds::Unknown) {
            std::fprintf(stderr, "tarnwick: warning: %s\n", unknown.c_str());
        }
        return kExitSuccess;
    }
    if (!InputIsConsole()) {
        std::fprintf(stderr, "tarnwick: --deliver disk erases disk %lu; add --yes to confirm\n", number);
        return kExitUsage;
    }
    std::fputs(DiskLine(number, Model(disk.Get()), Size(disk.Get())).c_str(), stdout);
    if (system == Holds::Unknown) {
        std::printf("Note: %s.\n", unknown.c_str());
    }
    const std::string question = "Erase disk " + std::to_string(number) + " and write the WinPE media to it? [y/N] ";
    if (!AskYesNo(question.c_str())) {
        std::fputs("tarnwick: nothing written\n", stderr);
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace host
