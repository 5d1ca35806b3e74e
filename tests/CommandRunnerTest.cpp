// The builder's command runner: exit codes, output capture, the tree kill on
// the time limit, and handles left behind.
#include "TestSupport.h"

#include "common/AnsiPieceDecoder.h"
#include "common/CommandRunner.h"
#include "common/KillProcessTree.h"
#include "common/ProgramSearch.h"
#include "common/ToolJob.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

using namespace testsupport;

namespace {

// This program in a child mode, as a command for the runner.
std::wstring ChildCommand(const std::wstring& arguments)
{
    return ThisProgram() + L" --child " + arguments;
}

// Identifiers of the processes that the hang mode started, the names of the
// files they made in the folder.
std::vector<DWORD> Hanging(const ScratchFolder& folder)
{
    std::vector<DWORD> pids;
    for (const std::wstring& name : ListNames(folder.path())) {
        pids.push_back(std::stoul(name));
    }
    return pids;
}

// A folder for the files of the hang mode: every process listed there is
// ended when it goes, whichever way the test left.
struct Hangers : ScratchFolder {
    ~Hangers()
    {
        for (DWORD pid : Hanging(*this)) {
            KillProcessTree(pid);
        }
    }
};

// Polls until done() holds, for at most two minutes.
bool Eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 2400 && !done(); ++i) {
        Sleep(50);
    }
    return done();
}

// "print N": N bytes of a repeating pattern on standard output.
int PrintMode(int argc, wchar_t** argv)
{
    std::string bytes;
    for (int i = 0; i < (argc > 0 ? _wtoi(argv[0]) : 0); ++i) {
        bytes.push_back(static_cast<char>('a' + i % 26));
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return 0;
}

// This program in a child mode, started directly; with passOutput it gets
// this process's standard output and error.
PROCESS_INFORMATION StartMode(const std::wstring& arguments, DWORD flags = 0, bool passOutput = false)
{
    std::wstring commandLine = ChildCommand(arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = passOutput ? STARTF_USESTDHANDLES : 0;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, passOutput, flags, nullptr, nullptr, &startup, &info);
    return info;
}

// "hang DIR [spawn|orphan]": makes the file DIR\<pid> and waits forever; with
// spawn it first starts another hanging copy of itself. With orphan it leaves
// such a copy holding its standard output, says "done" and ends.
int HangMode(int argc, wchar_t** argv)
{
    const std::wstring folder = argv[0];
    if (argc > 1) {
        const bool orphan = std::wstring(argv[1]) == L"orphan";
        ProcessHandles child;
        child.Adopt(StartMode(L"hang " + folder, 0, orphan));
        while (orphan && child.process.Valid() && ListNames(folder).empty()) {
            Sleep(10);
        }
        if (orphan) {
            DWORD written = 0;
            return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "done", 4, &written, nullptr) ? 0 : 1;
        }
    }
    WriteBytes(folder + L"\\" + std::to_wstring(GetCurrentProcessId()), "");
    Sleep(INFINITE);
    return 0;
}

// "flood DIR": writes until a write fails, then puts the byte count into DIR\count.
int FloodMode(int, wchar_t** argv)
{
    const std::string piece(65536, 'f');
    unsigned long long total = 0;
    DWORD written = 0;
    while (WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), piece.data(), static_cast<DWORD>(piece.size()), &written,
                     nullptr)) {
        total += written;
    }
    WriteBytes(std::wstring(argv[0]) + L"\\count", std::to_string(total));
    return 0;
}

// "probe NAME VALUE": whether handle VALUE is the auto-reset event NAME. The
// event is signalled once through a handle of its own: a wait on VALUE that
// takes the signal leaves none for the own handle only if both are the event.
int ProbeMode(int, wchar_t** argv)
{
    HANDLE own = OpenEventW(EVENT_ALL_ACCESS, FALSE, argv[0]);
    const HANDLE value = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(argv[1], nullptr, 10)));
    SetEvent(own);
    const bool same = WaitForSingleObject(value, 0) == WAIT_OBJECT_0 && WaitForSingleObject(own, 0) == WAIT_TIMEOUT;
    CloseHandle(own);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), same ? "inherited" : "absent", same ? 9 : 6, &written, nullptr);
    return 0;
}

// "run-hang DIR": a host whose runner runs "hang DIR spawn" without end.
int RunHangMode(int, wchar_t** argv)
{
    return runner::RunCommand(ChildCommand(L"hang " + std::wstring(argv[0]) + L" spawn"), INFINITE) ? 0 : 1;
}

const bool registered = [] {
    RegisterChildMode("print", PrintMode);
    RegisterChildMode("run-hang", RunHangMode);
    RegisterChildMode("hang", HangMode);
    RegisterChildMode("flood", FloodMode);
    RegisterChildMode("probe", ProbeMode);
    return true;
}();

// Stands in for OpenProcess: the identifier of reusedId is taken, between the
// snapshot and the open, by a process started now.
DWORD reusedId = 0;
PROCESS_INFORMATION newcomer = {};
HANDLE OpenReused(DWORD access, DWORD processId)
{
    if (processId != reusedId) {
        return OpenProcess(access, FALSE, processId);
    }
    // Creation times are compared, so the newcomer must start a clock tick later.
    Sleep(50);
    newcomer = StartMode(L"print 0", CREATE_SUSPENDED);
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), newcomer.hProcess, GetCurrentProcess(), &copy, access, FALSE, 0);
    return copy;
}

}  // namespace

TEST(CommandRunnerTest, ShellCommandLineExitCodeAndOutputCapturedWholeInOrderInTheGivenFolder)
{
    wchar_t buffer[runner::kCommandLineChars];
    runner::BuildShellCommandLine(std::wstring(3000, L'x'), buffer);
    EXPECT_EQ(std::wstring(buffer), L"cmd.exe /C " + std::wstring(2079 - 11, L'x')) << "cut at the buffer";

    EXPECT_TRUE(runner::RunCommand(L"exit 0", 60000));
    EXPECT_FALSE(runner::RunCommand(L"exit 3", 60000));
    std::wstring output;
    EXPECT_FALSE(runner::RunCommandWithOutput(L"exit 7", output, nullptr, 60000));
    output = L"old";
    ASSERT_TRUE(runner::RunCommandWithOutput(ChildCommand(L"print 0"), output, nullptr, 60000));
    EXPECT_EQ(output, L"");

    // Several pieces of at most 4095 bytes each.
    ASSERT_TRUE(runner::RunCommandWithOutput(ChildCommand(L"print 20000"), output, nullptr, 60000));
    ASSERT_EQ(output.size(), 20000u);
    for (size_t i = 0; i < output.size(); ++i) {
        ASSERT_EQ(output[i], static_cast<wchar_t>(L'a' + i % 26)) << "at " << i;
    }

    ScratchFolder work;
    ASSERT_TRUE(runner::RunCommandWithOutput(L"cd", output, work.path().c_str(), 60000));
    EXPECT_EQ(output.substr(0, work.path().size()), work.path());
    output = L"kept";
    EXPECT_FALSE(runner::RunCommandWithOutput(L"cd", output, (work / L"missing").c_str(), 60000));
    EXPECT_EQ(output, L"kept") << "left alone when the child cannot start";
}

TEST(CommandRunnerTest, TimeLimitEndsTheWholeTreeButNoProcessThatCameAfterItsSnapshot)
{
    Hangers pids;
    const std::wstring command = L"cmd /C " + ChildCommand(L"hang " + pids.path() + L" spawn");
    LogWatch log;
    EXPECT_FALSE(runner::RunCommand(command, 20000));

    std::smatch match;
    const std::string added = log.Added();
    ASSERT_TRUE(std::regex_search(added, match,
                                  std::regex("CPEMaker::_RunCommand:\\d+ PEMaker:RunCommand: command timeout, "
                                             "terminating process tree\\. pid=(\\d+), timeout=20000, "
                                             "command=(.*)\r\n")))
        << added;
    EXPECT_EQ(match[2].str(), standin::ToUtf8(command));

    // The shell, and both waiting programs below the inner one.
    const auto hanging = Hanging(pids);
    ASSERT_EQ(hanging.size(), 2u);
    for (DWORD pid : {static_cast<DWORD>(std::stoul(match[1].str())), hanging[0], hanging[1]}) {
        EXPECT_FALSE(IsRunning(pid)) << "pid " << pid << " survived";
    }

    // A host that dies takes its tools with it: the system closes the job.
    Hangers orphaned;
    StartedProgram host(ChildCommand(L"run-hang " + orphaned.path()));
    ASSERT_TRUE(Eventually([&] { return Hanging(orphaned).size() == 2; }));
    TerminateProcess(host.process(), 1);
    EXPECT_TRUE(Eventually([&] {
        const auto left = Hanging(orphaned);
        return std::none_of(left.begin(), left.end(), IsRunning);
    }));

    // The kill leaves a process that took an identifier after the snapshot.
    Hangers others;
    const PROCESS_INFORMATION parent = StartMode(L"hang " + others.path() + L" spawn");
    ASSERT_NE(parent.hProcess, nullptr);
    const bool started = Eventually([&] { return Hanging(others).size() == 2; });
    if (!started) {
        TerminateProcess(parent.hProcess, 1);
    }
    ASSERT_TRUE(started);
    for (DWORD pid : Hanging(others)) {
        reusedId = pid != parent.dwProcessId ? pid : reusedId;
    }
    KillProcessTree(parent.dwProcessId, OpenReused);

    EXPECT_EQ(WaitForSingleObject(parent.hProcess, 0), WAIT_OBJECT_0);
    ASSERT_NE(newcomer.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(newcomer.hProcess, 0), WAIT_TIMEOUT) << "the newcomer was ended";
    EXPECT_TRUE(IsRunning(reusedId)) << "the open stood in for it, so it cannot have been ended";
    TerminateProcess(newcomer.hProcess, 0);
    for (HANDLE handle : {parent.hProcess, parent.hThread, newcomer.hProcess, newcomer.hThread}) {
        CloseHandle(handle);
    }
}

TEST(CommandRunnerTest, CapturingRunIsBoundedByTheLimitEndsWithItsOwnChildAndPassesOnlyItsOwnHandles)
{
    // A tool that writes without end: stopped at the limit, with only the
    // first MiB kept, and ended there, before its writes could fail.
    ScratchFolder flood;
    std::wstring output = L"old";
    LogWatch log;
    EXPECT_FALSE(runner::RunCommandWithOutput(ChildCommand(L"flood " + flood.path()), output, nullptr, 10000));
    EXPECT_TRUE(Holds(log.Added(), "CPEMaker::_RunCommandWithOutput:"));
    EXPECT_TRUE(Holds(log.Added(), " PEMaker:_RunCommandWithOutput: command timeout\r\n"));
    EXPECT_LE(output.size(), runner::kMaxDecodedOutputBytes);
    EXPECT_EQ(output.find_first_not_of(L'f'), std::wstring::npos);
    EXPECT_FALSE(Exists(flood / L"count")) << "the tool went on";

    // A descendant that keeps the write end does not hold the run past its
    // child, and ends with the call.
    Hangers pids;
    const std::wstring orphan = ChildCommand(L"hang " + pids.path() + L" orphan");
    EXPECT_TRUE(runner::RunCommandWithOutput(orphan, output, nullptr, 120000));
    EXPECT_EQ(output, L"done");
    const auto hanging = Hanging(pids);
    EXPECT_TRUE(hanging.size() == 1 && !IsRunning(hanging[0])) << hanging.size() << " left behind";

    // Under Windows an inheritable handle made by any thread of the host
    // reaches every child started with inheritance on.
    const std::wstring name = L"twprobe-" + std::to_wstring(GetCurrentProcessId());
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle event(CreateEventW(&inheritable, FALSE, FALSE, name.c_str()));
    ASSERT_TRUE(event.Valid());
    const std::wstring value = std::to_wstring(reinterpret_cast<ULONG_PTR>(event.Get()));
    const std::wstring probe = ChildCommand(L"probe " + name + L" " + value);
    ASSERT_EQ(RunProgram(probe).stdoutBytes, "inherited") << "the probe must see a handle that does reach it";
    ASSERT_TRUE(runner::RunCommandWithOutput(probe, output, nullptr, 60000));
    EXPECT_EQ(output, L"absent");
}

TEST(CommandRunnerTest, RepeatedRunsLeaveTheHandleCountWhereItStarted)
{
    std::wstring output;
    // The first runs set up what the process keeps for good (heaps, code pages).
    runner::RunCommand(L"exit 0", 60000);
    runner::RunCommandWithOutput(ChildCommand(L"print 10"), output, nullptr, 60000);
    const DWORD before = CountOpenHandles();
    ASSERT_GT(before, 0u);
    // A handle lost per run adds one a round; a few come and go with the
    // system's own bookkeeping. Each round starts three interpreters, the
    // slowest part of this program under Wine.
    const DWORD rounds = 25;
    for (DWORD i = 0; i < rounds; ++i) {
        runner::RunCommand(L"exit 1", 60000);
        runner::RunCommandWithOutput(L"echo x", output, nullptr, 60000);
        runner::RunCommandWithOutput(L"cd", output, L"C:\\no\\such\\folder", 60000);
    }
    EXPECT_LT(CountOpenHandles(), before + rounds / 2);
}

// The interpreter looks in its current folder before PATH. Windows' cmd
// leaves that folder out when its environment holds
// NoDefaultCurrentDirectoryInExePath=1; Wine's ignores the variable, so here
// the full path alone keeps the planted programs from running.
TEST(CommandRunnerTest, ToolsRunByTheirPathFromPathNeverFromTheCurrentFolder)
{
    struct Planted : std::vector<std::wstring> {
        ~Planted()
        {
            for (const std::wstring& file : *this) {
                DeleteFileW(file.c_str());
            }
        }
    } planted;
    for (const wchar_t* tool : {L"ROBOCOPY", L"bcdedit", L"shutdown"}) {
        const std::wstring ran = CurrentFolder() + L"\\ran-" + tool;
        planted.push_back(ran);
        planted.push_back(CurrentFolder() + L"\\" + tool + L".bat");
        ASSERT_TRUE(WriteBytes(planted.back(), "@echo ran> \"" + standin::ToUtf8(ran) + "\"\r\n"));
    }
    const auto plantedRan = [&] { return !ListNames(CurrentFolder(), L"ran-").empty(); };
    // A value the host has is replaced in the child, and kept in the host.
    EnvScope hostValue(L"NoDefaultCurrentDirectoryInExePath", L"0");
    std::wstring output;
    {
        ToolsFirstOnPath tools;
        StandinJournal journal;
        EXPECT_TRUE(runner::RunCommand(L"ROBOCOPY \"a b\" c /E", 60000));
        EXPECT_TRUE(runner::RunCommand(L"shutdown /r /t 0", 60000));
        EXPECT_TRUE(runner::RunCommandWithOutput(L"bcdedit /enum", output, nullptr, 60000));
        ASSERT_EQ(journal.Count(), 3u);
        EXPECT_EQ(journal.CommandLine(1), ToolByPath("ROBOCOPY.exe") + " \"a b\" c /E");
        EXPECT_EQ(journal.CommandLine(2), ToolByPath("shutdown.exe") + " /r /t 0");
        EXPECT_EQ(journal.CommandLine(3), ToolByPath("bcdedit.exe") + " /enum");
        EXPECT_FALSE(plantedRan());

        ASSERT_TRUE(runner::RunCommandWithOutput(L"set NoDefaultCurrentDirectoryInExePath", output, nullptr, 60000));
        EXPECT_EQ(output, L"NoDefaultCurrentDirectoryInExePath=1\r\n");
        EXPECT_EQ(Env(L"NoDefaultCurrentDirectoryInExePath"), L"0");
    }

    // Found nowhere: no fallback to the bare name, which the planted one would answer.
    ScratchFolder empty;
    EnvScope path(L"PATH", empty.path());
    LogWatch log;
    EXPECT_FALSE(runner::RunCommand(L"bcdedit /enum", 60000));
    EXPECT_FALSE(plantedRan());
    EXPECT_TRUE(std::regex_search(log.Added(), std::regex("CPEMaker::_RunCommand:\\d+ PEMaker:RunCommand: program not "
                                                          "found: bcdedit\r\n")))
        << log.Added();
}

TEST(ProgramSearchTest, FirstFolderThenPathInOrderEachWithPathExtButNeverRelativeToTheCurrentFolder)
{
    ScratchFolder first;
    ScratchFolder second;
    ASSERT_TRUE(WriteBytes(first / L"tool.bat", "") && WriteBytes(second / L"tool.exe", "") &&
                WriteBytes(second / L"named.txt", "") && WriteBytes(CurrentFolder() + L"\\here.exe", ""));
    EnvScope pathExt(L"PATHEXT", L".exe;.bat");
    EnvScope path(L"PATH", L".;here;;\"" + first.path() + L"\\\";" + second.path());
    EXPECT_EQ(FindProgram(L"tool"), first / L"tool.bat") << "PATH's order before PATHEXT's";
    EXPECT_EQ(FindProgram(L"tool", second.path().c_str()), second / L"tool.exe");
    EXPECT_EQ(FindProgram(L"named.txt"), second / L"named.txt");
    EXPECT_EQ(FindProgram(L"here"), L"");
    DeleteFileW((CurrentFolder() + L"\\here.exe").c_str());
}

TEST(ToolJobTest, EndAllReturnsOnceTheToolAndWhatItStartedHaveGone)
{
    Hangers pids;
    ToolJob job;
    std::wstring commandLine = ChildCommand(L"hang " + pids.path() + L" spawn");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(job.Start(&commandLine[0], 0, nullptr, startup, info));
    ProcessHandles tool;
    tool.Adopt(info);
    ASSERT_TRUE(Eventually([&] { return Hanging(pids).size() == 2; }));
    job.EndAll();
    for (DWORD pid : Hanging(pids)) {
        EXPECT_FALSE(IsRunning(pid)) << "pid " << pid << " survived";
    }
    std::wstring missing = L"no-such-program.exe";
    EXPECT_FALSE(job.Start(&missing[0], 0, nullptr, startup, info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(AnsiPieceDecoderTest, KeepsACharacterSplitAcrossPiecesWhole)
{
    // Shift-JIS: "A", then two double-byte characters; UTF-8: a three-byte one.
    const struct {
        UINT codePage;
        std::string bytes;
        std::wstring text;
    } cases[] = {{932, "A\x82\xA0\x88\x9F" "B", L"A\u3042\u4E9C" L"B"}, {CP_UTF8, "x\xE2\x82\xAC" "y", L"x\u20ACy"}};
    for (const auto& c : cases) {
        for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
            AnsiPieceDecoder decoder(c.codePage);
            std::wstring output;
            decoder.Append(c.bytes.data(), cut, output);
            decoder.Append(c.bytes.data() + cut, c.bytes.size() - cut, output);
            decoder.Finish(output);
            EXPECT_EQ(output, c.text) << c.codePage << " cut at " << cut;
        }
    }
}
