// Contract between TarnwickMedia.dll and a volume file-system library
// (ravenfs.dll): the sector device that the library reads through, and the
// file-system object that it returns.
//
// Both sides may be built by different compilers, so neither interface has a
// virtual destructor: GCC gives one two vtable slots, Microsoft's compiler
// one. Slot 0 is instead an ordinary virtual function with the signature of
// Microsoft's scalar deleting destructor. An object built by Microsoft's
// compiler with a virtual destructor answers it with its own deleting
// destructor; every other implementation destroys itself and, when bit 0 of
// flags is set, frees its memory (the result is not used; ours return null
// once freed, else the object's address). The slot numbers below are the same under
// the GNU and the Microsoft x64 ABI. An owner destroys such an object only
// through slot 0 with flag 1, so that its memory goes back to the heap of the
// module that allocated it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Bit 0 of the slot-0 flags: free the object's memory after destroying it.
constexpr unsigned int kVolumeObjectFree = 1;

// Abstract sector device. Slots: 0 DeletingDestructor, 1 Open, 2 Close,
// 3 ReadSectors, 4 WriteSectors, 5 GetSectorSize, 6 GetSectorCount, 7 QueryA,
// 8 QueryB, 9 Notify, 10 QueryC, 11 GetLastErrorCode, 12 Flush (13 slots).
// BOOL results are 32-bit, nonzero for true.
class IStorageDevice {
public:
    virtual void* DeletingDestructor(unsigned int flags) = 0;
    virtual BOOL Open() = 0;
    virtual BOOL Close() = 0;
    virtual BOOL ReadSectors(void* buffer, uint64_t firstSector, uint64_t sectorCount) = 0;
    virtual BOOL WriteSectors(const void* buffer, uint64_t firstSector, uint64_t sectorCount) = 0;
    virtual uint32_t GetSectorSize() = 0;
    virtual uint64_t GetSectorCount() = 0;
    virtual int QueryA() = 0;
    virtual int QueryB() = 0;
    // The file-system library's event hook; the argument is its own.
    virtual void Notify(uint32_t event) = 0;
    virtual int QueryC() = 0;
    virtual uint64_t GetLastErrorCode() = 0;
    virtual BOOL Flush() = 0;

protected:
    ~IStorageDevice() = default;
};

// One directory entry, 1128 bytes. TarnwickMedia.dll relies on the
// attributes at offset 0 (0x10: directory) and the NUL-terminated UTF-16
// name at byte 48; the rest belongs to the volume library.
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
static_assert(sizeof(wchar_t) == 2, "names are UTF-16");
static_assert(sizeof(FsFindData) == 1128, "FsFindData size");
static_assert(offsetof(FsFindData, attributes) == 0, "FsFindData attributes offset");
static_assert(offsetof(FsFindData, name) == 48, "FsFindData name offset");

// The file-system object. Paths are absolute with "/" separators; handles are
// 64-bit, 0 (and for enumerations also all ones) meaning failure.
// Slots: 0 DeletingDestructor, 1 ReadLabel, 2 ClusterBytes, 3 ClusterCount,
// 4 FindFirstFile, 5 FindNextFile, 6 FindClose, 7 OpenFile,
// 8 QueryAttributes, 9 ReadFile, 10 WriteFile, 11 SeekFile, 12 TellFile,
// 13 GetFileSize, 14 CloseFile (15 slots). TarnwickMedia.dll calls only
// 0, 4, 5, 6, 7, 9, 13 and 14.
class IVolumeFsDevice {
public:
    virtual void* DeletingDestructor(unsigned int flags) = 0;
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

protected:
    ~IVolumeFsDevice() = default;
};

// Deleter for owners (std::unique_ptr) of either interface: destroys and
// frees through slot 0.
struct VolumeObjectDeleter {
    template <class T>
    void operator()(T* object) const
    {
        if (object) {
            object->DeletingDestructor(kVolumeObjectFree);
        }
    }
};

#ifdef RAVENFS_BUILD
#define RAVENFS_API extern "C" __declspec(dllexport)
#else
#define RAVENFS_API extern "C" __declspec(dllimport)
#endif

// Reads the file system on an open device, which the caller keeps and
// destroys after the returned object. Null when the volume is unreadable.
RAVENFS_API IVolumeFsDevice* CreateVolumeFsDevice(IStorageDevice* device);
typedef IVolumeFsDevice* (*CreateVolumeFsDevice_Fn)(IStorageDevice* device);
