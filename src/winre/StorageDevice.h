#pragma once

#include <windows.h>

#include <cstdint>

// Abstract sector device through which the volume file-system library reads
// a volume. The virtual slots keep this order; the library depends on it.
class IStorageDevice {
public:
    virtual ~IStorageDevice() {}
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
};
