// The ramdisk boot entry: the bcdedit sequence against the simulated boot
// store, failing steps, the identifier parse, cancellation and the restart.
#include "PETestSupport.h"

#include "pemaker/BcdOutput.h"

#include <gtest/gtest.h>

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
    }

    EnvScope store{L"TWBCDEDIT_STORE", scratch / L"store.txt"};
    CPEMaker maker;
};

TEST_F(RamdiskBootTest, RegistersTheEntryInOrderAndOrdersTheRestart)
{
    LogWatch log;
    ASSERT_TRUE(maker.RestartToPE()) << log.Added();
    ASSERT_EQ(journal.Count(), 17u);
    // The identifier that the store gave the loader entry in call 5.
    std::smatch match;
    const std::string sixth = journal.CommandLine(6);
    ASSERT_TRUE(std::regex_search(sixth, match, std::regex("\\{([^}]*)\\}")));
    const std::string id = match[1].str();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"))) << id;
    const std::string drive = ToUtf8(pe.Wim().substr(0, 2));
    const std::string wimRest = ToUtf8(pe.Wim().substr(2));
    const std::string sdiRest = ToUtf8((pe / L"ISO\\BOOT\\BOOT.SDI").substr(2));
    const std::string bcdedit = ToolByPath("bcdedit.exe");
    const std::vector<std::string> expected{
        bcdedit + " /delete {ramdiskoptions} /f",
        bcdedit + " /create {ramdiskoptions} /d \"Ramdisk Options\"",
        bcdedit + " /set {ramdiskoptions} ramdisksdidevice partition=" + drive,
        bcdedit + " /set {ramdiskoptions} ramdisksdipath \"" + sdiRest + "\"",
        bcdedit + " /create /d \"Temporary WinPE\" /application osloader",
        bcdedit + " /set {" + id + "} device ramdisk=[" + drive + "]\"" + wimRest + "\",{ramdiskoptions}",
        bcdedit + " /set {" + id + "} path \\windows\\system32\\winload.efi",
        bcdedit + " /set {" + id + "} osdevice ramdisk=[" + drive + "]\"" + wimRest + "\",{ramdiskoptions}",
        bcdedit + " /set {" + id + "} systemroot \\windows",
        bcdedit + " /set {" + id + "} winpe yes",
        bcdedit + " /set {" + id + "} nx optin",
        bcdedit + " /set {" + id + "} detecthal yes",
        bcdedit + " /set {" + id + "} bootmenupolicy Standard",
        bcdedit + " /set {" + id + "} isolatedcontext yes",
        bcdedit + " /set {" + id + "} locale zh-CN",
        bcdedit + " /bootsequence {" + id + "} /addfirst",
        ToolByPath("shutdown.exe") + " /r /t 0",
    };
    for (unsigned call = 1; call <= 17; ++call) {
        EXPECT_EQ(journal.CommandLine(call), expected[call - 1]) << "call " << call;
    }
    EXPECT_EQ(sink.checks, 2);
    EXPECT_TRUE(std::regex_search(
        log.Added(), std::regex(R"(CPEMaker::RestartToPE:\d+ PEMaker::RestartToPE: restarting to PE\.\.\.\r\n)")));

    // The SDI file's drive and the WIM's are taken each from its own path.
    StandinJournal other;
    other.EnableReal();
    ASSERT_TRUE(maker.ConfigureBCD(L"C:\\App\\PE\\ISO\\SOURCES\\BOOT.wim", L"D:\\x\\BOOT.SDI"));
    ASSERT_EQ(other.Count(), 16u);
    EXPECT_EQ(other.CommandLine(3), bcdedit + " /set {ramdiskoptions} ramdisksdidevice partition=D:");
    EXPECT_EQ(other.CommandLine(4), bcdedit + " /set {ramdiskoptions} ramdisksdipath \"\\x\\BOOT.SDI\"");
    EXPECT_TRUE(Holds(other.CommandLine(6), "ramdisk=[C:]\"\\App\\PE\\ISO\\SOURCES\\BOOT.wim\",{ramdiskoptions}"));
}

TEST_F(RamdiskBootTest, AFailingStepNoIdentifierNoInitOrACancellationStopsTheSequence)
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
        {5, 1, "", "PEMaker::RestartToPE: Failed to create BCD entry, error code: \\d+ \\(.+\\)"},
        {5, 0, "The entry was created.", "PEMaker::RestartToPE: Failed to parse BCD GUID from output: The entry was created\\."},
        {6, 1, "", "Failed to set device"},
        {16, 1, "", "Failed to set bootsequence"},
    };
    const std::regex deleteEntry(RegexEscape(ToolByPath("bcdedit.exe")) + R"( /delete \{[-0-9a-f]+\} /f)");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        StandinJournal failing;
        failing.EnableReal();
        failing.Respond(c.step, c.exitCode, 0, c.output);
        LogWatch log;
        EXPECT_FALSE(maker.RestartToPE());
        // Once the entry exists, a failure deletes it: no half-made entry stays.
        const bool entryMade = c.step > 5;
        ASSERT_EQ(failing.Count(), entryMade ? c.step + 1 : c.step) << "no step after the failing one";
        if (entryMade) {
            EXPECT_TRUE(std::regex_match(failing.CommandLine(c.step + 1), deleteEntry));
        }
        const std::string added = log.Added();
        const std::regex entry("    CPEMaker::ConfigureBCD:\\d+ " + c.logged + "\r\n");
        EXPECT_TRUE(std::regex_search(added, entry)) << added;
        EXPECT_TRUE(Holds(added, " PEMaker::RestartToPE: Failed to configure BCD\r\n"));
    }

    // Not initialised it refuses; a cancellation before or after the entry
    // ends the call with false: no restart was ordered.
    CPEMaker fresh;
    LogWatch refused;
    EXPECT_FALSE(fresh.RestartToPE());
    EXPECT_TRUE(Holds(refused.Added(), " PEMaker::RestartToPE: Not initialized\r\n"));

    RecordingSink cancelFirst(1);
    PEMakerTestPeer::Sink(maker) = &cancelFirst;
    EXPECT_FALSE(maker.RestartToPE());
    EXPECT_EQ(journal.Count(), 0u);

    RecordingSink cancelSecond(2);
    PEMakerTestPeer::Sink(maker) = &cancelSecond;
    EXPECT_FALSE(maker.RestartToPE());
    ASSERT_EQ(journal.Count(), 17u) << "entry registered and deleted again, no restart";
    EXPECT_TRUE(std::regex_match(journal.CommandLine(17), deleteEntry))
        << journal.CommandLine(17);
}
