// The builder object: Init on the PE folder beside the host program, and the
// progress records and cancellation checks sent to the host's sink.
#include "PETestSupport.h"

#include "common/ProgressReport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>

using namespace testsupport;
using namespace petest;

namespace {

// "init-paths": Init beside this program; prints the PE folder and the WIM path.
int InitPathsMode(int, wchar_t**)
{
    CPEMaker maker;
    maker.Init();
    std::printf("%s\n%s", ToUtf8(PEMakerTestPeer::PEDir(maker)).c_str(),
                ToUtf8(PEMakerTestPeer::WimPath(maker)).c_str());
    return 0;
}

const bool kRegistered = (RegisterChildMode("init-paths", InitPathsMode), true);

}  // namespace

// There is no PE folder beside the copy: Init logs the path it looked at.
TEST(PEMakerInitTest, PathsBesideADeepHostProgramAreCutAt259CharactersAndAMissingWimIsLoggedWithItsPath)
{
    ScratchFolder scratch;
    const std::wstring deep = scratch.path() + L"\\" + std::wstring(250 - scratch.path().size() - 1, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    const std::wstring program = deep + L"\\t.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), program.c_str(), FALSE));
    const ChildResult child = RunProgram(program + L" --child init-paths", scratch.path());
    const std::string wim = ToUtf8((deep + L"\\PE\\ISO\\SOURCES\\BOOT.wim").substr(0, 259));
    EXPECT_EQ(child.stdoutBytes, ToUtf8(deep + L"\\PE") + "\r\n" + wim);
    EXPECT_TRUE(std::regex_search(ReadBytes(scratch / L"tarnwick.log"),
                                  std::regex("    CPEMaker::Init:\\d+ PEMaker::Init: Source WIM not found at " +
                                             RegexEscape(wim) + ", error code: \\d+\r\n")));
}

namespace {

// A host object built by hand: a table of six slots, as a host compiled by
// another compiler lays it out. Only slots 2 and 6 may be called.
struct HandMadeSink {
    void** table;
    ProgressInfo records[2];
    int calls[3];  // progress, continue, any other slot
};

void Other(HandMadeSink* self) { ++self->calls[2]; }
bool Progress(HandMadeSink* self, const ProgressInfo* info)
{
    self->records[self->calls[0]++ % 2] = *info;
    return true;
}
bool Continue(HandMadeSink* self)
{
    ++self->calls[1];
    return false;
}

}  // namespace

TEST(ProgressReportTest, RecordsHaveEveryFieldAtItsPlaceAndReachOnlyTheSecondAndSixthSlots)
{
    void* table[6] = {reinterpret_cast<void*>(&Other), reinterpret_cast<void*>(&Progress),
                      reinterpret_cast<void*>(&Other), reinterpret_cast<void*>(&Other),
                      reinterpret_cast<void*>(&Other), reinterpret_cast<void*>(&Continue)};
    HandMadeSink host = {table, {}, {0, 0, 0}};
    IProgressSink* sink = reinterpret_cast<IProgressSink*>(&host);
    progress::Report(sink, 45, 100, nullptr);
    // Zero of zero is a failure, its message cut at 255 bytes.
    const std::string message(300, 'm');
    progress::Report(sink, 0, 0, message.c_str());
    EXPECT_FALSE(progress::ShouldContinue(sink));
    EXPECT_EQ(std::vector<int>(host.calls, host.calls + 3), (std::vector<int>{2, 1, 0}));

    unsigned char expected[312] = {32, 0, 0, 0, 2, 0, 0, 0, 100};
    expected[16] = 45;
    EXPECT_EQ(std::memcmp(&host.records[0], expected, sizeof(expected)), 0);
    std::memset(expected, 0, sizeof(expected));
    expected[0] = 32;
    expected[4] = 3;
    expected[48] = 1;
    std::memset(expected + 52, 'm', 255);
    EXPECT_EQ(std::memcmp(&host.records[1], expected, sizeof(expected)), 0) << host.records[1].message;
}

// What the interpreter's rmdir leaves of a staging folder goes through the
// file system, where a read-only file or folder cannot be deleted as it is.
TEST(RemoveTreeTest, RemovesReadOnlyFilesAndFolders)
{
    ScratchFolder scratch;
    const std::wstring tree = scratch / L"PEC1.tmp";
    MakeTree(tree, {L"\\sub"}, {{L"\\sub\\locked.txt", "x"}, {L"\\top.txt", "y"}});
    for (const wchar_t* name : {L"\\sub\\locked.txt", L"\\top.txt", L"\\sub"}) {
        ASSERT_TRUE(SetFileAttributesW((tree + name).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_FALSE(Exists(tree));
}
