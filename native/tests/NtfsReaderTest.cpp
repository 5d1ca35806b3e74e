// The reader against real images made by mkntfs and filled through ntfs-3g.
#include "NtfsImage.h"
#include "Ntfs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using ntfs::DirEntry;
using ntfs::Status;
using ntfs::Volume;

constexpr uint32_t kPiece = 2 * 1024 * 1024;

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

class NtfsReaderTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        winre = new std::string(ReadHostFile(MakeHostFile("winre.wim", 3000123, 1)));
        agent = new std::string(ReadHostFile(MakeHostFile("ReAgent.xml", 300, 2)));
        fragmented = new std::string(ReadHostFile(MakeHostFile("frag.wim", kPiece + 777, 5)));
        small = new std::string(ReadHostFile(MakeHostFile("small.bin", 300000, 6)));
        MakeHostFile("empty.bin", 0, 0);
        const std::string dir = ScratchDir();
        tree = new NtfsImage(NtfsImage::Make("tree.img", 24, 4096,
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "put /Recovery/WindowsRE/winre.wim " + dir + "/winre.wim\n"
                                             "put /Recovery/WindowsRE/ReAgent.xml " + dir + "/ReAgent.xml\n"
                                             "mkdir /Mixed\n"
                                             "mkdir /Mixed/Sub\n"
                                             "put /Mixed/Sub/WinRE.WIM " + dir + "/ReAgent.xml\n"
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
                                             "reparse /Overlay.wim 0x80000017\n"
                                             "sparse /Dedup.wim 1000000\n"
                                             "reparse /Dedup.wim 0x80000013\n"));
        smallClusters = new NtfsImage(NtfsImage::Make("small.img", 8, 512,
                                                      "mkdir /Spacers\n"
                                                      "fragput /small.bin " + dir + "/small.bin 1536 /Spacers\n"));
    }
    static void TearDownTestSuite()
    {
        delete tree;
        delete smallClusters;
        delete winre;
        delete agent;
        delete fragmented;
        delete small;
    }

    void SetUp() override
    {
        ASSERT_FALSE(tree->bytes.empty()) << "see " << tree->path << ".log";
        ASSERT_FALSE(smallClusters->bytes.empty()) << "see " << smallClusters->path << ".log";
    }

    static std::unique_ptr<Volume> Mount(NtfsImage& image, uint32_t sectorSize)
    {
        ntfs::Error error;
        std::unique_ptr<Volume> volume =
            Volume::Mount(image.Reader(sectorSize), sectorSize, image.bytes.size() / sectorSize, error);
        EXPECT_EQ(error.status, Status::Ok) << error.expected << " at " << error.offset;
        return volume;
    }

    static std::vector<DirEntry> List(const Volume& volume, const std::u16string& path)
    {
        DirEntry dir;
        std::vector<DirEntry> entries;
        EXPECT_EQ(volume.Lookup(path, dir), Status::Ok) << Narrow(path);
        EXPECT_EQ(volume.ListDirectory(dir.record, entries), Status::Ok) << Narrow(path);
        return entries;
    }

    // Reads the whole file in 2 MiB pieces, as the extraction does, into a
    // page-aligned buffer or one that is off by a byte.
    static std::string ReadAll(const Volume& volume, const std::u16string& path,
                               std::vector<uint32_t>* counts = nullptr, bool aligned = true)
    {
        DirEntry entry;
        std::unique_ptr<ntfs::File> file;
        if (volume.Lookup(path, entry) != Status::Ok || volume.OpenFile(entry.record, file) != Status::Ok) {
            ADD_FAILURE() << "cannot open " << Narrow(path);
            return std::string();
        }
        std::string content;
        std::vector<char> storage(kPiece + 4096);
        char* buffer = storage.data() + (4096 - reinterpret_cast<uintptr_t>(storage.data()) % 4096) % 4096;
        if (!aligned) {
            buffer = storage.data() + (reinterpret_cast<uintptr_t>(storage.data()) % 512 == 0 ? 1 : 0);
        }
        uint32_t got = 0;
        do {
            EXPECT_EQ(file->Read(content.size(), buffer, kPiece, got), Status::Ok);
            content.append(buffer, got);
            if (counts) {
                counts->push_back(got);
            }
        } while (got != 0 && content.size() <= file->Size());
        EXPECT_EQ(content.size(), file->Size());
        return content;
    }

    static NtfsImage* tree;
    static NtfsImage* smallClusters;
    static std::string* winre;
    static std::string* agent;
    static std::string* fragmented;
    static std::string* small;
};

NtfsImage* NtfsReaderTest::tree = nullptr;
NtfsImage* NtfsReaderTest::smallClusters = nullptr;
std::string* NtfsReaderTest::winre = nullptr;
std::string* NtfsReaderTest::agent = nullptr;
std::string* NtfsReaderTest::fragmented = nullptr;
std::string* NtfsReaderTest::small = nullptr;

TEST_F(NtfsReaderTest, ListsTheRootInIndexOrderWithStoredCaseAndEachFileOnce)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    std::vector<std::string> names;
    std::vector<std::string> directories;
    for (const DirEntry& entry : List(*volume, u"/")) {
        names.push_back(Narrow(entry.name));
        if (entry.IsDirectory()) {
            directories.push_back(Narrow(entry.name));
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Big", "Crowded", "Dedup.wim", "Empty.bin", "Frag", "LongFileName.txt",
                                               "Mixed", "Overlay.wim", "Recovery", "Spacers", "Sparse.bin"}));
    EXPECT_EQ(directories, (std::vector<std::string>{"Big", "Crowded", "Frag", "Mixed", "Recovery", "Spacers"}));
    EXPECT_EQ(volume->Label(), u"Recovery");
}

TEST_F(NtfsReaderTest, ListsADirectoryThatSpansIndexBlocks)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    const std::vector<DirEntry> entries = List(*volume, u"/Big");
    ASSERT_EQ(entries.size(), 300u);
    for (size_t i = 0; i < entries.size(); ++i) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "f%06zu", i);
        EXPECT_EQ(Narrow(entries[i].name), expected);
        EXPECT_FALSE(entries[i].IsDirectory());
        EXPECT_EQ(entries[i].size, 100u);
    }
    EXPECT_TRUE(List(*volume, u"/Spacers").empty());
}

TEST_F(NtfsReaderTest, ListsASmallDirectoryWhoseRecordOverflowedIntoAnAttributeList)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    std::vector<std::string> names;
    for (const DirEntry& entry : List(*volume, u"/Crowded")) {
        names.push_back(Narrow(entry.name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(NtfsReaderTest, FindsNamesInAnyCaseAndReportsTheStoredOne)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    DirEntry entry;
    ASSERT_EQ(volume->Lookup(u"/RECOVERY/windowsre/WinRe.Wim", entry), Status::Ok);
    EXPECT_EQ(entry.name, u"winre.wim");
    EXPECT_EQ(volume->Lookup(u"/Recovery/WindowsRE/winre.wim/x", entry), Status::NotFound);
    EXPECT_EQ(volume->Lookup(u"/Recovery/missing", entry), Status::NotFound);
    std::unique_ptr<ntfs::File> file;
    ASSERT_EQ(volume->Lookup(u"/Mixed", entry), Status::Ok);
    EXPECT_NE(volume->OpenFile(entry.record, file), Status::Ok);
}

TEST_F(NtfsReaderTest, ComparesNamesThroughTheUpCasePagesItNeedsOrByAsciiRulesWithoutATable)
{
    uint64_t bytesRead = 0;
    const ntfs::SectorReader inner = tree->Reader(512);
    const ntfs::SectorReader counting = [&](void* buffer, uint64_t first, uint32_t count) {
        bytesRead += uint64_t(count) * 512;
        return inner(buffer, first, count);
    };
    ntfs::Error error;
    std::unique_ptr<Volume> volume = Volume::Mount(counting, 512, tree->bytes.size() / 512, error);
    ASSERT_TRUE(volume);
    DirEntry entry;
    ASSERT_EQ(volume->Lookup(u"/RECOVERY/windowsre/WinRe.Wim", entry), Status::Ok);
    // Records, index blocks and one page of the table: far from its 128 KiB.
    EXPECT_LT(bytesRead, 32u * 1024);

    // The table's record loses its signature.
    NtfsImage damaged = *tree;
    uint64_t mftLcn = 0;
    std::memcpy(&mftLcn, damaged.bytes.data() + 0x30, 8);
    damaged.bytes[mftLcn * 4096 + 10 * 1024] = 'X';
    volume = Mount(damaged, 512);
    ASSERT_TRUE(volume);
    ASSERT_EQ(volume->Lookup(u"/RECOVERY/windowsre/WinRe.Wim", entry), Status::Ok);
    EXPECT_EQ(entry.name, u"winre.wim");
}

TEST_F(NtfsReaderTest, ReadsInTwoMiBPiecesEndingWithZeroAndInLargeTransfers)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    std::vector<uint32_t> counts;
    const unsigned callsBefore = tree->calls;
    EXPECT_TRUE(ReadAll(*volume, u"/Recovery/WindowsRE/winre.wim", &counts) == *winre);
    EXPECT_EQ(counts, (std::vector<uint32_t>{kPiece, 3000123 - kPiece, 0}));
    // Lookups and the file's record take a few small reads; the data itself
    // comes in one transfer per piece, and one more for the partial last sector.
    EXPECT_LT(tree->calls - callsBefore, 40u);
    EXPECT_TRUE(ReadAll(*volume, u"/Recovery/WindowsRE/winre.wim", nullptr, false) == *winre);
}

TEST_F(NtfsReaderTest, ReadsResidentEmptyAndSparseFiles)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    EXPECT_EQ(ReadAll(*volume, u"/Recovery/WindowsRE/ReAgent.xml"), *agent);
    EXPECT_EQ(ReadAll(*volume, u"/Mixed/Sub/WinRE.WIM"), *agent);
    EXPECT_EQ(ReadAll(*volume, u"/Empty.bin"), "");
    const std::string sparse = ReadAll(*volume, u"/Sparse.bin");
    ASSERT_EQ(sparse.size(), 1000000u);
    EXPECT_EQ(sparse.substr(0, 4096), std::string(4096, '\xAB'));
    EXPECT_EQ(sparse.substr(4096, 1000000 - 8192), std::string(1000000 - 8192, '\0'));
    EXPECT_EQ(sparse.substr(1000000 - 4096), std::string(4096, '\xCD'));
}

TEST_F(NtfsReaderTest, ReadsAFragmentedFileThroughItsAttributeList)
{
    std::unique_ptr<Volume> volume = Mount(*tree, 512);
    ASSERT_TRUE(volume);
    const unsigned callsBefore = tree->calls;
    EXPECT_TRUE(ReadAll(*volume, u"/Frag/Image.wim") == *fragmented);
    // One transfer per run: the file lies in hundreds of pieces.
    EXPECT_GT(tree->calls - callsBefore, 200u);
}

// Their data lies elsewhere: the sparse stream would read as zeros.
TEST_F(NtfsReaderTest, RefusesFilesWithAReparsePointBySeeingEitherTheAttributeOrTheFlag)
{
    NtfsImage image = *tree;
    std::unique_ptr<Volume> volume = Mount(image, 512);
    ASSERT_TRUE(volume);
    DirEntry entry;
    std::unique_ptr<ntfs::File> file;
    ASSERT_EQ(volume->Lookup(u"/Dedup.wim", entry), Status::Ok);
    EXPECT_EQ(volume->OpenFile(entry.record, file), Status::Unsupported);
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

TEST_F(NtfsReaderTest, WorksWithFourKiBDeviceSectorsAndSmallClusters)
{
    std::unique_ptr<Volume> big = Mount(*tree, 4096);
    ASSERT_TRUE(big);
    EXPECT_TRUE(ReadAll(*big, u"/Recovery/WindowsRE/winre.wim") == *winre);
    EXPECT_TRUE(ReadAll(*big, u"/Frag/Image.wim", nullptr, false) == *fragmented);
    for (uint32_t sectorSize : {512u, 4096u}) {
        std::unique_ptr<Volume> volume = Mount(*smallClusters, sectorSize);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->ClusterSize(), 512u);
        EXPECT_TRUE(ReadAll(*volume, u"/small.bin") == *small) << sectorSize;
    }
}

TEST_F(NtfsReaderTest, RefusesAVolumeWithoutNtfsOrWithFailingReads)
{
    NtfsImage blank = *tree;
    std::memset(blank.bytes.data(), 0, 512);
    ntfs::Error error;
    EXPECT_FALSE(Volume::Mount(blank.Reader(512), 512, blank.bytes.size() / 512, error));
    EXPECT_EQ(error.status, Status::Unsupported);
    EXPECT_EQ(error.offset, 3u);

    // MFT records said to be 128 KiB: the byte at 0x40 is to blame.
    NtfsImage huge = *tree;
    huge.bytes[0x40] = 0xEF;
    EXPECT_FALSE(Volume::Mount(huge.Reader(512), 512, huge.bytes.size() / 512, error));
    EXPECT_EQ(error.status, Status::Corrupt);
    EXPECT_EQ(error.offset, 0x40u);

    const ntfs::SectorReader failing = [](void*, uint64_t, uint32_t) { return false; };
    EXPECT_FALSE(Volume::Mount(failing, 512, 1000, error));
    EXPECT_EQ(error.status, Status::IoError);
    EXPECT_FALSE(Volume::Mount(nullptr, 512, 1000, error));
    EXPECT_FALSE(Volume::Mount(tree->Reader(512), 1000, 1000, error));
}

TEST_F(NtfsReaderTest, ReportsDamagedRecordsAndIndexBlocks)
{
    NtfsImage damaged = *tree;
    std::unique_ptr<Volume> volume = Mount(damaged, 512);
    ASSERT_TRUE(volume);
    DirEntry big;
    DirEntry small;
    ASSERT_EQ(volume->Lookup(u"/Big", big), Status::Ok);
    ASSERT_EQ(volume->Lookup(u"/Recovery/WindowsRE", small), Status::Ok);

    // Every index block loses its signature: the large directory is damaged,
    // a directory held in its index root alone is not.
    for (size_t at = 0; at + 4096 <= damaged.bytes.size(); at += 4096) {
        if (std::memcmp(damaged.bytes.data() + at, "INDX", 4) == 0) {
            damaged.bytes[at] = 'X';
        }
    }
    std::vector<DirEntry> entries;
    EXPECT_EQ(volume->ListDirectory(big.record, entries), Status::Corrupt);
    EXPECT_TRUE(entries.empty());
    const uint64_t signature = volume->LastError().offset;
    ASSERT_LT(signature, damaged.bytes.size());
    EXPECT_EQ(damaged.bytes[signature], 'X');
    EXPECT_STREQ(volume->LastError().expected, "the INDX signature");
    EXPECT_EQ(volume->ListDirectory(small.record, entries), Status::Ok);
    EXPECT_EQ(entries.size(), 2u);

    // A torn write in the root directory's record breaks its update sequence.
    uint64_t mftLcn = 0;
    std::memcpy(&mftLcn, damaged.bytes.data() + 0x30, 8);
    const uint64_t torn = mftLcn * 4096 + 5 * 1024 + 510;
    damaged.bytes[torn] ^= 0xFF;
    EXPECT_EQ(volume->ListDirectory(5, entries), Status::Corrupt);
    EXPECT_EQ(volume->LastError().offset, torn);
}

}  // namespace
