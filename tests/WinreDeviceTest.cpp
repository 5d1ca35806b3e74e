// The storage device on image files behind partition links, the recovery
// partition locator with the reagentc stand-in, and the search over a
// scripted file-system object.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "winre/RecoveryPartitionLocator.h"
#include "winre/SearchWinre.h"
#include "winre/VolumeNumberDevice.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();

void* RealDeviceIoControl()
{
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DeviceIoControl"));
}

class WinreDeviceTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchFolder>(L"twdev");
        image = *scratch / L"disk.img";
        ASSERT_EQ(winrehost::MakeRandomFile(UnixPath(image), 4194304).size(), 64u);
        ASSERT_TRUE(winrehost::LinkPartition(3, 2, UnixPath(image)));
    }
    static void TearDownTestSuite()
    {
        winrehost::UnlinkPartition(3, 2);
        scratch.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(winrehost::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "DeviceIoControl",
                                           reinterpret_cast<void*>(&winrehost::ImageDeviceIoControl)));
    }
    void TearDown() override
    {
        winrehost::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "DeviceIoControl", RealDeviceIoControl());
    }

    static inline std::unique_ptr<ScratchFolder> scratch;
    static inline std::wstring image;
};

TEST(WinreDevicePath, RewritesOnlyVolumeGuidPaths)
{
    EXPECT_EQ(CVolumeNumberDevice("\\\\?\\Volume{0b1e2c3d-0000-0000-0000-100000000000}\\").Path(),
              "\\\\.\\Volume{0b1e2c3d-0000-0000-0000-100000000000}\\");
    EXPECT_EQ(CVolumeNumberDevice("\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition4").Path(),
              "\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition4");
    EXPECT_EQ(CVolumeNumberDevice("\\\\.\\Harddisk0Partition4").Path(), "\\\\.\\Harddisk0Partition4");
}

TEST(WinreDevicePath, ADeviceWithoutPathNeverOpens)
{
    CVolumeNumberDevice device(nullptr);
    EXPECT_FALSE(device.Open());
    EXPECT_EQ(device.GetLastErrorCode(), 87u);
    char sector[512];
    EXPECT_FALSE(device.ReadSectors(sector, 0, 1));
    EXPECT_TRUE(device.Close());
    EXPECT_FALSE(device.Flush());
    EXPECT_EQ(device.GetSectorSize(), 512u);
    EXPECT_EQ(device.QueryA(), 0);
    EXPECT_EQ(device.QueryB(), 0);
    EXPECT_EQ(device.QueryC(), 2);
}

TEST_F(WinreDeviceTest, ReadsAndWritesWholeSectorsOfThePartition)
{
    const std::string bytes = ReadBytes(image);
    CVolumeNumberDevice device("\\\\.\\Harddisk3Partition2");
    ASSERT_TRUE(device.Open()) << device.GetLastErrorCode();
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetSectorSize(), 512u);
    EXPECT_EQ(device.GetSectorCount(), 8192u);

    std::string sectors(3 * 512, '\0');
    ASSERT_TRUE(device.ReadSectors(&sectors[0], 10, 3));
    EXPECT_TRUE(sectors == bytes.substr(10 * 512, 3 * 512));
    EXPECT_TRUE(device.ReadSectors(&sectors[0], 5, 0));
    EXPECT_FALSE(device.ReadSectors(&sectors[0], 8191, 2)) << "a short read is a failure";
    EXPECT_FALSE(device.ReadSectors(nullptr, 0, 1));

    const std::string written(512, 'W');
    ASSERT_TRUE(device.WriteSectors(written.data(), 7, 1));
    EXPECT_TRUE(device.Flush());
    ASSERT_TRUE(device.ReadSectors(&sectors[0], 7, 1));
    EXPECT_EQ(sectors.substr(0, 512), written);

    // Opening again keeps the open handle: no second geometry query.
    const unsigned queries = ImageGeometryQueries();
    EXPECT_TRUE(device.Open());
    EXPECT_EQ(ImageGeometryQueries(), queries);

    EXPECT_TRUE(device.Close());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.ReadSectors(&sectors[0], 0, 1));
    EXPECT_EQ(device.GetSectorCount(), 8192u);
    EXPECT_EQ(ReadBytes(image).substr(7 * 512, 512), written);
}

TEST_F(WinreDeviceTest, FallsBackToReadingWhenWritersAreLockedOut)
{
    const std::unique_ptr<void, decltype(&CloseHandle)> reader(
        CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr), &CloseHandle);
    ASSERT_NE(reader.get(), INVALID_HANDLE_VALUE);
    CVolumeNumberDevice device("\\\\.\\Harddisk3Partition2");
    EXPECT_TRUE(device.Open());
    EXPECT_EQ(device.GetLastErrorCode(), static_cast<uint64_t>(ERROR_SHARING_VIOLATION));
    char sector[512];
    EXPECT_TRUE(device.ReadSectors(sector, 1, 1));
    EXPECT_FALSE(device.WriteSectors(sector, 1, 1));
}

TEST_F(WinreDeviceTest, FailsWhenTheGeometryIsRefusedOrTheDeviceIsMissing)
{
    // Wine answers neither the geometry query nor the free-space query on a device path.
    winrehost::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "DeviceIoControl", RealDeviceIoControl());
    CVolumeNumberDevice refused("\\\\.\\Harddisk3Partition2");
    EXPECT_FALSE(refused.Open());
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_NE(refused.GetLastErrorCode(), 0u);

    CVolumeNumberDevice missing("\\\\.\\Harddisk3Partition9");
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_NE(missing.GetLastErrorCode(), 0u);
}

TEST(WinreLocator, TakesThePartitionFromTheToolsReportWhateverItNames)
{
    ToolsFirstOnPath toolsOnPath;
    StandinJournal journal;
    journal.EnableReal();
    EXPECT_EQ(LocateRecoveryPartition(), "\\\\.\\Harddisk0Partition4");
    ASSERT_EQ(journal.Count(), 1u);
    EXPECT_EQ(journal.Tool(1), "reagentc");
    EXPECT_TRUE(Holds(journal.CommandLine(1), "/info"));

    journal.RespondTool(L"reagentc", 0, 0,
                        "    Windows RE status:         Enabled\r\n"
                        "    Windows RE location:       \\\\?\\GLOBALROOT\\device\\HardDisk12\\PARTITION3\\Recovery\r\n");
    EXPECT_EQ(LocateRecoveryPartition(), "\\\\.\\Harddisk12Partition3");
    journal.RespondTool(L"reagentc", 0, 0, "    Windows RE status:         Disabled\r\n    Windows RE location:\r\n");
    EXPECT_EQ(LocateRecoveryPartition(), "");
    journal.RespondTool(L"reagentc", 2, 0, "");
    EXPECT_EQ(LocateRecoveryPartition(), "");
}

// A file-system object with a scripted tree: directory path -> entries.
class ScriptedFs final : public IVolumeFsDevice {
public:
    void* DeletingDestructor(unsigned int) override { return this; }
    std::map<std::wstring, std::vector<std::pair<std::wstring, bool>>> tree;
    std::vector<std::wstring> patterns;
    int openEnumerations = 0;

    BOOL ReadLabel(wchar_t*, uint32_t) override { return FALSE; }
    uint32_t ClusterBytes() override { return 4096; }
    uint64_t ClusterCount() override { return 0; }
    uint64_t FindFirstFile(const wchar_t* pattern, FsFindData* data) override
    {
        patterns.push_back(pattern);
        const std::wstring dir = patterns.back().substr(0, patterns.back().size() - 1);
        const auto found = tree.find(dir);
        if (found == tree.end() || found->second.empty()) {
            return ~0ull;
        }
        m_cursors.push_back({dir, 0});
        ++openEnumerations;
        return Next(m_cursors.size(), data) ? m_cursors.size() : 0;
    }
    BOOL FindNextFile(uint64_t handle, FsFindData* data) override { return Next(handle, data); }
    void FindClose(uint64_t) override { --openEnumerations; }
    uint64_t OpenFile(const wchar_t*, uint32_t, uint32_t, uint32_t) override { return 0; }
    uint32_t QueryAttributes(const wchar_t*) override { return 0; }
    BOOL ReadFile(uint64_t, void*, uint32_t, uint32_t*) override { return FALSE; }
    BOOL WriteFile(uint64_t, const void*, uint32_t, uint32_t*) override { return FALSE; }
    BOOL SeekFile(uint64_t, uint64_t) override { return FALSE; }
    uint64_t TellFile(uint64_t) override { return 0; }
    BOOL GetFileSize(uint64_t, uint32_t*, uint32_t*) override { return FALSE; }
    void CloseFile(uint64_t) override {}

private:
    BOOL Next(uint64_t handle, FsFindData* data)
    {
        auto& cursor = m_cursors[handle - 1];
        const auto& entries = tree[cursor.first];
        if (cursor.second >= entries.size()) {
            return FALSE;
        }
        const auto& entry = entries[cursor.second++];
        *data = FsFindData();
        data->attributes = entry.second ? 0x10 : 0x20;
        wcscpy(data->name, entry.first.c_str());
        return TRUE;
    }
    std::vector<std::pair<std::wstring, size_t>> m_cursors;
};

TEST(WinreSearch, GoesDepthFirstInListingOrderAndSkipsDotEntries)
{
    ScriptedFs fs;
    fs.tree[L"/"] = {{L".", true}, {L"..", true}, {L"A", true}, {L"winre.wim", false}};
    fs.tree[L"/A/"] = {{L"..", true}, {L"WinRE.WIM", true}, {L"b", true}, {L"winre.wim", false}};
    fs.tree[L"/A/b/"] = {{L"notes.txt", false}, {L"WINRE.wim", false}, {L"winre.wim", false}};
    LogWatch log;
    EXPECT_EQ(SearchWinre(&fs, L"/"), L"/A/b/WINRE.wim");
    EXPECT_EQ(fs.patterns, (std::vector<std::wstring>{L"/*", L"/A/*", L"/A/WinRE.WIM/*", L"/A/b/*"}));
    EXPECT_EQ(fs.openEnumerations, 0);
    EXPECT_EQ(winrehost::LoggedMessages(log.Added(), "SearchWinre"),
              "SearchWinre: SearchWinre: FindFirstFile failed in directory /A/WinRE.WIM/\n");
}

TEST(WinreSearch, NeverBuildsAPatternBeyondTwoHundredSixtyCharacters)
{
    ScriptedFs fs;
    const std::wstring longest = L"/" + std::wstring(257, L'd');
    const std::wstring tooLong = longest + L"e";
    fs.tree[longest] = {{L"winre.wim", false}};
    LogWatch log;
    EXPECT_EQ(SearchWinre(&fs, longest), longest + L"winre.wim");
    EXPECT_EQ(SearchWinre(&fs, tooLong), L"");
    EXPECT_EQ(fs.patterns, (std::vector<std::wstring>{longest + L"*"}));
    EXPECT_TRUE(Holds(log.Added(), "FindFirstFile failed in directory " + std::string(tooLong.begin(), tooLong.end())));
    EXPECT_EQ(SearchWinre(nullptr, L"/"), L"");
}

}  // namespace
