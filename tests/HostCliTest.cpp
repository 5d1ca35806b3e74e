// The console host: option parsing, progress rendering and its exit codes.
#include "TestSupport.h"

#include "CommandLine.h"
#include "LogExcerpt.h"
#include "ProgressBar.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

host::ParseResult Parse(std::initializer_list<const wchar_t*> args)
{
    return host::ParseCommandLine(std::vector<std::wstring>(args.begin(), args.end()));
}

TEST(HostCommandLine, AcceptsEveryCommandWithItsArguments)
{
    host::ParseResult r = Parse({L"make-pe", L"--deliver", L"iso", L"--target", L"C:\\Out", L"--startup",
                                 L"C:\\App\\app.exe", L"C:\\App", L"C:\\More\\x.dll"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.command, host::Command::MakePe);
    EXPECT_EQ(host::ProductionType(r.options.deliver), 2);
    EXPECT_EQ(r.options.target, L"C:\\Out");
    EXPECT_EQ(r.options.startup, L"C:\\App\\app.exe");
    EXPECT_EQ(r.options.sources, (std::vector<std::wstring>{L"C:\\App", L"C:\\More\\x.dll"}));
    EXPECT_FALSE(r.options.yes);

    r = Parse({L"make-pe", L"--yes", L"--deliver", L"restart", L"--startup", L"a.exe", L"--", L"--odd-name"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(host::ProductionType(r.options.deliver), 1);
    EXPECT_TRUE(r.options.yes);
    EXPECT_EQ(r.options.sources, std::vector<std::wstring>{L"--odd-name"});

    r = Parse({L"make-pe", L"--deliver", L"disk", L"--target", L"2", L"--startup", L"a.exe", L"a.exe"});
    EXPECT_EQ(r.error, L"");
    EXPECT_EQ(host::ProductionType(r.options.deliver), 3);

    r = Parse({L"esd-to-iso", L"in.esd", L"out.iso"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.esd, L"in.esd");
    EXPECT_EQ(r.options.iso, L"out.iso");

    r = Parse({L"extract-winre", L"C:\\winre.wim"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.winreTarget, L"C:\\winre.wim");

    EXPECT_EQ(Parse({L"configure-boot-wim"}).options.command, host::Command::ConfigureBootWim);
    EXPECT_EQ(Parse({L"esd-to-iso", L"--help"}).options.command, host::Command::Help);
}

TEST(HostCommandLine, RejectsBadCommandLinesWithAReason)
{
    const std::vector<std::vector<const wchar_t*>> bad = {
        {},
        {L"frobnicate"},
        {L"esd-to-iso", L"only-one"},
        {L"esd-to-iso", L"a", L"b", L"c"},
        {L"esd-to-iso", L"--force", L"a", L"b"},
        {L"extract-winre"},
        {L"configure-boot-wim", L"extra"},
        {L"make-pe", L"--startup", L"a.exe", L"a.exe"},
        {L"make-pe", L"--deliver", L"usb", L"--target", L"x", L"--startup", L"a.exe", L"a.exe"},
        {L"make-pe", L"--deliver", L"iso", L"--startup", L"a.exe", L"a.exe"},
        {L"make-pe", L"--deliver", L"iso", L"--target", L"C:\\Out", L"a.exe"},
        {L"make-pe", L"--deliver", L"iso", L"--target", L"C:\\Out", L"--startup", L"a.exe"},
        {L"make-pe", L"--deliver", L"disk", L"--target", L"two", L"--startup", L"a.exe", L"a.exe"},
        {L"make-pe", L"--deliver", L"restart", L"--startup"},
        {L"make-pe", L"--deliver", L"restart", L"--startup", L"a.exe", L"--bogus", L"a.exe"},
    };
    for (const auto& args : bad) {
        const host::ParseResult r = host::ParseCommandLine(std::vector<std::wstring>(args.begin(), args.end()));
        EXPECT_NE(r.error, L"") << "accepted a bad command line of " << args.size() << " arguments";
    }
}

TEST(HostProgressBar, RedrawsInPlaceOnATerminal)
{
    host::ProgressBar bar(true);
    EXPECT_EQ(bar.Update({false, 0, 100, ""}).out, "\r[........................................]   0%");
    EXPECT_EQ(bar.Update({false, 45, 100, ""}).out, "\r[##################......................]  45%");
    EXPECT_EQ(bar.Update({false, 45, 100, ""}).out, "") << "an unchanged value is not redrawn";
    EXPECT_EQ(bar.Update({false, 100, 100, ""}).out, "\r[########################################] 100%");
    EXPECT_EQ(bar.Finish(), "\n");
    EXPECT_EQ(bar.Finish(), "");
}

TEST(HostProgressBar, PrintsPlainLinesWhenRedirectedAndFailuresAsErrors)
{
    host::ProgressBar bar(false);
    std::string out;
    for (std::uint64_t value : {0u, 5u, 15u, 15u, 85u}) {
        out += bar.Update({false, value, 100, ""}).out;
    }
    EXPECT_EQ(out, "progress   0%\nprogress   5%\nprogress  15%\nprogress  85%\n");
    const host::ConsoleText failure = bar.Update({true, 0, 0, "BuildPE: Failed to create ISO"});
    EXPECT_EQ(failure.out, "");
    EXPECT_EQ(failure.err, "error: BuildPE: Failed to create ISO\n");
    EXPECT_EQ(bar.Finish(), "");

    host::ProgressBar terminal(true);
    terminal.Update({false, 5, 100, ""});
    const host::ConsoleText mid = terminal.Update({true, 0, 0, ""});
    EXPECT_EQ(mid.out, "\n") << "a failure starts on a fresh line";
    EXPECT_EQ(mid.err, "error: operation failed\n");
}

TEST(HostLogExcerpt, KeepsTheLastLines)
{
    EXPECT_EQ(host::LastLines("a\r\nb\r\nc\r\n", 2), "b\r\nc\r\n");
    EXPECT_EQ(host::LastLines("a\r\nb\r\nc\r\n", 5), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(host::LastLines("x failed\r\n\r\n", 2), "x failed\r\n\r\n");
    EXPECT_EQ(host::LastLines("", 3), "");
    EXPECT_EQ(host::LastLines("a\nb", 1), "b");
}

std::wstring Host()
{
    return L"\"" + ExeFolder() + L"tarnwick.exe\"";
}

TEST(HostProgram, ExitCodesForHelpUsageErrorsAndLibraryFailures)
{
    ChildResult help = RunProgram(Host() + L" --help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.stdoutBytes.find("tarnwick esd-to-iso ESD ISO"), std::string::npos);

    ChildResult usage = RunProgram(Host() + L" esd-to-iso onlyone");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_NE(usage.stderrBytes.find("tarnwick: usage: tarnwick esd-to-iso ESD ISO"), std::string::npos)
        << usage.stderrBytes;

    ScratchFolder folder;
    ChildResult failed = RunProgram(Host() + L" esd-to-iso \"" + (folder / L"missing.esd") + L"\" \"" +
                                        (folder / L"out.iso") + L"\"",
                                    folder.path());
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_NE(failed.stderrBytes.find("tarnwick: esd-to-iso failed"), std::string::npos) << failed.stderrBytes;
    EXPECT_NE(failed.stderrBytes.find("ConvertESDToISO failed: Error: ESD file not found"), std::string::npos)
        << failed.stderrBytes;
}

TEST(HostProgram, MakePeReportsTheFailureRecordAndTheLogExcerpt)
{
    // No PE folder beside tarnwick.exe: the build stops at its first stage.
    ASSERT_FALSE(Exists(ExeFolder() + L"PE"));
    ScratchFolder folder;
    WriteBytes(folder / L"app.exe", "app");
    const ChildResult failed = RunProgram(Host() + L" make-pe --deliver iso --target \"" + folder.path() +
                                              L"\" --startup \"" + (folder / L"app.exe") + L"\" \"" + folder.path() +
                                              L"\"",
                                          folder.path());
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_NE(failed.stdoutBytes.find("progress   0%\r\n"), std::string::npos) << failed.stdoutBytes;
    EXPECT_NE(failed.stderrBytes.find("error: "), std::string::npos) << failed.stderrBytes;
    EXPECT_NE(failed.stderrBytes.find("tarnwick: make-pe failed"), std::string::npos);
    EXPECT_NE(failed.stderrBytes.find("PEMaker::Init: Source WIM not found at"), std::string::npos)
        << failed.stderrBytes;
}

TEST(HostProgram, RestartDeliveryAsksFirstAndDoesNothingWithoutAYes)
{
    StandinJournal journal;
    ScratchFolder folder;
    const ChildResult declined = RunProgram(Host() + L" make-pe --deliver restart --startup a.exe a.exe",
                                            folder.path(), "n\r\n");
    EXPECT_EQ(declined.exitCode, 1u);
    EXPECT_NE(declined.stdoutBytes.find("restarts this computer now. Continue? [y/N]"), std::string::npos);
    EXPECT_NE(declined.stderrBytes.find("make-pe not started"), std::string::npos) << declined.stderrBytes;
    EXPECT_EQ(journal.Count(), 0u);
    EXPECT_FALSE(Exists(folder / L"tarnwick.log"));
}

}  // namespace
