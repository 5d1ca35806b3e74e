// The builder object: Init on the PE folder beside the host program, and the
// progress records and cancellation checks sent to the host's sink.
#include "PETestSupport.h"

#include "common/ProgressReport.h"
#include "pemaker/BoundedText.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;
using petest::Narrow;
using petest::PEFolder;
using petest::RecordingSink;

TEST(PEMakerInitTest, FindsTheWorkingWimInThePEFolderBesideTheHostProgram)
{
    PEFolder pe;
    CPEMaker maker;
    EXPECT_EQ(PEMakerTestPeer::Initialized(maker), 0);
    ASSERT_TRUE(maker.Init());
    EXPECT_EQ(std::wstring(PEMakerTestPeer::PEDir(maker)), ExeFolder() + L"PE");
    EXPECT_EQ(std::wstring(PEMakerTestPeer::WimPath(maker)), ExeFolder() + L"PE\\ISO\\SOURCES\\BOOT.wim");
    EXPECT_EQ(PEMakerTestPeer::Initialized(maker), 1);
}

TEST(PEMakerInitTest, MissingWimIsLoggedWithItsFullPathAndLeavesTheFlagDown)
{
    PEFolder pe(false);
    CPEMaker maker;
    LogWatch log;
    EXPECT_FALSE(maker.Init());
    EXPECT_EQ(PEMakerTestPeer::Initialized(maker), 0);
    EXPECT_EQ(std::wstring(PEMakerTestPeer::PEDir(maker)), ExeFolder() + L"PE");
    const std::string expected = "    CPEMaker::Init:";
    const std::string added = log.Added();
    EXPECT_NE(added.find(expected), std::string::npos) << added;
    EXPECT_NE(added.find(" PEMaker::Init: Source WIM not found at " + Narrow(pe.Wim()) + ", error code: 2\r\n"),
              std::string::npos)
        << added;
}

TEST(PEMakerInitTest, PathsAreCutAt259Characters)
{
    wchar_t buffer[pemaker::kPathChars];
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd');
    FormatBounded(buffer, pemaker::kPathChars, pemaker::kWimPathFormat, longFolder.c_str());
    EXPECT_EQ(std::wstring(buffer), longFolder.substr(0, 259));
    FormatBounded(buffer, pemaker::kPathChars, pemaker::kWimPathFormat, L"D:\\Tools\\PE");
    EXPECT_STREQ(buffer, L"D:\\Tools\\PE\\ISO\\SOURCES\\BOOT.wim");
}

TEST(ProgressReportTest, ProgressRecordHasEveryFieldAtItsPlace)
{
    RecordingSink sink;
    CPEMaker maker;
    PEMakerTestPeer::Sink(maker) = &sink;
    PEMakerTestPeer::ReportProgress(maker, 45, 100, nullptr);
    ASSERT_EQ(sink.records.size(), 1u);
    unsigned char raw[312];
    std::memcpy(raw, &sink.records[0], sizeof(raw));
    unsigned char expected[312] = {};
    expected[0] = 32;
    expected[4] = 2;
    expected[8] = 100;
    expected[16] = 45;
    EXPECT_EQ(std::memcmp(raw, expected, sizeof(raw)), 0);
}

TEST(ProgressReportTest, ZeroOfZeroIsAFailureRecordWithTheMessageCutAt255Bytes)
{
    RecordingSink sink;
    const std::string message(300, 'm');
    progress::Report(&sink, 0, 0, message.c_str());
    ASSERT_EQ(sink.records.size(), 1u);
    const ProgressInfo& info = sink.records[0];
    EXPECT_EQ(info.type, 32u);
    EXPECT_EQ(info.state, 3u);
    EXPECT_EQ(info.failed, 1u);
    EXPECT_EQ(info.total, 0u);
    EXPECT_EQ(info.current, 0u);
    EXPECT_EQ(std::string(info.message), message.substr(0, 255));
    EXPECT_EQ(info.message[255], '\0');
    EXPECT_EQ(info.reserved2, 0u);

    progress::Report(&sink, 0, 100, "short");
    EXPECT_EQ(sink.records[1].state, 2u);
    EXPECT_EQ(sink.records[1].failed, 0u);
    EXPECT_STREQ(sink.records[1].message, "short");
}

TEST(ProgressReportTest, NullSinkReceivesNothingAndNeverCancels)
{
    CPEMaker maker;
    PEMakerTestPeer::ReportProgress(maker, 0, 0, "lost");
    EXPECT_TRUE(PEMakerTestPeer::ShouldContinue(maker));

    RecordingSink sink(2);
    PEMakerTestPeer::Sink(maker) = &sink;
    EXPECT_TRUE(PEMakerTestPeer::ShouldContinue(maker));
    EXPECT_FALSE(PEMakerTestPeer::ShouldContinue(maker));
    EXPECT_EQ(sink.checks, 2);
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

void Other(HandMadeSink* self)
{
    ++self->otherCalls;
}
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
