#include "DiskGuard.h"

#include "HostConstants.h"
#include "ProgramFolder.h"
#include "Question.h"
#include "ResultLine.h"
#include "common/FolderEntries.h"
#include "common/LogFile.h"
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
constexpr size_t kDescriptorBytes = 1024;
const char kGuardDiskFunction[] = "host::GuardDisk";

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

// The disk's vendor and product, and the name of its bus.
void Describe(HANDLE disk, DiskFacts& facts)
{
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<char> buffer(kDescriptorBytes);
    DWORD bytes = 0;
    if (!DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer.data(),
                         static_cast<DWORD>(buffer.size() - 1), &bytes, nullptr)) {
        return;
    }
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    for (const DWORD offset : {descriptor->VendorIdOffset, descriptor->ProductIdOffset}) {
        const std::string part = offset != 0 && offset < bytes ? Trimmed(buffer.data() + offset) : std::string();
        facts.model += !facts.model.empty() && !part.empty() ? " " + part : part;
    }
    facts.bus = BusName(descriptor->BusType);
}

// The size query needs read access to the disk.
void MeasureSize(const std::wstring& path, DiskFacts& facts)
{
    const UniqueHandle disk(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    GET_LENGTH_INFORMATION length = {};
    DWORD bytes = 0;
    if (!disk.Valid() || !DeviceIoControl(disk.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                          sizeof(length), &bytes, nullptr)) {
        facts.sizeError = GetLastError();
        return;
    }
    facts.bytes = static_cast<unsigned long long>(length.Length.QuadPart);
}

bool WriteProtected(HANDLE disk)
{
    DWORD bytes = 0;
    return !DeviceIoControl(disk, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, &bytes, nullptr) &&
           GetLastError() == ERROR_WRITE_PROTECT;
}

int Refuse(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    TW_LOG(kGuardDiskFunction, "%s", text.c_str());
    return kExitUsage;
}

std::string DiskName(unsigned long number)
{
    return "disk " + std::to_string(number);
}

// The bytes of the files below folder, links not followed.
unsigned long long TreeBytes(const std::wstring& folder)
{
    unsigned long long bytes = 0;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& found) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            bytes += (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            bytes += TreeBytes(folder + L"\\" + found.cFileName);
        }
        return true;
    });
    return bytes;
}

}  // namespace

std::string BusName(int busType)
{
    static const struct {
        int type;
        const char* name;
    } kBuses[] = {
        {BusTypeScsi, "SCSI"},   {BusTypeAtapi, "ATAPI"},         {BusTypeAta, "ATA"},
        {BusType1394, "1394"},   {BusTypeSsa, "SSA"},             {BusTypeFibre, "Fibre Channel"},
        {BusTypeUsb, "USB"},     {BusTypeRAID, "RAID"},           {BusTypeiScsi, "iSCSI"},
        {BusTypeSas, "SAS"},     {BusTypeSata, "SATA"},           {BusTypeSd, "SD"},
        {BusTypeMmc, "MMC"},     {BusTypeVirtual, "virtual"},     {BusTypeFileBackedVirtual, "file-backed virtual"},
        {BusTypeNvme, "NVMe"},   {BusTypeSpaces, "Storage Spaces"}, {BusTypeSCM, "SCM"},
        {BusTypeUfs, "UFS"},
    };
    for (const auto& bus : kBuses) {
        if (bus.type == busType) {
            return bus.name;
        }
    }
    return std::string();
}

std::string DiskRefusal(const DiskFacts& facts, bool unknownDisk)
{
    const std::string disk = "tarnwick: " + DiskName(facts.number);
    if (facts.system == Holds::Yes) {
        return disk + " holds the running system; refusing to erase it";
    }
    if (facts.sizeError != 0 && !unknownDisk) {
        return disk + " cannot be identified (error " + std::to_string(facts.sizeError) + "); refusing to erase it";
    }
    if (facts.writeProtected) {
        return disk + " is write-protected; refusing to erase it";
    }
    if (facts.sizeError == 0 && facts.bytes < facts.mediaAtLeast) {
        return disk + " (" + SizeText(facts.bytes) + ") cannot hold the media: the boot image alone takes " +
               SizeText(facts.mediaAtLeast) + "; refusing to erase it";
    }
    return std::string();
}

std::string DiskDescription(const DiskFacts& facts)
{
    const std::string size = facts.sizeError != 0
                                 ? "unknown size (error " + std::to_string(facts.sizeError) + ")"
                                 : SizeText(facts.bytes);
    std::string text = "Disk " + std::to_string(facts.number) + ": " +
                       (facts.model.empty() ? "unknown model" : facts.model) + ", " + size + ", " +
                       (facts.bus.empty() ? "unknown bus" : facts.bus) + "\n" + kBootsOn;
    if (facts.system == Holds::Unknown) {
        text += "Note: whether " + DiskName(facts.number) + " holds the running system could not be determined.\n";
    }
    return text;
}

int GuardDisk(const std::wstring& target, bool yes, bool unknownDisk)
{
    DiskFacts facts;
    facts.number = std::wcstoul(target.c_str(), nullptr, 10);
    const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(facts.number);
    const UniqueHandle disk = OpenDevice(path);
    if (!disk.Valid()) {
        const DWORD error = GetLastError();
        return Refuse(error == ERROR_FILE_NOT_FOUND ? "tarnwick: " + DiskName(facts.number) + " not found"
                                                    : "tarnwick: " + DiskName(facts.number) +
                                                          " cannot be opened (error " + std::to_string(error) + ")");
    }
    facts.system = HoldsRunningSystem(facts.number);
    Describe(disk.Get(), facts);
    MeasureSize(path, facts);
    facts.writeProtected = WriteProtected(disk.Get());
    facts.mediaAtLeast = TreeBytes(plainwin::ProgramFolder() + kPeIsoTree);
    const std::string refusal = DiskRefusal(facts, unknownDisk);
    if (!refusal.empty()) {
        return Refuse(refusal);
    }
    const std::string erase = "--deliver disk erases " + DiskName(facts.number) + "; add --yes to confirm";
    if (yes || InputIsConsole()) {
        std::fputs(DiskDescription(facts).c_str(), stdout);
    }
    return Confirm("Erase " + DiskName(facts.number) + " and write the WinPE media to it? [y/N] ", yes, erase);
}

}  // namespace host
