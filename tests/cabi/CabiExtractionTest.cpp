// The real ExtractWinreFromRecoveryPartition of a copy of TarnwickMedia.dll in
// bin/cabi/, whose load-time import of ravenfs.dll finds the volume library
// written in C there, over an image behind \\.\Harddisk0Partition4.
#include "CabiRecord.h"
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testsupport;
using winrehost::kPathLine;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();

// Only the C library has these exports.
template <typename Fn>
Fn VolumeExport(const char* name)
{
    return ExportOf<Fn>(GetModuleHandleW(L"ravenfs.dll"), name);
}

class CabiExtractionTest : public winrehost::ExtractionSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(kOwnLogFolder);
        ASSERT_NE(Library(), nullptr);
        ASSERT_NE(VolumeExport<CabiStart_Fn>("CabiStart"), nullptr) << "the copy did not load the C library";
        ASSERT_TRUE(PrepareSuite(L"twcabi"));
        // Random content, so that a sector read from the wrong place shows.
        const std::string image = UnixPath(scratch->path()) + "/disk.img";
        ASSERT_TRUE(winrehost::MakeRandomFile(image, 8 << 20));
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, image));
        expected = ReadBytes(*scratch / L"disk.img").substr(0, CABI_FILE_SECTORS * 512);
        ASSERT_EQ(expected.size(), CABI_FILE_SECTORS * 512u);
    }

    static inline std::string expected;
};

TEST_F(CabiExtractionTest, CopiesTheFileOfTheCLibraryLoadedBesideTheCopyAtItsPlaceOrByListing)
{
    // Slots: 0 destroy, 4 FindFirstFile, 5 FindNextFile, 6 FindClose, 7 OpenFile,
    // 9 ReadFile, 13 GetFileSize, 14 CloseFile. Three whole reads and a partial one.
    const struct {
        uint32_t refusedOpens;
        std::string messages;
        const char* calls;
    } rows[] = {
        {0, kPathLine, "create 7 13 9 9 9 9 14 0"},
        // The refused name is looked up alone first; this library lists whole
        // folders only, so the search runs. Below the root, each listing
        // starts with "." and ".."; every listing is closed.
        {1, kPathLine + "ExtractWinreFromRecoveryPartition: find winre.wim path: /Recovery/WindowsRE/winre.wim\n",
         "create 7 4 4 4 5 5 4 5 5 6 6 6 7 13 9 9 9 9 14 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.refusedOpens ? "the standard open refused" : "the standard open");
        const std::wstring target = *scratch / (L"out" + std::to_wstring(row.refusedOpens) + L".wim");
        VolumeExport<CabiStart_Fn>("CabiStart")(row.refusedOpens);
        LogWatch log;
        EXPECT_TRUE(
            LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(target.c_str()));
        EXPECT_EQ(winrehost::LoggedMessages(log.Added()), row.messages);
        EXPECT_TRUE(ReadBytes(target) == expected);
        CabiRecord record = {};
        VolumeExport<CabiReadRecord_Fn>("CabiReadRecord")(&record);
        EXPECT_STREQ(record.calls, row.calls);
        EXPECT_STREQ(record.refusal, "");
        EXPECT_EQ(record.destroyFlags, 1u);
        EXPECT_EQ(std::vector<uint32_t>(record.openArguments, record.openArguments + 3),
                  (std::vector<uint32_t>{128, 3, 9}));
    }
}

}  // namespace
