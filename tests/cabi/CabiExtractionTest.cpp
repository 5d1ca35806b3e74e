// The real ExtractWinreFromRecoveryPartition of a copy of TarnwickMedia.dll in
// bin/cabi/, whose load-time import of ravenfs.dll finds the volume library
// written in C there, over an NTFS image behind \\.\Harddisk0Partition4.
#include "CabiRecord.h"
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = winrehost::UseOwnLogFolder(L"cabi_extraction_test");

const std::string kPathLine = "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk0Partition4\n";
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
        scratch = new ScratchFolder(L"twcabi");
        // Random content, so that a sector read from the wrong place shows.
        const std::string dir = UnixPath(scratch->path()) + "/";
        ASSERT_EQ(winrehost::MakeRandomFile(dir + "filler.bin", 5 * 1024 * 1024).size(), 64u);
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "disk.img", 8, "put /filler.bin " + dir + "filler.bin\n"));
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, dir + "disk.img"));
        expected = new std::string(ReadBytes(*scratch / L"disk.img").substr(0, CABI_FILE_SECTORS * 512));
        ASSERT_EQ(expected->size(), CABI_FILE_SECTORS * 512u);
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(0, 4);
        delete expected;
        delete scratch;
    }

    // Runs the export with the C library refusing its first refusedOpens
    // opens; the log lines of the extraction go to messages.
    static bool Extract(uint32_t refusedOpens, const std::wstring& target, CabiRecord& record, std::string& messages)
    {
        VolumeExport<CabiStart_Fn>("CabiStart")(refusedOpens);
        LogWatch log;
        const bool result =
            LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(target.c_str());
        messages = winrehost::LoggedMessages(log.Added(), "ExtractWinreFromRecoveryPartition|SearchWinre");
        VolumeExport<CabiReadRecord_Fn>("CabiReadRecord")(&record);
        return result;
    }

    // One factory call that took the device, one file opened with the
    // host's arguments, sized and closed, one slot-0 call with flag 1 and no
    // slot the host must leave alone.
    static void ExpectTidy(const CabiRecord& record)
    {
        EXPECT_EQ(record.creates, 1u);
        EXPECT_STREQ(record.refusal, "");
        EXPECT_EQ(record.openArguments[0], 128u);
        EXPECT_EQ(record.openArguments[1], 3u);
        EXPECT_EQ(record.openArguments[2], 9u);
        EXPECT_EQ(record.slotCalls[kSizeSlot], 1u);
        EXPECT_EQ(record.slotCalls[kCloseFileSlot], 1u);
        EXPECT_EQ(record.slotCalls[0], 1u);
        EXPECT_EQ(record.destroyFlags, 1u);
        EXPECT_EQ(record.violations, 0u);
    }

    static ScratchFolder* scratch;
    static std::string* expected;
};

ScratchFolder* CabiExtractionTest::scratch = nullptr;
std::string* CabiExtractionTest::expected = nullptr;

TEST_F(CabiExtractionTest, CopiesTheFileOfTheCLibraryLoadedBesideTheCopy)
{
    const std::wstring target = *scratch / L"standard.wim";
    CabiRecord record = {};
    std::string messages;
    EXPECT_TRUE(Extract(0, target, record, messages));
    EXPECT_EQ(messages, kPathLine);
    EXPECT_TRUE(ReadBytes(target) == *expected);
    ExpectTidy(record);
    EXPECT_EQ(record.slotCalls[kOpenSlot], 1u);
    EXPECT_EQ(record.slotCalls[kReadSlot], 4u) << "three whole reads and a partial one";

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(VolumeLibrary(), path, MAX_PATH);
    EXPECT_EQ(lstrcmpiW(path, (ExeFolder() + L"ravenfs.dll").c_str()), 0) << standin::ToUtf8(path);
}

TEST_F(CabiExtractionTest, ListsItsWayToTheFileWhenTheStandardOpenFails)
{
    const std::wstring target = *scratch / L"searched.wim";
    CabiRecord record = {};
    std::string messages;
    EXPECT_TRUE(Extract(1, target, record, messages));
    EXPECT_EQ(messages, kPathLine + "ExtractWinreFromRecoveryPartition: find winre.wim path: "
                                    "/Recovery/WindowsRE/winre.wim\n");
    EXPECT_TRUE(ReadBytes(target) == *expected);
    ExpectTidy(record);
    EXPECT_EQ(record.slotCalls[kOpenSlot], 2u);
    EXPECT_GT(record.slotCalls[kFindNextSlot], 0u) << "\".\" and \"..\" come before the folder and the file";
    EXPECT_EQ(record.slotCalls[kFindCloseSlot], record.slotCalls[kFindFirstSlot]) << "every listing closed";
}

}  // namespace
