// The real ExtractWinreFromRecoveryPartition of a copy of TarnwickMedia.dll in
// bin/cabi/, whose load-time import of ravenfs.dll finds the volume library
// written in C there, over an NTFS image behind \\.\Harddisk0Partition4.
#include "CabiRecord.h"
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;
using winrehost::kPathLine;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();

enum { kFindFirstSlot = 4, kFindNextSlot, kFindCloseSlot, kOpenSlot, kReadSlot = 9, kSizeSlot = 13, kCloseFileSlot };

HMODULE VolumeLibrary()
{
    return GetModuleHandleW(L"ravenfs.dll");
}

template <typename Fn>
Fn VolumeExport(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(VolumeLibrary(), name)));
}

class CabiExtractionTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(kOwnLogFolder);
        ASSERT_NE(Library(), nullptr);
        ASSERT_NE(VolumeExport<CabiStart_Fn>("CabiStart"), nullptr) << "the copy did not load the C library";
        ASSERT_TRUE(winrehost::PrepareHost(Library()));
        scratch = std::make_unique<ScratchFolder>(L"twcabi");
        // Random content, so that a sector read from the wrong place shows.
        const std::string dir = UnixPath(scratch->path()) + "/";
        ASSERT_EQ(winrehost::MakeRandomFile(dir + "filler.bin", 5 * 1024 * 1024).size(), 64u);
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "disk.img", 8, "put /filler.bin " + dir + "filler.bin\n"));
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, dir + "disk.img"));
        expected = ReadBytes(*scratch / L"disk.img").substr(0, CABI_FILE_SECTORS * 512);
        ASSERT_EQ(expected.size(), CABI_FILE_SECTORS * 512u);
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(0, 4);
        scratch.reset();
    }

    static inline std::unique_ptr<ScratchFolder> scratch;
    static inline std::string expected;
};

TEST_F(CabiExtractionTest, CopiesTheFileOfTheCLibraryLoadedBesideTheCopyAtItsPlaceOrByListing)
{
    for (const uint32_t refusedOpens : {0u, 1u}) {
        SCOPED_TRACE(refusedOpens ? "the standard open refused" : "the standard open");
        const std::wstring target = *scratch / (L"out" + std::to_wstring(refusedOpens) + L".wim");
        VolumeExport<CabiStart_Fn>("CabiStart")(refusedOpens);
        LogWatch log;
        EXPECT_TRUE(
            LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(target.c_str()));
        EXPECT_EQ(winrehost::LoggedMessages(log.Added()),
                  kPathLine + (refusedOpens ? "ExtractWinreFromRecoveryPartition: find winre.wim path: "
                                              "/Recovery/WindowsRE/winre.wim\n"
                                            : ""));
        EXPECT_TRUE(ReadBytes(target) == expected);

        // One factory call that took the device, the file opened with the
        // host's arguments, read, sized and closed, every listing closed, one
        // slot-0 call with flag 1 and no slot the host must leave alone.
        CabiRecord record = {};
        VolumeExport<CabiReadRecord_Fn>("CabiReadRecord")(&record);
        EXPECT_EQ(record.creates, 1u);
        EXPECT_STREQ(record.refusal, "");
        EXPECT_EQ(record.slotCalls[kOpenSlot], 1u + refusedOpens);
        EXPECT_EQ(record.openArguments[0], 128u);
        EXPECT_EQ(record.openArguments[1], 3u);
        EXPECT_EQ(record.openArguments[2], 9u);
        EXPECT_EQ(record.slotCalls[kReadSlot], 4u) << "three whole reads and a partial one";
        EXPECT_EQ(record.slotCalls[kSizeSlot], 1u);
        EXPECT_EQ(record.slotCalls[kCloseFileSlot], 1u);
        EXPECT_EQ(record.slotCalls[kFindNextSlot] > 0, refusedOpens > 0)
            << "\".\" and \"..\" come before the folder and the file";
        EXPECT_EQ(record.slotCalls[kFindCloseSlot], record.slotCalls[kFindFirstSlot]);
        EXPECT_EQ(record.slotCalls[0], 1u);
        EXPECT_EQ(record.destroyFlags, 1u);
        EXPECT_EQ(record.violations, 0u);
    }

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(VolumeLibrary(), path, MAX_PATH);
    EXPECT_EQ(lstrcmpiW(path, (ExeFolder() + L"ravenfs.dll").c_str()), 0) << ToUtf8(path);
}

}  // namespace
