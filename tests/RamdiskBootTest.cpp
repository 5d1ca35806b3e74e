// The ramdisk boot entry: the bcdedit sequence against the simulated boot
// store, failing steps, the identifier parse, cancellation and the restart.
#include "PETestSupport.h"

#include "pemaker/BcdOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace testsupport;
using namespace petest;

TEST(BcdOutputTest, IdentifierIsBetweenTheFirstPairOfBraces)
{
    std::wstring id;
    ASSERT_TRUE(pemaker::ParseBcdIdentifier(L"The entry {1234-ab} was {x} created.", id));
    EXPECT_EQ(id, L"1234-ab");
    ASSERT_TRUE(pemaker::ParseBcdIdentifier(L"}{}", id));
    EXPECT_EQ(id, L"");
    EXPECT_FALSE(pemaker::ParseBcdIdentifier(L"no braces", id));
    EXPECT_FALSE(pemaker::ParseBcdIdentifier(L"only { open", id));
    EXPECT_FALSE(pemaker::ParseBcdIdentifier(L"} close first", id));
}

class RamdiskBootTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        journal.EnableReal();
        ASSERT_TRUE(maker.Init());
        PEMakerTestPeer::Sink(maker) = &sink;
        wimRest = ToUtf8(pe.Wim().substr(2));
        sdiRest = ToUtf8((pe / L"ISO\\BOOT\\BOOT.SDI").substr(2));
        drive = ToUtf8(pe.Wim().substr(0, 2));
    }

    // The identifier that the store gave the loader entry, from call 5.
    std::string EntryId() const
    {
        std::smatch match;
        const std::string line = journal.CommandLine(6);
        return std::regex_search(line, match, std::regex("\\{([^}]*)\\}")) ? match[1].str() : "";
    }

    std::vector<std::string> ExpectedSequence(const std::string& id) const
    {
        return {
            "bcdedit /delete {ramdiskoptions} /f",
            "bcdedit /create {ramdiskoptions} /d \"Ramdisk Options\"",
            "bcdedit /set {ramdiskoptions} ramdisksdidevice partition=" + drive,
            "bcdedit /set {ramdiskoptions} ramdisksdipath \"" + sdiRest + "\"",
            "bcdedit /create /d \"Temporary WinPE\" /application osloader",
            "bcdedit /set {" + id + "} device ramdisk=[" + drive + "]\"" + wimRest + "\",{ramdiskoptions}",
            "bcdedit /set {" + id + "} path \\windows\\system32\\winload.efi",
            "bcdedit /set {" + id + "} osdevice ramdisk=[" + drive + "]\"" + wimRest + "\",{ramdiskoptions}",
            "bcdedit /set {" + id + "} systemroot \\windows",
            "bcdedit /set {" + id + "} winpe yes",
            "bcdedit /set {" + id + "} nx optin",
            "bcdedit /set {" + id + "} detecthal yes",
            "bcdedit /set {" + id + "} bootmenupolicy Standard",
            "bcdedit /set {" + id + "} isolatedcontext yes",
            "bcdedit /set {" + id + "} locale zh-CN",
            "bcdedit /bootsequence {" + id + "} /addfirst",
        };
    }

    EnvScope store{L"TWBCDEDIT_STORE", scratch / L"store.txt"};
    CPEMaker maker;
    std::string wimRest;
    std::string sdiRest;
    std::string drive;
};

TEST_F(RamdiskBootTest, RegistersTheEntryInOrderAndOrdersTheRestart)
{
    LogWatch log;
    ASSERT_TRUE(maker.RestartToPE()) << log.Added();
    ASSERT_EQ(journal.Count(), 17u);
    const std::string id = EntryId();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"))) << id;
    const std::vector<std::string> expected = ExpectedSequence(id);
    for (unsigned call = 1; call <= 16; ++call) {
        EXPECT_EQ(journal.CommandLine(call), expected[call - 1]) << "call " << call;
    }
    EXPECT_EQ(journal.CommandLine(17), "shutdown /r /t 0");
    EXPECT_EQ(sink.checks, 2);
    EXPECT_TRUE(Holds(log.Added(), "CPEMaker::RestartToPE:"));
    EXPECT_TRUE(Holds(log.Added(), " PEMaker::RestartToPE: restarting to PE...\r\n"));

    // The store holds the options object and the entry, first in the one-time sequence.
    const std::string store = ReadBytes(scratch / L"store.txt");
    EXPECT_TRUE(Holds(store, "object {ramdiskoptions}\n"));
    EXPECT_TRUE(Holds(store, "set {" + id + "} winpe yes\n"));
    EXPECT_TRUE(Holds(store, "sequence {" + id + "}\n"));
}

TEST_F(RamdiskBootTest, PathsAreSplitIntoDriveAndRest)
{
    ASSERT_TRUE(maker.ConfigureBCD(L"C:\\App\\PE\\ISO\\SOURCES\\BOOT.wim", L"D:\\x\\BOOT.SDI"));
    ASSERT_EQ(journal.Count(), 16u);
    EXPECT_EQ(journal.CommandLine(3), "bcdedit /set {ramdiskoptions} ramdisksdidevice partition=D:");
    EXPECT_EQ(journal.CommandLine(4), "bcdedit /set {ramdiskoptions} ramdisksdipath \"\\x\\BOOT.SDI\"");
    EXPECT_EQ(journal.CommandLine(6),
              "bcdedit /set {" + EntryId() + "} device ramdisk=[C:]\"\\App\\PE\\ISO\\SOURCES\\BOOT.wim\",{ramdiskoptions}");
}

TEST_F(RamdiskBootTest, AFailingStepOrAnEntryWithoutIdentifierStopsTheSequenceWithItsText)
{
    const struct {
        unsigned step;
        unsigned long exitCode;
        std::string output;
        std::string logged;
    } cases[] = {
        {2, 1, "", "Failed to create \\{ramdiskoptions\\}"},
        {3, 1, "", "Failed to set ramdisksdidevice"},
        {4, 1, "", "Failed to set ramdisksdipath"},
        {5, 1, "", "PEMaker::RestartToPE: Failed to create BCD entry, error code: \\d+"},
        {5, 0, "The entry was created.", "PEMaker::RestartToPE: Failed to parse BCD GUID from output: The entry was created\\."},
        {6, 1, "", "Failed to set device"},
        {11, 1, "", "Failed to set nx"},
        {16, 1, "", "Failed to set bootsequence"},
    };
    for (const auto& c : cases) {
        StandinJournal failing;
        failing.EnableReal();
        failing.Respond(c.step, c.exitCode, 0, c.output);
        LogWatch log;
        EXPECT_FALSE(maker.RestartToPE()) << c.step;
        EXPECT_EQ(failing.Count(), c.step) << "no command after the failing one";
        const std::string added = log.Added();
        EXPECT_TRUE(std::regex_search(added, std::regex(" " + c.logged + "\r\n"))) << c.step << added;
        if (c.step != 5) {
            EXPECT_TRUE(Holds(added, "CPEMaker::ConfigureBCD:"));
            EXPECT_TRUE(Holds(added, " PEMaker::RestartToPE: Failed to configure BCD\r\n"));
        }
    }
}

TEST_F(RamdiskBootTest, NotInitialisedRefusesAndCancellationBeforeOrAfterTheEntryIsNoFailure)
{
    CPEMaker fresh;
    LogWatch log;
    EXPECT_FALSE(fresh.RestartToPE());
    EXPECT_TRUE(Holds(log.Added(), " PEMaker::RestartToPE: Not initialized\r\n"));

    RecordingSink cancelFirst(1);
    PEMakerTestPeer::Sink(maker) = &cancelFirst;
    EXPECT_TRUE(maker.RestartToPE());
    EXPECT_EQ(journal.Count(), 0u);

    RecordingSink cancelSecond(2);
    PEMakerTestPeer::Sink(maker) = &cancelSecond;
    EXPECT_TRUE(maker.RestartToPE());
    EXPECT_EQ(journal.Count(), 16u) << "entry registered, no restart";
    EXPECT_TRUE(Holds(ReadBytes(scratch / L"store.txt"), "sequence {"));
}

TEST_F(RamdiskBootTest, MakePERestartTypeCancelledAfterTheEntryOrFailing)
{
    const std::wstring app = scratch / L"app.exe";
    WriteBytes(app, "app");
    journal.RespondTool(L"wimlib-imagex", 0);
    {
        CPEMaker flow;
        RecordingSink flowSink;
        ASSERT_TRUE(flow.CreatePE({app}, app.c_str(), 1, nullptr, &flowSink));
        EXPECT_EQ(flowSink.Values(), (std::vector<long long>{0, 5, 15, 85, 90, 90, 100}));
        EXPECT_EQ(journal.Tool(journal.Count()), "shutdown");
    }
    const unsigned before = journal.Count();
    CPEMaker flow;
    RecordingSink cancelAfterEntry(4);
    LogWatch log;
    EXPECT_FALSE(flow.CreatePE({app}, app.c_str(), 1, nullptr, &cancelAfterEntry));
    EXPECT_EQ(journal.Count() - before, 3u + 16u) << "three WIM updates, sixteen bcdedit calls, no restart";
    EXPECT_NE(journal.Tool(journal.Count()), "shutdown");
    EXPECT_EQ(cancelAfterEntry.Values(), (std::vector<long long>{0, 5, 15, 85, 90, 90}));
    EXPECT_TRUE(Holds(log.Added(), " Operation cancelled by user\r\n"));

    journal.RespondTool(L"bcdedit", 1);
    CPEMaker failing;
    RecordingSink failed;
    LogWatch failLog;
    EXPECT_FALSE(failing.CreatePE({app}, app.c_str(), 1, nullptr, &failed));
    const std::vector<long long> values = failed.Values();
    EXPECT_EQ(std::count(values.begin(), values.end(), -1), 1);
    EXPECT_EQ(values.back(), -1);
    EXPECT_STREQ(failed.records.back().message, "BuildPE: Failed to restart to PE environment");
    EXPECT_TRUE(Holds(failLog.Added(), "    CPEMaker::CreatePE:"));
    EXPECT_TRUE(Holds(failLog.Added(), " BuildPE: Failed to restart to PE environment\r\n"));
    EXPECT_NE(journal.Tool(journal.Count()), "shutdown");
}
