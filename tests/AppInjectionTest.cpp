// Application injection: the clear-out batch, one batch per source, staging
// of a folder that holds the PE folder, winpeshl.ini, progress and clean-up.
#include "PETestSupport.h"

#include "pemaker/UpdateCommands.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;
using namespace petest;

namespace {

std::wstring WithoutSlash(std::wstring folder)
{
    folder.pop_back();
    return folder;
}

}  // namespace

class AppInjectionTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(maker.Init());
        PEMakerTestPeer::Sink(maker) = &sink;
    }

    CPEMaker maker;
};

TEST_F(AppInjectionTest, HostFolderHoldingThePEFolderIsStagedWithoutIt)
{
    journal.EnableReal();
    journal.RespondTool(L"wimlib-imagex", 0);
    const std::wstring hostFolder = WithoutSlash(ExeFolder());
    const std::wstring startup = ExeFolder() + L"app_injection_test.exe";
    ASSERT_TRUE(maker.CopyApp({hostFolder}, startup.c_str()));

    ASSERT_EQ(journal.Count(), 4u);
    EXPECT_TRUE(Holds(journal.CommandLine(1), " 1 --rebuild --no-acls --quiet"));
    const std::wstring emptyFolder = temp.path() + L"\\_wim_empty";
    EXPECT_EQ(journal.Stdin(1), Utf16("rename \"\\TarnwickToolset\\Brightmoor\" \"\\_Brightmoor\"\r\n"
                                      "delete --recursive \"\\TarnwickToolset\"\r\n"
                                      "add \"" + ToUtf8(emptyFolder) + "\" \"\\TarnwickToolset\"\r\n"
                                      "rename \"\\_Brightmoor\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    EXPECT_TRUE(Exists(emptyFolder));
    std::smatch staging;
    const std::string robocopy = journal.CommandLine(2);
    ASSERT_TRUE(std::regex_match(robocopy, staging,
                                 std::regex("ROBOCOPY +\"" + RegexEscape(ToUtf8(hostFolder)) + "\" \"(" +
                                            RegexEscape(ToUtf8(temp.path())) + "\\\\PEC[0-9A-Fa-f]+\\.tmp)\" /E /NFL /NDL "
                                            "/R:1 /W:1 /XD \"" + RegexEscape(ToUtf8(pe.path())) + "\" *")))
        << robocopy;
    EXPECT_EQ(journal.Stdin(3), Utf16("add \"" + staging[1].str() + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    EXPECT_TRUE(std::regex_match(journal.Stdin(4),
                                 std::regex(RegexEscape(Utf16("add \"" + ToUtf8(temp.path()) + "\\PES")) + "(.\\x00)+" +
                                            RegexEscape(Utf16(".tmp\" \"\\Windows\\System32\\winpeshl.ini\"\r\n")))))
        << ToUtf8(standin::FromUtf8(journal.Stdin(4)));
}

TEST_F(AppInjectionTest, ProgressCountsEverySourceAndSkipsUnreadableOnes)
{
    const std::wstring file = scratch / L"tool.exe";
    WriteBytes(file, "x");
    const std::wstring missing = scratch / L"missing";
    struct Case {
        std::vector<std::wstring> sources;
        std::vector<long long> progress;
        std::string logged;
    };
    const Case cases[] = {
        {{file, L"", missing, file}, {15, 51, 85, 90},
         " PEMaker::CopyApp: GetFileAttributesW failed for " + ToUtf8(missing) + ", error: 2\r\n"},
        {{file}, {15, 85, 90}, ""},
        {{file, file}, {15, 62, 85, 90}, ""},
        {{file, file, file}, {15, 55, 70, 85, 90}, ""},
    };
    for (const Case& c : cases) {
        StandinJournal caseJournal;
        RecordingSink caseSink;
        PEMakerTestPeer::Sink(maker) = &caseSink;
        LogWatch log;
        // An empty start-up program: no start-up file, and nothing said about it.
        EXPECT_TRUE(maker.CopyApp(c.sources, L""));
        EXPECT_EQ(caseSink.Values(), c.progress) << c.sources.size() << " sources";
        EXPECT_EQ(caseJournal.Count(), c.progress.size() - 1) << "clear-out and one batch per source added";
        const std::string added = log.Added();
        EXPECT_FALSE(Holds(added, "startup exe"));
        EXPECT_TRUE(Holds(added, c.logged));
    }
}

TEST_F(AppInjectionTest, NamesInTheImageFollowTheKindAndPlaceOfEachSource)
{
    const std::wstring plugins = scratch / L"Plugins";
    MakeTree(plugins, {});
    const std::wstring insideApp = WithoutSlash(ExeFolder()) + L"\\tools";
    const std::wstring fileInApp = ExeFolder() + L"TarnwickMedia.dll";
    ASSERT_TRUE(maker.CopyApp({plugins, insideApp, fileInApp}, L""));
    ASSERT_EQ(journal.Count(), 4u) << "no staging, no start-up file";
    EXPECT_EQ(journal.Stdin(2), Utf16("add \"" + ToUtf8(plugins) + "\" \"\\TarnwickToolset\\Plugins\"\r\n"));
    EXPECT_EQ(journal.Stdin(3), Utf16("add \"" + ToUtf8(insideApp) + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    EXPECT_EQ(journal.Stdin(4), Utf16("add \"" + ToUtf8(fileInApp) + "\" \"\\TarnwickToolset\\TarnwickMedia.dll\"\r\n"));
}

TEST_F(AppInjectionTest, InvalidParametersRunNothing)
{
    LogWatch log;
    EXPECT_FALSE(maker.CopyApp({}, L"x"));
    EXPECT_FALSE(maker.CopyApp({scratch.path()}, nullptr));
    EXPECT_EQ(journal.Count(), 0u);
    EXPECT_TRUE(sink.records.empty());
    // Other test programs may log into the same file meanwhile.
    const std::string added = log.Added();
    const std::regex invalid("    CPEMaker::CopyApp:\\d+ PEMaker::CopyApp: invalid parameters\\.\r\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(added.begin(), added.end(), invalid), std::sregex_iterator()), 2)
        << added;
}

TEST_F(AppInjectionTest, FailedAddStopsAtOnceAndStillRemovesTheStagingFolder)
{
    journal.EnableReal();
    journal.RespondTool(L"wimlib-imagex", 0);
    journal.Respond(3, 2);
    const std::wstring hostFolder = WithoutSlash(ExeFolder());
    const std::wstring file = scratch / L"tool.exe";
    WriteBytes(file, "x");
    EXPECT_FALSE(maker.CopyApp({hostFolder, file}, (ExeFolder() + L"app_injection_test.exe").c_str()));
    EXPECT_EQ(journal.Count(), 3u) << "clear-out, ROBOCOPY, the failing add";
    EXPECT_EQ(sink.Values(), (std::vector<long long>{15}));
}

// The exact bytes for a start-up path in the image are checked with the real wimlib below.
TEST_F(AppInjectionTest, WinpeshlIniIsAPESTemporaryFileAndDropsExtraLeadingSeparators)
{
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(PEMakerTestPeer::CreateWinpeshlIni(maker, L"/\\\\x.exe", name));
    EXPECT_EQ(std::wstring(name).compare(0, temp.path().size() + 4, temp.path() + L"\\PES"), 0) << ToUtf8(name);
    EXPECT_EQ(ReadBytes(name), Utf16("[LaunchApps]\r\n\"%systemdrive%\\x.exe\"\r\n%systemdrive%\\Windows\\System32\\cmd.exe"));
    DeleteFileW(name);
    EXPECT_FALSE(PEMakerTestPeer::CreateWinpeshlIni(maker, nullptr, name));
}

// The real wimlib on a real image that already holds the application folder.
class AppInjectionRealTest : public AppInjectionTest {
protected:
    void SetUp() override
    {
        const std::wstring tree = scratch / L"image";
        MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor", L"\\Windows", L"\\Windows\\System32"},
                 {{L"\\TarnwickToolset\\Brightmoor\\cef.pak", "kept"},
                  {L"\\TarnwickToolset\\stale.exe", "old"},
                  {L"\\Windows\\System32\\winpeshl.ini", "old"}});
        ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
        journal.EnableReal();
        AppInjectionTest::SetUp();
    }
};

TEST_F(AppInjectionRealTest, ClearsOldContentKeepsTheAppFolderAndLetsTheLastSourceDecideTheStartup)
{
    const std::wstring plugins = scratch / L"Plugins";
    MakeTree(plugins, {}, {{L"\\run.exe", "run"}});
    const std::wstring tool = scratch / L"tool.exe";
    WriteBytes(tool, "tool");
    const std::wstring startup = plugins + L"\\RUN.exe";
    ASSERT_TRUE(maker.CopyApp({plugins, tool, plugins + L"\\run.exe"}, startup.c_str()));

    EXPECT_EQ(WimListing(pe.Wim()),
              "/\n/TarnwickToolset\n/TarnwickToolset/Brightmoor\n/TarnwickToolset/Brightmoor/cef.pak\n"
              "/TarnwickToolset/Plugins\n/TarnwickToolset/Plugins/run.exe\n/TarnwickToolset/run.exe\n"
              "/TarnwickToolset/tool.exe\n/Windows\n/Windows/System32\n/Windows/System32/winpeshl.ini\n");
    EXPECT_EQ(WimFile(pe.Wim(), "/Windows/System32/winpeshl.ini"),
              Utf16("[LaunchApps]\r\n\"%systemdrive%\\TarnwickToolset\\run.exe\"\r\n"
                    "%systemdrive%\\Windows\\System32\\cmd.exe"));

    // Only the folder source holds it now: the path below the folder counts.
    ASSERT_TRUE(maker.CopyApp({tool, plugins}, startup.c_str()));
    EXPECT_EQ(WimFile(pe.Wim(), "/Windows/System32/winpeshl.ini"),
              Utf16("[LaunchApps]\r\n\"%systemdrive%\\TarnwickToolset\\Plugins\\RUN.exe\"\r\n"
                    "%systemdrive%\\Windows\\System32\\cmd.exe"));
    EXPECT_EQ(WimFile(pe.Wim(), "/TarnwickToolset/Brightmoor/cef.pak"), "kept");
}

TEST_F(AppInjectionTest, FreshImageWithoutTheAppFolderRefusesTheClearOutAndAddsNothing)
{
    const std::wstring tree = scratch / L"fresh";
    MakeTree(tree, {L"\\Windows"});
    ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
    journal.EnableReal();
    LogWatch log;
    EXPECT_FALSE(maker.CopyApp({tree}, L""));
    EXPECT_EQ(journal.Count(), 1u);
    EXPECT_TRUE(sink.records.empty());
    const std::string added = log.Added();
    EXPECT_TRUE(Holds(added, "Exiting with error code 49"));
    EXPECT_TRUE(Holds(added, " PEMaker::CopyApp: failed to clean up old user content\r\n"));
    EXPECT_EQ(WimListing(pe.Wim()), "/\n/Windows\n");
}
