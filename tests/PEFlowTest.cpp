// The MakePE flow and ConfigureBootWim: progress records, cancellation at
// each check, production types, ISO command line and the boot-disk hand-off.
#include "PETestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

extern "C" int CallMakePEFromList(const wchar_t* const* sources, uint32_t count, const wchar_t* startupExe,
                                  int productionType, const wchar_t* target, IProgressSink* sink);

using namespace testsupport;
using namespace petest;

namespace {

using Seq = std::vector<long long>;

std::string FailureText(const RecordingSink& sink)
{
    return sink.records.empty() ? "" : sink.records.back().message;
}

}  // namespace

class PEFlowTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        app = scratch / L"app.exe";
        WriteBytes(app, "app");
    }

    bool Make(CPEMaker& maker, int type, const wchar_t* target, IProgressSink* sinkToUse)
    {
        return Make(maker, type, {app}, target, sinkToUse);
    }
    bool Make(CPEMaker& maker, int type, const std::vector<std::wstring>& sources, const wchar_t* target,
              IProgressSink* sinkToUse)
    {
        return maker.CreatePE(sources, app.c_str(), type, target, sinkToUse);
    }

    std::wstring app;
};

TEST_F(PEFlowTest, IsoIntoTheTargetFolderOrThePEFolderWithTheFixedTimestamp)
{
    const std::wstring out = scratch / L"out";
    for (const wchar_t* target : {out.c_str(), static_cast<const wchar_t*>(nullptr)}) {
        const std::wstring folder = target ? out : pe.path();
        StandinJournal caseJournal;
        RecordingSink caseSink;
        CPEMaker maker;
        ASSERT_TRUE(Make(maker, 2, target, &caseSink));
        EXPECT_EQ(caseSink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
        ASSERT_EQ(caseJournal.Count(), 4u) << "clear-out, app, winpeshl.ini, ISO";
        EXPECT_EQ(caseJournal.CommandLine(4), "oscdimg.exe -n -m -o -b\"" + Narrow(pe / L"etfsboot.com") +
                                                  "\" -t07/09/2021,17:30:00 \"" + Narrow(pe / L"ISO") + "\" \"" +
                                                  Narrow(folder) + "\\boot.iso\"");
        EXPECT_EQ(caseJournal.WorkDir(4), Narrow(pe.path()));
        EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(maker)), folder + L"\\boot.iso");
    }
}

TEST_F(PEFlowTest, EfisysBesideTheBootSectorAddsAUefiEntryForTheIsoAndTheDiskTypes)
{
    WriteBytes(pe / L"efisys.bin", "efi");
    const std::wstring out = scratch / L"out";
    const struct {
        int type;
        const wchar_t* target;
        std::wstring iso;
    } cases[] = {{2, out.c_str(), out + L"\\boot.iso"}, {3, L"31", pe / L"boot.iso"}};
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        CPEMaker maker;
        Make(maker, c.type, c.target, nullptr);
        ASSERT_EQ(caseJournal.Count(), 4u) << c.type;
        EXPECT_EQ(caseJournal.CommandLine(4), "oscdimg.exe -n -m -o -bootdata:2#p0,e,b\"" + Narrow(pe / L"etfsboot.com") +
                                                  "\"#pEF,e,b\"" + Narrow(pe / L"efisys.bin") +
                                                  "\" -t07/09/2021,17:30:00 \"" + Narrow(pe / L"ISO") + "\" \"" +
                                                  Narrow(c.iso) + "\"")
            << c.type;
    }
}

TEST_F(PEFlowTest, IsoCommandThatDoesNotFitItsBufferRunsNothing)
{
    // A deep PE folder, so that its four paths bring the command to the
    // 1040-character buffer; the output folder's length sets the last ones.
    std::wstring deep = scratch.path();
    while (deep.size() < 240) {
        deep += L"\\" + std::wstring(std::min<size_t>(60, 240 - deep.size() - 1), L'p');
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << Narrow(deep);
    }
    WriteBytes(deep + L"\\efisys.bin", "efi");
    const auto command = [&](const std::wstring& out) {
        return L"oscdimg.exe -n -m -o -bootdata:2#p0,e,b\"" + deep + L"\\etfsboot.com\"#pEF,e,b\"" + deep +
               L"\\efisys.bin\" -t07/09/2021,17:30:00 \"" + deep + L"\\ISO\" \"" + out + L"\\boot.iso\"";
    };
    const size_t shortest = command(L"C:\\").size();
    for (const size_t length : {1039u, 1040u}) {
        const std::wstring out = L"C:\\" + std::wstring(length - shortest, L'o');
        StandinJournal caseJournal;
        LogWatch log;
        CPEMaker maker;
        wcscpy_s(PEMakerTestPeer::PEDir(maker), pemaker::kPathChars, deep.c_str());
        const bool made = maker.CreateISO(out.c_str());
        if (length < 1040) {
            EXPECT_TRUE(made);
            ASSERT_EQ(caseJournal.Count(), 1u);
            EXPECT_EQ(caseJournal.CommandLine(1), Narrow(command(out)));
            continue;
        }
        EXPECT_FALSE(made);
        EXPECT_EQ(caseJournal.Count(), 0u);
        EXPECT_TRUE(std::regex_search(log.Added(), std::regex(R"(    CPEMaker::CreateISO:\d+ PEMaker::CreateISO: )"
                                                              R"(Failed to create ISO, error code: 122\r\n$)")))
            << log.Added();
        EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(maker)), out + L"\\boot.iso");
    }
}

TEST_F(PEFlowTest, FailuresSendOneRecordWithTheFlowText)
{
    const struct {
        const char* name;
        int type;
        std::function<void(StandinJournal&)> arrange;
        Seq progress;
        std::string text;
    } cases[] = {
        {"no WIM", 2, [&](StandinJournal&) { DeleteFileW(pe.Wim().c_str()); }, Seq({0, -1}),
         "BuildPE: Failed to initialize CPEMaker"},
        {"clear-out refused", 2, [](StandinJournal& j) { j.Respond(1, 49); }, Seq({0, 5, -1}),
         "BuildPE: Failed to copy application files"},
        {"ISO tool fails", 2, [](StandinJournal& j) { j.RespondTool(L"oscdimg", 1); }, Seq({0, 5, 15, 85, 90, 90, -1}),
         "Failed to create ISO file"},
        {"type 0", 0, [](StandinJournal&) {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type"},
        {"type 4", 4, [](StandinJournal&) {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type"},
    };
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        PEFolder casePE;
        c.arrange(caseJournal);
        RecordingSink caseSink;
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(Make(maker, c.type, nullptr, &caseSink)) << c.name;
        EXPECT_EQ(caseSink.Values(), c.progress) << c.name;
        EXPECT_EQ(FailureText(caseSink), c.text) << c.name;
        EXPECT_NE(log.Added().find("CPEMaker::CreatePE:"), std::string::npos) << c.name;
        EXPECT_NE(log.Added().find(" " + c.text + "\r\n"), std::string::npos) << c.name << log.Added();
    }
}

// Everything a host and the tools see of one call: result, records, tool runs
// with their input, and the log lines without their time.
std::string Observed(const std::function<bool(IProgressSink*)>& call)
{
    StandinJournal journal;
    RecordingSink sink;
    LogWatch log;
    std::string seen = call(&sink) ? "ok\n" : "failed\n";
    for (const ProgressInfo& record : sink.records) {
        seen += "record " + std::to_string(record.state) + " " + std::to_string(record.current) + " " +
                record.message + "\n";
    }
    for (unsigned run = 1; run <= journal.Count(); ++run) {
        seen += "run " + journal.CommandLine(run) + " <" + journal.Stdin(run) + ">\n";
    }
    // Temporary names are unique per call; mask their number (in the UTF-16 command files too).
    seen = std::regex_replace(seen, std::regex("P(\\x00)?E(\\x00)?S(\\x00)?([0-9A-Fa-f](\\x00)?)+\\."), "PES<n>.");
    return seen + std::regex_replace(log.Added(), std::regex("[0-9]{4}-[0-9: -]{15}"), "<time>");
}

TEST_F(PEFlowTest, TheListEntryFromCRunsExactlyTheFlowOfTheVectorEntry)
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

    const std::string byVector =
        Observed([&](IProgressSink* s) { return makePE(&sources, app.c_str(), 2, out.c_str(), s); });
    EXPECT_EQ(byVector.rfind("ok\n", 0), 0u) << byVector;
    EXPECT_NE(byVector.find("run oscdimg.exe"), std::string::npos) << byVector;
    EXPECT_NE(byVector.find("GetFileAttributesW failed"), std::string::npos) << byVector;
    EXPECT_EQ(Observed([&](IProgressSink* s) { return CallMakePEFromList(list, 3, app.c_str(), 2, out.c_str(), s) == 1; }),
              byVector);

    const std::string noSources = Observed([&](IProgressSink* s) { return makePE(&none, nullptr, 5, nullptr, s); });
    EXPECT_NE(noSources.find("CopyApp: invalid parameters"), std::string::npos) << noSources;
    for (const uint32_t count : {0u, 3u}) {
        EXPECT_EQ(Observed([&](IProgressSink* s) { return CallMakePEFromList(count ? nullptr : list, count, nullptr, 5, nullptr, s) == 1; }),
                  noSources)
            << count;
    }
    FreeLibrary(dll);
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
        {L"target", 2, {app}, rewritten, nullptr, rewritten},
        {L"temporary folder", 1, {app}, L"", rewrittenTemp.c_str(), rewrittenTemp},
        {L"one % alone", 2, {app, percent}, percent, nullptr, L""},
    };
    for (const auto& c : cases) {
        StandinJournal caseJournal;
        RecordingSink caseSink;
        LogWatch log;
        if (c.tmp) {
            SetEnvironmentVariableW(L"TMP", c.tmp);
        }
        CPEMaker maker;
        const bool made = Make(maker, c.type, c.sources, c.target.empty() ? nullptr : c.target.c_str(), &caseSink);
        SetEnvironmentVariableW(L"TMP", temp.path().c_str());
        if (c.refused.empty()) {
            EXPECT_TRUE(made) << Narrow(c.name) << log.Added();
            EXPECT_EQ(caseSink.Values().back(), 100);
            continue;
        }
        EXPECT_FALSE(made) << Narrow(c.name);
        EXPECT_EQ(caseSink.Values(), Seq({-1})) << Narrow(c.name);
        EXPECT_EQ(FailureText(caseSink), "Path not supported by the command interpreter");
        EXPECT_EQ(caseJournal.Count(), 0u) << Narrow(c.name);
        EXPECT_NE(log.Added().find("CPEMaker::CreatePE:"), std::string::npos);
        EXPECT_NE(log.Added().find(" BuildPE: Path not supported by the command interpreter: " + Narrow(c.refused) +
                                   "\r\n"),
                  std::string::npos)
            << log.Added();
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
        StandinJournal caseJournal;
        RecordingSink cancelling(c.cancelAt);
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(Make(maker, 2, nullptr, &cancelling)) << c.cancelAt;
        EXPECT_EQ(cancelling.Values(), c.progress) << c.cancelAt;
        EXPECT_EQ(caseJournal.Count(), c.toolRuns) << c.cancelAt;
        EXPECT_NE(log.Added().find(" Operation cancelled by user\r\n"), std::string::npos) << c.cancelAt;
    }
}

TEST_F(PEFlowTest, DiskTypeHandsTheIsoToTheBootDiskLibraryAndDeletesIt)
{
    // The journalled ISO tool writes nothing, so the ISO is made here. With no
    // disk 31 the library answers false, which is neither logged nor sent.
    const std::string iso(3 << 20, 'i');
    WriteBytes(pe / L"boot.iso", iso);
    {
        RecordingSink refused;
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(Make(maker, 3, L"31", &refused));
        EXPECT_EQ(log.Added().find("CPEMaker::CreatePE"), std::string::npos) << log.Added();
        EXPECT_EQ(refused.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
        EXPECT_TRUE(Exists(pe / L"boot.iso"));
    }
    // \\.\PhysicalDrive12 is a file through a dosdevices link of the private prefix.
    const std::wstring disk = scratch / L"disk12.img";
    WriteBytes(disk, "");
    const std::string link = "\"$WINEPREFIX/dosdevices/physicaldrive12\"";
    Sh("ln -sfn '" + UnixPath(disk) + "' " + link);
    CPEMaker maker;
    LogWatch log;
    const bool made = Make(maker, 3, L" +12", &sink);
    Sh("rm -f " + link);
    ASSERT_TRUE(made) << log.Added();
    EXPECT_EQ(ReadBytes(disk), iso);
    EXPECT_FALSE(Exists(pe / L"boot.iso"));
    // The flow's 100, then the library's own records on the same sink.
    const std::vector<long long> values = sink.Values();
    ASSERT_GE(values.size(), 9u);
    EXPECT_EQ(std::vector<long long>(values.begin(), values.begin() + 7), Seq({0, 5, 15, 85, 90, 90, 100}));
    EXPECT_EQ(values.back(), 100);
}

TEST_F(PEFlowTest, ConfigureBootWimAddsOnlyTheRequirementsThatExist)
{
    const std::string cef = "add \"" + Narrow(pe / L"pe_requirements\\cef") + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n";
    const std::string system = "add \"" + Narrow(pe / L"pe_requirements\\system") + "\" \"\\Windows\\System32\"\r\n";
    const struct {
        const wchar_t* folder;
        std::string batch;
    } cases[] = {{nullptr, ""}, {L"\\system", system}, {L"\\cef", cef + system}};
    for (const auto& c : cases) {
        if (c.folder) {
            MakeTree(pe / L"pe_requirements", {c.folder});
        }
        StandinJournal caseJournal;
        RecordingSink caseSink;
        CPEMaker maker;
        EXPECT_TRUE(maker.ConfigureBootWim(&caseSink));
        EXPECT_EQ(caseSink.Values(), Seq({0, 5, 20, 100}));
        ASSERT_EQ(caseJournal.Count(), c.batch.empty() ? 0u : 1u);
        if (!c.batch.empty()) {
            EXPECT_EQ(caseJournal.Stdin(1), Utf16(c.batch));
            EXPECT_EQ(caseJournal.CommandLine(1).find(" --rebuild"), std::string::npos);
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
        StandinJournal caseJournal;
        caseJournal.RespondTool(L"wimlib-imagex", c.toolExit);
        if (!c.withWim) {
            DeleteFileW(pe.Wim().c_str());
        }
        RecordingSink caseSink(c.cancelAt);
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(maker.ConfigureBootWim(&caseSink));
        EXPECT_EQ(caseSink.Values(), c.progress) << c.text;
        EXPECT_EQ(FailureText(caseSink), c.text);
        const std::string logged = c.text.empty() ? " Operation cancelled by user\r\n" : "CPEMaker::ConfigureBootWim:";
        EXPECT_NE(log.Added().find(logged), std::string::npos) << log.Added();
    }
}
