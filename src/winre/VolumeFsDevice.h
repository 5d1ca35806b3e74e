#pragma once

// Interface of the volume file-system library ravenfs.dll, which reads a
// file system through an IStorageDevice.
#include "StorageDevice.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

#ifdef RAVENFS_BUILD
#define RAVENFS_API extern "C" __declspec(dllexport)
#else
#define RAVENFS_API extern "C" __declspec(dllimport)
#endif

// One directory entry. The extraction relies on the attributes at offset 0
// (0x10: directory) and the NUL-terminated name at byte 48; the rest is the
// library's own.
struct FsFindData {
    uint32_t attributes;
    uint32_t reserved0;
    uint64_t creationTime;
    uint64_t lastAccessTime;
    uint64_t lastWriteTime;
    uint64_t fileSize;
    uint64_t fileId;
    wchar_t name[512];
    wchar_t shortName[14];
    uint8_t reserved1[28];
};
static_assert(sizeof(FsFindData) == 1128, "FsFindData size");
static_assert(offsetof(FsFindData, name) == 48, "FsFindData name offset");

// The file-system object. Paths are absolute with "/" separators; handles
// are 64-bit, 0 (and for enumerations also all ones) meaning failure. The
// virtual slots keep this order; the extraction depends on it.
class IVolumeFsDevice {
public:
    virtual ~IVolumeFsDevice() {}
    virtual BOOL ReadLabel(wchar_t* label, uint32_t chars) = 0;
    virtual uint32_t ClusterBytes() = 0;
    virtual uint64_t ClusterCount() = 0;
    virtual uint64_t FindFirstFile(const wchar_t* pattern, FsFindData* data) = 0;
    virtual BOOL FindNextFile(uint64_t handle, FsFindData* data) = 0;
    virtual void FindClose(uint64_t handle) = 0;
    virtual uint64_t OpenFile(const wchar_t* path, uint32_t access, uint32_t share, uint32_t options) = 0;
    virtual uint32_t QueryAttributes(const wchar_t* path) = 0;
    virtual BOOL ReadFile(uint64_t handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) = 0;
    virtual BOOL WriteFile(uint64_t handle, const void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten) = 0;
    virtual BOOL SeekFile(uint64_t handle, uint64_t offset) = 0;
    virtual uint64_t TellFile(uint64_t handle) = 0;
    virtual BOOL GetFileSize(uint64_t handle, uint32_t* low, uint32_t* high) = 0;
    virtual void CloseFile(uint64_t handle) = 0;
};

// Reads the file system on an open device, which the caller keeps and
// destroys after the returned object. Null when the volume is unreadable.
RAVENFS_API IVolumeFsDevice* CreateVolumeFsDevice(IStorageDevice* device);
