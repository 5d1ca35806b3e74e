// Null, empty and over-long arguments of the exports. Each call is made by a
// host program of its own, a copy of this test program in a host folder with
// a PE folder, so that a fault ends its row and not the table; the tools
// answer from the journal at once. Then a recovery image target that fills up.
#include "PETestSupport.h"
#include "WinreImageHost.h"
#include "common/ErrorText.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testsupport;
using namespace petest;

namespace {

// "extract TARGET": the recovery image into TARGET; prints the error code
// with which one more byte then fails to reach TARGET.
int ExtractMode(int argc, wchar_t** argv)
{
    if (argc != 1 || !winrehost::PrepareHost(Library())) {
        return 2;
    }
    const bool copied =
        LibraryExport<ExtractWinreFromRecoveryPartition_Fn>("ExtractWinreFromRecoveryPartition")(argv[0]);
    const UniqueHandle target(
        CreateFileW(argv[0], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    std::printf("%lu\n", WriteFile(target.Get(), "x", 1, &written, nullptr) ? 0 : GetLastError());
    return copied ? 0 : 1;
}

const bool kExtractMode = (RegisterChildMode("extract", ExtractMode), true);

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

}  // namespace

TEST(ExportArguments, RefusedOrCutAsDocumentedWithoutAFault)
{
    PrivateTemp temp;
    ToolsFirstOnPath toolsOnPath;
    ScratchFolder scratch;
    const std::wstring host = scratch / L"host";
    MakeTree(host, {L"\\PE", L"\\PE\\ISO", L"\\PE\\ISO\\SOURCES", L"\\tools"},
             {{L"\\PE\\ISO\\SOURCES\\BOOT.wim", ""}, {L"\\PE\\etfsboot.com", "boot"}});
    const std::wstring exe = Quoted(host + L"\\host.exe");
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), (host + L"\\host.exe").c_str(), FALSE));
    // Beside the host program, where the WIM tool is looked for first.
    ASSERT_TRUE(CopyFileW((ExeFolder() + L"tools\\wimlib-imagex.exe").c_str(),
                          (host + L"\\tools\\wimlib-imagex.exe").c_str(), FALSE));

    // Beyond the 260-character buffers: a folder path and a file in a folder.
    const std::wstring longFolder = scratch / std::wstring(300, L'f');
    const std::wstring longFile = scratch / (std::wstring(250, L'd') + L"\\" + std::wstring(20, L'e') + L".exe");
    CreateDirectoryW((scratch / std::wstring(250, L'd')).c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(longFile, "MZapp"));

    // Tool runs are told apart by a text of their command line or, UTF-16, of their input.
    const std::string clearOut = "--rebuild";
    const std::string winpeshl = Utf16("\"\\Windows\\System32\\winpeshl.ini\"");
    const std::string invalid = "CPEMaker::CopyApp: PEMaker::CopyApp: invalid parameters.\n"
                                "CPEMaker::CreatePE: BuildPE: Failed to copy application files\n";
    const struct {
        std::wstring arguments;
        bool result;
        std::string messages;
        std::vector<std::string> runs;  // a text that each tool run holds, in order
    } rows[] = {
        {L"ExtractWinreFromRecoveryPartition -", false, "ExtractWinreFromRecoveryPartition: invalid target path\n", {}},
        {L"ConvertESDToISO - " + Quoted(scratch / L"x.iso"), false,
         "ConvertESDToISO: ConvertESDToISO failed: Error: null path argument\n", {}},
        {L"ConvertESDToISO " + Quoted(longFolder + L".esd") + L" " + Quoted(longFolder + L".iso"), false,
         "ConvertESDToISO: ConvertESDToISO failed: Error: ESD file not found\n", {}},
        {L"MakePE 2 - - " + exe, false, invalid, {}},  // no start-up program
        {L"MakePE 2 - " + exe, false, invalid, {}},    // no list
        // Without a target the ISO goes into the PE folder. A source beyond
        // the buffers is never cut: only its name goes into one.
        {L"MakePE 2 - " + Quoted(longFile) + L" " + Quoted(longFile), true, "",
         {clearOut, Utf16("add \"" + ToUtf8(longFile) + "\" \"\\TarnwickToolset\\" + std::string(20, 'e') + ".exe\""),
          winpeshl, ToUtf8(Quoted(host + L"\\PE\\boot.iso.partial"))}},
        // A target beyond the buffers is looked for whole, before any tool.
        {L"MakePE 2 " + Quoted(longFolder) + L" \"\" " + exe, false,
         "CPEMaker::CreatePE: BuildPE: Target folder not found: " + ToUtf8(longFolder) + "\n", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ToUtf8(row.arguments).substr(0, 80));
        StandinJournal journal;
        LogWatch log;
        const ChildResult call =
            RunProgram(exe + L" --child call " + Quoted(ExeFolder() + L"TarnwickMedia.dll") + L" " + row.arguments,
                       CurrentFolder());
        EXPECT_EQ(call.exitCode, row.result ? 0u : 1u);
        EXPECT_EQ(winrehost::LoggedMessages(log.Added(), "[^ ]+"), row.messages);
        ASSERT_EQ(journal.Count(), row.runs.size());
        for (unsigned run = 1; run <= journal.Count(); ++run) {
            EXPECT_TRUE(Holds(journal.CommandLine(run) + journal.Stdin(run), row.runs[run - 1])) << "run " << run;
        }
    }
}

TEST(ExportArguments, ATargetThatFillsUpFailsWithTheCodeOfTheFailedWrite)
{
    ASSERT_TRUE(kExtractMode);
    ScratchFolder scratch;
    const std::string dir = UnixPath(scratch.path());
    ASSERT_TRUE(winrehost::MakeRandomFile(dir + "/winre.wim", 3 << 20));
    ASSERT_TRUE(winrehost::MakeNtfsImage(dir + "/recovery.img", 16,
                                         "mkdir /Recovery\nmkdir /Recovery/WindowsRE\n"
                                         "put /Recovery/WindowsRE/winre.wim " + dir + "/winre.wim\n"));
    ASSERT_TRUE(winrehost::LinkPartition(6, 3, dir + "/recovery.img"));
    StandinJournal journal;
    journal.RespondTool(L"reagentc", 0, 0, "    Windows RE location: \\\\?\\GLOBALROOT\\device\\harddisk6\\partition3\r\n");
    // Opening an existing target leaves 183, "already exists", as the last error.
    const std::wstring target = scratch / L"target.wim";
    ASSERT_TRUE(WriteBytes(target, "an older image"));

    // Files stop growing at 1 MiB, as on a disk that is full, and the signal
    // for it is ignored, so the copy's write fails after a partial one.
    const standin::UnixResult run = Shell("cd '" + dir + "' && trap '' XFSZ && ulimit -f 1024 && exec '" + SourceDir() +
                                          "/cmake/wine-run.sh' '" + UnixPath(ThisProgram()) + "' --child extract '" +
                                          ToUtf8(target) + "'");
    winrehost::UnlinkPartition(6, 3);
    ASSERT_TRUE(run.answered);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::string probe = run.output.substr(0, run.output.find_first_of("\r\n"));
    EXPECT_NE(probe, "0");
    EXPECT_EQ(winrehost::LoggedMessages(ReadBytes(scratch / L"tarnwick.log"), "[^ ]+"),
              "ExtractWinreFromRecoveryPartition: find recovery partition path: \\\\.\\Harddisk6Partition3\n"
              "ExtractWinreFromRecoveryPartition: write target file error, error code: " +
                  ErrorTextAnsi(std::stoul(probe)) + "\n");
    EXPECT_EQ(ReadBytes(target).size(), 1u << 20);
}
