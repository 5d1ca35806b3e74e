// The builder object: Init on the PE folder beside the host program, and the
// progress records and cancellation checks sent to the host's sink.
#include "PETestSupport.h"

#include "common/ProgressReport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace testsupport;
using namespace petest;

TEST(PEMakerInitTest, FindsTheWorkingWimInThePEFolderBesideTheHostProgramOrLogsItsFullPath)
{
    PEFolder pe(false);
    CPEMaker missing;
    LogWatch log;
    EXPECT_FALSE(missing.Init());
    EXPECT_EQ(PEMakerTestPeer::Initialized(missing), 0);
    const std::string added = log.Added();
    EXPECT_TRUE(Holds(added, "    CPEMaker::Init:"));
    EXPECT_TRUE(Holds(added, " PEMaker::Init: Source WIM not found at " + ToUtf8(pe.Wim()) + ", error code: 2\r\n"));

    WriteBytes(pe.Wim(), "");
    CPEMaker maker;
    ASSERT_TRUE(maker.Init());
    EXPECT_EQ(std::wstring(PEMakerTestPeer::PEDir(maker)), ExeFolder() + L"PE");
    EXPECT_EQ(std::wstring(PEMakerTestPeer::WimPath(maker)), pe.Wim());
    EXPECT_EQ(PEMakerTestPeer::Initialized(maker), 1);
}

namespace {

// "init-paths": Init beside this program; prints the PE folder and the WIM path.
const bool kRegistered = (RegisterChildMode("init-paths",
                                            [](int, wchar_t**) {
                                                CPEMaker maker;
                                                maker.Init();
                                                std::printf("%s\n%s", ToUtf8(PEMakerTestPeer::PEDir(maker)).c_str(),
                                                            ToUtf8(PEMakerTestPeer::WimPath(maker)).c_str());
                                                return 0;
                                            }),
                          true);

}  // namespace

TEST(PEMakerInitTest, PathsBesideADeepHostProgramAreCutAt259Characters)
{
    ScratchFolder scratch;
    const std::wstring deep = scratch.path() + L"\\" + std::wstring(250 - scratch.path().size() - 1, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    const std::wstring program = deep + L"\\t.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), program.c_str(), FALSE));
    const ChildResult child = RunProgram(program + L" --child init-paths", deep);
    const std::wstring wim = deep + L"\\PE\\ISO\\SOURCES\\BOOT.wim";
    EXPECT_EQ(child.stdoutBytes, ToUtf8(deep + L"\\PE") + "\r\n" + ToUtf8(wim.substr(0, 259)));
}

TEST(ProgressReportTest, RecordsHaveEveryFieldAtItsPlaceAndZeroOfZeroIsAFailureCutAt255Bytes)
{
    RecordingSink sink;
    CPEMaker maker;
    PEMakerTestPeer::Sink(maker) = &sink;
    PEMakerTestPeer::ReportProgress(maker, 45, 100, nullptr);
    const std::string message(300, 'm');
    progress::Report(&sink, 0, 0, message.c_str());
    ASSERT_EQ(sink.records.size(), 2u);
    unsigned char expected[312] = {32, 0, 0, 0, 2, 0, 0, 0, 100};
    expected[16] = 45;
    EXPECT_EQ(std::memcmp(&sink.records[0], expected, sizeof(expected)), 0);

    std::memset(expected, 0, sizeof(expected));
    expected[0] = 32;
    expected[4] = 3;
    expected[48] = 1;
    std::memset(expected + 52, 'm', 255);
    EXPECT_EQ(std::memcmp(&sink.records[1], expected, sizeof(expected)), 0) << sink.records[1].message;
}

namespace {

// A host object built by hand: a table of six slots, as a host compiled by
// another compiler lays it out. Only slots 2 and 6 may be called.
struct HandMadeSink {
    void** table;
    int progressCalls;
    int continueCalls;
    int otherCalls;
    unsigned long long lastCurrent;
};

void Other(HandMadeSink* self) { ++self->otherCalls; }
bool Progress(HandMadeSink* self, const ProgressInfo* info)
{
    ++self->progressCalls;
    self->lastCurrent = info->current;
    return true;
}
bool Continue(HandMadeSink* self)
{
    ++self->continueCalls;
    return false;
}

}  // namespace

TEST(ProgressReportTest, OnlyTheSecondAndSixthSlotsAreCalled)
{
    void* table[6] = {reinterpret_cast<void*>(&Other),    reinterpret_cast<void*>(&Progress),
                      reinterpret_cast<void*>(&Other),    reinterpret_cast<void*>(&Other),
                      reinterpret_cast<void*>(&Other),    reinterpret_cast<void*>(&Continue)};
    HandMadeSink host = {table, 0, 0, 0, 0};
    IProgressSink* sink = reinterpret_cast<IProgressSink*>(&host);
    progress::Report(sink, 62, 100, nullptr);
    EXPECT_FALSE(progress::ShouldContinue(sink));
    EXPECT_EQ(host.progressCalls, 1);
    EXPECT_EQ(host.lastCurrent, 62u);
    EXPECT_EQ(host.continueCalls, 1);
    EXPECT_EQ(host.otherCalls, 0);
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
