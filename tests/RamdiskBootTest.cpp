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

// bcdedit's own layout, with names in another language in one object: the
// objects are found by their layout and the description's value alone.
TEST(BcdOutputTest, OurEntriesAreFoundByTheirDescription)
{
    const std::wstring output =
        L"\r\nFirmware Boot Manager\r\n---------------------\r\n"
        L"identifier              {fwbootmgr}\r\n"
        L"displayorder            {bootmgr}\r\n"
        L"                        Tarnwick rescue media\r\n"
        L"timeout                 0\r\n"
        L"\r\nWindows Boot Manager\r\n--------------------\r\n"
        L"identifier              {bootmgr}\r\n"
        L"description             Windows Boot Manager\r\n"
        L"bootsequence            {5c2f1b7e-8d3a-11ef-9c4d-00155d012345}\r\n"
        L"\r\nWindows Boot Loader\r\n-------------------\r\n"
        L"identifier              {5c2f1b7e-8d3a-11ef-9c4d-00155d012345}\r\n"
        L"device                  ramdisk=[C:]\\App\\PE\\ISO\\SOURCES\\BOOT.wim,{ramdiskoptions}\r\n"
        L"description             Tarnwick rescue media   \r\n"
        L"locale                  en-US\r\n"
        L"\r\nWindows-Startladeprogramm\r\n-------------------------\r\n"
        L"Bezeichner              {6d3a2c8f-8d3a-11ef-9c4d-00155d012345}\r\n"
        L"Beschreibung            Tarnwick rescue media\r\n"
        L"\r\nWindows Boot Loader\r\n-------------------\r\n"
        L"identifier              {7e4b3d90-8d3a-11ef-9c4d-00155d012345}\r\n"
        L"description             Tarnwick rescue media, older\r\n"
        L"\r\nWindows Boot Loader\r\n-------------------\r\n"
        L"identifier              {8f5c4ea1-8d3a-11ef-9c4d-00155d012345}\r\n"
        L"description             Temporary WinPE\r\n"
        L"\r\nSetup Ramdisk Options\r\n---------------------\r\n"
        L"identifier              {ramdiskoptions}\r\n"
        L"description             Ramdisk Options";
    EXPECT_EQ(pemaker::FindDescribedBcdObjects(output, L"Tarnwick rescue media"),
              (std::vector<std::wstring>{L"5c2f1b7e-8d3a-11ef-9c4d-00155d012345",
                                         L"6d3a2c8f-8d3a-11ef-9c4d-00155d012345"}));
    EXPECT_EQ(pemaker::FindDescribedBcdObjects(output, L"Ramdisk Options"),
              std::vector<std::wstring>{L"ramdiskoptions"});
    EXPECT_TRUE(pemaker::FindDescribedBcdObjects(L"The boot configuration data store could not be opened.\r\n"
                                                 L"Access is denied.\r\n",
                                                 L"Access is denied.")
                    .empty());
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

// MakePEWithOptions' entry carries its description and the locale of the
// user's UI language, replaces the one an earlier build left, and the restart
// comes with a delay that the host can still abort.
TEST_F(RamdiskBootTest, WithOptionsOneDescribedEntryInTheUsersLanguageAndADelayedRestart)
{
    const std::string older = "{0a1b2c3d-0000-4000-8000-000000000001}";
    const std::string foreign = "{0a1b2c3d-0000-4000-8000-000000000002}";
    WriteBytes(scratch / L"store.txt", "object " + older + "\nset " + older + " description Tarnwick rescue media\n" +
                                           "sequence " + older + "\nobject " + foreign + "\nset " + foreign +
                                           " description Temporary WinPE\n");
    journal.RespondTool(L"wimlib-imagex", 0);
    const std::wstring app = scratch / L"app.exe";
    WriteBytes(app, "MZapp");
    LogWatch log;
    ASSERT_TRUE(maker.CreatePEWithOptions({app}, app.c_str(), 1, nullptr, BuildOptions(), &sink)) << log.Added();

    std::vector<std::string> bcdedit;
    std::vector<std::string> shutdown;
    for (unsigned call = 1; call <= journal.Count(); ++call) {
        const std::string line = journal.CommandLine(call);
        const std::string arguments = line.substr(line.find(' ') + 1);
        if (journal.Tool(call) == "bcdedit") {
            bcdedit.push_back(arguments);
        } else if (journal.Tool(call) == "shutdown") {
            shutdown.push_back(arguments);
        }
    }
    ASSERT_EQ(bcdedit.size(), 18u);
    EXPECT_EQ(bcdedit[0], "/enum all");
    EXPECT_EQ(bcdedit[1], "/delete " + older + " /f");
    EXPECT_EQ(bcdedit[2], "/delete {ramdiskoptions} /f");
    EXPECT_EQ(bcdedit[6], "/create /d \"Tarnwick rescue media\" /application osloader");
    EXPECT_EQ(shutdown, std::vector<std::string>{"/r /t 5"});

    const std::string store = ReadBytes(scratch / L"store.txt");
    std::smatch made;
    ASSERT_TRUE(std::regex_search(store, made, std::regex("sequence (\\{[^}]+\\})\n")));
    const std::string id = made[1].str();
    EXPECT_FALSE(Holds(store, older)) << store;
    EXPECT_TRUE(Holds(store, "object " + foreign + "\n"));
    EXPECT_TRUE(Holds(store, "set " + id + " description Tarnwick rescue media\n")) << store;
    std::smatch locale;
    ASSERT_TRUE(std::regex_search(store, locale, std::regex(RegexEscape("set " + id + " locale ") + "(.+)\n")));
    EXPECT_NE(locale[1].str(), "zh-CN");
    const std::wstring name(locale[1].first, locale[1].second);
    const LCID named = LocaleNameToLCID(name.c_str(), 0);
    EXPECT_EQ(LANGIDFROMLCID(named), GetUserDefaultUILanguage()) << locale[1].str();
    EXPECT_TRUE(Holds(log.Added(), " PEMaker::RestartToPE: boot entry " + id + " made\r\n")) << log.Added();
}
