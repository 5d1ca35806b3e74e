// The bridge from stand-ins to Linux tools: exit codes, output, input bytes,
// and a hung tool ended by its limit instead of hanging the caller.
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

standin::UnixResult Bridge(const std::vector<std::string>& argv, const std::string& input = "", unsigned limit = 60,
                           const std::string& workDir = "/")
{
    return standin::RunOnUnix(ExeFolder() + L"tools\\unixrun.sh", argv, workDir, input, limit);
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
    const standin::UnixResult r = Bridge({"cat", "file.txt"}, "", 60, unixFolder);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "hello");
}

TEST(UnixBridge, HungToolIsEndedAtItsLimit)
{
    const standin::UnixResult r = Bridge({"sleep", "600"}, "", 1);
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.exitCode, 124u) << "timeout's code for a program it had to end";
}

// The command goes on only once its first line has been passed on.
TEST(UnixBridge, PassesTheOutputOnWhileTheCommandRuns)
{
    ScratchFolder folder;
    std::string passed;
    const std::vector<std::string> argv{"sh", "-c", "echo first; until [ -e go ]; do sleep 0.1; done; echo second"};
    const standin::UnixResult r = standin::RunOnUnix(
        ExeFolder() + L"tools\\unixrun.sh", argv, UnixPath(folder.path()), "", 20, [&](const std::string& bytes) {
            passed += bytes;
            if (passed == "first\n") {
                WriteBytes(folder / L"go", "");
            }
        });
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(passed, "first\nsecond\n");
    EXPECT_EQ(r.output, "");
}

// "bridge-sleep SECONDS": a Linux sleep through the bridge, ended after a
// minute at the latest.
const bool kSleepMode = (RegisterChildMode("bridge-sleep", [](int, wchar_t** argv) {
                             return static_cast<int>(Bridge({"sleep", ToUtf8(argv[0])}, "", 60).exitCode);
                         }), true);

// A converter ends a cancelled stand-in with TerminateProcess, which gives it
// no chance to end its Linux tool itself.
TEST(UnixBridge, EndsItsCommandWhenTheCallerIsEnded)
{
    const std::string seconds = "600." + std::to_string(GetCurrentProcessId());
    const auto sleeping = [&seconds] { return Shell("pgrep -f '^sleep " + seconds + "$'").exitCode == 0; };
    StartedProgram caller(L"\"" + ThisProgram() + L"\" --child bridge-sleep " + standin::FromUtf8(seconds));
    for (int tries = 0; tries < 300 && !sleeping(); ++tries) {
        Sleep(100);
    }
    ASSERT_TRUE(sleeping()) << "the command never started";
    TerminateProcess(caller.process(), 1);
    for (int tries = 0; tries < 100 && sleeping(); ++tries) {
        Sleep(100);
    }
    EXPECT_FALSE(sleeping());
}

TEST(UnixBridge, AnAnswerWithoutAWholeExitCodeOrItsOutputFailsAndLeavesNoRequestFiles)
{
    const struct {
        const char* text;
        unsigned long exitCode;
    } cases[] = {
        {"42\n", 42}, {"", standin::kBrokenAnswer}, {"\n", standin::kBrokenAnswer}, {"7", standin::kBrokenAnswer},
        {"7x\n", standin::kBrokenAnswer}, {" 7\n", standin::kBrokenAnswer},
        {"99999999999999999999\n", standin::kBrokenAnswer},
    };
    for (const auto& c : cases) {
        // What the bridge script writes to the code file instead of the exit
        // code, as a full file system leaves it.
        EnvScope code(L"TWBRIDGE_RC_TEXT", standin::FromUtf8(c.text));
        const standin::UnixResult r = Bridge({"echo", "partial"});
        ASSERT_TRUE(r.answered) << c.text;
        EXPECT_EQ(r.exitCode, c.exitCode) << "code file \"" << c.text << "\"";
        EXPECT_EQ(r.output, "partial\n") << c.text;
    }

    // The program takes its own output file away.
    const standin::UnixResult r = Bridge({"sh", "-c", "rm \"$(readlink /proc/$$/fd/1)\""});
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.exitCode, standin::kBrokenAnswer);

    // A stand-in that gets no code fails and says why on its error output.
    EnvScope empty(L"TWBRIDGE_RC_TEXT", L"");
    const ChildResult tool = RunProgram(L"\"" + ExeFolder() + L"tools\\wimlib-imagex.exe\" --version");
    EXPECT_EQ(tool.exitCode, standin::kBrokenAnswer);
    EXPECT_EQ(tool.stderrBytes, "bridge: no exit code from wimlib-imagex\n");

    // Not even the broken answers leave request files behind.
    EXPECT_EQ(ListNames(TempFolder(), L"twbridge-" + std::to_wstring(GetCurrentProcessId()) + L"-").size(), 0u);
}

}  // namespace
