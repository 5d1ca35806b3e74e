// WIM update batches: command texts, the command file, the tool's command
// line and failure logging.
#include "PETestSupport.h"

#include "pemaker/UpdateCommands.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;
using namespace petest;

namespace {

// "update": one batch on a WIM that is only a name, with the tool looked for
// beside this program and in the current folder.
int UpdateMode(int, wchar_t**)
{
    CPEMaker maker;
    wcscpy(PEMakerTestPeer::WimPath(maker), L"boot.wim");
    return PEMakerTestPeer::UpdateWIM(maker, {L"delete \"\\x\""}, false) ? 0 : 1;
}

const bool kRegistered = (RegisterChildMode("update", UpdateMode), true);

}  // namespace

// The add command's quoting shows on the tool's input below.
TEST(UpdateCommandsTest, CommandsAreUtf16WithCrLf)
{
    EXPECT_EQ(pemaker::EncodeUpdateCommand(L"\u00E9\u4E9C"), std::string("\xE9\x00\x9C\x4E\r\0\n\0", 8));
}

TEST(UpdateCommandsTest, SameOrSubPath)
{
    struct Case {
        const wchar_t* folder;
        const wchar_t* path;
        bool expected;
    };
    const Case cases[] = {
        {L"C:\\App\\", L"c:\\app\\bin", true},  {L"C:\\App", L"C:\\App", true},
        {L"C:\\App\\\\", L"C:\\APP", true},     {L"C:\\App", L"C:\\App/x", true},
        {L"C:/App/", L"C:\\App\\x", false},     {L"C:\\App", L"C:\\Apple", false},
        {L"C:\\App", L"C:\\Ap", false},         {L"C:\\App", L"D:\\App", false},
        {L"C:\\", L"C:\\", true},               {L"C:\\", L"C:\\Windows", false},
        {L"C:", L"C:\\Windows", true},          {L"", L"anything", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSameOrSubPath(c.folder, c.path), c.expected)
            << ToUtf8(c.folder) << " / " << ToUtf8(c.path);
    }
}

// The tool is the journalling stand-in; the WIM path is only a name.
class WimUpdateJournalTest : public testing::Test {
protected:
    void SetUp() override
    {
        wcscpy(PEMakerTestPeer::WimPath(maker), (work / L"boot.wim").c_str());
    }
    PrivateTemp temp;
    ScratchFolder work;
    StandinJournal journal;
    CPEMaker maker;
};

TEST_F(WimUpdateJournalTest, OneRunOfTheToolWithTheCommandFileOnItsInputAndAFailingOneLogged)
{
    ASSERT_TRUE(PEMakerTestPeer::UpdateWIM(maker, {MakeAddCommand(L"C:\\A", L"\\B")}, false));
    ASSERT_EQ(journal.Count(), 1u);
    const std::string tool = ToUtf8(ExeFolder()) + "tools\\wimlib-imagex.exe";
    const std::string wim = ToUtf8(work / L"boot.wim");
    EXPECT_EQ(journal.CommandLine(1), "\"" + tool + "\" update \"" + wim + "\" 1 --no-acls --quiet");
    EXPECT_EQ(journal.Stdin(1), Utf16("add \"C:\\A\" \"\\B\"\r\n"));

    // A failing run logs the tool's output and every command.
    journal.RespondTool(L"wimlib-imagex", 3, 0, "no such path");
    LogWatch log;
    const std::vector<std::wstring> failing{MakeAddCommand(L"C:\\A", L"\\B"), L"rename \"\\x\" \"\\y\""};
    EXPECT_FALSE(PEMakerTestPeer::UpdateWIM(maker, failing, false));
    const std::string added = log.Added();
    EXPECT_TRUE(Holds(added, " PEMaker::_UpdateWIM: wimlib update failed. wim=" + wim + ", output=no such path\r\n"));
    // One entry for each command, in the batch's order.
    const std::string first = RegexEscape(" PEMaker::_UpdateWIM: update command[0]=add \"C:\\A\" \"\\B\"\r\n");
    const std::string second = RegexEscape(" PEMaker::_UpdateWIM: update command[1]=rename \"\\x\" \"\\y\"\r\n");
    EXPECT_TRUE(std::regex_search(added, std::regex(first + "[^\n]*" + second))) << added;
}

TEST_F(WimUpdateJournalTest, CommandFileIsAWimTemporaryFileAndWithoutABatchToolOrCommandFileNothingRuns)
{
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(PEMakerTestPeer::CreateUpdateCommandFile(maker, {L"a", L"b c"}, name));
    EXPECT_EQ(std::wstring(name).compare(0, temp.path().size() + 4, temp.path() + L"\\WIM"), 0) << ToUtf8(name);
    DeleteFileW(name);

    LogWatch log;
    EXPECT_TRUE(PEMakerTestPeer::UpdateWIM(maker, {}, true));
    EXPECT_EQ(journal.Count(), 0u);
    EXPECT_FALSE(Holds(log.Added(), "_UpdateWIM"));

    // A copy of this program where neither its folder nor the current one holds tools\.
    ScratchFolder bare;
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), (bare / L"t.exe").c_str(), FALSE));
    EXPECT_EQ(RunProgram(bare / L"t.exe --child update", bare.path()).exitCode, 1u);
    const std::regex entry("CPEMaker::_UpdateWIM:\\d+ PEMaker::_UpdateWIM: Failed to locate wimlib-imagex\\.exe\r\n");
    EXPECT_TRUE(std::regex_search(ReadBytes(bare / L"tarnwick.log"), entry));

    EnvScope missingTemp(L"TMP", work / L"missing");
    LogWatch noFile;
    EXPECT_FALSE(PEMakerTestPeer::UpdateWIM(maker, {L"delete \"\\x\""}, false));
    EXPECT_TRUE(Holds(noFile.Added(), " PEMaker::_UpdateWIM: Failed to create update command file\r\n"));
    EXPECT_EQ(journal.Count(), 0u);
}
