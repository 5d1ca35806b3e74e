// The builder's command runner: exit codes, output capture, the tree kill on
// the time limit, and handles left behind.
#include "TestSupport.h"

#include "common/AnsiPieceDecoder.h"
#include "common/CommandRunner.h"
#include "common/KillProcessTree.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <functional>
#include <regex>
#include <set>

using namespace testsupport;

namespace {

// This program in a child mode, as a command for the runner.
std::wstring ChildCommand(const std::wstring& arguments)
{
    return ThisProgram() + L" --child " + arguments;
}

DWORD ParentOf(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        parent = entry.th32ProcessID == pid ? entry.th32ParentProcessID : parent;
    }
    CloseHandle(snapshot);
    return parent;
}

// "<pid> <parent pid>" of every process that the hang mode started, from the
// files it wrote into the folder.
std::vector<std::pair<DWORD, DWORD>> HangingProcesses(const ScratchFolder& folder)
{
    std::vector<std::pair<DWORD, DWORD>> processes;
    for (const std::wstring& name : ListNames(folder.path())) {
        unsigned long pid = 0;
        unsigned long parent = 0;
        EXPECT_EQ(sscanf(ReadBytes(folder / name).c_str(), "%lu %lu", &pid, &parent), 2);
        processes.emplace_back(pid, parent);
    }
    return processes;
}

// A folder for the files of the hang mode: every process listed there is
// ended when it goes, whichever way the test left.
struct Hangers : ScratchFolder {
    ~Hangers()
    {
        for (const auto& process : HangingProcesses(*this)) {
            KillProcessTree(process.first);
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

// "hang DIR [spawn]": writes "<pid> <parent pid>" into DIR\<pid>, optionally
// starts another hanging copy of itself, and waits forever.
int HangMode(int argc, wchar_t** argv)
{
    const DWORD pid = GetCurrentProcessId();
    if (argc > 1) {
        std::wstring commandLine = ChildCommand(L"hang " + std::wstring(argv[0]));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
    WriteBytes(std::wstring(argv[0]) + L"\\" + std::to_wstring(pid),
               std::to_string(pid) + " " + std::to_string(ParentOf(pid)));
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

// "orphan DIR": leaves a hanging copy of itself holding its standard output,
// says "done" and ends.
int OrphanMode(int, wchar_t** argv)
{
    std::wstring commandLine = ChildCommand(L"hang " + std::wstring(argv[0]));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return 1;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    while (ListNames(argv[0]).empty()) {
        Sleep(10);
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "done", 4, &written, nullptr);
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

const bool registered = [] {
    RegisterChildMode("print", PrintMode);
    RegisterChildMode("hang", HangMode);
    RegisterChildMode("flood", FloodMode);
    RegisterChildMode("orphan", OrphanMode);
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
    std::wstring commandLine = ChildCommand(L"print 0");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                   &newcomer);
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), newcomer.hProcess, GetCurrentProcess(), &copy, access, FALSE, 0);
    return copy;
}

}  // namespace

TEST(CommandRunnerTest, CommandLineIsTheShellPrefixAndTheCommandCutAtTheBuffer)
{
    wchar_t buffer[runner::kCommandLineChars];
    runner::BuildShellCommandLine(std::wstring(3000, L'x'), buffer);
    EXPECT_EQ(std::wstring(buffer), L"cmd.exe /C " + std::wstring(2079 - 11, L'x'));
}

TEST(CommandRunnerTest, ResultFollowsTheExitCodeAndOutputIsCapturedWholeAndInOrder)
{
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
}

TEST(CommandRunnerTest, RunsInTheGivenWorkingFolderAndLeavesOutputAloneWhenItCannotStart)
{
    ScratchFolder work;
    std::wstring output;
    ASSERT_TRUE(runner::RunCommandWithOutput(L"cd", output, work.path().c_str(), 60000));
    EXPECT_EQ(output.substr(0, work.path().size()), work.path());

    output = L"kept";
    EXPECT_FALSE(runner::RunCommandWithOutput(L"cd", output, (work / L"missing").c_str(), 60000));
    EXPECT_EQ(output, L"kept");
}

TEST(CommandRunnerTest, TimeLimitEndsTheWholeTreeAndLogsPidLimitAndCommand)
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
    const DWORD shellPid = std::stoul(match[1].str());

    // Both waiting programs, and every process between them and the shell.
    const auto hanging = HangingProcesses(pids);
    ASSERT_EQ(hanging.size(), 2u);
    std::set<DWORD> tree{shellPid};
    for (const auto& process : hanging) {
        tree.insert({process.first, process.second});
    }
    EXPECT_GE(tree.size(), 4u) << "shell, inner shell and two waiting programs";
    EXPECT_EQ(tree.count(GetCurrentProcessId()), 0u);
    for (DWORD pid : tree) {
        EXPECT_FALSE(IsRunning(pid)) << "pid " << pid << " survived";
    }
}

TEST(CommandRunnerTest, CapturingRunStopsReadingAtTheLimitAndLeavesTheChildRunning)
{
    Hangers pids;
    std::wstring output = L"old";
    LogWatch log;
    EXPECT_FALSE(runner::RunCommandWithOutput(ChildCommand(L"hang " + pids.path()), output, nullptr, 15000));
    EXPECT_TRUE(Holds(log.Added(), "CPEMaker::_RunCommandWithOutput:"));
    EXPECT_TRUE(Holds(log.Added(), " PEMaker:_RunCommandWithOutput: command timeout\r\n"));
    EXPECT_EQ(output, L"");

    const auto hanging = HangingProcesses(pids);
    ASSERT_EQ(hanging.size(), 1u);
    EXPECT_TRUE(IsRunning(hanging[0].first));
    KillProcessTree(hanging[0].second);
    EXPECT_FALSE(IsRunning(hanging[0].first));
    // A pid that does not exist is ignored.
    KillProcessTree(0xFFFFFFF0u);
    EXPECT_TRUE(IsRunning(GetCurrentProcessId()));
}

TEST(CommandRunnerTest, KillLeavesAProcessThatTookAnIdentifierAfterTheSnapshot)
{
    Hangers pids;
    const std::wstring command = ChildCommand(L"hang " + pids.path() + L" spawn");
    PROCESS_INFORMATION parent = {};
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    ASSERT_TRUE(CreateProcessW(nullptr, const_cast<wchar_t*>(command.c_str()), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &parent));
    const bool started = Eventually([&] { return HangingProcesses(pids).size() == 2; });
    if (!started) {
        TerminateProcess(parent.hProcess, 1);
    }
    ASSERT_TRUE(started);
    for (const auto& process : HangingProcesses(pids)) {
        reusedId = process.first != parent.dwProcessId ? process.first : reusedId;
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

TEST(CommandRunnerTest, CapturingRunIsBoundedByTheLimitAndEndsWithItsOwnChild)
{
    // A tool that writes without end: stopped at the limit, with only the
    // first MiB kept, and it ends when its next write fails.
    ScratchFolder flood;
    std::wstring output;
    LogWatch log;
    EXPECT_FALSE(runner::RunCommandWithOutput(ChildCommand(L"flood " + flood.path()), output, nullptr, 10000));
    EXPECT_TRUE(Holds(log.Added(), " PEMaker:_RunCommandWithOutput: command timeout\r\n"));
    EXPECT_LE(output.size(), runner::kMaxDecodedOutputBytes);
    EXPECT_EQ(output.find_first_not_of(L'f'), std::wstring::npos);
    ASSERT_TRUE(Eventually([&] { return !ReadBytes(flood / L"count").empty(); })) << "the tool went on";
    EXPECT_GT(std::stoull(ReadBytes(flood / L"count")), runner::kMaxDecodedOutputBytes);

    // A descendant that keeps the write end does not hold the run past its child.
    Hangers pids;
    EXPECT_TRUE(runner::RunCommandWithOutput(ChildCommand(L"orphan " + pids.path()), output, nullptr, 120000));
    EXPECT_EQ(output, L"done");
    const auto hanging = HangingProcesses(pids);
    ASSERT_EQ(hanging.size(), 1u);
    EXPECT_TRUE(IsRunning(hanging[0].first));
}

// Under Windows an inheritable handle made by any thread of the host reaches
// every child started with inheritance on.
TEST(CommandRunnerTest, ChildGetsOnlyItsOwnHandles)
{
    const std::wstring name = L"twprobe-" + std::to_wstring(GetCurrentProcessId());
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueHandle event(CreateEventW(&inheritable, FALSE, FALSE, name.c_str()));
    ASSERT_TRUE(event.Valid());
    const std::wstring value = std::to_wstring(reinterpret_cast<ULONG_PTR>(event.Get()));
    const std::wstring probe = ChildCommand(L"probe " + name + L" " + value);
    ASSERT_EQ(RunProgram(probe).stdoutBytes, "inherited") << "the probe must see a handle that does reach it";
    std::wstring output;
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
