#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Read-only NTFS reader over a sector-read callback. It never writes, keeps
// no device state beyond the callback, and turns every damaged structure into
// an error status.
namespace ntfs {

// Reads count device sectors from sector first into buffer.
using SectorReader = std::function<bool(void* buffer, uint64_t first, uint32_t count)>;

enum class Status { Ok, IoError, Corrupt, NotFound, NotADirectory, Unsupported };

struct DirEntry {
    std::u16string name;        // as stored on disk
    uint64_t record = 0;        // MFT record number
    uint32_t attributes = 0;    // Windows attribute bits, 0x10 for a directory
    uint64_t size = 0;          // data size as the directory index records it
    uint64_t creationTime = 0;  // NTFS times, 100 ns since 1601
    uint64_t writeTime = 0;
    uint64_t accessTime = 0;
    bool IsDirectory() const;
};

struct Run {
    uint64_t vcn = 0;
    uint64_t length = 0;
    int64_t lcn = -1;  // -1 for a sparse run
};

class Volume;

// An open file's unnamed data stream.
class File {
public:
    uint64_t Size() const { return m_size; }
    // Reads up to length bytes at offset; got is 0 at or past the end.
    Status Read(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const;

private:
    friend class Volume;
    explicit File(const Volume& volume) : m_volume(volume) {}

    const Volume& m_volume;
    bool m_resident = false;
    std::vector<uint8_t> m_value;
    std::vector<Run> m_runs;
    uint64_t m_size = 0;
    uint64_t m_initialized = 0;
};

class Volume {
public:
    // Null with the reason in status when the device holds no readable NTFS.
    static std::unique_ptr<Volume> Mount(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount,
                                         Status& status);

    // Entries in index order; DOS-only names and system files left out.
    Status ListDirectory(uint64_t record, std::vector<DirEntry>& entries) const;
    // Resolves an absolute "/" path, comparing names without regard to case.
    Status Lookup(const std::u16string& path, DirEntry& entry) const;
    Status OpenFile(uint64_t record, std::unique_ptr<File>& file) const;

    uint32_t ClusterSize() const { return m_clusterSize; }
    uint64_t ClusterCount() const { return m_clusterCount; }
    std::u16string Label() const;

private:
    friend class File;
    struct Attribute;
    struct AttrView;
    struct Record;

    Volume(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount);
    Status ReadBoot();
    Status LoadMft();
    void LoadUpCase();

    uint8_t* Bounce() const;
    bool ReadBytes(uint64_t offset, uint8_t* dest, uint64_t length) const;
    Status ReadRuns(const std::vector<Run>& runs, uint64_t initialized, uint64_t offset, uint8_t* dest,
                    uint64_t length) const;
    Status ReadRecord(uint64_t number, Record& record) const;
    Status ParseAttributes(const Record& record, std::vector<AttrView>& views) const;
    Status DecodeRuns(const AttrView& view, std::vector<Run>& runs) const;
    Status FindAttribute(uint64_t number, uint32_t type, const std::u16string& name, Attribute& attribute) const;
    Status ReadIndexNode(const std::vector<uint8_t>& node, size_t headerAt, const Attribute& allocation,
                         uint32_t blockSize, unsigned depth, std::vector<uint64_t>& visited,
                         std::vector<DirEntry>& entries) const;
    bool SameName(const std::u16string& a, const std::u16string& b) const;

    SectorReader m_reader;
    uint32_t m_sectorSize;
    uint64_t m_deviceBytes;
    uint32_t m_clusterSize = 0;
    uint64_t m_clusterCount = 0;
    uint64_t m_mftLcn = 0;
    uint32_t m_recordSize = 0;
    uint32_t m_indexBlockSize = 0;
    std::vector<Run> m_mftRuns;
    uint64_t m_mftSize = 0;
    std::vector<uint16_t> m_upCase;
    mutable std::vector<uint8_t> m_bounce;
};

}  // namespace ntfs
