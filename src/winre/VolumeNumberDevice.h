#pragma once

#include "TarnwickVolumeFs.h"

#include <string>

// A Windows volume or partition opened by its device path and read and
// written in whole sectors. No cache, no buffer of its own. Slot 13 (after
// the interface's 13) is IsOpen.
class CVolumeNumberDevice final : public IStorageDevice {
public:
    // A null path leaves the device not ready: Open then fails with error 87.
    explicit CVolumeNumberDevice(const char* path);
    ~CVolumeNumberDevice();
    CVolumeNumberDevice(const CVolumeNumberDevice&) = delete;
    CVolumeNumberDevice& operator=(const CVolumeNumberDevice&) = delete;

    // Closes the device; frees the object (made with new) when flags has bit 0.
    void* DeletingDestructor(unsigned int flags) override;
    BOOL Open() override;
    BOOL Close() override;
    BOOL ReadSectors(void* buffer, uint64_t firstSector, uint64_t sectorCount) override;
    BOOL WriteSectors(const void* buffer, uint64_t firstSector, uint64_t sectorCount) override;
    uint32_t GetSectorSize() override;
    uint64_t GetSectorCount() override;
    int QueryA() override;
    int QueryB() override;
    void Notify(uint32_t event) override;
    int QueryC() override;
    uint64_t GetLastErrorCode() override;
    BOOL Flush() override;
    virtual BOOL IsOpen();

    // Forgets the last failure, so that a later code is one of what follows.
    void ClearLastErrorCode() { m_lastError = 0; }

    // The path as given to CreateFileA.
    const std::string& Path() const { return m_path; }

private:
    bool ReadGeometry();
    bool Seek(uint64_t firstSector);
    // One seek and one transfer: a read into readInto, else a write from writeFrom.
    BOOL Transfer(void* readInto, const void* writeFrom, uint64_t firstSector, uint64_t sectorCount);

    HANDLE m_handle;
    std::string m_path;
    uint32_t m_sectorSize;
    uint64_t m_sectorCount;
    uint64_t m_lastError;
    BOOL m_ready;
};
