// The MakePE flow and ConfigureBootWim: progress records, cancellation at
// each check, production types, ISO command line and the boot-disk hand-off.
#include "PETestSupport.h"

#include "common/RemoveTree.h"
#include "pemaker/PEFolderLock.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <thread>

extern "C" int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe,
                                  int productionType, const wchar_t* target, int cancelAt, IProgressSink* records);

using namespace testsupport;
using namespace petest;

namespace {

using Seq = std::vector<long long>;

std::string FailureText(const RecordingSink& sink)
{
    return sink.records.empty() ? "" : sink.records.back().message;
}

// Takes the PE folder's lock, says so by creating the file named by its
// argument and holds the lock until it is ended (or for a minute).
int HoldPEFolderMode(int argc, wchar_t** argv)
{
    PEFolderLock lock;
    if (argc < 1 || lock.Get() != PEFolderLock::State::Owned || !WriteBytes(argv[0], "held")) {
        return 1;
    }
    Sleep(60000);
    return 0;
}
const bool kHoldMode = (RegisterChildMode("hold-pe-folder", HoldPEFolderMode), true);

// One call of a table's row: a journal, a sink, a builder and a log watch of its own.
struct Attempt {
    explicit Attempt(int cancelAt = 0) : sink(cancelAt) {}
    StandinJournal journal;
    RecordingSink sink;
    CPEMaker maker;
    LogWatch log;
};

// What a host and the tools see of a call given a sink that cancels at check
// cancelAt: result, records, tool runs with their input, log lines without time.
std::string Observed(const std::function<bool(RecordingSink&)>& call, int cancelAt = 0)
{
    StandinJournal journal;
    RecordingSink sink(cancelAt);
    LogWatch log;
    std::string seen = call(sink) ? "ok\n" : "failed\n";
    for (const ProgressInfo& record : sink.records) {
        seen += "record " + std::to_string(record.state) + " " + std::to_string(record.current) + " " +
                record.message + "\n";
    }
    for (unsigned run = 1; run <= journal.Count(); ++run) {
        seen += "run " + journal.CommandLine(run) + " <" + journal.Stdin(run) + ">\n";
    }
    // Temporary names are unique per call; mask their number (in the UTF-16 command files too).
    seen = std::regex_replace(seen, std::regex("P(\\x00)?E(\\x00)?([SC])(\\x00)?([0-9A-Fa-f](\\x00)?)+\\."),
                              "PE$3<n>.");
    return seen + std::regex_replace(log.Added(), std::regex("[0-9]{4}-[0-9: -]{15}"), "<time>");
}

// The same of MakePEFromList called from C, type 2, with a sink written in C
// that cancels as RecordingSink does and hands it the records.
std::string ObservedFromC(const wchar_t* const* list, uint32_t count, const wchar_t* startup, const wchar_t* target,
                          int cancelAt = 0)
{
    return Observed(
        [&](RecordingSink& sink) { return CallMakePEFromList(list, count, startup, 2, target, cancelAt, &sink) == 1; },
        cancelAt);
}

}  // namespace

class PEFlowTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        app = scratch / L"app.exe";
        WriteBytes(app, "MZapp");
    }

    // The application alone when no sources are given.
    bool Make(Attempt& attempt, int type, const wchar_t* target, std::vector<std::wstring> sources = {})
    {
        sources = sources.empty() ? std::vector<std::wstring>{app} : sources;
        return attempt.maker.CreatePE(sources, app.c_str(), type, target, &attempt.sink);
    }

    std::wstring app;
};

TEST_F(PEFlowTest, IsoWithTheFixedTimestampIntoTheTargetOrThePEFolderAndAUefiEntryWhenEfisysIsBeside)
{
    const std::wstring out = scratch / L"out";
    MakeTree(out, {});
    // One % alone is nothing the command interpreter would rewrite.
    const std::wstring percent = scratch / L"50% off";
    MakeTree(percent, {});
    const std::string etfsboot = "\"" + ToUtf8(pe / L"etfsboot.com") + "\"";
    const struct {
        int type;
        const wchar_t* target;
        bool efisys;
        std::wstring folder;  // where the ISO goes
    } cases[] = {{2, out.c_str(), false, out}, {2, nullptr, false, pe.path()}, {2, percent.c_str(), false, percent},
                 {2, out.c_str(), true, out}, {3, L"31", true, pe.path()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.folder) + (c.efisys ? " with efisys.bin, type " : ", type ") + std::to_string(c.type));
        if (c.efisys) {
            WriteBytes(pe / L"efisys.bin", "efi");
        }
        // The ISO tool is named by its path: the PE folder's own before PATH's.
        std::string isoTool = ToolByPath("oscdimg.exe");
        if (c.type == 3) {
            ASSERT_TRUE(CopyFileW((ExeFolder() + L"tools\\oscdimg.exe").c_str(), (pe / L"oscdimg.exe").c_str(), TRUE));
            isoTool = "\"" + ToUtf8(pe / L"oscdimg.exe") + "\"";
        }
        Attempt attempt;
        // There is no disk 31: the boot-disk library answers false after the
        // flow's last record, which is logged but not sent.
        EXPECT_EQ(Make(attempt, c.type, c.target), c.type == 2);
        EXPECT_EQ(attempt.sink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
        EXPECT_EQ(Holds(attempt.log.Added(), " BuildPE: Disk 31 may be partly written: the boot disk library failed\r\n"),
                  c.type == 3);
        ASSERT_EQ(attempt.journal.Count(), 4u) << "clear-out, app, winpeshl.ini, ISO";
        const std::string boot =
            c.efisys ? "-bootdata:2#p0,e,b" + etfsboot + "#pEF,e,b\"" + ToUtf8(pe / L"efisys.bin") + "\""
                     : "-b" + etfsboot;
        EXPECT_EQ(attempt.journal.CommandLine(4), isoTool + " -n -m -o " + boot + " -t07/09/2021,17:30:00 \"" +
                                                  ToUtf8(pe / L"ISO") + "\" \"" + ToUtf8(c.folder) + "\\boot.iso.partial\"");
        EXPECT_EQ(attempt.journal.WorkDir(4), ToUtf8(pe.path()));
    }
}

TEST_F(PEFlowTest, IsoCommandThatDoesNotFitItsBufferRunsNothing)
{
    // A deep PE folder, so that its four paths bring the command to the
    // 1040-character buffer; the output folder's length sets the last ones.
    const std::wstring deep = scratch / std::wstring(240 - scratch.path().size() - 1, L'p');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << ToUtf8(deep);
    WriteBytes(deep + L"\\efisys.bin", "efi");
    const auto command = [&](const std::wstring& out) {
        return L"oscdimg.exe -n -m -o -bootdata:2#p0,e,b\"" + deep + L"\\etfsboot.com\"#pEF,e,b\"" + deep +
               L"\\efisys.bin\" -t07/09/2021,17:30:00 \"" + deep + L"\\ISO\" \"" + out + L"\\boot.iso.partial\"";
    };
    // No folder can be that long: a command that fits gets as far as clearing
    // the partial ISO there, which fails for want of the folder.
    for (const size_t length : {1039u, 1040u}) {
        SCOPED_TRACE(length);
        const std::wstring out = L"C:\\" + std::wstring(length - command(L"C:\\").size(), L'o');
        Attempt attempt;
        wcscpy_s(PEMakerTestPeer::PEDir(attempt.maker), pemaker::kPathChars, deep.c_str());
        EXPECT_FALSE(attempt.maker.CreateISO(out.c_str()));
        EXPECT_EQ(attempt.journal.Count(), 0u);
        EXPECT_TRUE(Holds(attempt.log.Added(), length < 1040 ? "Failed to clear the partial ISO, error code: "
                                                             : "Failed to create ISO, error code: 122 ("));
    }
}

// Every check comes before progress 0: one record with its text, no tool,
// the image untouched. A failure later sends one record; a cancellation none.
TEST_F(PEFlowTest, FailuresSendOneRecordWithTheFlowTextAndCancellationNone)
{
    // The log keeps the first 1024 bytes of what the ISO tool wrote.
    const std::string toolOutput = std::string(1000, 'o') + std::string(100, 'x');
    const std::string copyFailed = "BuildPE: Failed to copy application files";
    const std::string isoFailed = "Failed to create ISO file";
    const std::string cancelled = "Operation cancelled by user";
    const std::string unsupported = "Path not supported by the command interpreter";
    const std::wstring rewritten = scratch / L"Inst & %PATH% ^ !x";
    const std::wstring rewrittenTemp = scratch / L"%TMP%\\";
    MakeTree(rewrittenTemp, {});
    const auto refusal = [&](const std::wstring& path) {
        return std::vector<std::string>{"BuildPE: " + unsupported + ": " + ToUtf8(path)};
    };
    const std::wstring text = scratch / L"text.exe";
    WriteBytes(text, "text");
    const std::wstring isoFolder = scratch / L"iso-folder";
    MakeTree(isoFolder, {L"\\boot.iso"});
    // Beyond MAX_PATH only through the \\?\ form.
    const std::wstring deep = L"\\\\?\\" + scratch.path() + L"\\" + std::wstring(250, L'd');
    CreateDirectoryW(deep.c_str(), nullptr);
    const std::wstring inPE = pe / L"inside.exe";
    const std::wstring noTools = scratch / L"no-tools";
    MakeTree(noTools, {});
    const std::wstring missing = scratch / L"missing";
    const std::wstring inIso = pe / L"ISO\\out";
    const std::wstring hostFolder = ExeFolder().substr(0, ExeFolder().size() - 1);
    UniqueHandle isoLock;
    const auto none = [](StandinJournal&) {};
    const auto deleting = [](const std::wstring& path) {
        return [path](StandinJournal&) { DeleteFileW(path.c_str()); };
    };
    struct Case {
        const char* name;
        Seq progress;
        unsigned toolRuns;
        std::string text;                  // of the failure record
        std::vector<std::string> entries;  // in the log; none: the record's text
        std::function<void(StandinJournal&)> arrange = [](StandinJournal&) {};
        int type = 2;
        int cancelAt = 0;
        std::vector<std::wstring> sources = {};  // none: the start-up program alone
        const wchar_t* target = nullptr;
        std::wstring startup = L"";              // none: the application
    };
    const Case cases[] = {
        {"no WIM", Seq({0, -1}), 0, "BuildPE: Failed to initialize CPEMaker", {}, deleting(pe.Wim())},
        {"clear-out refused", Seq({0, 5, -1}), 1, copyFailed, {}, [](StandinJournal& j) { j.Respond(1, 49); }},
        {"ISO tool fails", Seq({0, 5, 15, 85, 90, 90, -1}), 4, isoFailed,
         {isoFailed, "PEMaker::CreateISO: oscdimg exit code: 1, output: " + toolOutput.substr(0, 1024)},
         [&](StandinJournal& j) { j.RespondTool(L"oscdimg", 1, 0, toolOutput); }},
        {"restart fails", Seq({0, 5, 15, 85, 90, 90, -1}), 5, "BuildPE: Failed to restart to PE environment", {},
         [](StandinJournal& j) { j.RespondTool(L"bcdedit", 1); }, 1},
        // ROBOCOPY's exit codes from 8 on are failures; below, what it copied.
        {"ROBOCOPY fails", Seq({0, 5, 15, -1}), 2, copyFailed,
         {copyFailed, "PEMaker::CopyApp: ROBOCOPY failed, exit code: 16, output="},
         [](StandinJournal& j) { j.RespondTool(L"ROBOCOPY", 16); }, 2, 0, {hostFolder, app}},
        {"cancelled at check 1", Seq({0}), 0, "", {cancelled}, none, 2, 1},
        {"cancelled at check 2", Seq({0, 5, 15, 85, 90}), 3, "", {cancelled}, none, 2, 2},
        {"cancelled at check 3", Seq({0, 5, 15, 85, 90, 90}), 4, "", {cancelled}, none, 2, 3},
        // Paths the command interpreter would rewrite, refused before anything runs.
        {"source", Seq({-1}), 0, unsupported, refusal(rewritten), none, 2, 0, {app, rewritten}},
        {"source ending in separators", Seq({-1}), 0, unsupported, refusal(rewritten), none, 2, 0,
         {app, rewritten + L"\\/"}},
        {"target", Seq({-1}), 0, unsupported, refusal(rewritten), none, 2, 0, {}, rewritten.c_str()},
        {"temporary folder", Seq({-1}), 0, unsupported, refusal(rewrittenTemp),
         [&](StandinJournal&) { SetEnvironmentVariableW(L"TMP", rewrittenTemp.c_str()); }, 1},
        // The checks of the inputs, in their order.
        {"type 0", Seq({-1}), 0, "Incorrect production type", {}, none, 0},
        {"drive root", Seq({-1}), 0, "BuildPE: A drive root cannot be a source: Q:\\", {}, none, 2, 0,
         {app, L"Q:\\/"}},
        {"start-up program in no source", Seq({-1}), 0,
         "BuildPE: Startup program is in no source: " + ToUtf8(app), {}, none, 2, 0, {ThisProgram()}},
        {"start-up program missing", Seq({-1}), 0,
         "BuildPE: Startup program not found: " + ToUtf8(scratch / L"gone.exe"), {}, none, 2, 0, {scratch.path()},
         nullptr, scratch / L"gone.exe"},
        {"start-up program a folder", Seq({-1}), 0, "BuildPE: Startup program not found: " + ToUtf8(noTools), {},
         none, 2, 0, {scratch.path()}, nullptr, noTools},
        // The staging copy of a folder that holds the PE folder leaves it out.
        {"start-up program in the PE folder", Seq({-1}), 0,
         "BuildPE: Startup program is inside the PE folder: " + ToUtf8(inPE), {},
         [&](StandinJournal&) { WriteBytes(inPE, "MZ"); }, 2, 0, {ExeFolder()}, nullptr, inPE},
        {"start-up program not a program", Seq({-1}), 0,
         "BuildPE: Startup program is not a Windows program: " + ToUtf8(text), {}, none, 2, 0, {text}, nullptr, text},
        {"target missing", Seq({-1}), 0, "BuildPE: Target folder not found: " + ToUtf8(missing), {}, none, 2, 0, {},
         missing.c_str()},
        {"target in the ISO tree", Seq({-1}), 0, "BuildPE: Target folder is inside the ISO tree: " + ToUtf8(inIso),
         {}, [&](StandinJournal&) { MakeTree(inIso, {}); }, 2, 0, {}, inIso.c_str()},
        {"target in a source", Seq({-1}), 0, "BuildPE: Target folder is inside a source: " + ToUtf8(noTools), {},
         none, 2, 0, {scratch.path()}, noTools.c_str()},
        {"ISO path in use", Seq({-1}), 0, "BuildPE: ISO path in use by another call: " + ToUtf8(noTools + L"\\boot.iso"),
         {}, [&](StandinJournal&) { isoLock.Reset(CreateFileW((noTools + L"\\boot.iso.lock").c_str(),
                                                               GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); },
         2, 0, {}, noTools.c_str()},
        {"ISO path a folder", Seq({-1}), 0, "BuildPE: ISO path is a folder: " + ToUtf8(isoFolder + L"\\boot.iso"),
         {}, none, 2, 0, {}, isoFolder.c_str()},
        {"ISO path too long", Seq({-1}), 0, "BuildPE: ISO path too long: " + ToUtf8(deep + L"\\boot.iso"), {}, none,
         2, 0, {}, deep.c_str()},
        {"no boot sector", Seq({-1}), 0, "BuildPE: Boot sector file not found: " + ToUtf8(pe / L"etfsboot.com"), {},
         deleting(pe / L"etfsboot.com"), 3, 0, {}, L"5"},
        {"no ISO tool", Seq({-1}), 0, "BuildPE: ISO tool not found: oscdimg.exe", {},
         [&](StandinJournal&) { SetEnvironmentVariableW(L"PATH", noTools.c_str()); }},
        {"no ramdisk file", Seq({-1}), 0,
         "BuildPE: Ramdisk file not found: " + ToUtf8(pe / L"ISO\\BOOT\\BOOT.SDI"), {},
         deleting(pe / L"ISO\\BOOT\\BOOT.SDI"), 1},
        // Not disk 0, as a reading like _wtoi would have it.
        {"disk number", Seq({-1}), 0, "BuildPE: Invalid disk number: disk1", {}, none, 3, 0, {}, L"disk1"},
        {"disk number too large", Seq({-1}), 0, "BuildPE: Invalid disk number: 2147483648", {}, none, 3, 0, {},
         L"2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PEFolder casePE;
        WriteBytes(casePE.Wim(), "image");
        const EnvScope tmp(L"TMP", temp.path());
        const EnvScope path(L"PATH", Env(L"PATH"));
        Attempt attempt(c.cancelAt);
        c.arrange(attempt.journal);
        const std::vector<std::wstring> sources = c.sources.empty() ? std::vector<std::wstring>{app} : c.sources;
        const std::wstring startup = c.startup.empty() ? app : c.startup;
        EXPECT_FALSE(attempt.maker.CreatePE(sources, startup.c_str(), c.type, c.target, &attempt.sink));
        EXPECT_EQ(attempt.sink.Values(), c.progress);
        EXPECT_EQ(attempt.journal.Count(), c.toolRuns);
        EXPECT_EQ(FailureText(attempt.sink), c.text.substr(0, 255));
        const std::string added = attempt.log.Added();
        EXPECT_TRUE(Holds(added, "CPEMaker::CreatePE:"));
        for (const std::string& entry : c.entries.empty() ? std::vector<std::string>{c.text} : c.entries) {
            EXPECT_TRUE(Holds(added, " " + entry + "\r\n"));
        }
        if (Exists(casePE.Wim())) {
            EXPECT_EQ(ReadBytes(casePE.Wim()), "image");
        }
        EXPECT_EQ(ListNames(casePE.path(), L"BOOT.wim"), std::vector<std::wstring>{}) << "no working copy";
    }
}

// On Windows, ROBOCOPY and the C runtime read \" as a literal quote, so
// ROBOCOPY "C:\Host\" "<staging>" ran its arguments together and copied
// nothing. Wine's robocopy is a stub: only the command lines show it here.
TEST_F(PEFlowTest, SourcesEndingInSeparatorsAndTheListEntryFromCWithASinkInCRunExactlyAsThePlainVector)
{
    const auto makePE = LibraryExport<MakePE_Fn>("MakePE");
    const std::wstring host = ExeFolder().substr(0, ExeFolder().size() - 1);
    const std::wstring hostSlash = host + L"/";
    const std::wstring missing = scratch / L"missing";
    const std::wstring out = scratch / L"out";
    MakeTree(out, {});
    // In a source that is no staged folder: the journalled copy copies nothing.
    const std::wstring startup = app;
    const wchar_t* const list[] = {hostSlash.c_str(), app.c_str(), missing.c_str(), nullptr};
    // To the end, and cancelled at the second check, after the sources are added.
    for (const int cancelAt : {0, 2}) {
        SCOPED_TRACE(cancelAt);
        const auto run = [&](std::vector<std::wstring> sources) {
            return Observed([&](RecordingSink& s) { return makePE(&sources, startup.c_str(), 2, out.c_str(), &s); },
                            cancelAt);
        };
        const std::string plain = run({host, app, missing, L""});
        EXPECT_TRUE(Holds(plain, cancelAt ? " Operation cancelled by user\r\n" : "run " + ToolByPath("oscdimg.exe")));
        EXPECT_TRUE(std::regex_search(plain, std::regex("\nrun " + RegexEscape(ToolByPath("ROBOCOPY.exe")) + " +\"" + RegexEscape(ToUtf8(host)) + "\" \"")))
            << plain;
        EXPECT_EQ(run({host + L"\\", app + L"/", missing + L"\\/", L""}), plain);
        EXPECT_EQ(ObservedFromC(list, 4, startup.c_str(), out.c_str(), cancelAt), plain);
    }

    // A null list is never read, whatever its count.
    const std::vector<std::wstring> none;
    const std::string noSources = Observed([&](RecordingSink& s) { return makePE(&none, nullptr, 2, nullptr, &s); });
    EXPECT_TRUE(Holds(noSources, "CopyApp: invalid parameters"));
    for (const uint32_t count : {0u, 3u}) {
        EXPECT_EQ(ObservedFromC(count ? nullptr : list, count, nullptr, nullptr), noSources) << count;
    }
}

// The ISO tool writes beside the ISO path, and only a delivered ISO replaces
// what stood there; the disk type's ISO is only a step, gone at the end. The
// real ISO tool writes the new one.
TEST_F(PEFlowTest, AnIsoThatStoodThereIsReplacedOnlyByADeliveredOne)
{
    WriteBytes(pe / L"etfsboot.com", std::string(2048, '\xEB'));
    const std::wstring out = scratch / L"out";
    MakeTree(out, {});
    // \\.\PhysicalDrive12 is a file through a dosdevices link of the private prefix.
    const std::wstring disk = scratch / L"disk12.img";
    const std::string link = "\"$WINEPREFIX/dosdevices/physicaldrive12\"";
    Sh("ln -sfn '" + UnixPath(disk) + "' " + link);
    const auto isIso = [](const std::string& bytes) { return bytes.size() > 32774 && bytes.substr(32769, 5) == "CD001"; };
    const struct {
        const char* name;
        int type;
        const wchar_t* target;
        int cancelAt;
        long isoToolExit;  // -1: the real tool
        bool delivered;
        bool held = false;  // the ISO at the target is open elsewhere
    } cases[] = {
        {"ISO delivered", 2, out.c_str(), 0, -1, true},
        {"ISO tool fails", 2, out.c_str(), 0, 1, false},
        // Windows also refuses to rename over a read-only file; Wine does not.
        {"ISO at the target cannot be replaced", 2, out.c_str(), 0, -1, false, true},
        {"cancelled after the ISO", 2, out.c_str(), 3, -1, false},
        {"disk written", 3, L"12", 0, -1, true},
        {"disk refused by the boot-disk library", 3, L"31", 0, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring iso = (c.type == 2 ? out : pe.path()) + L"\\boot.iso";
        WriteBytes(iso, "previous");
        WriteBytes(disk, "");
        Attempt attempt(c.cancelAt);
        attempt.journal.EnableReal();
        attempt.journal.RespondTool(L"wimlib-imagex", 0);
        if (c.isoToolExit >= 0) {
            attempt.journal.RespondTool(L"oscdimg", static_cast<unsigned long>(c.isoToolExit));
        }
        UniqueHandle holder(c.held ? CreateFileW(iso.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 0, nullptr)
                                   : nullptr);
        EXPECT_EQ(Make(attempt, c.type, c.target), c.delivered) << attempt.log.Added();
        EXPECT_EQ(Holds(attempt.log.Added(), " PEMaker::CreateISO: Failed to put the ISO in place, error code: "), c.held);
        holder.Reset();
        if (c.type == 2) {
            EXPECT_EQ(isIso(ReadBytes(iso)), c.delivered);
            EXPECT_EQ(ReadBytes(iso) == "previous", !c.delivered);
        } else {
            EXPECT_FALSE(Exists(iso));
        }
        EXPECT_FALSE(Exists(iso + L".partial"));
        EXPECT_FALSE(Exists(iso + L".lock"));
        EXPECT_EQ(isIso(ReadBytes(disk)), c.delivered && c.type == 3);
    }
    Sh("rm -f " + link);

    // A relative target names the caller's folder, although the tool runs in the PE folder.
    WriteBytes(pe / L"boot.iso", "the PE folder's");
    wchar_t caller[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, caller);
    ASSERT_TRUE(SetCurrentDirectoryW(out.c_str()));
    Attempt attempt;
    attempt.journal.EnableReal();
    attempt.journal.RespondTool(L"wimlib-imagex", 0);
    const bool made = Make(attempt, 2, L".");
    SetCurrentDirectoryW(caller);
    EXPECT_TRUE(made);
    EXPECT_TRUE(isIso(ReadBytes(out + L"\\boot.iso")));
    EXPECT_EQ(ReadBytes(pe / L"boot.iso"), "the PE folder's");
}

// Where the requirements go is shown with the real tool by MakePEEndToEndTest.
TEST_F(PEFlowTest, ConfigureBootWimAddsOnlyTheRequirementsThatExistAndStopsAtAFailureOrACancellation)
{
    MakeTree(pe / L"pe_requirements", {L"\\system"});
    const std::string system = "add \"" + ToUtf8(pe / L"pe_requirements\\system") + "\" \"\\Windows\\System32\"\r\n";
    const struct {
        int cancelAt;
        unsigned long toolExit;
        bool withWim;
        Seq progress;
        std::string batch;  // none: no tool run
        std::string text;
        bool requirements = true;
    } cases[] = {
        {0, 0, true, Seq({0, 5, 20, 100}), system, ""},
        {1, 0, true, Seq({0}), "", ""},
        {2, 0, true, Seq({0, 5, 20}), system, ""},
        {0, 2, true, Seq({0, 5, 20, -1}), system, "BuildPE: Failed to copy configuration files"},
        // Nothing to add succeeds, said in the log.
        {0, 0, true, Seq({0, 5, 20, 100}), "", "", false},
        {0, 0, false, Seq({0, -1}), "", "BuildPE: Failed to initialize CPEMaker"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.progress.size() << " records, " << c.text);
        if (!c.withWim) {
            DeleteFileW(pe.Wim().c_str());
        }
        if (!c.requirements) {
            RemoveTree(pe / L"pe_requirements");
        }
        Attempt attempt(c.cancelAt);
        attempt.journal.RespondTool(L"wimlib-imagex", c.toolExit);
        const bool done = c.progress.back() == 100;
        EXPECT_EQ(attempt.maker.ConfigureBootWim(&attempt.sink), done);
        EXPECT_EQ(attempt.sink.Values(), c.progress);
        EXPECT_EQ(FailureText(attempt.sink), c.text);
        ASSERT_EQ(attempt.journal.Count(), c.batch.empty() ? 0u : 1u);
        if (!c.batch.empty()) {
            EXPECT_EQ(attempt.journal.Stdin(1), Utf16(c.batch));
            EXPECT_FALSE(Holds(attempt.journal.CommandLine(1), " --rebuild"));
        }
        if (!done) {
            EXPECT_TRUE(Holds(attempt.log.Added(),
                              c.text.empty() ? " Operation cancelled by user\r\n" : "CPEMaker::ConfigureBootWim:"));
        }
        const std::string none =
            " ConfigureBootWim: no requirements found in " + ToUtf8(pe / L"pe_requirements") + "\r";
        EXPECT_EQ(Holds(attempt.log.Added(), none), !c.requirements && c.withWim);
    }
}

TEST_F(PEFlowTest, ABuildOfThePEFolderInAnotherProcessIsRefusedWhileOneRuns)
{
    MakeTree(pe / L"pe_requirements", {L"\\cef"});
    // Long enough for the second process to start while the first one's tool runs.
    journal.RespondTool(L"wimlib-imagex", 0, 6000);
    LogWatch log;
    bool configured = false;
    std::thread first([&] { configured = CPEMaker().ConfigureBootWim(&sink); });
    for (int wait = 0; wait < 200 && journal.Count() == 0; ++wait) {
        Sleep(50);
    }
    const auto second = RunExport(L"MakePE 2 \"" + scratch.path() + L"\" \"" + app + L"\" \"" + app + L"\"", true);
    first.join();
    EXPECT_TRUE(configured);
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_EQ(second.stdoutBytes, "record 3 0 0 BuildPE: PE folder in use by another build\n");
    EXPECT_EQ(journal.Count(), 1u) << "the second build ran no tool";
    const std::regex entry(R"(CPEMaker::CreatePE:\d+ BuildPE: PE folder in use by another build\r\n)");
    EXPECT_TRUE(std::regex_search(log.Added(), entry));

    // The lock is the PE folder's, whatever spelling reaches it: the holder
    // runs as a program beside it reached through another drive letter (as
    // subst makes) or a symbolic link. Ended (a build that crashed), it
    // releases the lock with its handles.
    const std::string drive = "\"$WINEPREFIX/dosdevices/t:\"";
    const std::wstring linked = scratch / L"linked";
    Sh("ln -sfn '" + UnixPath(ExeFolder()) + "' " + drive + " && ln -sfn '" + UnixPath(ExeFolder()) + "' '" +
       UnixPath(linked) + "'");
    const std::wstring program = ThisProgram().substr(ExeFolder().size());
    for (const std::wstring& folder : {ExeFolder(), std::wstring(L"T:\\"), linked + L"\\"}) {
        SCOPED_TRACE(ToUtf8(folder));
        const std::wstring held = scratch / L"held";
        DeleteFileW(held.c_str());
        StartedProgram holder(L"\"" + folder + program + L"\" --child hold-pe-folder \"" + held + L"\"");
        for (int wait = 0; wait < 300 && !Exists(held) && IsRunning(holder.pid()); ++wait) {
            Sleep(50);
        }
        EXPECT_EQ(PEFolderLock().Get(), PEFolderLock::State::InUse);
        TerminateProcess(holder.process(), 1);
        EXPECT_EQ(holder.Wait().exitCode, 1u);
        EXPECT_EQ(PEFolderLock().Get(), PEFolderLock::State::Owned);
    }
    Sh("rm -f " + drive);
    journal.RespondTool(L"wimlib-imagex", 0);
    RecordingSink next;
    EXPECT_TRUE(CPEMaker().ConfigureBootWim(&next));
}

// With the real WIM tool editing a working copy of a real image, every way a
// build or a configuration ends short of success leaves BOOT.wim byte for
// byte, and nothing of the build beside it.
TEST_F(PEFlowTest, ABuildThatDoesNotSucceedLeavesTheBootImageAsItWas)
{
    const std::wstring tree = scratch / L"tree";
    MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"},
             {{L"\\TarnwickToolset\\Brightmoor\\old.txt", "previous build"}});
    MakeTree(pe / L"pe_requirements", {L"\\cef"}, {{L"\\cef\\cef.pak", "cef"}});
    const std::wstring out = scratch / L"out";
    MakeTree(out, {});
    const EnvScope store(L"TWBCDEDIT_STORE", scratch / L"store.txt");
    // What the WIM tool's cut-off rebuild of the working copy leaves beside it.
    const std::wstring stray = pe / L"BOOT.wim.workQ1xYz";
    const struct {
        const char* name;
        int type;
        const wchar_t* target;
        int cancelAt;
        std::function<void(StandinJournal&)> arrange;
        bool configure = false;  // ConfigureBootWim instead of MakePE
        bool kept = false;       // the new image stays
    } cases[] = {
        {"add fails", 2, out.c_str(), 0, [](StandinJournal& j) { j.Respond(2, 1); }},
        {"ISO tool fails", 2, out.c_str(), 0, [](StandinJournal& j) { j.RespondTool(L"oscdimg", 1); }},
        {"cancelled after the application", 2, out.c_str(), 2, [](StandinJournal&) {}},
        {"cancelled after the ISO", 2, out.c_str(), 3, [](StandinJournal&) {}},
        {"boot-disk library answers false", 3, L"31", 0, [](StandinJournal& j) { j.RespondTool(L"oscdimg", 0); }},
        {"cancelled before the restart", 1, nullptr, 4, [](StandinJournal&) {}},
        {"a setting of the entry fails", 1, nullptr, 0, [](StandinJournal& j) { j.Respond(12, 1); }},
        // The one-time entry must boot what it was made for.
        {"cancelled before the restart, entry kept", 1, nullptr, 4, [](StandinJournal& j) { j.Respond(20, 1); },
         false, true},
        {"configuration cancelled", 0, nullptr, 2, [](StandinJournal&) {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(pe.Wim().c_str());
        ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
        const std::string before = ReadBytes(pe.Wim());
        WriteBytes(pe / L"ISO\\SOURCES\\BOOT.wim.old", "kept");
        WriteBytes(scratch / L"store.txt", "");
        Attempt attempt(c.cancelAt);
        attempt.journal.EnableReal();
        c.arrange(attempt.journal);
        attempt.sink.cancelWhen = [&] { return Exists(pe / L"BOOT.wim.work") && !WriteBytes(stray, "partial"); };
        EXPECT_FALSE(c.configure ? attempt.maker.ConfigureBootWim(&attempt.sink) : Make(attempt, c.type, c.target));
        EXPECT_EQ(ReadBytes(pe.Wim()) == before, !c.kept);
        EXPECT_EQ(ListNames(pe.path(), L"BOOT.wim"), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(pe / L"tarnwick-build.state"));
        EXPECT_EQ(ListNames(pe / L"ISO\\SOURCES").size(), 2u) << "BOOT.wim and BOOT.wim.old";
        EXPECT_EQ(Holds(attempt.log.Added(), " PEMaker::RestartToPE: Failed to delete the boot entry\r\n"), c.kept);
        // No half-made entry stays in the store.
        EXPECT_EQ(std::regex_search(ReadBytes(scratch / L"store.txt"), std::regex("object \\{[0-9a-f]{8}-")), c.kept);
    }
}

// PE\ISO on another volume: Windows reports another volume serial number and
// the build is refused among its checks; Wine reports the drive letter's, so
// here the rename across file systems fails (error 17) at the swap, which the
// check stands in front of. Either way BOOT.wim stays and the next build is
// not blocked by what this one left.
TEST_F(PEFlowTest, AnIsoTreeOnAnotherVolumeLeavesTheImageAndBlocksNoLaterBuild)
{
    const std::string elsewhere = "/dev/shm/tw-iso-" + std::to_string(GetCurrentProcessId());
    Sh("mv '" + UnixPath(pe / L"ISO") + "' " + elsewhere + " && ln -s " + elsewhere + " '" + UnixPath(pe / L"ISO") +
       "'");
    WriteBytes(pe.Wim(), "image");
    for (int build = 0; build < 2; ++build) {
        Attempt attempt;
        EXPECT_FALSE(Make(attempt, 2, nullptr));
        const std::string added = attempt.log.Added();
        EXPECT_TRUE(Holds(added, " BuildPE: The boot image is on another volume than the PE folder\r\n") ||
                    Holds(added, " BuildPE: Failed to put BOOT.wim in place, error code: 17 ("))
            << added;
        EXPECT_EQ(ReadBytes(pe.Wim()), "image");
        EXPECT_EQ(ListNames(pe.path(), L"BOOT.wim"), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(pe / L"tarnwick-build.state"));
    }
    Sh("rm '" + UnixPath(pe / L"ISO") + "' && mv " + elsewhere + " '" + UnixPath(pe / L"ISO") + "'");
}

// A host killed during a build leaves the old image in place, or the new one
// with a record of the swap: the next call settles it by the image's
// identity, and reclaims the killed call's temporary folder.
TEST_F(PEFlowTest, AnInterruptedBuildIsSettledByTheIdentityOfTheImage)
{
    const std::wstring tree = scratch / L"tree";
    MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"});
    const std::wstring out = scratch / L"out";
    MakeTree(out, {});
    WriteBytes(pe / L"etfsboot.com", std::string(2048, '\xEB'));
    const auto killedDuring = [&](const wchar_t* tool) {
        LogWatch log;
        StandinJournal journal;
        journal.EnableReal();
        journal.RespondTool(tool, 0, 600000);
        StartedProgram host(L"\"" + ThisProgram() + L"\" --child call \"" + ExeFolder() +
                            L"TarnwickMedia.dll\" MakePE 2 \"" + out + L"\" \"" + app + L"\" \"" + app + L"\"");
        const auto running = [&] {
            for (unsigned call = 1; call <= journal.Count(); ++call) {
                if (journal.Tool(call) == ToUtf8(tool) && journal.Pid(call) != 0) {
                    return true;
                }
            }
            return false;
        };
        for (int wait = 0; wait < 1200 && !running() && IsRunning(host.pid()); ++wait) {
            Sleep(50);
        }
        ASSERT_TRUE(running()) << host.Wait().stdoutBytes << log.Added();
        // What a rebuild of the working copy, cut off, leaves.
        WriteBytes(pe / L"BOOT.wim.workQ1xYz", "partial");
        TerminateProcess(host.process(), 1);
        host.Wait();
    };
    const auto build = [&](bool succeeds) {
        Attempt attempt;
        attempt.journal.EnableReal();
        if (!succeeds) {
            attempt.journal.RespondTool(L"oscdimg", 1);
        }
        EXPECT_EQ(Make(attempt, 2, out.c_str()), succeeds);
        EXPECT_EQ(ListNames(pe.path(), L"BOOT.wim"), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(pe / L"tarnwick-build.state"));
        EXPECT_EQ(ListNames(pe / L"ISO\\SOURCES"), std::vector<std::wstring>{L"BOOT.wim"});
        EXPECT_EQ(ListNames(temp.path(), L"PEC"), std::vector<std::wstring>{}) << "reclaimed and removed";
        return attempt.log.Added();
    };

    ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
    const std::string before = ReadBytes(pe.Wim());
    killedDuring(L"wimlib-imagex");
    EXPECT_EQ(ReadBytes(pe.Wim()), before);
    EXPECT_EQ(ListNames(temp.path(), L"PEC").size(), 1u);
    const std::string afterEdit = build(false);
    EXPECT_TRUE(Holds(afterEdit, " BuildPE: Removed 1 work folders of interrupted calls\r\n")) << afterEdit;
    EXPECT_EQ(ReadBytes(pe.Wim()), before);

    // Killed while the new image was being delivered: it is put back...
    killedDuring(L"oscdimg");
    EXPECT_NE(ReadBytes(pe.Wim()), before);
    EXPECT_TRUE(Holds(build(false), " BuildPE: Restored BOOT.wim of an interrupted build\r\n"));
    EXPECT_EQ(ReadBytes(pe.Wim()), before);

    // ...unless the user has put an image of their own there since.
    killedDuring(L"oscdimg");
    DeleteFileW(pe.Wim().c_str());
    ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
    const std::string pristine = ReadBytes(pe.Wim());
    const std::string kept = build(true);
    EXPECT_TRUE(Holds(kept, " BuildPE: Kept BOOT.wim; discarded the image of an interrupted build\r\n")) << kept;
    EXPECT_EQ(Sh("xorriso -indev '" + UnixPath(out + L"\\boot.iso") + "' -find / -type f 2>/dev/null | grep -ci boot.wim"),
              "1\n")
        << "no build machinery on the media";
}
