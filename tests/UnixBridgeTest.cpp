// The bridge from stand-ins to Linux tools: exit codes, output, input bytes,
// and a hung tool ended by its limit instead of hanging the caller.
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

standin::UnixResult Bridge(const std::vector<std::string>& argv, const std::string& input = "", unsigned limit = 60)
{
    return standin::RunOnUnix(ExeFolder() + L"tools\\unixrun.sh", argv, "/", input, limit);
}

TEST(UnixBridge, PassesArgumentsInputOutputAndExitCode)
{
    standin::UnixResult r = Bridge({"sh", "-c", "printf '%s|' \"$@\"; cat; exit 7", "sh", "a b", "", "c\"d"},
                                   std::string("in\0put", 6));
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.exitCode, 7u);
    EXPECT_EQ(r.output, std::string("a b||c\"d|in\0put", 15));

    r = Bridge({"no-such-program-here"});
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.exitCode, 127u);
}

TEST(UnixBridge, RunsInTheGivenFolderAndMapsWindowsPaths)
{
    ScratchFolder folder;
    WriteBytes(folder / L"file.txt", "hello");
    const std::string unixFolder = UnixPath(folder.path());
    ASSERT_FALSE(unixFolder.empty());
    const standin::UnixResult r = standin::RunOnUnix(ExeFolder() + L"tools\\unixrun.sh", {"cat", "file.txt"},
                                                     unixFolder, "", 60);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "hello");
}

TEST(UnixBridge, HungToolIsEndedAtItsLimit)
{
    const standin::UnixResult r = Bridge({"sleep", "600"}, "", 1);
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.exitCode, 124u) << "timeout's code for a program it had to end";
}

TEST(UnixBridge, LeavesNoRequestFilesBehind)
{
    Bridge({"true"});
    EXPECT_EQ(ListNames(TempFolder(), L"twbridge-" + std::to_wstring(GetCurrentProcessId()) + L"-").size(), 0u)
        << "request files left behind";
}

}  // namespace
