// Load without leaks: every export many times on its fast failure path, then
// whole conversions and extractions, in one process. Open handles, the
// working set and the temporary folder must not grow.
#include "TestSupport.h"
#include "WinreImageHost.h"

#include "TarnwickMedia.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <vector>

using namespace testsupport;

namespace {

const bool kOwnLogFolder = UseOwnLogFolder();

size_t WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

class LoadTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kOwnLogFolder);
        ASSERT_TRUE(winrehost::PrepareHost(Library()));
        const std::string dir = UnixPath(scratch.path()) + "/";
        ASSERT_EQ(winrehost::MakeRandomFile(dir + "winre.wim", 300000).size(), 64u);
        ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "recovery.img", 8,
                                             "mkdir /Recovery\nmkdir /Recovery/WindowsRE\n"
                                             "put /Recovery/WindowsRE/winre.wim " + dir + "winre.wim\n"));
        ASSERT_TRUE(winrehost::LinkPartition(0, 4, dir + "recovery.img"));
        WriteBytes(scratch / L"install.esd", "esd");
        // No PE folder beside the program: ConfigureBootWim fails in Init.
        ASSERT_FALSE(Exists(ExeFolder() + L"PE"));
    }
    void TearDown() override { winrehost::UnlinkPartition(0, 4); }

    // One of each export on its fast failure path: no tool runs.
    void FailEveryExportOnce()
    {
        const std::vector<std::wstring> unsafe{L"C:\\%A%\\%B%"};
        const wchar_t* const unsafeList[] = {L"C:\\%A%\\%B%"};
        const std::wstring missing = scratch / L"missing.esd";
        EXPECT_FALSE(makePE(&unsafe, L"app.exe", kMakePEWriteIso, nullptr, nullptr));
        EXPECT_FALSE(makePEFromList(unsafeList, 1, L"app.exe", kMakePEWriteIso, nullptr, nullptr));
        EXPECT_FALSE(configure(nullptr));
        EXPECT_FALSE(convert(missing.c_str(), (scratch / L"out.iso").c_str()));
        EXPECT_FALSE(extract(nullptr));
    }

    ScratchFolder scratch;
    const MakePE_Fn makePE = LibraryExport<MakePE_Fn>("MakePE");
    const MakePEFromList_Fn makePEFromList = LibraryExport<MakePEFromList_Fn>("MakePEFromList");
    const ConfigureBootWim_Fn configure = LibraryExport<ConfigureBootWim_Fn>("ConfigureBootWim");
    const ConvertESDToISO_Fn convert = LibraryExport<ConvertESDToISO_Fn>("ConvertESDToISO");
    const ExtractWinreFromRecoveryPartition_Fn extract =
        LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition");
};

TEST_F(LoadTest, HandlesWorkingSetAndTemporaryFolderStayFlat)
{
    StandinJournal journal;
    journal.RespondTool(L"reagentc", 0, 0,
                        "    Windows RE status:         Enabled\r\n"
                        "    Windows RE location:       \\\\?\\GLOBALROOT\\device\\harddisk0\\partition4\\Recovery\r\n");
    // A temporary folder of its own: other test programs come and go in the
    // shared one while this runs.
    ScratchFolder temp(L"twtemp");
    EnvScope tmp(L"TMP", temp.path());
    EnvScope tempVariable(L"TEMP", temp.path());
    ASSERT_EQ(TempFolder(), temp.path() + L"\\");
    const std::vector<std::wstring> tempBefore = ListNames(temp.path());
    const std::wstring esd = scratch / L"install.esd";
    const std::wstring iso = scratch / L"out.iso";
    const std::wstring target = scratch / L"winre.wim";
    // Warm-up: the C runtime, the log file and the loader settle first.
    for (int i = 0; i < 50; ++i) {
        FailEveryExportOnce();
    }
    ASSERT_TRUE(convert(esd.c_str(), iso.c_str()));
    ASSERT_TRUE(extract(target.c_str()));
    const DWORD handles = CountOpenHandles();
    ASSERT_GT(handles, 0u) << "the system handle table lists this process";

    // Growth that comes once (heaps, caches) shows in the first half; a leak
    // grows with the calls, in the second half as much as in the first.
    const int rounds = 500;
    for (int i = 0; i < rounds; ++i) {
        FailEveryExportOnce();
    }
    const size_t workingSet = WorkingSet();
    ASSERT_GT(workingSet, 0u);
    for (int i = 0; i < rounds; ++i) {
        FailEveryExportOnce();
    }
    // 2,500 failing calls: a leak of 64 bytes a call would show.
    EXPECT_LT(WorkingSet(), workingSet + 64 * 5 * rounds) << "working set before: " << workingSet;

    const int jobs = 10;
    for (int i = 0; i < jobs; ++i) {
        EXPECT_TRUE(convert(esd.c_str(), iso.c_str())) << i;
        EXPECT_TRUE(extract(target.c_str())) << i;
    }
    EXPECT_EQ(ReadBytes(target), ReadBytes(scratch / L"winre.wim"));
    // One handle lost a job would add 20.
    EXPECT_LT(CountOpenHandles(), handles + jobs) << "handles before: " << handles;
    EXPECT_EQ(ListNames(temp.path()), tempBefore);
}

}  // namespace
