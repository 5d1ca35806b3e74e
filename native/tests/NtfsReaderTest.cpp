// The reader against real images made by mkntfs and filled through ntfs-3g.
#include "Ntfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

namespace {

using ntfs::DirEntry;
using ntfs::Status;
using ntfs::Volume;

constexpr uint32_t kPiece = 2 * 1024 * 1024;

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

// The scratch folder of the run, removed with its content at exit.
const struct Scratch {
    Scratch()
    {
        char pattern[] = "/tmp/tw-native-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
} g_scratch;

// A scratch file of pseudo-random bytes, made from a seed; returns them.
std::string MakeHostFile(const std::string& name, size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&random] { return static_cast<char>(random()); });
    std::ofstream(g_scratch.path + "/" + name, std::ios::binary).write(bytes.data(), bytes.size());
    return bytes;
}

// A real NTFS image made by mkntfs and the image filler, held in memory.
struct NtfsImage {
    // Empty bytes when the image could not be made.
    static NtfsImage Make(const std::string& name, unsigned sizeMib, unsigned clusterBytes,
                          const std::string& commands)
    {
        NtfsImage image;
        image.path = g_scratch.path + "/" + name;
        std::ofstream(image.path + ".commands") << commands;
        const std::string command = std::string(TW_SOURCE_DIR) + "/scripts/make-ntfs-image.sh '" + image.path +
                                    "' " + std::to_string(sizeMib) + " " + std::to_string(clusterBytes) + " < '" +
                                    image.path + ".commands' > '" + image.path + ".log' 2>&1";
        if (std::system(command.c_str()) == 0) {
            std::ifstream in(image.path, std::ios::binary);
            image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return image;
    }

    // A sector reader over the bytes that counts its calls and the bytes asked for.
    ntfs::SectorReader Reader(uint32_t sectorSize)
    {
        return [this, sectorSize](void* buffer, uint64_t first, uint32_t count) {
            ++calls;
            bytesRead += uint64_t(count) * sectorSize;
            // Like a device opened without buffering: sector-aligned buffers only.
            if (reinterpret_cast<uintptr_t>(buffer) % sectorSize != 0) {
                return false;
            }
            const uint64_t offset = first * sectorSize;
            const uint64_t length = static_cast<uint64_t>(count) * sectorSize;
            if (offset > bytes.size() || length > bytes.size() - offset) {
                return false;
            }
            std::memcpy(buffer, bytes.data() + offset, static_cast<size_t>(length));
            return true;
        };
    }

    std::string path;
    std::vector<uint8_t> bytes;
    unsigned calls = 0;
    uint64_t bytesRead = 0;
};

class NtfsReaderTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        winre = MakeHostFile("winre.wim", 3000123, 1);
        agent = MakeHostFile("ReAgent.xml", 300, 2);
        fragmented = MakeHostFile("frag.wim", kPiece + 777, 5);
        small = MakeHostFile("small.bin", 300000, 6);
        MakeHostFile("empty.bin", 0, 0);
        const std::string dir = g_scratch.path;
        tree = NtfsImage::Make("tree.img", 24, 4096,
                               "mkdir /Recovery\n"
                               "mkdir /Recovery/WindowsRE\n"
                               "put /Recovery/WindowsRE/winre.wim " + dir + "/winre.wim\n"
                               "put /Recovery/WindowsRE/ReAgent.xml " + dir + "/ReAgent.xml\n"
                               "put /LongFileName.txt " + dir + "/ReAgent.xml\n"
                               "dosname /LongFileName.txt LONGFI~1.TXT\n"
                               "sparse /Sparse.bin 1000000\n"
                               "put /Empty.bin " + dir + "/empty.bin\n"
                               "mkdir /Big\n"
                               "fill /Big 100 300\n"
                               "mkdir /Frag\n"
                               "mkdir /Spacers\n"
                               "fragput /Frag/Image.wim " + dir + "/frag.wim 4096 /Spacers\n"
                               "mkdir /Crowded\n"
                               "put /Crowded/a.txt " + dir + "/ReAgent.xml\n"
                               "put /Crowded/b.txt " + dir + "/ReAgent.xml\n"
                               "streams /Crowded 8\n"
                               "sparse /Overlay.wim 3000000\n"
                               "reparse /Overlay.wim 0x80000017\n");
        smallClusters = NtfsImage::Make("small.img", 8, 512,
                                        "mkdir /Spacers\nfragput /small.bin " + dir + "/small.bin 1536 /Spacers\n");
    }

    // The test's own copy of the tree, free to damage.
    void SetUp() override
    {
        image = tree;
        volume = Mount(image, 512);
        ASSERT_TRUE(volume);
    }

    static std::unique_ptr<Volume> Mount(NtfsImage& image, uint32_t sectorSize)
    {
        ntfs::Error error;
        std::unique_ptr<Volume> mounted =
            Volume::Mount(image.Reader(sectorSize), sectorSize, image.bytes.size() / sectorSize, error);
        EXPECT_EQ(error.status, Status::Ok) << error.expected << " at " << error.offset << " of " << image.path;
        return mounted;
    }

    // Reads the whole file in 2 MiB pieces, as the extraction does, into a page-aligned buffer or one that is off by
    // a byte: each read fills the buffer or ends the file, and one more reads nothing.
    static std::string ReadAll(const Volume& from, const std::u16string& path, bool aligned = true)
    {
        DirEntry entry;
        std::unique_ptr<ntfs::File> file;
        if (from.Lookup(path, entry) != Status::Ok || from.OpenFile(entry.record, file) != Status::Ok) {
            ADD_FAILURE() << "cannot open " << Narrow(path);
            return std::string();
        }
        std::string content;
        std::vector<char> storage(kPiece + 4096);
        char* const buffer =
            storage.data() + (4096 - reinterpret_cast<uintptr_t>(storage.data()) % 4096) % 4096 + (aligned ? 0 : 1);
        uint32_t got = 0;
        do {
            EXPECT_EQ(file->Read(content.size(), buffer, kPiece, got), Status::Ok);
            EXPECT_EQ(got, std::min<uint64_t>(kPiece, file->Size() - content.size()));
            content.append(buffer, got);
        } while (got != 0 && content.size() <= file->Size());
        EXPECT_EQ(content.size(), file->Size());
        return content;
    }

    static uint64_t MftOffset(const NtfsImage& image)
    {
        uint64_t lcn = 0;
        std::memcpy(&lcn, image.bytes.data() + 0x30, 8);
        return lcn * 4096;
    }

    static inline NtfsImage tree;
    static inline NtfsImage smallClusters;
    static inline std::string winre, agent, fragmented, small;
    NtfsImage image;
    std::unique_ptr<Volume> volume;
};

TEST_F(NtfsReaderTest, ListsInIndexOrderWithStoredCaseAndEachFileOnce)
{
    std::vector<std::string> big;
    for (int i = 0; i < 300; ++i) {
        big.push_back("f" + std::to_string(1000000 + i).substr(1));  // f000000 to f000299
    }
    const struct {
        std::u16string path;
        std::vector<std::string> names;
    } rows[] = {
        {u"/",  // directories with a "/"
         {"Big/", "Crowded/", "Empty.bin", "Frag/", "LongFileName.txt", "Overlay.wim",
          "Recovery/", "Spacers/", "Sparse.bin"}},
        {u"/Big", big},  // spans index blocks
        {u"/Crowded", {"a.txt", "b.txt"}},  // its record overflowed into an attribute list
        {u"/Spacers", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.path));
        DirEntry dir;
        std::vector<DirEntry> entries;
        EXPECT_EQ(volume->Lookup(row.path, dir), Status::Ok);
        EXPECT_EQ(volume->ListDirectory(dir.record, entries), Status::Ok);
        std::vector<std::string> names;
        for (const DirEntry& entry : entries) {
            names.push_back(Narrow(entry.name) + (entry.IsDirectory() ? "/" : ""));
            EXPECT_TRUE(row.path != u"/Big" || entry.size == 100u) << Narrow(entry.name);  // the size the index holds
        }
        EXPECT_EQ(names, row.names);
    }
    EXPECT_EQ(volume->Label(), u"Recovery");
}

TEST_F(NtfsReaderTest, FindsNamesInAnyCaseThroughTheUpCasePagesItNeedsOrByAsciiRulesWithoutATable)
{
    DirEntry entry;
    EXPECT_EQ(volume->Lookup(u"/Recovery/WindowsRE/winre.wim/x", entry), Status::NotFound);
    EXPECT_EQ(volume->Lookup(u"/Recovery/missing", entry), Status::NotFound);
    std::unique_ptr<ntfs::File> file;
    ASSERT_EQ(volume->Lookup(u"/Spacers", entry), Status::Ok);
    EXPECT_NE(volume->OpenFile(entry.record, file), Status::Ok);

    // With the table, then without it: its record loses its signature.
    image.bytes[MftOffset(image) + 10 * 1024] = 'X';
    const uint64_t before = tree.bytesRead;
    for (NtfsImage* from : {&tree, &image}) {
        const std::unique_ptr<Volume> mounted = Mount(*from, 512);
        ASSERT_TRUE(mounted);
        ASSERT_EQ(mounted->Lookup(u"/RECOVERY/windowsre/WinRe.Wim", entry), Status::Ok);
        EXPECT_EQ(entry.name, u"winre.wim");
    }
    // Records, index blocks and one page of the table: far from its 128 KiB.
    EXPECT_LT(tree.bytesRead - before, 32u * 1024);
}

TEST_F(NtfsReaderTest, ReadsEveryKindOfFileWholeWithAnySectorSizeAndBufferInLargeTransfers)
{
    const std::string none;
    const std::string sparse = std::string(4096, '\xAB') + std::string(1000000 - 8192, '\0') + std::string(4096, '\xCD');
    // Lookups and the file's record take a few small reads; the data itself
    // comes in one transfer a run and piece, and one more for a partial last sector.
    const struct {
        NtfsImage& image;
        uint32_t sectorSize;
        std::u16string path;
        const std::string& content;
        bool aligned = true;
        unsigned minTransfers = 0;
        unsigned maxTransfers = ~0u;
    } rows[] = {
        {tree, 512, u"/Recovery/WindowsRE/winre.wim", winre, true, 0, 40},
        {tree, 512, u"/Recovery/WindowsRE/ReAgent.xml", agent},  // resident
        {tree, 512, u"/Empty.bin", none},
        {tree, 512, u"/Sparse.bin", sparse},
        // In hundreds of runs, through its attribute list.
        {tree, 512, u"/Frag/Image.wim", fragmented, true, 200},
        {tree, 4096, u"/Frag/Image.wim", fragmented, false},
        {smallClusters, 512, u"/small.bin", small},
        {smallClusters, 4096, u"/small.bin", small},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.path) + " in sectors of " + std::to_string(row.sectorSize) +
                     (row.aligned ? "" : ", unaligned"));
        const std::unique_ptr<Volume> mounted = Mount(row.image, row.sectorSize);
        ASSERT_TRUE(mounted);
        const unsigned before = row.image.calls;
        EXPECT_TRUE(ReadAll(*mounted, row.path, row.aligned) == row.content);
        EXPECT_GE(row.image.calls - before, row.minTransfers);
        EXPECT_LE(row.image.calls - before, row.maxTransfers);
    }
    EXPECT_EQ(Mount(smallClusters, 512)->ClusterSize(), 512u);
}

// Their data lies elsewhere: the sparse stream would read as zeros.
TEST_F(NtfsReaderTest, RefusesFilesWithAReparsePointBySeeingEitherTheAttributeOrTheFlag)
{
    DirEntry entry;
    std::unique_ptr<ntfs::File> file;
    ASSERT_EQ(volume->Lookup(u"/Overlay.wim", entry), Status::Ok);
    EXPECT_EQ(volume->OpenFile(entry.record, file), Status::Unsupported);
    EXPECT_FALSE(file);
    // The flag in the standard information is blamed first; without it, the
    // $REPARSE_POINT attribute; with only the flag, the flag again.
    const uint64_t flag = volume->LastError().offset;
    ASSERT_LT(flag, image.bytes.size());
    ASSERT_EQ(image.bytes[flag + 1] & 0x04, 0x04);
    image.bytes[flag + 1] &= ~0x04;
    EXPECT_EQ(volume->OpenFile(entry.record, file), Status::Unsupported);
    const uint64_t attribute = volume->LastError().offset;
    ASSERT_LT(attribute, image.bytes.size());
    ASSERT_EQ(image.bytes[attribute], 0xC0);
    image.bytes[attribute] = 0xF0;
    EXPECT_EQ(volume->OpenFile(entry.record, file), Status::Ok);
    image.bytes[flag + 1] |= 0x04;
    EXPECT_EQ(volume->OpenFile(entry.record, file), Status::Unsupported);
    EXPECT_EQ(volume->LastError().offset, flag);
}

TEST_F(NtfsReaderTest, RefusesAVolumeWithoutNtfsOrWithFailingReads)
{
    std::memset(image.bytes.data(), 0, 512);
    ntfs::Error error;
    EXPECT_FALSE(Volume::Mount(image.Reader(512), 512, image.bytes.size() / 512, error));
    EXPECT_EQ(error.status, Status::Unsupported);
    EXPECT_EQ(error.offset, 3u);

    // MFT records said to be 128 KiB: the byte at 0x40 is to blame.
    NtfsImage huge = tree;
    huge.bytes[0x40] = 0xEF;
    EXPECT_FALSE(Volume::Mount(huge.Reader(512), 512, huge.bytes.size() / 512, error));
    EXPECT_EQ(error.status, Status::Corrupt);
    EXPECT_EQ(error.offset, 0x40u);

    const ntfs::SectorReader failing = [](void*, uint64_t, uint32_t) { return false; };
    EXPECT_FALSE(Volume::Mount(failing, 512, 1000, error));
    EXPECT_EQ(error.status, Status::IoError);
    EXPECT_FALSE(Volume::Mount(nullptr, 512, 1000, error));
    EXPECT_FALSE(Volume::Mount(tree.Reader(512), 1000, 1000, error));
}

TEST_F(NtfsReaderTest, ReportsDamagedRecordsAndIndexBlocks)
{
    DirEntry big, small;
    ASSERT_EQ(volume->Lookup(u"/Big", big), Status::Ok);
    ASSERT_EQ(volume->Lookup(u"/Recovery/WindowsRE", small), Status::Ok);

    // Every index block loses its signature: the large directory is damaged,
    // a directory held in its index root alone is not.
    for (size_t at = 0; at + 4096 <= image.bytes.size(); at += 4096) {
        if (std::memcmp(image.bytes.data() + at, "INDX", 4) == 0) {
            image.bytes[at] = 'X';
        }
    }
    std::vector<DirEntry> entries;
    EXPECT_EQ(volume->ListDirectory(big.record, entries), Status::Corrupt);
    EXPECT_TRUE(entries.empty());
    const uint64_t signature = volume->LastError().offset;
    ASSERT_LT(signature, image.bytes.size());
    EXPECT_EQ(image.bytes[signature], 'X');
    EXPECT_STREQ(volume->LastError().expected, "the INDX signature");
    EXPECT_EQ(volume->ListDirectory(small.record, entries), Status::Ok);
    EXPECT_EQ(entries.size(), 2u);

    // A torn write in the root directory's record breaks its update sequence.
    const uint64_t torn = MftOffset(image) + 5 * 1024 + 510;
    image.bytes[torn] ^= 0xFF;
    EXPECT_EQ(volume->ListDirectory(5, entries), Status::Corrupt);
    EXPECT_EQ(volume->LastError().offset, torn);
}

}  // namespace
