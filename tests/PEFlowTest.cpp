// The MakePE flow and ConfigureBootWim: progress records, cancellation at
// each check, production types, ISO command line and the boot-disk hand-off.
#include "PETestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <thread>

extern "C" int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe,
                                  int productionType, const wchar_t* target, int cancelAt, ProgressInfo* records,
                                  uint32_t capacity, uint32_t* recorded);

using namespace testsupport;
using namespace petest;

namespace {

using Seq = std::vector<long long>;

std::string FailureText(const RecordingSink& sink)
{
    return sink.records.empty() ? "" : sink.records.back().message;
}

// One call of a table's row: a journal, a sink, a builder and a log watch of its own.
struct Attempt {
    explicit Attempt(int cancelAt = 0) : sink(cancelAt) {}
    StandinJournal journal;
    RecordingSink sink;
    CPEMaker maker;
    LogWatch log;
};

}  // namespace

class PEFlowTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        app = scratch / L"app.exe";
        WriteBytes(app, "app");
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
    const std::string etfsboot = "\"" + ToUtf8(pe / L"etfsboot.com") + "\"";
    const struct {
        int type;
        const wchar_t* target;
        bool efisys;
        std::wstring folder;  // where the ISO goes
    } cases[] = {{2, out.c_str(), false, out}, {2, nullptr, false, pe.path()}, {2, out.c_str(), true, out},
                 {3, L"31", true, pe.path()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << (c.target ? " with a target" : "")
                                        << (c.efisys ? " and efisys.bin" : ""));
        if (c.efisys) {
            WriteBytes(pe / L"efisys.bin", "efi");
        }
        Attempt attempt;
        // There is no disk 31: the disk type fails after the flow's last record.
        EXPECT_EQ(Make(attempt, c.type, c.target), c.type == 2);
        EXPECT_EQ(attempt.sink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
        ASSERT_EQ(attempt.journal.Count(), 4u) << "clear-out, app, winpeshl.ini, ISO";
        const std::string boot =
            c.efisys ? "-bootdata:2#p0,e,b" + etfsboot + "#pEF,e,b\"" + ToUtf8(pe / L"efisys.bin") + "\""
                     : "-b" + etfsboot;
        EXPECT_EQ(attempt.journal.CommandLine(4), "oscdimg.exe -n -m -o " + boot + " -t07/09/2021,17:30:00 \"" +
                                                  ToUtf8(pe / L"ISO") + "\" \"" + ToUtf8(c.folder) + "\\boot.iso\"");
        EXPECT_EQ(attempt.journal.WorkDir(4), ToUtf8(pe.path()));
        EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(attempt.maker)), c.folder + L"\\boot.iso");
    }
}

TEST_F(PEFlowTest, IsoCommandThatDoesNotFitItsBufferRunsNothing)
{
    // A deep PE folder, so that its four paths bring the command to the
    // 1040-character buffer; the output folder's length sets the last ones.
    std::wstring deep = scratch.path();
    while (deep.size() < 240) {
        deep += L"\\" + std::wstring(std::min<size_t>(60, 240 - deep.size() - 1), L'p');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << ToUtf8(deep);
    }
    WriteBytes(deep + L"\\efisys.bin", "efi");
    const auto command = [&](const std::wstring& out) {
        return L"oscdimg.exe -n -m -o -bootdata:2#p0,e,b\"" + deep + L"\\etfsboot.com\"#pEF,e,b\"" + deep +
               L"\\efisys.bin\" -t07/09/2021,17:30:00 \"" + deep + L"\\ISO\" \"" + out + L"\\boot.iso\"";
    };
    const size_t shortest = command(L"C:\\").size();
    for (const size_t length : {1039u, 1040u}) {
        const std::wstring out = L"C:\\" + std::wstring(length - shortest, L'o');
        Attempt attempt;
        wcscpy_s(PEMakerTestPeer::PEDir(attempt.maker), pemaker::kPathChars, deep.c_str());
        const bool made = attempt.maker.CreateISO(out.c_str());
        if (length < 1040) {
            EXPECT_TRUE(made);
            ASSERT_EQ(attempt.journal.Count(), 1u);
            EXPECT_EQ(attempt.journal.CommandLine(1), ToUtf8(command(out)));
            continue;
        }
        EXPECT_FALSE(made);
        EXPECT_EQ(attempt.journal.Count(), 0u);
        const std::string added = attempt.log.Added();
        EXPECT_TRUE(std::regex_search(added, std::regex(R"(    CPEMaker::CreateISO:\d+ PEMaker::CreateISO: )"
                                                        R"(Failed to create ISO, error code: 122\r\n$)")))
            << added;
        EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(attempt.maker)), out + L"\\boot.iso");
    }
}

TEST_F(PEFlowTest, FailuresSendOneRecordWithTheFlowText)
{
    // The log keeps the first 1024 bytes of what the ISO tool wrote.
    const std::string toolOutput = std::string(1000, 'o') + std::string(100, 'x');
    const struct {
        const char* name;
        int type;
        std::function<void(StandinJournal&)> arrange;
        std::vector<std::wstring> sources;  // none: the start-up program alone
        Seq progress;
        std::string text;
        std::string stageEntry;  // the failing stage's own log entry, if checked
    } cases[] = {
        {"no WIM", 2, [&](StandinJournal&) { DeleteFileW(pe.Wim().c_str()); }, {}, Seq({0, -1}),
         "BuildPE: Failed to initialize CPEMaker", ""},
        {"clear-out refused", 2, [](StandinJournal& j) { j.Respond(1, 49); }, {}, Seq({0, 5, -1}),
         "BuildPE: Failed to copy application files", ""},
        // After the sources are added; nothing is delivered.
        {"start-up program in no source", 2, [](StandinJournal&) {}, {ThisProgram()}, Seq({0, 5, 15, 85, -1}),
         "BuildPE: Failed to copy application files", "PEMaker::CopyApp: startup exe not found in copied content."},
        {"ISO tool fails", 2, [&](StandinJournal& j) { j.RespondTool(L"oscdimg", 1, 0, toolOutput); }, {},
         Seq({0, 5, 15, 85, 90, 90, -1}), "Failed to create ISO file",
         "PEMaker::CreateISO: oscdimg exit code: 1, output: " + toolOutput.substr(0, 1024)},
        {"type 0", 0, [](StandinJournal&) {}, {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type", ""},
        {"type 4", 4, [](StandinJournal&) {}, {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PEFolder casePE;
        Attempt attempt;
        c.arrange(attempt.journal);
        EXPECT_FALSE(Make(attempt, c.type, nullptr, c.sources));
        EXPECT_EQ(attempt.sink.Values(), c.progress);
        EXPECT_EQ(FailureText(attempt.sink), c.text);
        const std::string added = attempt.log.Added();
        EXPECT_TRUE(Holds(added, "CPEMaker::CreatePE:"));
        EXPECT_TRUE(Holds(added, " " + c.text + "\r\n"));
        EXPECT_TRUE(Holds(added, " " + c.stageEntry + (c.stageEntry.empty() ? "" : "\r\n")));
    }
}

// Everything a host and the tools see of one call: result, records, tool runs
// with their input, and the log lines without their time. The call is given
// a sink that cancels at check cancelAt.
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

// MakePEFromList called from C with a sink written in C that answers as sink
// does; its records end up in sink.
bool FromC(RecordingSink& sink, const wchar_t* const* list, uint32_t count, const wchar_t* startup, int type,
           const wchar_t* target)
{
    ProgressInfo records[32];
    uint32_t recorded = 0;
    const int made = CallMakePEFromList(list, count, startup, type, target, sink.CancelAt(), records, 32, &recorded);
    sink.records.assign(records, records + recorded);
    return made == 1;
}

TEST_F(PEFlowTest, TheListEntryFromCWithASinkInCRunsExactlyTheFlowOfTheVectorEntry)
{
    HMODULE dll = LoadLibraryW(L"TarnwickMedia.dll");
    ASSERT_NE(dll, nullptr);
    const auto makePE = reinterpret_cast<MakePE_Fn>(reinterpret_cast<void*>(GetProcAddress(dll, "MakePE")));
    ASSERT_NE(makePE, nullptr);
    const std::wstring missing = scratch / L"missing.dll";
    const std::wstring out = scratch / L"out";
    const std::vector<std::wstring> sources{app, missing, L""};
    const wchar_t* const list[] = {app.c_str(), missing.c_str(), nullptr};
    const std::vector<std::wstring> none;

    // To the end, and cancelled at the second check.
    for (const int cancelAt : {0, 2}) {
        const std::string byVector =
            Observed([&](RecordingSink& s) { return makePE(&sources, app.c_str(), 2, out.c_str(), &s); }, cancelAt);
        EXPECT_EQ(byVector.rfind(cancelAt ? "failed\n" : "ok\n", 0), 0u) << byVector;
        EXPECT_TRUE(Holds(byVector, cancelAt ? " Operation cancelled by user\r\n" : "run oscdimg.exe"));
        EXPECT_TRUE(Holds(byVector, "GetFileAttributesW failed"));
        EXPECT_EQ(Observed([&](RecordingSink& s) { return FromC(s, list, 3, app.c_str(), 2, out.c_str()); }, cancelAt),
                  byVector);
    }

    const std::string noSources = Observed([&](RecordingSink& s) { return makePE(&none, nullptr, 5, nullptr, &s); });
    EXPECT_TRUE(Holds(noSources, "CopyApp: invalid parameters"));
    for (const uint32_t count : {0u, 3u}) {
        EXPECT_EQ(Observed([&](RecordingSink& s) { return FromC(s, count ? nullptr : list, count, nullptr, 5, nullptr); }),
                  noSources)
            << count;
    }
    FreeLibrary(dll);
}

// On Windows, ROBOCOPY and the C runtime read \" as a literal quote, so
// ROBOCOPY "C:\Host\" "<staging>" ran its arguments together and copied
// nothing. Wine's robocopy is a stub: only the command lines show it here.
TEST_F(PEFlowTest, SourcesEndingInSeparatorsRunExactlyAsWithout)
{
    const auto makePE = LibraryExport<MakePE_Fn>("MakePE");
    ASSERT_NE(makePE, nullptr);
    const std::wstring host = ExeFolder().substr(0, ExeFolder().size() - 1);
    const std::wstring missing = scratch / L"missing";
    const std::wstring out = scratch / L"out";
    const std::wstring startup = ThisProgram();
    const auto run = [&](std::vector<std::wstring> sources) {
        return Observed([&](RecordingSink& s) { return makePE(&sources, startup.c_str(), 2, out.c_str(), &s); });
    };

    const std::string plain = run({host, app, missing, L"Q:\\"});
    EXPECT_TRUE(std::regex_search(plain, std::regex("\nrun ROBOCOPY +\"" + RegexEscape(ToUtf8(host)) + "\" \"")))
        << plain;
    EXPECT_FALSE(Holds(plain, "startup exe not found"));
    EXPECT_TRUE(Holds(plain, "GetFileAttributesW failed for Q:\\, ")) << "a drive root keeps its separator";
    EXPECT_EQ(run({host + L"\\", app + L"/", missing + L"\\/", L"Q:\\"}), plain);
    const std::wstring hostSlash = host + L"/";
    const wchar_t* const list[] = {hostSlash.c_str(), app.c_str(), missing.c_str(), L"Q:\\"};
    EXPECT_EQ(Observed([&](RecordingSink& s) { return FromC(s, list, 4, startup.c_str(), 2, out.c_str()); }), plain);
}

TEST_F(PEFlowTest, PathsTheInterpreterWouldRewriteAreRefusedBeforeAnythingRuns)
{
    const std::wstring percent = scratch / L"50% off";
    MakeTree(percent, {});
    const std::wstring rewritten = scratch / L"Inst & %PATH% ^ !x";
    const std::wstring rewrittenTemp = scratch / L"%TMP%\\";
    MakeTree(rewrittenTemp, {});
    const struct {
        const wchar_t* name;
        int type;
        std::vector<std::wstring> sources;
        std::wstring target;
        const wchar_t* tmp;
        std::wstring refused;
    } cases[] = {
        {L"source", 2, {app, rewritten}, scratch / L"out", nullptr, rewritten},
        {L"source ending in separators", 2, {app, rewritten + L"\\/"}, scratch / L"out", nullptr, rewritten},
        {L"target", 2, {app}, rewritten, nullptr, rewritten},
        {L"temporary folder", 1, {app}, L"", rewrittenTemp.c_str(), rewrittenTemp},
        {L"one % alone", 2, {app, percent}, percent, nullptr, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        Attempt attempt;
        const EnvScope tmp(L"TMP", c.tmp ? c.tmp : temp.path());
        const bool made = Make(attempt, c.type, c.target.empty() ? nullptr : c.target.c_str(), c.sources);
        if (c.refused.empty()) {
            EXPECT_TRUE(made) << attempt.log.Added();
            EXPECT_EQ(attempt.sink.Values().back(), 100);
            continue;
        }
        EXPECT_FALSE(made);
        EXPECT_EQ(attempt.sink.Values(), Seq({-1}));
        EXPECT_EQ(FailureText(attempt.sink), "Path not supported by the command interpreter");
        EXPECT_EQ(attempt.journal.Count(), 0u);
        EXPECT_TRUE(Holds(attempt.log.Added(), "CPEMaker::CreatePE:"));
        EXPECT_TRUE(Holds(attempt.log.Added(),
                          " BuildPE: Path not supported by the command interpreter: " + ToUtf8(c.refused) + "\r\n"));
    }
}

TEST_F(PEFlowTest, CancellationAtEachCheckStopsWithoutAFailureRecord)
{
    const struct {
        int cancelAt;
        Seq progress;
        unsigned toolRuns;
    } cases[] = {
        {1, Seq({0}), 0},
        {2, Seq({0, 5, 15, 85, 90}), 3},
        {3, Seq({0, 5, 15, 85, 90, 90}), 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cancelAt);
        Attempt attempt(c.cancelAt);
        EXPECT_FALSE(Make(attempt, 2, nullptr));
        EXPECT_EQ(attempt.sink.Values(), c.progress);
        EXPECT_EQ(attempt.journal.Count(), c.toolRuns);
        EXPECT_TRUE(Holds(attempt.log.Added(), " Operation cancelled by user\r\n"));
    }
}

TEST_F(PEFlowTest, DiskTypeHandsTheIsoToTheBootDiskLibraryAndDeletesIt)
{
    // The journalled ISO tool writes nothing, so the ISO is made here. With no
    // disk 31 the library answers false, which is neither logged nor sent.
    const std::string iso(3 << 20, 'i');
    WriteBytes(pe / L"boot.iso", iso);
    {
        Attempt refused;
        EXPECT_FALSE(Make(refused, 3, L"31"));
        EXPECT_FALSE(Holds(refused.log.Added(), "CPEMaker::CreatePE"));
        EXPECT_EQ(refused.sink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
        EXPECT_TRUE(Exists(pe / L"boot.iso"));
    }
    // \\.\PhysicalDrive12 is a file through a dosdevices link of the private prefix.
    const std::wstring disk = scratch / L"disk12.img";
    WriteBytes(disk, "");
    const std::string link = "\"$WINEPREFIX/dosdevices/physicaldrive12\"";
    Sh("ln -sfn '" + UnixPath(disk) + "' " + link);
    Attempt written;
    const bool made = Make(written, 3, L" +12");
    Sh("rm -f " + link);
    ASSERT_TRUE(made) << written.log.Added();
    EXPECT_EQ(ReadBytes(disk), iso);
    EXPECT_FALSE(Exists(pe / L"boot.iso"));
    // The flow's 100, then the library's own records on the same sink.
    const std::vector<long long> values = written.sink.Values();
    ASSERT_GE(values.size(), 9u);
    EXPECT_EQ(std::vector<long long>(values.begin(), values.begin() + 7), Seq({0, 5, 15, 85, 90, 90, 100}));
    EXPECT_EQ(values.back(), 100);
}

TEST_F(PEFlowTest, ConfigureBootWimAddsOnlyTheRequirementsThatExist)
{
    const std::string cef = "add \"" + ToUtf8(pe / L"pe_requirements\\cef") + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n";
    const std::string system = "add \"" + ToUtf8(pe / L"pe_requirements\\system") + "\" \"\\Windows\\System32\"\r\n";
    const struct {
        const wchar_t* folder;
        std::string batch;
    } cases[] = {{nullptr, ""}, {L"\\system", system}, {L"\\cef", cef + system}};
    for (const auto& c : cases) {
        if (c.folder) {
            MakeTree(pe / L"pe_requirements", {c.folder});
        }
        Attempt attempt;
        EXPECT_TRUE(attempt.maker.ConfigureBootWim(&attempt.sink));
        EXPECT_EQ(attempt.sink.Values(), Seq({0, 5, 20, 100}));
        ASSERT_EQ(attempt.journal.Count(), c.batch.empty() ? 0u : 1u);
        if (!c.batch.empty()) {
            EXPECT_EQ(attempt.journal.Stdin(1), Utf16(c.batch));
            EXPECT_FALSE(Holds(attempt.journal.CommandLine(1), " --rebuild"));
        }
    }
}

TEST_F(PEFlowTest, ConfigureBootWimFailuresAndCancellation)
{
    MakeTree(pe / L"pe_requirements", {L"\\cef"});
    const struct {
        int cancelAt;
        unsigned long toolExit;
        bool withWim;
        Seq progress;
        std::string text;
    } cases[] = {
        {1, 0, true, Seq({0}), ""},
        {2, 0, true, Seq({0, 5, 20}), ""},
        {0, 2, true, Seq({0, 5, 20, -1}), "BuildPE: Failed to copy configuration files"},
        {0, 0, false, Seq({0, -1}), "BuildPE: Failed to initialize CPEMaker"},
    };
    for (const auto& c : cases) {
        Attempt attempt(c.cancelAt);
        attempt.journal.RespondTool(L"wimlib-imagex", c.toolExit);
        if (!c.withWim) {
            DeleteFileW(pe.Wim().c_str());
        }
        EXPECT_FALSE(attempt.maker.ConfigureBootWim(&attempt.sink));
        EXPECT_EQ(attempt.sink.Values(), c.progress) << c.text;
        EXPECT_EQ(FailureText(attempt.sink), c.text);
        EXPECT_TRUE(Holds(attempt.log.Added(),
                          c.text.empty() ? " Operation cancelled by user\r\n" : "CPEMaker::ConfigureBootWim:"));
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
    const ChildResult second = RunChild(L"call-printing \"" + ExeFolder() + L"TarnwickMedia.dll\" MakePE 2 \"" +
                                        scratch.path() + L"\" \"" + app + L"\" \"" + app + L"\"");
    first.join();
    EXPECT_TRUE(configured);
    EXPECT_EQ(second.exitCode, 1u);
    EXPECT_EQ(second.stdoutBytes, "record 3 0 0 BuildPE: PE folder in use by another build\n");
    EXPECT_EQ(journal.Count(), 1u) << "the second build ran no tool";
    const std::regex entry(R"(CPEMaker::CreatePE:\d+ BuildPE: PE folder in use by another build\r\n)");
    EXPECT_TRUE(std::regex_search(log.Added(), entry));
}
