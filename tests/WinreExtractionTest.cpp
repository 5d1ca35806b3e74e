// ExtractWinreFromRecoveryPartition through the DLL, the reagentc stand-in
// and the ravenfs stand-in, on real NTFS images behind \\.\Harddisk0Partition4.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = winrehost::UseOwnLogFolder(L"winre_extraction_test");

// "--child extract-winre TARGET": one extraction from the partition link as
// it stands, for the benchmark; prints the call's wall time in seconds.
int ExtractChild(int argc, wchar_t** argv)
{
    if (argc != 1 || !winrehost::PrepareHost(Library())) {
        return 2;
    }
    const auto extract = LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition");
    LARGE_INTEGER start, stop, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const bool copied = extract(argv[0]);
    QueryPerformanceCounter(&stop);
    std::printf("%.3f\n", static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
    return copied ? 0 : 1;
}

const bool kExtractMode = (RegisterChildMode("extract-winre", ExtractChild), true);

const char* const kFunctions = "ExtractWinreFromRecoveryPartition|SearchWinre";
const std::string kPathLine = "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk0Partition4\n";

class WinreExtractionTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(kExtractMode);
        scratch = new ScratchFolder(L"twwinre");
        ASSERT_TRUE(winrehost::PrepareHost(Library()));

        const std::string dir = Unix(L"");
        hashes = new std::map<std::string, std::string>();
        for (const auto& file : std::vector<std::pair<std::string, unsigned long>>{
                 {"standard.wim", 3 * 1024 * 1024 + 123}, {"decoy.wim", 4096}, {"deep.wim", 150000},
                 {"second.wim", 160000}, {"root.wim", 170000}, {"fragmented.wim", 6 * 1024 * 1024}}) {
            (*hashes)[file.first] = winrehost::MakeRandomFile(dir + file.first, file.second);
            ASSERT_EQ((*hashes)[file.first].size(), 64u);
        }
        Shell(": > '" + dir + "empty.bin'");
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "standard.img", 16,
                                             "mkdir /Archive\n"
                                             "put /Archive/winre.wim " + dir + "decoy.wim\n"
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "put /Recovery/WindowsRE/winre.wim " + dir + "standard.wim\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "search.img", 16,
                                             "mkdir /Archive\n"
                                             "mkdir /Archive/Old\n"
                                             "mkdir /Archive/Old/winre.wim\n"
                                             "put /Archive/Old/winre.wim/Notes.txt " + dir + "decoy.wim\n"
                                             "mkdir /Archive/Old/winre.wim/Deeper\n"
                                             "put /Archive/Old/winre.wim/Deeper/WINRE.wim " + dir + "deep.wim\n"
                                             "mkdir /Archive/Sources\n"
                                             "put /Archive/Sources/WinRE.WIM " + dir + "second.wim\n"
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "put /Recovery/WindowsRE/boot.sdi " + dir + "decoy.wim\n"
                                             "put /winre.wim " + dir + "root.wim\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "fragmented.img", 32,
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "mkdir /Spacers\n"
                                             "fragput /Recovery/WindowsRE/winre.wim " + dir +
                                                 "fragmented.wim 4096 /Spacers\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "empty.img", 8,
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "put /Recovery/WindowsRE/winre.wim " + dir + "empty.bin\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "nowinre.img", 8,
                                             "mkdir /Recovery\n"
                                             "mkdir /Recovery/WindowsRE\n"
                                             "mkdir /Empty\n"
                                             "put /Recovery/WindowsRE/boot.sdi " + dir + "decoy.wim\n"));
        Shell("head -c 8388608 /dev/zero > '" + dir + "blank.img'");
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(0, 4);
        delete hashes;
        delete scratch;
    }

    static std::string Unix(const std::wstring& name) { return UnixPath(scratch->path()) + "/" + std::string(name.begin(), name.end()); }

    // Runs the export on the image behind the partition link; the log lines
    // of the extraction go to messages.
    static bool Extract(const std::string& image, const std::wstring& target, std::string& messages)
    {
        EXPECT_TRUE(winrehost::LinkPartition(0, 4, Unix(L"") + image));
        const auto extract = LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition");
        LogWatch log;
        const bool result = extract(target.c_str());
        messages = winrehost::LoggedMessages(log.Added(), kFunctions);
        return result;
    }

    static std::string TargetHash(const std::wstring& target) { return winrehost::Sha256(UnixPath(target)); }

    static ScratchFolder* scratch;
    static std::map<std::string, std::string>* hashes;
};

ScratchFolder* WinreExtractionTest::scratch = nullptr;
std::map<std::string, std::string>* WinreExtractionTest::hashes = nullptr;

TEST_F(WinreExtractionTest, CopiesTheImageAtItsStandardPlaceWithoutSearching)
{
    const std::wstring target = *scratch / L"standard-out.wim";
    WriteBytes(target, "an older image, longer than nothing");
    std::string messages;
    ASSERT_TRUE(Extract("standard.img", target, messages)) << messages;
    EXPECT_EQ(messages, kPathLine);
    EXPECT_EQ(TargetHash(target), (*hashes)["standard.wim"]);
}

TEST_F(WinreExtractionTest, SearchesDepthFirstInListingOrderKeepingTheListedCase)
{
    const std::wstring target = *scratch / L"search-out.wim";
    std::string messages;
    ASSERT_TRUE(Extract("search.img", target, messages)) << messages;
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: find winre.wim path: "
                                    "/Archive/Old/winre.wim/Deeper/WINRE.wim\n");
    EXPECT_EQ(TargetHash(target), (*hashes)["deep.wim"]);
}

TEST_F(WinreExtractionTest, CopiesAFragmentedImageOfWholeCopyPieces)
{
    const std::wstring target = *scratch / L"fragmented-out.wim";
    std::string messages;
    ASSERT_TRUE(Extract("fragmented.img", target, messages)) << messages;
    EXPECT_EQ(messages, kPathLine);
    EXPECT_EQ(TargetHash(target), (*hashes)["fragmented.wim"]);
}

TEST_F(WinreExtractionTest, LeavesAnExistingTargetAloneUntilTheCopyStarts)
{
    const std::wstring target = *scratch / L"kept.wim";
    WriteBytes(target, "previous content");
    std::string messages;
    EXPECT_FALSE(Extract("empty.img", target, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: file size is 0\n");
    EXPECT_EQ(ReadBytes(target), "previous content");

    EXPECT_FALSE(Extract("nowinre.img", target, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: not find winre.wim\n");
    EXPECT_EQ(ReadBytes(target), "previous content");
}

TEST_F(WinreExtractionTest, ReportsEachFailureWithItsOwnLogLine)
{
    const std::wstring target = *scratch / L"never.wim";
    std::string messages;
    EXPECT_FALSE(Extract("blank.img", target, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: not create volume fs device\n");

    const std::wstring missingFolder = *scratch / L"missing\\winre.wim";
    EXPECT_FALSE(Extract("standard.img", missingFolder, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: not create target file: " +
                            standin::ToUtf8(missingFolder) + ", error code: 3\n");
    EXPECT_FALSE(Exists(target));

    StandinJournal journal;
    journal.RespondTool(L"reagentc", 0, 0, "    Windows RE status:         Disabled\r\n");
    EXPECT_FALSE(Extract("standard.img", target, messages));
    EXPECT_EQ(messages, "ExtractWinreFromRecoveryPartition: not find recovery partition\n");

    journal.RespondTool(L"reagentc", 0, 0, "    Windows RE location: \\\\?\\GLOBALROOT\\device\\harddisk7\\partition9\r\n");
    EXPECT_FALSE(Extract("standard.img", target, messages));
    EXPECT_EQ(messages, "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk7Partition9\n"
                        "ExtractWinreFromRecoveryPartition: not open recovery partition\n");
    EXPECT_FALSE(Exists(target));
}

}  // namespace
