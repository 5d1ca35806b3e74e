// The MakePE flow and ConfigureBootWim: progress records, cancellation at
// each check, production types, ISO command line and the boot-disk hand-off.
#include "PETestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;
using namespace petest;

namespace {

std::vector<long long> Seq(std::initializer_list<long long> values)
{
    return values;
}

std::string FailureText(const RecordingSink& sink)
{
    return sink.records.empty() ? "" : sink.records.back().message;
}

}  // namespace

class PEFlowTest : public testing::Test {
protected:
    void SetUp() override
    {
        app = scratch / L"app.exe";
        WriteBytes(app, "app");
    }
    void TearDown() override
    {
        const std::vector<std::wstring> left = temp.Names();
        EXPECT_TRUE(left.empty() || (left.size() == 1 && left[0] == L"_wim_empty")) << Narrow(left.back());
    }

    bool Make(CPEMaker& maker, int type, const wchar_t* target, IProgressSink* sinkToUse)
    {
        return maker.CreatePE({app}, app.c_str(), type, target, sinkToUse);
    }

    PrivateTemp temp;
    ToolsFirstOnPath toolsOnPath;
    PEFolder pe;
    ScratchFolder scratch;
    StandinJournal journal;
    RecordingSink sink;
    std::wstring app;
};

TEST_F(PEFlowTest, IsoIntoTheTargetFolderWithTheFixedTimestamp)
{
    CPEMaker maker;
    const std::wstring out = scratch / L"out";
    ASSERT_TRUE(Make(maker, 2, out.c_str(), &sink));
    EXPECT_EQ(sink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
    ASSERT_EQ(journal.Count(), 4u) << "clear-out, app, winpeshl.ini, ISO";
    EXPECT_EQ(journal.Tool(4), "oscdimg");
    EXPECT_EQ(journal.CommandLine(4), "oscdimg.exe -n -m -o -b\"" + Narrow(pe / L"etfsboot.com") +
                                          "\" -t07/09/2021,17:30:00 \"" + Narrow(pe / L"ISO") + "\" \"" +
                                          Narrow(out) + "\\boot.iso\"");
    EXPECT_EQ(journal.WorkDir(4), Narrow(pe.path()));
    EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(maker)), out + L"\\boot.iso");
}

TEST_F(PEFlowTest, IsoIntoThePEFolderWithoutTarget)
{
    CPEMaker maker;
    ASSERT_TRUE(Make(maker, 2, nullptr, nullptr));
    ASSERT_EQ(journal.Count(), 4u);
    const std::string line = journal.CommandLine(4);
    EXPECT_EQ(line.substr(line.size() - pe.path().size() - 11), "\"" + Narrow(pe.path()) + "\\boot.iso\"");
    EXPECT_EQ(std::wstring(PEMakerTestPeer::IsoPath(maker)), pe / L"boot.iso");
}

TEST_F(PEFlowTest, FailuresSendOneRecordWithTheFlowText)
{
    struct Case {
        const char* name;
        int type;
        std::function<void(StandinJournal&)> arrange;
        std::vector<long long> progress;
        std::string text;
    };
    const Case cases[] = {
        {"no WIM", 2, [&](StandinJournal&) { DeleteFileW(pe.Wim().c_str()); }, Seq({0, -1}),
         "BuildPE: Failed to initialize CPEMaker"},
        {"clear-out refused", 2, [](StandinJournal& j) { j.Respond(1, 49); }, Seq({0, 5, -1}),
         "BuildPE: Failed to copy application files"},
        {"ISO tool fails", 2, [](StandinJournal& j) { j.RespondTool(L"oscdimg", 1); }, Seq({0, 5, 15, 85, 90, 90, -1}),
         "Failed to create ISO file"},
        {"type 0", 0, [](StandinJournal&) {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type"},
        {"type 4", 4, [](StandinJournal&) {}, Seq({0, 5, 15, 85, 90, 90, -1}), "Incorrect production type"},
    };
    for (const Case& c : cases) {
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

TEST_F(PEFlowTest, CancellationAtEachCheckStopsWithoutAFailureRecord)
{
    struct Case {
        int cancelAt;
        std::vector<long long> progress;
        unsigned toolRuns;
    };
    const Case cases[] = {
        {1, Seq({0}), 0},
        {2, Seq({0, 5, 15, 85, 90}), 3},
        {3, Seq({0, 5, 15, 85, 90, 90}), 4},
    };
    for (const Case& c : cases) {
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
    // The journalled ISO tool writes nothing, so the ISO is made here; the
    // boot-disk library writes it to \\.\PhysicalDrive12, a file through a
    // dosdevices link of the private prefix.
    const std::string iso(3 << 20, 'i');
    WriteBytes(pe / L"boot.iso", iso);
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

TEST_F(PEFlowTest, FalseFromTheBootDiskLibraryIsNeitherLoggedNorSent)
{
    WriteBytes(pe / L"boot.iso", "iso");
    CPEMaker maker;
    LogWatch log;
    EXPECT_FALSE(Make(maker, 3, L"31", &sink));
    EXPECT_EQ(log.Added().find("CPEMaker::CreatePE"), std::string::npos) << log.Added();
    EXPECT_EQ(sink.Values(), Seq({0, 5, 15, 85, 90, 90, 100}));
    EXPECT_TRUE(Exists(pe / L"boot.iso"));
}

TEST_F(PEFlowTest, ConfigureBootWimAddsOnlyTheRequirementsThatExist)
{
    {
        CPEMaker maker;
        EXPECT_TRUE(maker.ConfigureBootWim(&sink));
        EXPECT_EQ(sink.Values(), Seq({0, 5, 20, 100}));
        EXPECT_EQ(journal.Count(), 0u);
    }
    CreateDirectoryW((pe / L"pe_requirements").c_str(), nullptr);
    CreateDirectoryW((pe / L"pe_requirements\\system").c_str(), nullptr);
    {
        CPEMaker maker;
        EXPECT_TRUE(maker.ConfigureBootWim(nullptr));
        ASSERT_EQ(journal.Count(), 1u);
        EXPECT_EQ(journal.Stdin(1),
                  Utf16("add \"" + Narrow(pe / L"pe_requirements\\system") + "\" \"\\Windows\\System32\"\r\n"));
        EXPECT_EQ(journal.CommandLine(1).find(" --rebuild"), std::string::npos);
    }
    CreateDirectoryW((pe / L"pe_requirements\\cef").c_str(), nullptr);
    {
        CPEMaker maker;
        EXPECT_TRUE(maker.ConfigureBootWim(nullptr));
        ASSERT_EQ(journal.Count(), 2u);
        EXPECT_EQ(journal.Stdin(2),
                  Utf16("add \"" + Narrow(pe / L"pe_requirements\\cef") + "\" \"\\TarnwickToolset\\Brightmoor\"\r\n"
                        "add \"" + Narrow(pe / L"pe_requirements\\system") + "\" \"\\Windows\\System32\"\r\n"));
    }
}

TEST_F(PEFlowTest, ConfigureBootWimFailuresAndCancellation)
{
    CreateDirectoryW((pe / L"pe_requirements").c_str(), nullptr);
    CreateDirectoryW((pe / L"pe_requirements\\cef").c_str(), nullptr);
    for (int cancelAt : {1, 2}) {
        RecordingSink cancelling(cancelAt);
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(maker.ConfigureBootWim(&cancelling));
        EXPECT_EQ(cancelling.Values(), cancelAt == 1 ? Seq({0}) : Seq({0, 5, 20}));
        EXPECT_NE(log.Added().find(" Operation cancelled by user\r\n"), std::string::npos);
    }
    // Last: a nested journal leaves no journal behind it.
    {
        StandinJournal refusing;
        refusing.RespondTool(L"wimlib-imagex", 2, 0, "refused");
        RecordingSink failing;
        CPEMaker maker;
        LogWatch log;
        EXPECT_FALSE(maker.ConfigureBootWim(&failing));
        EXPECT_EQ(failing.Values(), Seq({0, 5, 20, -1}));
        EXPECT_EQ(FailureText(failing), "BuildPE: Failed to copy configuration files");
        EXPECT_NE(log.Added().find("CPEMaker::ConfigureBootWim:"), std::string::npos);
    }
    DeleteFileW(pe.Wim().c_str());
    RecordingSink noWim;
    CPEMaker maker;
    EXPECT_FALSE(maker.ConfigureBootWim(&noWim));
    EXPECT_EQ(noWim.Values(), Seq({0, -1}));
    EXPECT_EQ(FailureText(noWim), "BuildPE: Failed to initialize CPEMaker");
}
