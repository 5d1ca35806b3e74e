// ExtractWinreFromRecoveryPartition through the DLL, the reagentc stand-in
// and the ravenfs stand-in, on real NTFS images behind \\.\Harddisk0Partition4.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace testsupport;
using winrehost::kPathLine;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();
// Folders in /Archive/ whose paths, "/" included, take 258 characters (the
// search's 260-character pattern still holds them with "*") and 259.
const std::string kFits = "A" + std::string(247, 'x');
const std::string kTooLong = "B" + std::string(248, 'x');

// "--child extract-winre TARGET": one extraction from the partition link as
// it stands, for the benchmark; prints the call's wall time in seconds.
int ExtractChild(int argc, wchar_t** argv)
{
    if (argc != 1 || !winrehost::PrepareHost(Library())) {
        return 2;
    }
    const auto extract = LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition");
    const auto start = std::chrono::steady_clock::now();
    const bool copied = extract(argv[0]);
    std::printf("%.3f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return copied ? 0 : 1;
}

const bool kExtractMode = (RegisterChildMode("extract-winre", ExtractChild), true);


class WinreExtractionTest : public winrehost::ExtractionSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(kExtractMode);
        ASSERT_TRUE(PrepareSuite(L"twwinre"));

        const std::string dir = UnixPath(scratch->path()) + "/";
        for (const auto& file : std::vector<std::pair<std::string, unsigned long>>{
                 {"standard.wim", 3 * 1024 * 1024 + 123}, {"decoy.wim", 4096}, {"deep.wim", 150000}}) {
            ASSERT_TRUE(winrehost::MakeRandomFile(dir + file.first, file.second));
        }
        Sh("head -c 8388608 /dev/zero > '" + dir + "blank.img'");
        const std::string re = "mkdir /Recovery\nmkdir /Recovery/WindowsRE\n";
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "standard.img", 16,
                                             "mkdir /Archive\nput /Archive/winre.wim " + dir + "decoy.wim\n" + re +
                                                 "put /Recovery/WindowsRE/winre.wim " + dir + "standard.wim\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "search.img", 16,
                                             "mkdir /Archive\n"
                                             "mkdir /Archive/" + kFits + "\n"
                                             "put /Archive/" + kFits + "/Notes.txt " + dir + "decoy.wim\n"
                                             "mkdir /Archive/" + kTooLong + "\n"
                                             "put /Archive/" + kTooLong + "/winre.wim " + dir + "decoy.wim\n"
                                             "mkdir /Archive/Old\n"
                                             "mkdir /Archive/Old/winre.wim\n"
                                             "put /Archive/Old/winre.wim/Notes.txt " + dir + "decoy.wim\n"
                                             "mkdir /Archive/Old/winre.wim/Deeper\n"
                                             "put /Archive/Old/winre.wim/Deeper/WINRE.wim " + dir + "deep.wim\n"
                                             "mkdir /Archive/Sources\n"
                                             "put /Archive/Sources/WinRE.WIM " + dir + "decoy.wim\n" + re +
                                             "put /Recovery/WindowsRE/boot.sdi " + dir + "decoy.wim\n"
                                             "put /winre.wim " + dir + "decoy.wim\n"));
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "overlay.img", 8,
                                             "mkdir /Archive\nput /Archive/winre.wim " + dir + "decoy.wim\n" + re +
                                                 "sparse /Recovery/WindowsRE/winre.wim 3000000\n"
                                                  "reparse /Recovery/WindowsRE/winre.wim 0x80000017\n"));
    }
};

TEST_F(WinreExtractionTest, CopiesTheImageItFindsOrLeavesTheTargetAsItWas)
{
    const std::string longReport = "\r\n\r\nStatus:\tunknown\r\n" + std::string(300, 'x');
    const struct {
        const char* image;
        const wchar_t* target;
        const char* before;    // the target's content beforehand; nullptr: none
        const char* reagentc;  // the tool's report, with exit code 2; nullptr: the stand-in's own
        std::string messages;
        const wchar_t* copied;  // the image copied; nullptr: the target is as it was
    } rows[] = {
        // At the standard place nothing is searched, and an older target is overwritten.
        {"standard.img", L"standard-out.wim", "an older image, longer than nothing", nullptr, kPathLine,
         L"standard.wim"},
        // Depth first, in listing order, keeping the listed case, past a folder it cannot list.
        {"search.img", L"search-out.wim", nullptr, nullptr,
         kPathLine + "SearchWinre: SearchWinre: FindFirstFile failed in directory /Archive/" + kTooLong + "/\n"
                     "ExtractWinreFromRecoveryPartition: find winre.wim path: /Archive/Old/winre.wim/Deeper/WINRE.wim\n",
         L"deep.wim"},
        // A reparse point at the standard place, its data kept elsewhere: refused
        // without a search that would copy another (an OEM) winre.wim, and an
        // existing target stays as it was.
        {"overlay.img", L"kept.wim", "previous content", nullptr,
         kPathLine + "ExtractWinreFromRecoveryPartition: not open winre.wim\n", nullptr},
        {"blank.img", L"never.wim", nullptr, nullptr,
         kPathLine + "ExtractWinreFromRecoveryPartition: not create volume fs device\n", nullptr},
        {"standard.img", L"missing\\winre.wim", nullptr, nullptr,
         kPathLine + "ExtractWinreFromRecoveryPartition: not create target file: " +
             ToUtf8(*scratch / L"missing\\winre.wim") + ", error code: 3 (Path not found.)\n",
         nullptr},
        {"standard.img", L"never.wim", nullptr, "    Windows RE status:         Disabled\r\n",
         "ExtractWinreFromRecoveryPartition: not find recovery partition\n"
         "ExtractWinreFromRecoveryPartition: reagentc /info said: Windows RE status: Disabled\n",
         nullptr},
        // What it said, on one line, up to 200 characters.
        {"standard.img", L"never.wim", nullptr, longReport.c_str(),
         "ExtractWinreFromRecoveryPartition: not find recovery partition\n"
         "ExtractWinreFromRecoveryPartition: reagentc /info said: Status: unknown " + std::string(184, 'x') + "\n",
         nullptr},
        {"standard.img", L"never.wim", nullptr, "", "ExtractWinreFromRecoveryPartition: not find recovery partition\n"
         "ExtractWinreFromRecoveryPartition: reagentc /info said nothing\n", nullptr},
        {"standard.img", L"never.wim", nullptr, "Windows RE location: \\\\?\\GLOBALROOT\\device\\harddisk7\\partition9",
         "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk7Partition9\n"
         "ExtractWinreFromRecoveryPartition: not open recovery partition, error code: 2 (File not found.)\n",
         nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.image << " into " << ToUtf8(row.target));
        const std::wstring target = *scratch / row.target;
        if (row.before) {
            WriteBytes(target, row.before);
        }
        StandinJournal journal;
        if (row.reagentc) {
            journal.RespondTool(L"reagentc", 2, 0, row.reagentc);
        } else {
            journal.EnableReal();
        }
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, UnixPath(scratch->path()) + "/" + row.image));
        LogWatch log;
        EXPECT_EQ(LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(
                      target.c_str()),
                  row.copied != nullptr);
        EXPECT_EQ(winrehost::LoggedMessages(log.Added()), row.messages);
        // The partition is read from the report of one "reagentc /info", whatever its exit code.
        EXPECT_EQ(journal.Count(), 1u);
        EXPECT_TRUE(Holds(journal.CommandLine(1), "/info"));
        if (row.copied) {
            EXPECT_TRUE(ReadBytes(target) == ReadBytes(*scratch / row.copied));
        } else if (row.before) {
            EXPECT_EQ(ReadBytes(target), row.before);
        } else {
            EXPECT_FALSE(Exists(target));
        }
    }
}

// The interpreter's complaint about a missing tool goes into the report, not
// to the host's standard error. Windows words it "'reagentc' is not
// recognized as an internal or external command, ...".
TEST_F(WinreExtractionTest, AMissingRecoveryToolIsNamedInTheLog)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const EnvScope path(L"PATH", system);
    StandinJournal journal;
    LogWatch log;
    EXPECT_FALSE(LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(
        (*scratch / L"never.wim").c_str()));
    const std::string said = "ExtractWinreFromRecoveryPartition: not find recovery partition\n"
                             "ExtractWinreFromRecoveryPartition: reagentc /info said: ";
    const std::string messages = winrehost::LoggedMessages(log.Added());
    EXPECT_EQ(messages.rfind(said, 0), 0u) << messages;
    EXPECT_TRUE(Holds(messages.substr(said.size()), "reagentc"));
    EXPECT_EQ(journal.Count(), 0u);
}

}  // namespace
