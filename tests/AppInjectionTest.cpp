// Application injection: the clear-out batch, one batch per source, staging
// of a folder that holds the PE folder, winpeshl.ini, progress and clean-up.
#include "PETestSupport.h"

#include "pemaker/UpdateCommands.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;
using namespace petest;

class AppInjectionTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(maker.Init());
        PEMakerTestPeer::Sink(maker) = &sink;
    }

    CPEMaker maker;
};

TEST_F(AppInjectionTest, SourcesInTheHostFolderGoToTheAppFolderAndOneHoldingThePEFolderIsStagedWithoutIt)
{
    journal.EnableReal();
    journal.RespondTool(L"wimlib-imagex", 0);
    const std::wstring hostFolder = ExeFolder().substr(0, ExeFolder().size() - 1);
    const std::wstring insideApp = hostFolder + L"\\tools";
    const std::wstring fileInApp = ExeFolder() + L"TarnwickMedia.dll";
    const std::wstring startup = ExeFolder() + L"app_injection_test.exe";
    // An empty source and one that cannot be read are skipped, but counted.
    const std::wstring missing = scratch / L"missing";
    LogWatch log;
    ASSERT_TRUE(maker.CopyApp({hostFolder, insideApp, L"", missing, fileInApp}, startup.c_str()));
    EXPECT_TRUE(Holds(log.Added(),
                      "CopyApp: GetFileAttributesW failed for " + ToUtf8(missing) + ", error: 2 (File not found.)\r\n"));

    ASSERT_EQ(journal.Count(), 6u);
    EXPECT_TRUE(Holds(journal.CommandLine(1), " 1 --rebuild --no-acls --quiet"));
    const std::wstring emptyFolder = temp.path() + L"\\_wim_empty";
    EXPECT_EQ(journal.Stdin(1), Utf16("rename \"\\TarnwickToolset\\Brightmoor\" \"\\_Brightmoor\"\r\n"
                                      "delete --recursive \"\\TarnwickToolset\"\r\n"
                                      "add \"" + ToUtf8(emptyFolder) + "\" \"\\TarnwickToolset\"\r\n"
                                      "rename \"\\_Brightmoor\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    std::smatch staging;
    const std::string robocopy = journal.CommandLine(2);
    ASSERT_TRUE(std::regex_match(robocopy, staging,
                                 std::regex(RegexEscape(ToolByPath("ROBOCOPY.exe")) + " +\"" + RegexEscape(ToUtf8(hostFolder)) + "\" \"(" +
                                            RegexEscape(ToUtf8(temp.path())) + "\\\\PEC[0-9A-Fa-f]+\\.tmp)\" /E /NFL /NDL "
                                            "/R:1 /W:1 /XD \"" + RegexEscape(ToUtf8(pe.path())) + "\" *")))
        << robocopy;
    EXPECT_EQ(journal.Stdin(3), Utf16("add \"" + staging[1].str() + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    // A folder inside the host folder joins the application; a file keeps its name.
    EXPECT_EQ(journal.Stdin(4), Utf16("add \"" + ToUtf8(insideApp) + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n"));
    EXPECT_EQ(journal.Stdin(5), Utf16("add \"" + ToUtf8(fileInApp) + "\" \"\\TarnwickToolset\\TarnwickMedia.dll\"\r\n"));
    EXPECT_TRUE(std::regex_match(journal.Stdin(6),
                                 std::regex(RegexEscape(Utf16("add \"" + ToUtf8(temp.path()) + "\\PES")) + "(.\\x00)+" +
                                            RegexEscape(Utf16(".tmp\" \"\\Windows\\System32\\winpeshl.ini\"\r\n")))))
        << ToUtf8(standin::FromUtf8(journal.Stdin(6)));

    // A failed add stops at once; the staging folder still goes (PrivateTemp checks).
    journal.Respond(10, 2);
    EXPECT_FALSE(maker.CopyApp({hostFolder, fileInApp}, startup.c_str()));
    EXPECT_EQ(journal.Count(), 10u) << "clear-out, ROBOCOPY, the host's add, the failing add";
    // 40 + 45 * (i + 1) / count after the source i is added, cut to whole numbers.
    EXPECT_EQ(sink.Values(), (std::vector<long long>{15, 49, 58, 85, 90, 15, 62}));
}

// The real wimlib on real images: a fresh one, then one that holds the application folder.
TEST_F(AppInjectionTest, ClearOutRefusedOnAFreshImageKeepsTheAppFolderAndTheLastSourceDecidesTheStartup)
{
    journal.EnableReal();
    const std::wstring fresh = scratch / L"fresh";
    MakeTree(fresh, {L"\\Windows"});
    ASSERT_TRUE(CaptureWim(fresh, pe.Wim()));
    LogWatch log;
    EXPECT_FALSE(maker.CopyApp({fresh}, L""));
    EXPECT_EQ(journal.Count(), 1u);
    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(Holds(log.Added(), " PEMaker::CopyApp: failed to clean up old user content\r\n"));
    EXPECT_EQ(WimListing(pe.Wim()), "/\n/Windows\n");

    const std::wstring tree = scratch / L"image";
    MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor", L"\\Windows", L"\\Windows\\System32"},
             {{L"\\TarnwickToolset\\Brightmoor\\cef.pak", "kept"},
              {L"\\TarnwickToolset\\stale.exe", "old"},
              {L"\\Windows\\System32\\winpeshl.ini", "old"}});
    ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
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
