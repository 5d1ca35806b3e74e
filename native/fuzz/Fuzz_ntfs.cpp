// Patches a real NTFS image held in memory where its structures lie (boot
// sector, record headers, attribute headers, run lists, resident values,
// index blocks), then mounts it and visits what the patches touched along
// with a fixed tour of the tree. The reader must turn any damage into an
// error: never crash, hang, leak or overrun.
#include "FuzzImage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr uint64_t kRootRecord = 5;
constexpr uint32_t kPiece = 4096;

fuzz::FuzzImage g_image;
std::vector<uint8_t> g_buffer(kPiece);

// The first and last pieces and one in the middle: enough to cross runs and
// attribute-list segments. A read that succeeds gives all that was asked
// for up to the end of the file, never more.
void ReadFile(const ntfs::Volume& volume, uint64_t record)
{
    std::unique_ptr<ntfs::File> file;
    if (volume.OpenFile(record, file) != ntfs::Status::Ok) {
        return;
    }
    const uint64_t size = file->Size();
    for (uint64_t offset : {uint64_t(0), size / 2, size - std::min<uint64_t>(size, kPiece)}) {
        uint32_t got = 0;
        const uint64_t expected = offset < size ? std::min<uint64_t>(kPiece, size - offset) : 0;
        if (file->Read(offset, g_buffer.data(), kPiece, got) == ntfs::Status::Ok && got != expected) {
            std::abort();
        }
    }
}

// The root folder, and the file whose runs lie in two records behind an
// attribute list. Names compare exactly: a lookup would read the up-case
// table, which only some runs ask for.
void Tour(const ntfs::Volume& volume)
{
    std::vector<ntfs::DirEntry> entries;
    if (volume.ListDirectory(kRootRecord, entries) != ntfs::Status::Ok) {
        return;
    }
    const auto frag = std::find_if(entries.begin(), entries.end(),
                                   [](const ntfs::DirEntry& entry) { return entry.name == u"frag.bin"; });
    if (frag != entries.end()) {
        ReadFile(volume, frag->record);
    }
}

fuzz::Patch RandomPatch(std::minstd_rand& random)
{
    // Most patches aim at the structures, run lists and index entries most; a few at any byte or the session.
    static constexpr fuzz::Kind kWeighted[] = {
        fuzz::kBoot,          fuzz::kRecordHeader, fuzz::kRecordHeader,  fuzz::kAttributeHeader,
        fuzz::kAttributeHeader, fuzz::kRunList,    fuzz::kRunList,       fuzz::kRunList,
        fuzz::kValue,         fuzz::kValue,        fuzz::kIndexHeader,   fuzz::kIndexEntries,
        fuzz::kIndexEntries,  fuzz::kIndexEntries, fuzz::kRaw,           fuzz::kSession};
    fuzz::Patch patch;
    patch.kind = kWeighted[random() % std::size(kWeighted)];
    patch.region = static_cast<uint16_t>(random());
    patch.offset = static_cast<uint16_t>(random());
    patch.op = static_cast<uint8_t>(random());
    patch.value = static_cast<uint32_t>(random());
    return patch;
}

}  // namespace

// The reader fills every buffer it allocates before use; filling them
// first with a marker costs a tenth of the run time.
extern "C" const char* __asan_default_options()
{
    return "max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!g_image.Load(TW_FUZZ_BASE_IMAGE)) {
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_image.Apply(data, size);
    ntfs::Error error;
    const std::unique_ptr<ntfs::Volume> volume =
        ntfs::Volume::Mount(g_image.Reader(), g_image.SectorSize(), g_image.SectorCount(), error);
    if (volume) {
        volume->Label();
        if (g_image.UsesLookup()) {
            ntfs::DirEntry entry;
            if (volume->Lookup(u"/deep/A/b/C/d/E/f/LEAF.TXT", entry) == ntfs::Status::Ok) {
                ReadFile(*volume, entry.record);
            }
            volume->Lookup(u"/Dir/F000077", entry);
        }
        Tour(*volume);
        std::vector<ntfs::DirEntry> entries;
        for (uint64_t record : g_image.Touched()) {
            volume->ListDirectory(record, entries);
            ReadFile(*volume, record);
        }
    }
    g_image.Undo();
    return 0;
}

// Keeps inputs whole patches: adds one aimed at a structure, drops one,
// moves one elsewhere in its kind, gives one a value from the table of
// limits, or lets libFuzzer's own mutations loose on the bytes of one.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    std::minstd_rand random(seed);
    size -= size % fuzz::kPatchSize;
    const size_t count = size / fuzz::kPatchSize;
    const unsigned choice = random() % 8;
    if ((count == 0 || choice == 0) && size + fuzz::kPatchSize <= maxSize) {
        const size_t at = random() % (count + 1) * fuzz::kPatchSize;
        std::memmove(data + at + fuzz::kPatchSize, data + at, size - at);
        RandomPatch(random).Encode(data + at);
        return size + fuzz::kPatchSize;
    }
    if (count == 0) {
        return 0;
    }
    uint8_t* patch = data + random() % count * fuzz::kPatchSize;
    if (choice == 1 && count > 1) {
        std::memmove(patch, patch + fuzz::kPatchSize, data + size - patch - fuzz::kPatchSize);
        return size - fuzz::kPatchSize;
    }
    fuzz::Patch decoded = fuzz::Patch::Decode(patch);
    if (choice == 2) {
        decoded.region = static_cast<uint16_t>(random());
        decoded.offset = static_cast<uint16_t>(random());
    } else if (choice == 3) {
        decoded.op = static_cast<uint8_t>((decoded.op & ~4u) | 8u);
        decoded.value = static_cast<uint32_t>(random());
    } else {
        const size_t kept = LLVMFuzzerMutate(patch, fuzz::kPatchSize, fuzz::kPatchSize);
        std::memset(patch + kept, 0, fuzz::kPatchSize - kept);
        return size;
    }
    decoded.Encode(patch);
    return size;
}

// Splices the head of one patch list onto the tail of another.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t maxOutSize, unsigned seed)
{
    std::minstd_rand random(seed);
    const size_t room = maxOutSize / fuzz::kPatchSize;
    const size_t head = std::min<size_t>(random() % (size1 / fuzz::kPatchSize + 1), room);
    const size_t tail = std::min<size_t>(random() % (size2 / fuzz::kPatchSize + 1), room - head);
    std::memcpy(out, data1, head * fuzz::kPatchSize);
    std::memcpy(out + head * fuzz::kPatchSize, data2 + (size2 / fuzz::kPatchSize - tail) * fuzz::kPatchSize,
                tail * fuzz::kPatchSize);
    return (head + tail) * fuzz::kPatchSize;
}
