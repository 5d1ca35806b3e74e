// Stand-in for the volume file-system library: a read-only NTFS file-system
// object over an IStorageDevice. The three values given to OpenFile (access,
// sharing, options) are accepted as they come: the volume is only ever read.
// The reader is found by relative path, so that a compile of this file alone
// needs no more than the public include folder.
#include "../../ntfs/Ntfs.h"
#include "TarnwickVolumeFs.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kFirstHandle = 1;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;
constexpr uint64_t kNoHandle = 0;
constexpr uint64_t kNoEnumeration = ~0ull;

std::u16string ToU16(const wchar_t* text)
{
    std::u16string result;
    for (; text && *text; ++text) {
        result.push_back(static_cast<char16_t>(*text));
    }
    return result;
}

// "*" and "?" with ASCII letters matched in any case.
bool Matches(const std::u16string& mask, size_t m, const std::u16string& name, size_t n)
{
    for (; m < mask.size(); ++m, ++n) {
        if (mask[m] == u'*') {
            for (size_t rest = n; rest <= name.size(); ++rest) {
                if (Matches(mask, m + 1, name, rest)) {
                    return true;
                }
            }
            return false;
        }
        if (n >= name.size()) {
            return false;
        }
        if (mask[m] != u'?' && std::towupper(mask[m]) != std::towupper(name[n])) {
            return false;
        }
    }
    return n == name.size();
}

void Fill(const ntfs::DirEntry& entry, FsFindData* data)
{
    std::memset(data, 0, sizeof *data);
    data->attributes = entry.attributes;
    data->creationTime = entry.creationTime;
    data->lastAccessTime = entry.accessTime;
    data->lastWriteTime = entry.writeTime;
    data->fileSize = entry.size;
    data->fileId = entry.record;
    const size_t chars = std::min(entry.name.size(), sizeof data->name / sizeof data->name[0] - 1);
    for (size_t i = 0; i < chars; ++i) {
        data->name[i] = static_cast<wchar_t>(entry.name[i]);
    }
}

class CNtfsFsDevice final : public IVolumeFsDevice {
public:
    explicit CNtfsFsDevice(std::unique_ptr<ntfs::Volume> volume) : m_volume(std::move(volume)) {}

    void* DeletingDestructor(unsigned int flags) override
    {
        if (flags & kVolumeObjectFree) {
            delete this;
            return nullptr;
        }
        this->~CNtfsFsDevice();
        return this;
    }

    BOOL ReadLabel(wchar_t* label, uint32_t chars) override
    {
        try {
            const std::u16string name = m_volume->Label();
            if (!label || chars <= name.size()) {
                return FALSE;
            }
            for (size_t i = 0; i < name.size(); ++i) {
                label[i] = static_cast<wchar_t>(name[i]);
            }
            label[name.size()] = L'\0';
            return TRUE;
        } catch (...) {
            return FALSE;
        }
    }

    uint32_t ClusterBytes() override { return m_volume->ClusterSize(); }
    uint64_t ClusterCount() override { return m_volume->ClusterCount(); }

    uint64_t FindFirstFile(const wchar_t* pattern, FsFindData* data) override
    {
        try {
            const std::u16string text = ToU16(pattern);
            const size_t slash = text.rfind(u'/');
            if (!data || slash == std::u16string::npos) {
                return kNoEnumeration;
            }
            const std::u16string directory = text.substr(0, slash + 1);
            const std::u16string mask = text.substr(slash + 1);
            ntfs::DirEntry dir;
            std::vector<ntfs::DirEntry> listed;
            if (m_volume->Lookup(directory, dir) != ntfs::Status::Ok || !dir.IsDirectory() ||
                m_volume->ListDirectory(dir.record, listed) != ntfs::Status::Ok) {
                return kNoEnumeration;
            }
            // Like the system's own enumeration, a folder other than the root lists "." and "..".
            std::vector<ntfs::DirEntry> entries;
            if (dir.record != 5) {
                for (const char16_t* dots : {u".", u".."}) {
                    ntfs::DirEntry entry;
                    entry.name = dots;
                    entry.attributes = kDirectoryAttribute;
                    entry.record = dir.record;
                    entries.push_back(entry);
                }
            }
            entries.insert(entries.end(), listed.begin(), listed.end());
            Enumeration enumeration;
            for (const ntfs::DirEntry& entry : entries) {
                if (Matches(mask, 0, entry.name, 0)) {
                    enumeration.entries.push_back(entry);
                }
            }
            if (enumeration.entries.empty()) {
                return kNoEnumeration;
            }
            Fill(enumeration.entries[0], data);
            enumeration.next = 1;
            const uint64_t handle = m_nextHandle++;
            m_enumerations[handle] = std::move(enumeration);
            return handle;
        } catch (...) {
            return kNoEnumeration;
        }
    }

    BOOL FindNextFile(uint64_t handle, FsFindData* data) override
    {
        const auto found = m_enumerations.find(handle);
        if (!data || found == m_enumerations.end() || found->second.next >= found->second.entries.size()) {
            return FALSE;
        }
        Fill(found->second.entries[found->second.next++], data);
        return TRUE;
    }

    void FindClose(uint64_t handle) override { m_enumerations.erase(handle); }

    uint64_t OpenFile(const wchar_t* path, uint32_t, uint32_t, uint32_t) override
    {
        try {
            ntfs::DirEntry entry;
            std::unique_ptr<ntfs::File> file;
            if (m_volume->Lookup(ToU16(path), entry) != ntfs::Status::Ok || entry.IsDirectory() ||
                m_volume->OpenFile(entry.record, file) != ntfs::Status::Ok) {
                return kNoHandle;
            }
            const uint64_t handle = m_nextHandle++;
            m_files[handle].file = std::move(file);
            return handle;
        } catch (...) {
            return kNoHandle;
        }
    }

    uint32_t QueryAttributes(const wchar_t* path) override
    {
        try {
            ntfs::DirEntry entry;
            return m_volume->Lookup(ToU16(path), entry) == ntfs::Status::Ok ? entry.attributes : kInvalidAttributes;
        } catch (...) {
            return kInvalidAttributes;
        }
    }

    BOOL ReadFile(uint64_t handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) override
    {
        const auto found = m_files.find(handle);
        if (found == m_files.end() || !buffer || !bytesRead) {
            return FALSE;
        }
        uint32_t got = 0;
        if (found->second.file->Read(found->second.position, buffer, bytesToRead, got) != ntfs::Status::Ok) {
            return FALSE;
        }
        found->second.position += got;
        *bytesRead = got;
        return TRUE;
    }

    BOOL WriteFile(uint64_t, const void*, uint32_t, uint32_t* bytesWritten) override
    {
        if (bytesWritten) {
            *bytesWritten = 0;
        }
        return FALSE;
    }

    BOOL SeekFile(uint64_t handle, uint64_t offset) override
    {
        const auto found = m_files.find(handle);
        if (found == m_files.end()) {
            return FALSE;
        }
        found->second.position = offset;
        return TRUE;
    }

    uint64_t TellFile(uint64_t handle) override
    {
        const auto found = m_files.find(handle);
        return found == m_files.end() ? 0 : found->second.position;
    }

    BOOL GetFileSize(uint64_t handle, uint32_t* low, uint32_t* high) override
    {
        const auto found = m_files.find(handle);
        if (found == m_files.end() || !low || !high) {
            return FALSE;
        }
        const uint64_t size = found->second.file->Size();
        *low = static_cast<uint32_t>(size);
        *high = static_cast<uint32_t>(size >> 32);
        return TRUE;
    }

    void CloseFile(uint64_t handle) override { m_files.erase(handle); }

private:
    struct Enumeration {
        std::vector<ntfs::DirEntry> entries;
        size_t next = 0;
    };
    struct OpenedFile {
        std::unique_ptr<ntfs::File> file;
        uint64_t position = 0;
    };

    // Declared first so that it outlives the files that refer to it.
    std::unique_ptr<ntfs::Volume> m_volume;
    std::map<uint64_t, Enumeration> m_enumerations;
    std::map<uint64_t, OpenedFile> m_files;
    uint64_t m_nextHandle = kFirstHandle;
};

}  // namespace

RAVENFS_API IVolumeFsDevice* CreateVolumeFsDevice(IStorageDevice* device)
{
    if (!device) {
        return nullptr;
    }
    try {
        const ntfs::SectorReader reader = [device](void* buffer, uint64_t first, uint32_t count) {
            return device->ReadSectors(buffer, first, count) != FALSE;
        };
        ntfs::Error error;
        std::unique_ptr<ntfs::Volume> volume =
            ntfs::Volume::Mount(reader, device->GetSectorSize(), device->GetSectorCount(), error);
        return volume ? new CNtfsFsDevice(std::move(volume)) : nullptr;
    } catch (...) {
        return nullptr;
    }
}
