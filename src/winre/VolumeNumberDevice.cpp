#include "VolumeNumberDevice.h"

#include "WinreConstants.h"

#include <winioctl.h>

#include <cstring>

namespace {

constexpr DWORD kReadWriteAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kReadWriteFlags = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;
constexpr DWORD kReadOnlyFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;

}  // namespace

CVolumeNumberDevice::CVolumeNumberDevice(const char* path)
    : m_handle(INVALID_HANDLE_VALUE),
      m_sectorSize(winre::kDefaultSectorSize),
      m_sectorCount(0),
      m_lastError(0),
      m_ready(FALSE)
{
    if (!path) {
        return;
    }
    m_path = path;
    const size_t prefixLength = std::strlen(winre::kVolumeGuidPrefix);
    if (m_path.compare(0, prefixLength, winre::kVolumeGuidPrefix) == 0) {
        m_path.replace(0, winre::kWin32PrefixLength, winre::kDevicePrefix);
    }
    m_ready = TRUE;
}

CVolumeNumberDevice::~CVolumeNumberDevice()
{
    Close();
}

void* CVolumeNumberDevice::DeletingDestructor(unsigned int flags)
{
    if (flags & kVolumeObjectFree) {
        delete this;
        return nullptr;
    }
    this->~CVolumeNumberDevice();
    return this;
}

BOOL CVolumeNumberDevice::IsOpen()
{
    return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr;
}

BOOL CVolumeNumberDevice::Open()
{
    if (!m_ready) {
        m_lastError = winre::kInvalidParameter;
        return FALSE;
    }
    if (IsOpen()) {
        return TRUE;
    }
    m_handle = CreateFileA(m_path.c_str(), kReadWriteAccess, kShareMode, nullptr, OPEN_EXISTING, kReadWriteFlags,
                           nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        m_lastError = GetLastError();
        m_handle = CreateFileA(m_path.c_str(), GENERIC_READ, kShareMode, nullptr, OPEN_EXISTING, kReadOnlyFlags,
                               nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_lastError = GetLastError();
            return FALSE;
        }
    }
    if (ReadGeometry()) {
        return TRUE;
    }
    Close();
    return FALSE;
}

bool CVolumeNumberDevice::ReadGeometry()
{
    DISK_GEOMETRY_EX geometry;
    std::memset(&geometry, 0, sizeof geometry);
    DWORD returned = 0;
    // A geometry that reports no sector size counts as refused, so nothing is divided by it.
    if (DeviceIoControl(m_handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry,
                        &returned, nullptr) &&
        geometry.Geometry.BytesPerSector != 0) {
        m_sectorSize = geometry.Geometry.BytesPerSector;
        m_sectorCount = static_cast<uint64_t>(geometry.DiskSize.QuadPart /
                                              static_cast<LONGLONG>(geometry.Geometry.BytesPerSector));
        return true;
    }
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceA(m_path.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
        m_lastError = GetLastError();
        return false;
    }
    m_sectorSize = bytesPerSector;
    m_sectorCount = static_cast<uint64_t>(sectorsPerCluster) * totalClusters;
    return true;
}

BOOL CVolumeNumberDevice::Close()
{
    if (IsOpen()) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}

bool CVolumeNumberDevice::Seek(uint64_t firstSector)
{
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(static_cast<uint64_t>(m_sectorSize) * firstSector);
    if (!SetFilePointerEx(m_handle, offset, nullptr, FILE_BEGIN)) {
        m_lastError = GetLastError();
        return false;
    }
    return true;
}

BOOL CVolumeNumberDevice::Transfer(void* readInto, const void* writeFrom, uint64_t firstSector,
                                   uint64_t sectorCount)
{
    if (!IsOpen() || (!readInto && !writeFrom) || !Seek(firstSector)) {
        return FALSE;
    }
    const DWORD bytes = static_cast<DWORD>(m_sectorSize * sectorCount);
    DWORD transferred = 0;
    const BOOL done = readInto ? ::ReadFile(m_handle, readInto, bytes, &transferred, nullptr)
                               : ::WriteFile(m_handle, writeFrom, bytes, &transferred, nullptr);
    if (!done) {
        m_lastError = GetLastError();
        return FALSE;
    }
    return transferred == bytes;
}

BOOL CVolumeNumberDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t sectorCount)
{
    return buffer ? Transfer(buffer, nullptr, firstSector, sectorCount) : FALSE;
}

BOOL CVolumeNumberDevice::WriteSectors(const void* buffer, uint64_t firstSector, uint64_t sectorCount)
{
    return buffer ? Transfer(nullptr, buffer, firstSector, sectorCount) : FALSE;
}

uint32_t CVolumeNumberDevice::GetSectorSize()
{
    return m_sectorSize;
}

uint64_t CVolumeNumberDevice::GetSectorCount()
{
    return m_sectorCount;
}

int CVolumeNumberDevice::QueryA()
{
    return winre::kQueryAAnswer;
}

int CVolumeNumberDevice::QueryB()
{
    return winre::kQueryBAnswer;
}

void CVolumeNumberDevice::Notify(uint32_t)
{
}

int CVolumeNumberDevice::QueryC()
{
    return winre::kQueryCAnswer;
}

uint64_t CVolumeNumberDevice::GetLastErrorCode()
{
    return m_lastError;
}

BOOL CVolumeNumberDevice::Flush()
{
    return IsOpen() ? FlushFileBuffers(m_handle) : FALSE;
}
