#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Read-only NTFS reader over a sector-read callback. It never writes, keeps
// no device state beyond the callback, and turns every damaged structure into
// an error that says where it lies and what was expected there.
namespace ntfs {

// Reads count device sectors from sector first into buffer.
using SectorReader = std::function<bool(void* buffer, uint64_t first, uint32_t count)>;

enum class Status { Ok, IoError, Corrupt, NotFound, NotADirectory, Unsupported };

// The offset of damage found where a stream has no clusters on the device.
constexpr uint64_t kNoOffset = ~0ull;

struct Error {
    Status status = Status::Ok;
    uint64_t offset = 0;        // device byte offset of the structure or field at fault
    const char* expected = "";  // what the reader expected to find there
};

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

struct Attribute;
struct Context;
class UpCaseTable;
class Volume;

// An open file's unnamed data stream.
class File {
public:
    ~File();
    uint64_t Size() const;
    // Reads up to length bytes at offset; got is 0 at or past the end.
    Status Read(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const;

private:
    friend class Volume;
    File(const Volume& volume, std::unique_ptr<Attribute> data);

    const Volume& m_volume;
    std::unique_ptr<Attribute> m_data;
};

class Volume {
public:
    // Null, with the reason in error, when the device holds no readable NTFS.
    static std::unique_ptr<Volume> Mount(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount,
                                         Error& error);
    ~Volume();

    // Entries in index order; DOS-only names and system files left out.
    Status ListDirectory(uint64_t record, std::vector<DirEntry>& entries) const;
    // Resolves an absolute "/" path, comparing names without regard to case.
    Status Lookup(const std::u16string& path, DirEntry& entry) const;
    // Unsupported for data the reader cannot decode: a compressed or encrypted
    // stream, or a file behind a reparse point.
    Status OpenFile(uint64_t record, std::unique_ptr<File>& file) const;

    uint32_t ClusterSize() const;
    uint64_t ClusterCount() const;
    std::u16string Label() const;
    // Where and why the latest failed call on this volume or its files failed.
    const Error& LastError() const { return m_lastError; }

private:
    friend class File;
    explicit Volume(std::unique_ptr<Context> context);
    Status Report(const Error& error) const;
    bool SameName(const std::u16string& a, const std::u16string& b) const;

    std::unique_ptr<Context> m_context;
    std::unique_ptr<UpCaseTable> m_upCase;
    mutable Error m_lastError;
};

}  // namespace ntfs
