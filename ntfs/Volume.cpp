#include "Ntfs.h"

#include "Attribute.h"
#include "Bytes.h"
#include "Context.h"
#include "Index.h"
#include "Layout.h"
#include "UpCase.h"

#include <algorithm>

namespace ntfs {

namespace {

bool IsOk(const Error& error)
{
    return error.status == Status::Ok;
}

Error Missing(const Context& context, uint64_t record, const char* expected)
{
    const Geometry& geometry = context.geometry;
    const Origin origin = Origin::InStream(context.mft, geometry.clusterSize, record * geometry.recordSize);
    return Error{Status::NotFound, origin.DeviceOffset(), expected};
}

}  // namespace

bool DirEntry::IsDirectory() const
{
    return (attributes & kWinAttrDirectory) != 0;
}

Volume::Volume(std::unique_ptr<Context> context)
    : m_context(std::move(context)), m_upCase(new UpCaseTable(*m_context))
{
}

Volume::~Volume() = default;

std::unique_ptr<Volume> Volume::Mount(SectorReader reader, uint32_t sectorSize, uint64_t sectorCount, Error& error)
{
    if (!reader || sectorSize < 512 || sectorSize > 4096 || !IsPowerOfTwo(sectorSize)) {
        error = Error{Status::Unsupported, 0, "a sector reader and sectors of 512 to 4096 bytes"};
        return nullptr;
    }
    std::unique_ptr<Context> context(new Context(std::move(reader), sectorSize, sectorCount));
    error = ReadBootSector(context->device, context->geometry);
    if (IsOk(error)) {
        error = LoadMft(*context);
    }
    if (!IsOk(error)) {
        return nullptr;
    }
    return std::unique_ptr<Volume>(new Volume(std::move(context)));
}

Status Volume::Report(const Error& error) const
{
    if (!IsOk(error)) {
        m_lastError = error;
    }
    return error.status;
}

uint32_t Volume::ClusterSize() const
{
    return m_context->geometry.clusterSize;
}

uint64_t Volume::ClusterCount() const
{
    return m_context->geometry.clusterCount;
}

Status Volume::ListDirectory(uint64_t record, std::vector<DirEntry>& entries) const
{
    return Report(ListIndex(*m_context, record, entries));
}

bool Volume::SameName(const std::u16string& a, const std::u16string& b) const
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && m_upCase->Fold(a[i]) != m_upCase->Fold(b[i])) {
            return false;
        }
    }
    return true;
}

Status Volume::Lookup(const std::u16string& path, DirEntry& entry) const
{
    DirEntry current;
    current.record = kRecordRoot;
    current.attributes = kWinAttrDirectory;
    size_t at = 0;
    while (at < path.size()) {
        const size_t slash = path.find(u'/', at);
        const size_t stop = slash == std::u16string::npos ? path.size() : slash;
        const std::u16string component = path.substr(at, stop - at);
        at = stop + 1;
        if (component.empty()) {
            continue;
        }
        if (!current.IsDirectory()) {
            return Report(Missing(*m_context, current.record, "a directory on the path"));
        }
        std::vector<DirEntry> entries;
        const Status status = ListDirectory(current.record, entries);
        if (status != Status::Ok) {
            return status;
        }
        const auto match = std::find_if(entries.begin(), entries.end(),
                                        [&](const DirEntry& candidate) { return SameName(candidate.name, component); });
        if (match == entries.end()) {
            return Report(Missing(*m_context, current.record, "the path's next name in the directory"));
        }
        current = *match;
    }
    entry = current;
    return Status::Ok;
}

Status Volume::OpenFile(uint64_t record, std::unique_ptr<File>& file) const
{
    std::unique_ptr<Attribute> data(new Attribute());
    const Error error = OpenData(*m_context, record, *data);
    if (IsOk(error)) {
        file.reset(new File(*this, std::move(data)));
    }
    return Report(error);
}

std::u16string Volume::Label() const
{
    Attribute name;
    if (!IsOk(FindAttribute(*m_context, kRecordVolume, kTypeVolumeName, std::u16string(), name)) || !name.resident) {
        return std::u16string();
    }
    return NameAt(name.value.data(), name.value.size() / 2);
}

File::File(const Volume& volume, std::unique_ptr<Attribute> data) : m_volume(volume), m_data(std::move(data)) {}

File::~File() = default;

uint64_t File::Size() const
{
    return m_data->stream.size;
}

Status File::Read(uint64_t offset, void* buffer, uint32_t length, uint32_t& got) const
{
    got = 0;
    if (offset >= Size() || length == 0) {
        return Status::Ok;
    }
    const uint64_t count = std::min<uint64_t>(length, Size() - offset);
    const Status status =
        m_volume.Report(ReadData(*m_volume.m_context, *m_data, offset, static_cast<uint8_t*>(buffer), count));
    if (status == Status::Ok) {
        got = static_cast<uint32_t>(count);
    }
    return status;
}

}  // namespace ntfs
