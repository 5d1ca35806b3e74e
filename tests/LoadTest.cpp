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

TEST(LoadTest, HandlesWorkingSetAndTemporaryFolderStayFlat)
{
    ASSERT_TRUE(kOwnLogFolder);
    ASSERT_TRUE(winrehost::PrepareHost(Library()));
    ScratchFolder scratch;
    const std::string dir = UnixPath(scratch.path()) + "/";
    ASSERT_TRUE(winrehost::MakeRandomFile(dir + "winre.wim", 300000));
    ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "recovery.img", 8,
                                         "mkdir /Recovery\nmkdir /Recovery/WindowsRE\n"
                                         "put /Recovery/WindowsRE/winre.wim " + dir + "winre.wim\n"));
    const struct Unlink {
        ~Unlink() { winrehost::UnlinkPartition(0, 4); }
    } unlink;
    ASSERT_TRUE(winrehost::LinkPartition(0, 4, dir + "recovery.img"));
    StandinJournal journal;
    journal.RespondTool(L"reagentc", 0, 0,
                        "    Windows RE status:         Enabled\r\n"
                        "    Windows RE location:       \\\\?\\GLOBALROOT\\device\\harddisk0\\partition4\\Recovery\r\n");
    // No PE folder beside the program: ConfigureBootWim fails in Init.
    ASSERT_FALSE(Exists(ExeFolder() + L"PE"));
    const std::wstring esd = scratch / L"install.esd";
    WriteBytes(esd, "esd");
    const std::wstring iso = scratch / L"out.iso";
    const std::wstring target = scratch / L"copy.wim";

    // One of each export on its fast failure path: no tool runs.
    const auto makePE = LibraryExport<MakePE_Fn>("MakePE");
    const auto makePEFromList = LibraryExport<MakePEFromList_Fn>("MakePEFromList");
    const auto configure = LibraryExport<ConfigureBootWim_Fn>("ConfigureBootWim");
    const auto convert = LibraryExport<ConvertESDToISO_Fn>("ConvertESDToISO");
    const auto extract = LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition");
    const std::vector<std::wstring> unsafe{L"C:\\%A%\\%B%"};
    const wchar_t* const unsafeList[] = {L"C:\\%A%\\%B%"};
    const auto failEveryExport = [&](int times) {
        for (int i = 0; i < times; ++i) {
            EXPECT_FALSE(makePE(&unsafe, L"app.exe", kMakePEWriteIso, nullptr, nullptr));
            EXPECT_FALSE(makePEFromList(unsafeList, 1, L"app.exe", kMakePEWriteIso, nullptr, nullptr));
            EXPECT_FALSE(configure(nullptr));
            EXPECT_FALSE(convert((scratch / L"missing.esd").c_str(), iso.c_str()));
            EXPECT_FALSE(extract(nullptr));
        }
    };

    // A temporary folder of its own: other test programs come and go in the
    // shared one while this runs.
    ScratchFolder temp(L"twtemp");
    EnvScope tmp(L"TMP", temp.path());
    EnvScope tempVariable(L"TEMP", temp.path());
    // Warm-up: the C runtime, the log file and the loader settle first.
    failEveryExport(50);
    ASSERT_TRUE(convert(esd.c_str(), iso.c_str()));
    ASSERT_TRUE(extract(target.c_str()));
    const DWORD handles = CountOpenHandles();
    ASSERT_GT(handles, 0u) << "the system handle table lists this process";

    // Growth that comes once (heaps, caches) shows in the first half; a leak
    // grows with the calls, in the second half as much as in the first.
    const int rounds = 500;
    failEveryExport(rounds);
    const size_t workingSet = WorkingSet();
    ASSERT_GT(workingSet, 0u);
    failEveryExport(rounds);
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
    EXPECT_EQ(ListNames(temp.path()), std::vector<std::wstring>{});
}

}  // namespace
