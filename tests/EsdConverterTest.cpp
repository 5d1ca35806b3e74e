// The converter against journalling stand-ins: exact command lines, status
// texts, progress and clean-up on every failure path.
#include "TestSupport.h"

#include "TarnwickMedia.h"
#include "common/ErrorText.h"
#include "common/WorkFolder.h"
#include "esd/EsdConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

using namespace testsupport;

namespace {

// Whole seconds of a calendar time, for comparisons.
unsigned long long SecondsOf(SYSTEMTIME time)
{
    time.wMilliseconds = 0;
    time.wDayOfWeek = 0;
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    return ((static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 10000000;
}

// A WIM header of six images, then bytes no tool could read.
std::string FakeEsd(const std::string& magic = std::string("MSWIM\0\0\0", 8), char images = 6)
{
    return magic + std::string(36, '\0') + std::string{images, 0, 0, 0} + "not really an ESD";
}

std::vector<std::wstring> WorkFolders()
{
    return ListNames(TempFolder(), L"ESD_");
}

// The log entries added, without their time and source line.
std::string LogEntries(const LogWatch& log)
{
    return std::regex_replace(log.Added(), std::regex(R"(\[Tarnwick\][0-9-]{10} [0-9:]{8}(\s+\S+):\d+)"), "<time>$1");
}

class EsdConverterTest : public testing::Test {
protected:
    void SetUp() override
    {
        esdPath = scratch / L"install.esd";
        isoPath = scratch / L"out.iso";
        WriteBytes(esdPath, FakeEsd());
        foldersBefore = WorkFolders();
    }
    void TearDown() override
    {
        CESDConverter::s_commandTimeoutMs = 300000;
        EXPECT_EQ(WorkFolders(), foldersBefore) << "work folder left behind";
    }

    // The work folder the tools were given, read back from an extraction.
    std::string WorkFolderOfRun1(unsigned run = 1) const
    {
        std::smatch match;
        const std::string line = journal.CommandLine(run);
        return std::regex_search(line, match, std::regex("--dest-dir=\"([^\"]*)\"")) ? match[1].str() : "";
    }

    ScratchFolder scratch;
    StandinJournal journal;
    std::wstring esdPath;
    std::wstring isoPath;
    std::vector<std::wstring> foldersBefore;
};

TEST_F(EsdConverterTest, RunsTheFiveCommandLinesExactlyAndCleansUp)
{
    CESDConverter converter;
    converter.enableVerbose();
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"Windows"));
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_EQ(converter.getProgress(), 100);
    EXPECT_EQ(converter.getStatusMessage(), L"ESD to ISO conversion completed");

    ASSERT_EQ(journal.Count(), 5u);
    const std::string work = WorkFolderOfRun1();
    EXPECT_TRUE(std::regex_match(work, std::regex(RegexEscape(ToUtf8(TempFolder())) + R"(ESD_\d{1,5}\\media)"))) << work;
    const std::string esd = ToUtf8(esdPath);
    const std::string iso = ToUtf8(isoPath);
    EXPECT_EQ(journal.CommandLine(1),
              "\"tools\\wimlib-imagex.exe\" extract \"" + esd + "\" 1 --dest-dir=\"" + work + "\" --no-acls");
    EXPECT_EQ(journal.CommandLine(2), "\"tools\\wimlib-imagex.exe\" export \"" + esd + "\" 2 \"" + work +
                                          "\\sources\\boot.wim\" --compress=LZX --chunk-size 32K");
    EXPECT_EQ(journal.CommandLine(3), "\"tools\\wimlib-imagex.exe\" export \"" + esd + "\" 3 \"" + work +
                                          "\\sources\\boot.wim\" --compress=LZX --chunk-size 32K --boot");
    EXPECT_EQ(journal.CommandLine(4), "\"tools\\wimlib-imagex.exe\" export \"" + esd + "\" 4 \"" + work +
                                          "\\sources\\install.wim\" --compress=LZMS --chunk-size 128K");
    const std::string folder = RegexEscape(work);
    const std::regex isoLine(R"("tools\\cdimage\.exe" -l"Windows" -t(\d\d)/(\d\d)/(\d{4}),(\d\d):(\d\d):(\d\d) -b")" +
                             folder + R"(\\boot\\etfsboot\.com" -h -n -o -m ")" + folder + "\" \"" +
                             RegexEscape(iso) + "\\.partial\"");
    std::smatch stamp;
    const std::string line5 = journal.CommandLine(5);
    ASSERT_TRUE(std::regex_match(line5, stamp, isoLine)) << line5;
    // The local time of the ISO stage, on a 24-hour clock.
    SYSTEMTIME stamped = {};
    stamped.wMonth = static_cast<WORD>(std::stoi(stamp[1]));
    stamped.wDay = static_cast<WORD>(std::stoi(stamp[2]));
    stamped.wYear = static_cast<WORD>(std::stoi(stamp[3]));
    stamped.wHour = static_cast<WORD>(std::stoi(stamp[4]));
    stamped.wMinute = static_cast<WORD>(std::stoi(stamp[5]));
    stamped.wSecond = static_cast<WORD>(std::stoi(stamp[6]));
    EXPECT_GE(SecondsOf(stamped), SecondsOf(before)) << line5;
    EXPECT_LE(SecondsOf(stamped), SecondsOf(after)) << line5;

    EXPECT_EQ(journal.Tool(5), "cdimage");
    EXPECT_EQ(journal.WorkDir(1), ToUtf8(CurrentFolder()));
    EXPECT_EQ(journal.Stdin(1), "");
}

TEST_F(EsdConverterTest, WorkFolderInATemporaryFolderTheInterpreterWouldRewriteIsRemoved)
{
    const std::wstring temp = scratch / L"t %PATH% x";
    CreateDirectoryW(temp.c_str(), nullptr);
    {
        EnvScope tmp(L"TMP", temp);
        EXPECT_TRUE(CESDConverter().convert(esdPath, isoPath, L"Windows"));
    }
    EXPECT_EQ(WorkFolderOfRun1().rfind(ToUtf8(temp), 0), 0u) << WorkFolderOfRun1();
    EXPECT_EQ(ListNames(temp), std::vector<std::wstring>{});
}

TEST_F(EsdConverterTest, QuietOptionOnlyOnWimToolLinesWhenNotVerbose)
{
    CESDConverter converter;
    converter.setWimlibPath(L"tools\\wimlib-imagex.exe");
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"LBL"));
    ASSERT_EQ(journal.Count(), 5u);
    for (unsigned call = 1; call <= 4; ++call) {
        const std::string line = journal.CommandLine(call);
        EXPECT_EQ(line.substr(line.size() - 8), " --quiet") << line;
    }
    EXPECT_FALSE(Holds(journal.CommandLine(5), "--quiet"));
    EXPECT_TRUE(Holds(journal.CommandLine(5), " -l\"LBL\" "));
}

TEST_F(EsdConverterTest, FailingRunStopsTheStagesWithTheStageText)
{
    struct Case {
        unsigned failingRun;
        unsigned long exitCode;
        int progress;
        std::wstring status;  // empty: the runner's own text
    };
    const Case cases[] = {
        {1, 3221225477ul, 10, L""},
        {2, 1, 30, L"Error: Export WinPE failed"},
        {3, 2, 30, L"Error: Export Windows Setup failed"},
        {4, 1, 60, L"Error: Export Windows version failed"},
        {5, 1, 90, L""},
    };
    for (const Case& c : cases) {
        WriteBytes(isoPath, "old iso");
        StandinJournal caseJournal;
        caseJournal.Respond(c.failingRun, c.exitCode);
        CESDConverter converter;
        converter.enableVerbose();
        EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
        EXPECT_EQ(caseJournal.Count(), c.failingRun) << "later runs must not start";
        EXPECT_EQ(converter.getProgress(), c.progress);
        const std::wstring expected =
            !c.status.empty() ? c.status
                              : L"Command failed with exit code: " + std::to_wstring(c.exitCode) + L" - Command: " +
                                    standin::FromUtf8(caseJournal.CommandLine(c.failingRun));
        EXPECT_EQ(converter.getStatusMessage(), expected) << "run " << c.failingRun;
        EXPECT_EQ(WorkFolders(), foldersBefore);
        EXPECT_EQ(ReadBytes(isoPath), "old iso") << "run " << c.failingRun;
    }
}

TEST_F(EsdConverterTest, IsoThatNamesTheEsdOrAFolderOrIsLockedFailsBeforeAnyToolAndLeavesTheEsd)
{
    std::wstring upper = esdPath;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    // An ESD named as the ISO's .partial or .lock would be deleted.
    const std::wstring asPartial = scratch / L"x.iso.partial";
    const std::wstring asLock = scratch / L"y.iso.lock";
    WriteBytes(asPartial, FakeEsd());
    WriteBytes(asLock, FakeEsd());
    // Another call's lock, as it holds it.
    const UniqueHandle held(
        CreateFileW((scratch / L"held.iso.lock").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const std::wstring log = scratch / L"tarnwick.log";
    const struct {
        const wchar_t* call;
        std::wstring esd;
        std::wstring iso;
        const char* text;
    } cases[] = {
        {L"ConvertESDToISO", esdPath, esdPath, "is the ESD file"},
        {L"ConvertESDToISO", esdPath, upper, "is the ESD file"},
        // Run in the ESD's folder, where "install.esd" is a relative spelling of it.
        {L"ConvertESDToISO", esdPath, L"install.esd", "is the ESD file"},
        {L"ConvertESDToISOEx", asPartial, scratch / L"x.iso", "is the ESD file"},
        {L"ConvertESDToISO", asLock, scratch / L"y.iso", "is the ESD file"},
        {L"ConvertESDToISOEx", esdPath, scratch / L"held.iso", "in use by another call"},
        {L"ConvertESDToISOWithOptions", esdPath, scratch / L"HELD.ISO", "in use by another call"},
        {L"ConvertESDToISO", esdPath, scratch.path(), "is a folder"},
        {L"ConvertESDToISOEx", esdPath, scratch.path(), "is a folder"},
        {L"ConvertESDToISOWithOptions", esdPath, scratch.path(), "is a folder"},
    };
    for (const auto& c : cases) {
        DeleteFileW(log.c_str());
        const std::wstring last = std::wstring(c.call) == L"ConvertESDToISO" ? L"" : L" 0";
        const ChildResult child = RunChild(L"call \"" + ExeFolder() + L"TarnwickMedia.dll\" " + c.call + L" \"" +
                                               c.esd + L"\" \"" + c.iso + L"\"" + last, scratch.path());
        EXPECT_EQ(child.exitCode, 1u) << ToUtf8(c.iso);
        EXPECT_TRUE(Holds(ReadBytes(log), std::string("failed: Error: ISO path ") + c.text + "\r\n\r\n"));
        EXPECT_EQ(ReadBytes(c.esd), FakeEsd());
    }
    EXPECT_EQ(journal.Count(), 0u);
}

// What would fail only after the extraction and the exports (a missing
// ISO folder, a missing tool) is refused before any folder, file or tool.
TEST_F(EsdConverterTest, MissingIsoFolderOrToolIsRefusedBeforeAnythingRuns)
{
    const std::wstring folder = scratch / L"no\\such";
    for (const std::wstring call : {L"ConvertESDToISO", L"ConvertESDToISOEx", L"ConvertESDToISOWithOptions"}) {
        LogWatch log;
        const std::wstring last = call == L"ConvertESDToISO" ? L"" : L" 0";
        EXPECT_EQ(RunExport(call + L" \"" + esdPath + L"\" \"" + folder + L"\\out.iso\"" + last).exitCode, 1u);
        EXPECT_TRUE(Holds(log.Added(), " failed: Error: ISO folder not found: " + ToUtf8(folder) + "\r\n"))
            << ToUtf8(call);
    }
    EXPECT_FALSE(Exists(scratch / L"no"));

    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const struct {
        const wchar_t* wimlib;
        const wchar_t* cdimage;
        const char* missing;
    } cases[] = {
        {L"tools\\no-wimlib.exe", L"tools\\cdimage.exe", "no-wimlib.exe"},
        {L"tools\\wimlib-imagex.exe", L"tools\\no-cdimage.exe", "no-cdimage.exe"},
    };
    for (const auto& c : cases) {
        CESDConverter converter;
        converter.setWimlibPath(c.wimlib);
        converter.setCdimagePath(c.cdimage);
        LogWatch log;
        EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
        EXPECT_EQ(ToUtf8(converter.getStatusMessage()), std::string("Error: Tool not found: ") + c.missing);
        // Where it would have run from: beside the host, then in the current folder.
        EXPECT_TRUE(Holds(LogEntries(log), std::string(" CESDConverter::convert Tool not found: ") + c.missing +
                                           ", searched: " + ToUtf8(ExeFolder()) + "tools\\" + c.missing + "; " +
                                           ToUtf8(current) + "\\tools\\" + c.missing));
    }
    EXPECT_EQ(ListNames(scratch.path(), L""), std::vector<std::wstring>{L"install.esd"});
    EXPECT_EQ(journal.Count(), 0u);
}

// The system's text follows the code; a code it has no text for stands alone.
// Windows words its texts otherwise ("The system cannot find the path specified.").
TEST_F(EsdConverterTest, Win32ErrorCodesCarryTheSystemsText)
{
    EXPECT_EQ(ErrorText(ERROR_PATH_NOT_FOUND), L"3 (Path not found.)");
    EXPECT_EQ(ErrorTextAnsi(ERROR_ACCESS_DENIED), "5 (Access denied.)");
    EXPECT_EQ(ErrorText(0x2000FFFF), L"536936447");
}

// Only the options export reads the header; the plain ones leave the ESD to the tools.
TEST_F(EsdConverterTest, WithOptionsRefusesAnEsdByItsHeaderBeforeAnyFolderOrTool)
{
    const std::string wim("MSWIM\0\0\0", 8);
    const std::string pipable("WLPWM\0\0\0", 8);
    const struct {
        std::string bytes;
        const wchar_t* options;  // FLAGS:EDITION of the options export; null: ConvertESDToISO
        const char* refusal;     // null: it converts
    } cases[] = {
        {wim.substr(0, 7), L"0:0", "Not a WIM or ESD file"},
        {FakeEsd(std::string("MSWIM\0\0\1", 8)), L"0:0", "Not a WIM or ESD file"},
        {FakeEsd(wim).substr(0, 47), L"0:0", "Not a WIM or ESD file"},
        {FakeEsd(wim, 3), L"0:0", "ESD holds no Windows edition"},
        {FakeEsd(pipable, 3), L"2:0", "ESD holds no Windows edition"},
        {FakeEsd(wim, 6), L"0:7", "ESD holds no edition 7"},
        {FakeEsd(pipable, 7), L"0:7", nullptr},
        {wim.substr(0, 7), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        WriteBytes(esdPath, c.bytes);
        StandinJournal caseJournal;
        LogWatch log;
        const std::wstring paths = L" \"" + esdPath + L"\" \"" + isoPath + L"\"";
        const std::wstring call = c.options ? L"ConvertESDToISOWithOptions" + paths + L" " + c.options
                                            : L"ConvertESDToISO" + paths;
        const ChildResult child = RunExport(call);
        EXPECT_EQ(child.exitCode, c.refusal ? 1u : 0u) << ToUtf8(call);
        EXPECT_EQ(caseJournal.Count(), c.refusal ? 0u : 5u) << ToUtf8(call);
        EXPECT_TRUE(Holds(log.Added(), c.refusal ? std::string("failed: Error: ") + c.refusal + "\r\n" : ""));
    }
}

TEST_F(EsdConverterTest, HungToolAndItsChildAreEndedAtTheLimitAndCountAsFailed)
{
    // Long enough for runs 1 to 3, and the child's start, on a loaded machine.
    CESDConverter::s_commandTimeoutMs = 10000;
    journal.Script(4, "0 0 0 child wait=never");
    LogWatch log;
    CESDConverter converter;
    EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Export Windows version failed");
    EXPECT_EQ(journal.Count(), 4u);
    // Gone when the call returns, before the work folder was removed.
    EXPECT_FALSE(journal.Running(4));
    ASSERT_NE(journal.ChildPid(4), 0u);
    EXPECT_FALSE(IsRunning(journal.ChildPid(4)));
    EXPECT_EQ(LogEntries(log), "<time>    CESDConverter::runCommand EsdConverter:RunCommand: command timeout\r\n\r\n");
}

// On Windows the system closes a dead host's handles, its job's among them,
// and kill-on-close then ends the tool with everything it started; the lock
// file of its work folder stays, held by nobody. Under Wine the same happens
// through the server; this stands for the Windows behaviour. The next call
// removes that folder and no other: not one whose lock a live call holds,
// one without a lock (made, not yet locked), one with a file still open (a
// dying tool's: its lock comes back for a later call) or another name.
TEST_F(EsdConverterTest, ToolAndItsChildEndWithAHostThatIsKilledAndTheNextCallReclaimsItsFolder)
{
    const std::wstring temp = scratch / L"temp\\";
    CreateDirectoryW(temp.c_str(), nullptr);
    EnvScope tmp(L"TMP", temp);
    journal.Script(1, "0 0 0 child wait=never");
    StartedProgram host(L"\"" + ThisProgram() + L"\" --child call \"" + ExeFolder() +
                        L"TarnwickMedia.dll\" ConvertESDToISO \"" + esdPath + L"\" \"" + isoPath + L"\"");
    for (int tries = 0; tries < 1200 && journal.ChildPid(1) == 0; ++tries) {
        Sleep(50);
    }
    const DWORD tool = journal.Pid(1);
    const DWORD child = journal.ChildPid(1);
    TerminateProcess(host.process(), 1);
    host.Wait();
    for (int tries = 0; tries < 600 && (IsRunning(tool) || IsRunning(child)); ++tries) {
        Sleep(50);
    }
    ASSERT_NE(child, 0u);
    EXPECT_FALSE(IsRunning(tool));
    EXPECT_FALSE(IsRunning(child));

    const wchar_t* const lockName = L"\\tarnwick-work.lock";
    const struct {
        const wchar_t* name;
        bool lock;
        const wchar_t* held;  // the file of it the test holds open
        bool removed;
    } folders[] = {{L"PEC1A.tmp", true, nullptr, true}, {L"ESD_held", true, lockName, false},
                   {L"ESD_unlocked", false, nullptr, false}, {L"ESD_busy", true, L"\\data", false},
                   {L"other", true, nullptr, false}};
    std::vector<UniqueHandle> open;
    for (const auto& f : folders) {
        const std::wstring folder = temp + f.name;
        MakeTree(folder, {}, {{L"\\data", "x"}});
        if (f.lock) {
            WriteBytes(folder + lockName, "");
        }
        if (f.held) {
            open.emplace_back(CreateFileW((folder + f.held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
        }
    }
    std::wstring abandoned = standin::FromUtf8(WorkFolderOfRun1());
    abandoned.resize(abandoned.rfind(L'\\'));
    ASSERT_TRUE(Exists(abandoned + lockName));
    LogWatch log;
    EXPECT_FALSE(LibraryExport<ConvertESDToISO_Fn>("ConvertESDToISO")((scratch / L"missing.esd").c_str(),
                                                                       isoPath.c_str()));
    EXPECT_TRUE(Holds(LogEntries(log), "ConvertESDToISO Removed 2 work folders of interrupted calls\r\n"));
    EXPECT_FALSE(Exists(abandoned));
    for (const auto& f : folders) {
        EXPECT_EQ(Exists(temp + f.name), !f.removed) << ToUtf8(f.name);
        EXPECT_EQ(Exists(temp + f.name + lockName), f.lock && !f.removed) << ToUtf8(f.name);
    }
}

TEST_F(EsdConverterTest, RunnerStatusTexts)
{
    CESDConverter converter;
    EXPECT_FALSE(converter.runCommand(L"\"tools\\no-such-tool.exe\" x"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Cannot execute command (Error code: 2 (File not found.))");

    EXPECT_TRUE(converter.runCommand(L"\"tools\\cdimage.exe\" ok"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Cannot execute command (Error code: 2 (File not found.))")
        << "a successful run leaves the status as it was";

    CESDConverter::s_commandTimeoutMs = 1000;
    journal.RespondTool(L"cdimage", 0, 120000);
    EXPECT_FALSE(converter.runCommand(L"\"tools\\cdimage.exe\" hang"));
    EXPECT_EQ(converter.getStatusMessage(), L"Command timed out after ");
    ASSERT_EQ(journal.Count(), 2u);
    EXPECT_FALSE(journal.Running(2));
}

// Conversions started in the same second draw the same numbers for their
// work folders: a taken name is drawn again. A reclaim meanwhile leaves both.
TEST_F(EsdConverterTest, ConversionsStartedInTheSameSecondBothSucceed)
{
    CESDConverter converter;
    WorkFolderLock locks[2];
    const std::wstring first = converter.createTempDirectory(locks[0]);
    const std::wstring second = converter.createTempDirectory(locks[1]);
    EXPECT_FALSE(second.empty());
    EXPECT_NE(first, second);
    WriteBytes(first + L"\\file.txt", "content");
    locks[0].Release();
    locks[1].Release();
    converter.removeTempDirectory(first);
    converter.removeTempDirectory(second);
    EXPECT_FALSE(Exists(first));

    // Both extractions wait until both have started: both folders exist at once.
    journal.Script(1, "0 0 0 wait=go");
    journal.Script(2, "0 0 0 wait=go");
    bool converted[2] = {};
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            converted[i] = CESDConverter().convert(esdPath, scratch / (std::to_wstring(i) + L".iso"), L"Windows");
        });
    }
    for (int tries = 0; tries < 1200 && journal.Count() < 2; ++tries) {
        Sleep(50);
    }
    ReclaimAbandonedWorkFolders();
    EXPECT_TRUE(Exists(standin::FromUtf8(WorkFolderOfRun1(1))));
    EXPECT_TRUE(Exists(standin::FromUtf8(WorkFolderOfRun1(2))));
    journal.Release(L"go");
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(converted[0] && converted[1]);
    EXPECT_EQ(journal.Count(), 10u);
}

// The host's promise is a check at least every 250 ms; 400 leaves room for a loaded machine.
TEST_F(EsdConverterTest, SinkIsAskedOftenWhileAToolIsSilent)
{
    journal.Script(2, "0 0 0 wait=go");
    std::vector<ULONGLONG> asked;
    RecordingSink sink;
    sink.cancelWhen = [&] {
        if (journal.Count() == 2 && asked.size() < 20) {
            asked.push_back(GetTickCount64());
        } else if (asked.size() == 20) {
            journal.Release(L"go");
        }
        return false;
    };
    CESDConverter converter;
    converter.watchTools(&sink);
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"Windows"));
    ASSERT_EQ(asked.size(), 20u);
    ULONGLONG longest = 0;
    for (size_t i = 1; i < asked.size(); ++i) {
        longest = std::max(longest, asked[i] - asked[i - 1]);
    }
    EXPECT_LT(longest, 400u);
}

// The ISO tool writes "<ISO>.partial" (a stale one deleted first) and the ISO
// at the target is never touched unless a complete one replaces it; nothing
// else is left. Windows refuses to replace a read-only ISO (5); Wine replaces
// it, but neither replaces a file that is open, so the test also holds it.
TEST_F(EsdConverterTest, TheIsoIsReplacedOnlyByACompleteOne)
{
    // 250 characters: the longest ISO path whose ".partial" fits a plain path.
    const std::wstring longIso = scratch / std::wstring(249 - scratch.path().size(), L'i');
    const struct {
        const char* header;  // of the ISO run, which waits for "go" or never ends
        bool cancel;
        bool readOnly;
        const wchar_t* status;  // null: the runner's
        const char* result;
        bool longPath = false;
    } cases[] = {
        {"1 0 0 wait=go", false, false, nullptr, "old"},
        {"0 0 0 wait=never", false, false, L"Command timed out after ", "old"},
        {"0 0 0 wait=never", true, false, L"Operation cancelled by user", "old"},
        {"0 0 0 wait=go", false, true, L"Failed to put the ISO in place: 5 (Access denied.)", "old"},
        {"0 0 0 wait=go", false, false, L"ESD to ISO conversion completed", "new"},
        {"1 0 0 wait=go", false, false, nullptr, "old", true},
        {"0 0 0 wait=go", false, false, L"ESD to ISO conversion completed", "new", true},
    };
    // Only the tool that never ends meets it.
    CESDConverter::s_commandTimeoutMs = 10000;
    for (const auto& c : cases) {
        const std::wstring iso = c.longPath ? longIso : isoPath;
        const std::wstring partial = iso + L".partial";
        SetFileAttributesW(iso.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteBytes(iso, "old");
        SetFileAttributesW(iso.c_str(), c.readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
        UniqueHandle held(c.readOnly ? CreateFileW(iso.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   0, nullptr)
                                     : nullptr);
        WriteBytes(partial, "stale");
        StandinJournal caseJournal;
        caseJournal.Script(5, c.header);
        bool written = false;
        RecordingSink sink;
        sink.cancelWhen = [&] {
            if (!written && caseJournal.Pid(5) != 0) {
                EXPECT_TRUE(Holds(caseJournal.CommandLine(5), " \"" + ToUtf8(partial) + "\""));
                EXPECT_FALSE(Exists(partial)) << c.header;
                written = WriteBytes(partial, "new");
                caseJournal.Release(L"go");
            }
            return written && c.cancel;
        };
        CESDConverter converter;
        converter.watchTools(&sink);
        EXPECT_EQ(converter.convert(esdPath, iso, L"Windows"), std::string(c.result) == "new") << c.header;
        if (c.status) {
            EXPECT_EQ(converter.getStatusMessage(), c.status) << c.header;
        }
        held.Reset();
        EXPECT_EQ(ReadBytes(iso), c.result) << c.header;
        EXPECT_EQ(ListNames(scratch.path(), iso.substr(scratch.path().size() + 1)).size(), 1u) << c.header;
    }
}

TEST_F(EsdConverterTest, MissingEsdRunsNothingAndTheExportLogsTheStatusOnceWithAnEmptyLineAfterIt)
{
    LogWatch log;
    auto convert = LibraryExport<ConvertESDToISO_Fn>("ConvertESDToISO");
    ASSERT_NE(convert, nullptr);
    EXPECT_FALSE(convert((scratch / L"missing.esd").c_str(), isoPath.c_str()));
    EXPECT_EQ(LogEntries(log), "<time>    ConvertESDToISO ConvertESDToISO failed: Error: ESD file not found\r\n\r\n");
    EXPECT_EQ(journal.Count(), 0u);
    EXPECT_FALSE(convert(nullptr, isoPath.c_str()));

    // A folder has attributes: the WIM tool is left to refuse it.
    EXPECT_TRUE(CESDConverter().convert(scratch.path(), isoPath, L"Windows"));
    EXPECT_EQ(journal.Count(), 5u);

    // From a folder without tools\ the tools beside the program run:
    // Wine's CreateProcessW looks for a relative name in the program's folder first.
    // A relative ISO path lands in the caller's folder, which nothing else of the call changes.
    std::vector<std::wstring> names = ListNames(scratch.path());
    const ChildResult child = RunChild(L"call \"" + ExeFolder() + L"TarnwickMedia.dll\" ConvertESDToISO \"" +
                                           esdPath + L"\" rel.iso", scratch.path());
    EXPECT_EQ(child.exitCode, 0u);
    EXPECT_EQ(journal.Count(), 10u);
    EXPECT_TRUE(Holds(journal.CommandLine(10), " \"" + ToUtf8(scratch / L"rel.iso.partial") + "\""));
    names.push_back(L"rel.iso");
    std::vector<std::wstring> after = ListNames(scratch.path());
    std::sort(names.begin(), names.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, names);
}

TEST_F(EsdConverterTest, FoldersThatCannotBeMadeStopBeforeAnyRun)
{
    {
        EnvScope tmp(L"TMP", scratch / L"missing");
        CESDConverter converter;
        EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
        EXPECT_EQ(converter.getStatusMessage(), L"Error: Cannot create temp directory");
    }
    CESDConverter converter;
    EXPECT_FALSE(converter.extractBootFiles(esdPath, scratch / L"missing\\work"));
    EXPECT_EQ(converter.getStatusMessage(), L"Failed to create extract directory: 3 (Path not found.)");
    // A file where the work folder should be.
    EXPECT_FALSE(converter.extractBootFiles(esdPath, esdPath));
    const std::wstring status = converter.getStatusMessage();
    EXPECT_EQ(status.rfind(L"Failed to create sources directory: ", 0), 0u) << ToUtf8(status);
    EXPECT_EQ(status.find(L"Failed to create sources directory: 0"), std::wstring::npos);
    EXPECT_EQ(journal.Count(), 0u);
}

TEST_F(EsdConverterTest, ExportEchoesInputsAndCommandsToStandardOutput)
{
    const ChildResult child = RunExport(L"ConvertESDToISO \"" + esdPath + L"\" \"" + isoPath + L"\"");
    EXPECT_EQ(child.exitCode, 0u);
    ASSERT_EQ(journal.Count(), 5u);
    std::string expected = "ESD file: " + ToUtf8(esdPath) + "\r\nISO file: " + ToUtf8(isoPath) +
                           "\r\nISO label: Windows\r\n";
    for (unsigned call = 1; call <= 5; ++call) {
        expected += "Command: " + journal.CommandLine(call) + "\r\n";
    }
    EXPECT_EQ(child.stdoutBytes, expected);

    // kEsdIsoQuiet: the same lines, one log entry each, and nothing on standard output.
    LogWatch log;
    const ChildResult quiet =
        RunExport(L"ConvertESDToISOWithOptions \"" + esdPath + L"\" \"" + isoPath + L"\" 4:0", true);
    EXPECT_EQ(quiet.exitCode, 0u);
    EXPECT_EQ(quiet.stdoutBytes.find_first_not_of("record 0123456789\n"), std::string::npos) << quiet.stdoutBytes;
    ASSERT_EQ(journal.Count(), 10u);
    expected = "ESD file: " + ToUtf8(esdPath) + "\nISO file: " + ToUtf8(isoPath) + "\nISO label: Windows\n";
    for (unsigned call = 6; call <= 10; ++call) {
        expected += "Command: " + journal.CommandLine(call) + "\n";
    }
    EXPECT_EQ(LogEntries(log), std::regex_replace(expected, std::regex("([^\n]*)\n"),
                                                  "<time>    CESDConverter::convert $1\r\n"));
}

TEST_F(EsdConverterTest, ExRefusesNullPathsAndUnknownFlagsBeforeAnything)
{
    const std::wstring esd = L"\"" + esdPath + L"\"";
    const std::wstring iso = L"\"" + isoPath + L"\"";
    const struct {
        std::wstring arguments;
        std::string error;
    } cases[] = {
        {L"- " + iso + L" 1", "Error: null path argument"},
        {esd + L" - 0", "Error: null path argument"},
        {L"- - 2", "Error: null path argument"},
        {esd + L" " + iso + L" 2", "Error: unknown flags"},
        {esd + L" " + iso + L" 0x80000001", "Error: unknown flags"},
    };
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        LogWatch log;
        const ChildResult child = RunExport(L"ConvertESDToISOEx " + c.arguments);
        EXPECT_EQ(child.exitCode, 1u) << ToUtf8(c.arguments);
        EXPECT_EQ(child.stdoutBytes, "") << ToUtf8(c.arguments);
        EXPECT_EQ(caseJournal.Count(), 0u);
        EXPECT_EQ(LogEntries(log), "<time>    ConvertESDToISOEx ConvertESDToISOEx failed: " + c.error + "\r\n\r\n")
            << ToUtf8(c.arguments);
    }
}

TEST_F(EsdConverterTest, ExWithoutFlagsConvertsExactlyAsConvertESDToISO)
{
    // Work folder numbers and time stamps differ from run to run.
    const auto observe = [](const std::wstring& arguments, unsigned failingRun) {
        StandinJournal caseJournal;
        caseJournal.Respond(failingRun, 1);
        LogWatch log;
        const ChildResult child = RunExport(arguments);
        std::string seen = std::to_string(child.exitCode) + "\n" + child.stdoutBytes;
        for (unsigned run = 1; run <= caseJournal.Count(); ++run) {
            seen += caseJournal.CommandLine(run) + "\n";
        }
        // Only the entry's function name may differ.
        seen += std::regex_replace(LogEntries(log), std::regex("    ConvertESDToISOEx "), "    ConvertESDToISO ");
        return std::regex_replace(seen, std::regex(R"(ESD_\d+|-t[0-9/,:]+)"), "<varies>");
    };
    // A failing ISO run shows all five commands, the echo and the log entry.
    const std::wstring paths = L"\"" + esdPath + L"\" \"" + isoPath + L"\"";
    const std::string plain = observe(L"ConvertESDToISO " + paths, 5);
    EXPECT_EQ(observe(L"ConvertESDToISOEx " + paths + L" 0", 5), plain);
    EXPECT_TRUE(Holds(plain, " -b\""));
    EXPECT_TRUE(Holds(plain, "ConvertESDToISO failed: Command failed with exit code: 1"));
}

TEST_F(EsdConverterTest, UefiNamesTheSetupMediaEfisysAsTheSecondBootImage)
{
    // The real WIM tool extracts a medium that carries both boot images; the
    // other runs are answered.
    const std::wstring media = scratch / L"media";
    const std::wstring wim = scratch / L"media.wim";
    WriteBytes(wim, "");
    const standin::UnixResult made = Shell("m='" + UnixPath(scratch.path()) + "/media' && mkdir -p \"$m/boot\" " +
                                           "\"$m/efi/microsoft/boot\" && echo bios > \"$m/boot/etfsboot.com\" && " +
                                           "echo uefi > \"$m/efi/microsoft/boot/efisys.bin\" && wimlib-imagex capture " +
                                           "\"$m\" '" + UnixPath(wim) + "' --quiet");
    ASSERT_TRUE(made.answered && made.exitCode == 0) << made.output;
    journal.EnableReal();
    for (unsigned run = 2; run <= 5; ++run) {
        journal.Respond(run, 0);
    }
    CESDConverter converter;
    converter.enableUefi();
    ASSERT_TRUE(converter.convert(wim, isoPath, L"Windows")) << ToUtf8(converter.getStatusMessage());
    const std::string work = RegexEscape(WorkFolderOfRun1());
    const std::string line5 = journal.CommandLine(5);
    EXPECT_TRUE(std::regex_match(line5, std::regex(R"("tools\\cdimage\.exe" -l"Windows" -t[0-9/,:]{19} )"
                                                   R"(-bootdata:2#p0,e,b")" + work + R"(\\boot\\etfsboot\.com"#pEF,e,b")" +
                                                   work + R"(\\efi\\microsoft\\boot\\efisys\.bin" -h -n -o -m ")" +
                                                   work + R"(" ".*\\out\.iso\.partial")")))
        << line5;
}

TEST_F(EsdConverterTest, UefiWithoutEfisysOnTheMediaFailsBeforeTheExports)
{
    LogWatch log;
    auto convert = LibraryExport<ConvertESDToISOEx_Fn>("ConvertESDToISOEx");
    ASSERT_NE(convert, nullptr);
    EXPECT_FALSE(convert(esdPath.c_str(), isoPath.c_str(), kEsdIsoUefi));
    EXPECT_EQ(journal.Count(), 1u);
    EXPECT_EQ(LogEntries(log), "<time>    ConvertESDToISOEx ConvertESDToISO failed: Error: UEFI boot image not found\r\n\r\n");
}

std::string FileData(int percent)
{
    return "Exporting file data: 1 MiB of 2 MiB (" + std::to_string(percent) + "%) done\r";
}

TEST_F(EsdConverterTest, WithOptionsRefusesInItsOrderBeforeAnything)
{
    const std::wstring esd = L"\"" + esdPath + L"\" ";
    const std::wstring paths = esd + L"\"" + isoPath + L"\" ";
    const struct {
        std::wstring arguments;  // the options as FLAGS:EDITION[:SIZE:RESERVED], "-" for null
        std::string error;
        bool record;  // the sink of malformed options is not touched
    } cases[] = {
        {paths + L"-", "invalid options", false},
        {L"- - 9:2:23:0", "invalid options", false},
        {paths + L"0:0:24:1", "invalid options", false},
        {esd + L"- 9:2", "null path argument", true},
        {paths + L"8:0", "unknown flags", true},
        {paths + L"13:3", "unknown flags", true},
        {paths + L"0:3", "invalid edition", true},
        {paths + L"1:1", "invalid edition", true},
    };
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        LogWatch log;
        const ChildResult child = RunExport(L"ConvertESDToISOWithOptions " + c.arguments, true);
        EXPECT_EQ(child.exitCode, 1u) << ToUtf8(c.arguments);
        EXPECT_EQ(child.stdoutBytes, c.record ? "record 3 0 0 Error: " + c.error + "\n" : "") << ToUtf8(c.arguments);
        EXPECT_EQ(caseJournal.Count(), 0u);
        EXPECT_EQ(LogEntries(log), "<time>    ConvertESDToISOWithOptions ConvertESDToISOWithOptions failed: Error: " +
                                       c.error + "\r\n\r\n")
            << ToUtf8(c.arguments);
    }
}

TEST_F(EsdConverterTest, WithOptionsByDefaultRunsAsConvertESDToISOAndSendsItsFailure)
{
    std::string records;
    std::string logged;
    const auto observe = [&records, &logged](const std::wstring& call) {
        StandinJournal caseJournal;
        caseJournal.Respond(5, 1);
        LogWatch log;
        std::string seen = RunExport(call, true).stdoutBytes;
        logged = log.Added();
        std::smatch record;
        for (records.clear(); std::regex_search(seen, record, std::regex("record [^\n]*\n"));) {
            records += record.str();
            seen = record.prefix().str() + record.suffix().str();
        }
        for (unsigned run = 1; run <= caseJournal.Count(); ++run) {
            seen += caseJournal.CommandLine(run) + "\n";
        }
        seen += std::regex_replace(LogEntries(log), std::regex("    ConvertESDToISOWithOptions "), "    X ");
        return std::regex_replace(seen, std::regex(R"(ESD_\d+|-t[0-9/,:]+)"), "<varies>");
    };
    // A long ISO name makes the status longer than a record holds.
    const std::wstring paths = L"\"" + esdPath + L"\" \"" + (scratch / std::wstring(100, L'i')) + L".iso\"";
    const std::string plain = observe(L"ConvertESDToISO " + paths);
    EXPECT_EQ(records, "");
    // Only a watched run keeps the tool's last output line, for the log.
    const std::string watched = observe(L"ConvertESDToISOWithOptions " + paths + L" 0:0");
    const std::string toolEntry =
        "<time>    CESDConverter::runWatchedCommand Tool failed: cdimage.exe exit code 1, last output line: \r\n";
    EXPECT_TRUE(Holds(watched, toolEntry));
    EXPECT_EQ(std::regex_replace(watched, std::regex(RegexEscape(toolEntry)), ""),
              std::regex_replace(plain, std::regex("    ConvertESDToISO "), "    X "));
    const std::string status = logged.substr(logged.find("ConvertESDToISO failed: ") + 24);
    ASSERT_GT(status.size(), 260u);
    EXPECT_EQ(records, "record 2 0 100 \nrecord 2 10 100 \nrecord 2 30 100 \nrecord 2 60 100 \nrecord 2 90 100 \n"
                       "record 3 0 0 " + status.substr(0, 255) + "\n");
}

// Each run's percentages land inside its stage; a value that falls, a line
// without "file data:" and the info and ISO runs give none.
TEST_F(EsdConverterTest, WatchedRunsMapTheToolsProgressIntoTheirStage)
{
    journal.Respond(1, 0, 0, "Creating files: 1 of 2 (90%) done\r" + FileData(50));
    journal.Respond(2, 0, 0, FileData(30));
    journal.Respond(3, 0, 0, FileData(100));
    journal.Respond(4, 0, 0, "Path: x\nImage Count:  6\n" + FileData(50));
    journal.Respond(5, 0, 0, FileData(90) + FileData(20));
    journal.Respond(6, 0, 0, FileData(50));
    journal.Respond(7, 0, 0, FileData(100));
    journal.Respond(8, 0, 0, FileData(50));
    RecordingSink sink;
    CESDConverter converter;
    converter.watchTools(&sink);
    converter.enableAllEditions();
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"Windows"));
    EXPECT_EQ(sink.Values(), (std::vector<long long>{0, 10, 20, 30, 34, 59, 60, 69, 75, 89, 90, 100}));
    const std::string esd = "\"" + ToUtf8(esdPath) + "\"";
    EXPECT_EQ(journal.CommandLine(4), "\"tools\\wimlib-imagex.exe\" info " + esd);
    const std::string installWim = " \"" + WorkFolderOfRun1() + "\\sources\\install.wim\" ";
    for (unsigned image = 4; image <= 6; ++image) {
        EXPECT_EQ(journal.CommandLine(image + 1), "\"tools\\wimlib-imagex.exe\" export " + esd + " " +
                                                      std::to_string(image) + installWim +
                                                      "--compress=LZMS --chunk-size 128K --quiet");
    }
    EXPECT_EQ(journal.Count(), 8u);
}

TEST_F(EsdConverterTest, EditionsComeFromTheImageCountOrTheChosenImage)
{
    const struct {
        unsigned run;
        unsigned long exitCode;
        std::string output;
        std::wstring status;  // empty: the runner's own text
        unsigned runs;
    } cases[] = {
        {4, 1, "Image Count: 6\n", L"", 4},
        {4, 0, "Image Count: 3\n", L"Error: ESD holds no Windows edition", 4},
        {4, 0, "Image Count:\n", L"Error: ESD holds no Windows edition", 4},
        {6, 1, "", L"Error: Export Windows version failed", 6},
    };
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        caseJournal.Respond(4, 0, 0, "Image Count: 6\n");
        caseJournal.Respond(c.run, c.exitCode, 0, c.output);
        CESDConverter converter;
        converter.watchTools(nullptr);
        converter.enableAllEditions();
        EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
        EXPECT_EQ(converter.getStatusMessage(), !c.status.empty() ? c.status
                                                                  : L"Command failed with exit code: 1 - Command: " +
                                                                        standin::FromUtf8(caseJournal.CommandLine(4)));
        EXPECT_EQ(caseJournal.Count(), c.runs);
    }
    CESDConverter converter;
    converter.selectEdition(7);
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"Windows"));
    EXPECT_TRUE(Holds(journal.CommandLine(4), "export \"" + ToUtf8(esdPath) + "\" 7 \""));
}

TEST_F(EsdConverterTest, CancelledBeforeEachRunAndInsideOneLeavingNothing)
{
    auto convert = LibraryExport<ConvertESDToISOWithOptions_Fn>("ConvertESDToISOWithOptions");
    ASSERT_NE(convert, nullptr);
    const struct {
        unsigned run;
        bool inside;  // else before it
    } cases[] = {{1, false}, {2, false}, {3, false}, {4, false}, {5, false}, {2, true}, {5, true}};
    for (const auto& c : cases) {
        WriteBytes(isoPath, "old iso");
        StandinJournal caseJournal;
        RecordingSink sink;
        const unsigned before = c.run - 1;
        if (!c.inside) {
            sink.cancelWhen = [&] {
                const DWORD pid = caseJournal.Pid(before);
                return caseJournal.Count() == before && (before == 0 || (pid != 0 && !IsRunning(pid)));
            };
        } else if (c.run == 2) {
            std::string lines;
            for (int i = 0; i < 50; ++i) {
                lines += FileData(10);
            }
            caseJournal.Respond(2, 0, 0, lines, 100);
            sink.cancelWhen = [&] { return sink.Values().back() > 30; };
        } else {
            // The ISO tool has written part of the ISO when the user cancels.
            caseJournal.Respond(5, 0, 120000);
            sink.cancelWhen = [&] { return caseJournal.Pid(5) != 0 && WriteBytes(isoPath + L".partial", "part"); };
        }
        LogWatch log;
        EsdIsoOptions options = {sizeof(EsdIsoOptions), 0, 0, 0, &sink};
        EXPECT_FALSE(convert(esdPath.c_str(), isoPath.c_str(), &options));
        const std::string row = "run " + std::to_string(c.run) + (c.inside ? " inside" : " before");
        EXPECT_EQ(caseJournal.Count(), c.inside ? c.run : before) << row;
        if (c.inside) {
            EXPECT_FALSE(caseJournal.Running(c.run)) << row;
        }
        EXPECT_EQ(ReadBytes(isoPath), "old iso") << row;
        EXPECT_FALSE(Exists(isoPath + L".partial")) << row;
        EXPECT_EQ(WorkFolders(), foldersBefore) << row;
        const std::vector<long long> values = sink.Values();
        EXPECT_EQ(std::count(values.begin(), values.end(), -1), 0) << row;
        EXPECT_EQ(LogEntries(log),
                  "<time>    ConvertESDToISOWithOptions ConvertESDToISO failed: Operation cancelled by user\r\n\r\n")
            << row;
    }
}

// A watched run is ended after the limit of silence, not of duration.
TEST_F(EsdConverterTest, WatchedRunsEndASilentToolButNotOneThatKeepsPrinting)
{
    // Runs 1 to 3 print nothing: the limit leaves room for a slow start.
    CESDConverter::s_commandTimeoutMs = 10000;
    std::string lines;
    for (int i = 0; i < 48; ++i) {
        lines += FileData(2 * i);
    }
    const struct {
        unsigned long delayMs;
        std::string output;
        unsigned long everyMs;
        bool converts;
    } cases[] = {{0, lines, 250, true}, {120000, "", 0, false}};
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        caseJournal.Respond(4, 0, c.delayMs, c.output, c.everyMs);
        LogWatch log;
        CESDConverter converter;
        converter.watchTools(nullptr);
        EXPECT_EQ(converter.convert(esdPath, isoPath, L"Windows"), c.converts);
        EXPECT_FALSE(caseJournal.Running(4));
        EXPECT_EQ(LogEntries(log), c.converts ? ""
                                              : "<time>    CESDConverter::runCommand EsdConverter:RunCommand: "
                                                "command timeout\r\n\r\n");
        EXPECT_EQ(converter.getStatusMessage(),
                  c.converts ? L"ESD to ISO conversion completed" : L"Error: Export Windows version failed");
    }
}

}  // namespace
