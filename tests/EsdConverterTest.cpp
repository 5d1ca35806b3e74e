// The converter against journalling stand-ins: exact command lines, status
// texts, progress and clean-up on every failure path.
#include "TestSupport.h"

#include "TarnwickMedia.h"
#include "esd/EsdConverter.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace testsupport;

namespace {

// Windows returns from TerminateProcess before the process has ended; this
// ends it a second and a half later.
BOOL WINAPI EndLate(HANDLE process, UINT exitCode)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return FALSE;
    }
    std::thread([copy, exitCode] {
        Sleep(1500);
        TerminateProcess(copy, exitCode);
        CloseHandle(copy);
    }).detach();
    return TRUE;
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
        WriteBytes(esdPath, "not really an ESD");
        foldersBefore = WorkFolders();
    }
    void TearDown() override
    {
        CESDConverter::s_commandTimeoutMs = 300000;
        CESDConverter::s_endProcess = TerminateProcess;
        EXPECT_EQ(WorkFolders(), foldersBefore) << "work folder left behind";
    }

    // The work folder the tools were given, read back from the first call.
    std::string WorkFolderOfRun1() const
    {
        std::smatch match;
        const std::string line = journal.CommandLine(1);
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
    ASSERT_TRUE(converter.convert(esdPath, isoPath, L"Windows"));
    EXPECT_EQ(converter.getProgress(), 100);
    EXPECT_EQ(converter.getStatusMessage(), L"ESD to ISO conversion completed");

    ASSERT_EQ(journal.Count(), 5u);
    const std::string work = WorkFolderOfRun1();
    EXPECT_TRUE(std::regex_match(work, std::regex(RegexEscape(ToUtf8(TempFolder())) + R"(ESD_\d{1,5})"))) << work;
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
                             RegexEscape(iso) + "\"");
    std::smatch stamp;
    const std::string line5 = journal.CommandLine(5);
    ASSERT_TRUE(std::regex_match(line5, stamp, isoLine)) << line5;
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(stamp[3]), now.wYear);
    EXPECT_EQ(std::stoi(stamp[1]), now.wMonth);
    EXPECT_LT(std::stoi(stamp[4]), 24);

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
        // The ISO stage deletes an old ISO before its tool runs.
        EXPECT_EQ(Exists(isoPath), c.failingRun < 5) << "run " << c.failingRun;
    }
}

TEST_F(EsdConverterTest, IsoInMissingFolderFailsAfterTheExportsWithError3)
{
    CESDConverter converter;
    EXPECT_FALSE(converter.convert(esdPath, scratch / L"no\\such\\folder.iso", L"Windows"));
    EXPECT_EQ(converter.getStatusMessage(), L"Failed to delete existing ISO file: 3");
    EXPECT_EQ(converter.getProgress(), 90);
    EXPECT_EQ(journal.Count(), 4u);
}

TEST_F(EsdConverterTest, IsoThatNamesTheEsdFailsBeforeAnyToolAndLeavesTheEsd)
{
    std::wstring upper = esdPath;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    const std::wstring log = scratch / L"tarnwick.log";
    // Run in the ESD's folder, where "install.esd" is a relative spelling of it.
    for (const std::wstring& iso : {esdPath, upper, std::wstring(L"install.esd")}) {
        DeleteFileW(log.c_str());
        const ChildResult child = RunChild(L"call \"" + ExeFolder() + L"TarnwickMedia.dll\" ConvertESDToISO \"" +
                                               esdPath + L"\" \"" + iso + L"\"", scratch.path());
        EXPECT_EQ(child.exitCode, 1u) << ToUtf8(iso);
        EXPECT_TRUE(Holds(ReadBytes(log), "ConvertESDToISO failed: Error: ISO path is the ESD file\r\n\r\n"));
        EXPECT_EQ(ReadBytes(esdPath), "not really an ESD");
    }
    EXPECT_EQ(journal.Count(), 0u);
}

TEST_F(EsdConverterTest, HungToolIsEndedAtTheLimitAndCountsAsFailed)
{
    CESDConverter::s_commandTimeoutMs = 1500;
    journal.Respond(4, 0, 120000);
    LogWatch log;
    CESDConverter converter;
    EXPECT_FALSE(converter.convert(esdPath, isoPath, L"Windows"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Export Windows version failed");
    EXPECT_EQ(journal.Count(), 4u);
    EXPECT_FALSE(journal.Running(4));
    EXPECT_EQ(LogEntries(log), "<time>    CESDConverter::runCommand EsdConverter:RunCommand: command timeout\r\n\r\n");
}

TEST_F(EsdConverterTest, RunnerStatusTexts)
{
    CESDConverter converter;
    EXPECT_FALSE(converter.runCommand(L"\"tools\\no-such-tool.exe\" x"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Cannot execute command (Error code: 2)");

    EXPECT_TRUE(converter.runCommand(L"\"tools\\cdimage.exe\" ok"));
    EXPECT_EQ(converter.getStatusMessage(), L"Error: Cannot execute command (Error code: 2)")
        << "a successful run leaves the status as it was";

    CESDConverter::s_commandTimeoutMs = 1000;
    journal.RespondTool(L"cdimage", 0, 120000);
    EXPECT_FALSE(converter.runCommand(L"\"tools\\cdimage.exe\" hang"));
    EXPECT_EQ(converter.getStatusMessage(), L"Command timed out after ");
    ASSERT_EQ(journal.Count(), 2u);
    EXPECT_FALSE(journal.Running(2));

    // The work folder is removed after the run, so the run waits for the end.
    CESDConverter::s_endProcess = EndLate;
    EXPECT_FALSE(converter.runCommand(L"\"tools\\cdimage.exe\" hang"));
    ASSERT_EQ(journal.Count(), 3u);
    EXPECT_FALSE(journal.Running(3));
}

// The name of the work folder is checked on the conversion's command lines.
TEST_F(EsdConverterTest, WorkFolderOfTheSameSecondCollidesAndGoesWithItsContent)
{
    CESDConverter converter;
    const time_t before = time(nullptr);
    const std::wstring first = converter.createTempDirectory();
    const std::wstring second = converter.createTempDirectory();
    const time_t after = time(nullptr);
    ASSERT_FALSE(first.empty());
    if (before == after) {
        EXPECT_TRUE(second.empty()) << "same seed, same name, folder exists";
    }
    WriteBytes(first + L"\\file.txt", "content");
    converter.removeTempDirectory(first);
    converter.removeTempDirectory(second);
    EXPECT_FALSE(Exists(first));
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
                                                   work + R"(" ".*\\out\.iso")")))
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

}  // namespace
