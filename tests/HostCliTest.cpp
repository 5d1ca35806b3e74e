// The console host: option parsing, progress rendering and its exit codes.
#include "TestSupport.h"

#include "CommandLine.h"
#include "DiskGuard.h"
#include "EsdImages.h"
#include "EsdTimeEstimate.h"
#include "EsdToIso.h"
#include "HelpText.h"
#include "HostConstants.h"
#include "LogExcerpt.h"
#include "ProgressBar.h"
#include "Question.h"
#include "ResultLine.h"
#include "ToolCause.h"

#include "common/PathIdentity.h"

#include <winioctl.h>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// An INF that drvload can install on x64, with its catalogue "d.cat".
const std::string kUsableInf = "[Version]\r\nCatalogFile=d.cat\r\n[Manufacturer]\r\nV=M,NTamd64\r\n[M.NTamd64]\r\nD=I\r\n";

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

    r = Parse({L"make-pe", L"--deliver", L"disk", L"--target", L"2", L"--driver", L"D1", L"--network", L"--clean",
               L"--driver", L"D2", L"--startup", L"a.exe", L"a.exe"});
    EXPECT_EQ(r.error, L"");
    EXPECT_EQ(host::ProductionType(r.options.deliver), 3);
    EXPECT_EQ(r.options.drivers, (std::vector<std::wstring>{L"D1", L"D2"}));
    EXPECT_TRUE(r.options.network && r.options.clean);

    r = Parse({L"esd-to-iso", L"in.esd", L"out.iso"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.esd, L"in.esd");
    EXPECT_EQ(r.options.iso, L"out.iso");
    EXPECT_EQ(r.options.edition, 0u);

    r = Parse({L"esd-to-iso", L"--edition", L"4294967295", L"in.esd", L"--uefi", L"out.iso"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.edition, 4294967295u);
    EXPECT_TRUE(r.options.uefi);
    EXPECT_EQ(r.options.iso, L"out.iso");
    EXPECT_TRUE(Parse({L"esd-to-iso", L"--edition", L"all", L"a", L"b"}).options.allEditions);

    r = Parse({L"extract-winre", L"C:\\winre.wim"});
    ASSERT_EQ(r.error, L"");
    EXPECT_EQ(r.options.winreTarget, L"C:\\winre.wim");

    EXPECT_EQ(Parse({L"configure-boot-wim"}).options.command, host::Command::ConfigureBootWim);
    EXPECT_EQ(Parse({L"esd-to-iso", L"--help"}).options.helpFor, host::Command::EsdToIso);
    EXPECT_EQ(Parse({L"help", L"make-pe"}).options.helpFor, host::Command::MakePe);
    EXPECT_EQ(Parse({L"--help"}).options.helpFor, host::Command::None);
}

TEST(HostCommandLine, RejectsBadCommandLinesWithAReason)
{
    const std::vector<std::vector<const wchar_t*>> bad = {
        {},
        {L"frobnicate"},
        {L"esd-to-iso", L"only-one"},
        {L"esd-to-iso", L"a", L"b", L"c"},
        {L"esd-to-iso", L"--edition", L"3", L"a", L"b"},
        {L"esd-to-iso", L"--edition", L"4294967296", L"a", L"b"},
        {L"esd-to-iso", L"--edition", L"+5", L"a", L"b"},
        {L"esd-to-iso", L"--edition", L"ALL", L"a", L"b"},
        {L"esd-to-iso", L"a", L"b", L"--edition"},
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

// The library reads the number like _wtoi, so anything beyond an int's
// digits would write another disk than the one named.
TEST(HostCommandLine, DiskNumbersAreDigitsUpToTheLargestInt)
{
    for (const wchar_t* disk : {L"2147483647", L"2147483648", L"-1", L"+1", L" 1"}) {
        const host::ParseResult r =
            Parse({L"make-pe", L"--deliver", L"disk", L"--target", disk, L"--startup", L"a.exe", L"a.exe"});
        EXPECT_EQ(r.error, disk == std::wstring(L"2147483647")
                               ? L""
                               : L"--target of --deliver disk must be a disk number from 0 to 2147483647")
            << ToUtf8(disk);
    }
}

// A scripted clock and records of the converter's stages (0, 10, 30, 60, 90).
// Percent -1 is a tick between records, -2 a failure record.
struct BarStep {
    std::uint64_t ms;
    int percent;
    const char* out;
};

std::string RunBar(bool terminal, const std::vector<BarStep>& steps, std::vector<int> stageStarts)
{
    std::uint64_t now = 0;
    host::ProgressBar bar({terminal, std::move(stageStarts)}, [&now] { return now; });
    std::string mismatches;
    for (const BarStep& step : steps) {
        now = step.ms;
        std::string out = step.percent == -1 ? bar.Tick()
                          : step.percent == -2
                              ? bar.Update({true, 0, 0, "x"}).out
                              : bar.Update({false, static_cast<std::uint64_t>(step.percent), 100, ""}).out;
        if (out != step.out) {
            mismatches += "at " + std::to_string(step.ms) + " ms: \"" + out + "\"\n";
        }
    }
    return mismatches + bar.Finish();
}

TEST(HostProgressBar, TellsElapsedTimeAndTheRestAtTheStagesPace)
{
    const std::vector<int> stages = {0, 10, 30, 60, 90, 100};
    EXPECT_EQ(RunBar(false,
                     {{500, 0, "progress   0%  0:00 elapsed\n"},
                      {1500, 10, "progress  10%  0:01 elapsed\n"},
                      {9000, 20, "progress  20%  0:09 elapsed\n"},  // the stage ran 7.5 s
                      {11500, 30, "progress  30%  0:11 elapsed\n"},
                      {20000, -1, ""},  // no redraw on a pipe
                      {21500, 30, ""},
                      {31500, 45, "progress  45%  0:31 elapsed, about 1:13 left\n"},  // 55 * 20 s / 15
                      {41500, 59, "progress  59%  0:41 elapsed, about 0:42 left\n"},
                      {41600, 60, "progress  60%  0:41 elapsed\n"},
                      {3641600, 61, "progress  61%  1:00:41 elapsed, about 39:00:00 left\n"},
                      {3641700, -2, ""}},
                     stages),
              "");
    EXPECT_EQ(RunBar(true,
                     {{0, 0, "\r[........................................]   0%  0:00 elapsed"},
                      {400, -1, ""},
                      {1200, -1, "\r[........................................]   0%  0:01 elapsed"},
                      {9000, 5, "\r[##......................................]   5%  0:09 elapsed"},
                      {20000, -1, "\r[##......................................]   5%  0:20 elapsed, about 6:20 left"},
                      {21000, 10, "\r[####....................................]  10%  0:21 elapsed                 "},
                      {22000, 100, "\r[########################################] 100%  0:22 elapsed"}},
                     stages),
              "\n");
    // The builder's records each begin a stage, and a failure ends the line.
    EXPECT_EQ(RunBar(true,
                     {{0, 15, "\r[######..................................]  15%  0:00 elapsed"},
                      {30000, 85, "\r[##################################......]  85%  0:30 elapsed"},
                      {45000, -1, "\r[##################################......]  85%  0:45 elapsed"},
                      {45000, -2, "\n"}},
                     {}),
              "");
}

// The 100 MiB sample as esd-to-iso sees it, on a scripted clock: tools that
// take 0.4 to 0.9 s to start, an install export whose steps vary by a fifth
// around 0.7 s, and an ISO run of 1.5 s.
TEST(HostEsdEstimate, WeightsStagesByTheirImagesAndStaysWithinAThirdOfTheRestAfterAQuarter)
{
    const std::vector<host::EsdImage> images = {
        {1, L"Setup Media", 400000}, {2, L"PE", 300000}, {3, L"Setup", 200000}, {4, L"Windows 10 Pro", 104857600}};
    std::uint64_t now = 0;
    host::EsdTimeEstimate estimate(host::EsdStages(images, 0, false), [&now] { return now; });
    std::vector<std::pair<std::uint64_t, int>> records = {{100, 0}, {300, 10}, {1100, 30}, {2000, 45}, {2800, 60}};
    std::uint64_t t = 3700;
    const std::uint64_t steps[] = {560, 700, 840, 620, 780};
    for (int value = 61; value < 90; ++value) {
        records.push_back({t, value});
        t += steps[value % 5];
    }
    const std::uint64_t end = t + 1500;
    records.insert(records.end(), {{t, 90}, {end, 100}});
    std::vector<int> placed;
    for (const auto& record : records) {
        now = record.first;
        placed.push_back(estimate.Place(record.second));
        std::uint64_t left = 0;
        const bool told = estimate.Left(left);
        EXPECT_EQ(told, placed.back() >= 5 && placed.back() < 100) << placed.back();
        const double truth = static_cast<double>(end - now);
        if (told && placed.back() >= 25) {
            EXPECT_NEAR(static_cast<double>(left), truth, std::max(0.3 * truth, 1000.0)) << placed.back();
        }
    }
    // The edition is 98.8 % of the data: the small stages barely move the bar.
    EXPECT_EQ(std::vector<int>(placed.begin(), placed.begin() + 7), (std::vector<int>{0, 0, 0, 0, 0, 4, 7}));
    EXPECT_EQ(placed.back(), 100);

    // Every edition: each run of the install stage weighs its own image.
    const std::vector<host::EsdImage> three = {{1, L"", 100}, {2, L"", 100}, {3, L"", 100},
                                               {4, L"", 600},  {5, L"", 300}, {6, L"", 100}};
    host::EsdTimeEstimate editions(host::EsdStages(three, 0, true), [&now] { return now; });
    EXPECT_EQ(editions.Place(60), 21);  // 300 of 1400 done
    EXPECT_EQ(editions.Place(70), 64);  // the first edition exported
    EXPECT_EQ(editions.Place(75), 75);  // and half the second
    EXPECT_EQ(editions.Place(90), 92);
    // Without the sizes, the records are the bar.
    host::EsdTimeEstimate unknown(host::EsdStages({}, 0, false), [&now] { return now; });
    for (const int value : {0, 10, 20, 30, 60, 75, 90, 100}) {
        EXPECT_EQ(unknown.Place(value), value);
    }
}

TEST(HostEsdImages, NamesAndSizesFromTheXmlNameTheEditions)
{
    const std::vector<host::EsdImage> images = host::ImagesOfWimXml(
        L"\xFEFF<WIM><TOTALBYTES>9</TOTALBYTES><IMAGE INDEX=\"1\"><TOTALBYTES>77</TOTALBYTES><NAME>Setup</NAME>"
        L"</IMAGE><IMAGE INDEX=\"4\"><DIRCOUNT>3</DIRCOUNT><TOTALBYTES>123456</TOTALBYTES><WINDOWS><EDITIONID>Pro"
        L"</EDITIONID></WINDOWS><NAME>Windows 10 Pro &amp; N</NAME><DISPLAYNAME>x</DISPLAYNAME></IMAGE>"
        L"<IMAGE INDEX=\"5\"></IMAGE></WIM>");
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].bytes, 77u);
    EXPECT_EQ(images[1].index, 4u);
    EXPECT_EQ(images[1].bytes, 123456u);
    EXPECT_EQ(images[2].bytes, 0u);
    EXPECT_EQ(host::EditionNames(images, 0, false), L"Windows 10 Pro & N");
    EXPECT_EQ(host::EditionNames(images, 5, false), L"image 5");
    EXPECT_EQ(host::EditionNames(images, 0, true), L"Windows 10 Pro & N, image 5");
    EXPECT_EQ(host::EditionNames({}, 0, true), L"every image from 4 on");
}

TEST(HostToolCause, ATableOfLastLinesInWordsWithTheExitCode)
{
    const struct {
        const char* tool;
        unsigned long exitCode;
        const char* line;
        const char* cause;
    } cases[] = {
        {"cdimage.exe", 32, "xorriso : FAILURE : Cannot open 'x.iso.partial': Permission denied",
         "cdimage: the ISO folder cannot be written (exit 32)"},
        {"cdimage.exe", 5, "ERROR: Access is denied.", "cdimage: the ISO folder cannot be written (exit 5)"},
        {"cdimage.exe", 1, "Error 112: There is not enough space on the disk.",
         "cdimage: the ISO folder's disk is full (exit 1)"},
        {"wimlib-imagex.exe", 28, "[ERROR] Write error: No space left on device",
         "wimlib-imagex: the disk of the temporary folder is full (exit 28)"},
        {"wimlib-imagex.exe", 18, "[ERROR] 9 is not a valid image in \"D:\\x.esd\"!",
         "wimlib-imagex: the ESD has no such image (exit 18)"},
        {"wimlib-imagex.exe", 9, "[ERROR] The WIM file is CORRUPT!", "wimlib-imagex: the ESD is damaged (exit 9)"},
        {"wimlib-imagex.exe", 2, "Access is denied.", "wimlib-imagex: a file cannot be written (exit 2)"},
        {"cdimage.exe", 7, "something else", "cdimage: something else (exit 7)"},
        {"cdimage.exe", 3221225477, "", "cdimage: failed (exit 3221225477)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(host::ToolCause(c.tool, c.exitCode, c.line), c.cause) << c.line;
    }
    EXPECT_EQ(host::ToolCauseInLog("[Tarnwick]2026-01-02 03:04:05    CESDConverter::runWatchedCommand:88 Tool failed: "
                                   "cdimage.exe exit code 32, last output line: Permission denied\r\n[Tarnwick]x\r\n"),
              "cdimage: the ISO folder cannot be written (exit 32)");
    EXPECT_EQ(host::ToolCauseInLog("ConvertESDToISO failed: Error: ESD file not found\r\n"), "");
}

TEST(HostQuestion, OnlyYOrYesIsAYes)
{
    const struct {
        const char* answer;
        bool yes;
    } answers[] = {{"y\r\n", true}, {" YES \r\n", true}, {"Yes", true}, {"n\r\n", false},
                   {"", false},       {"\r\n", false},    {"yes please\n", false}, {"ye", false}};
    for (const auto& a : answers) {
        EXPECT_EQ(host::IsYes(a.answer), a.yes) << a.answer;
    }
}

// Wine answers no disk query, so the decisions are driven with what the
// queries of real disks answer.
TEST(HostDiskGuard, RefusesADiskItCannotIdentifyWriteOrFitTheImageOnAndDescribesTheRest)
{
    host::DiskFacts usb;
    usb.number = 3;
    usb.model = "ACME Flash";
    usb.bus = host::BusName(BusTypeUsb);
    usb.bytes = 15682240512ull;
    usb.system = host::Holds::No;
    EXPECT_EQ(host::DiskRefusal(usb, false), "");
    EXPECT_EQ(host::DiskDescription(usb), std::string("Disk 3: ACME Flash, 14.6 GiB, USB\n") + host::kBootsOn);

    host::DiskFacts unknown = usb;
    unknown.model = unknown.bus = "";
    unknown.sizeError = ERROR_INVALID_FUNCTION;
    unknown.system = host::Holds::Unknown;
    EXPECT_EQ(host::DiskDescription(unknown),
              std::string("Disk 3: unknown model, unknown size (error 1), unknown bus\n") + host::kBootsOn +
                  "Note: whether disk 3 holds the running system could not be determined.\n");
    host::DiskFacts locked = usb;
    locked.writeProtected = true;
    host::DiskFacts system = unknown;
    system.system = host::Holds::Yes;
    host::DiskFacts small = usb;
    small.bytes = 256ull << 20;
    small.mediaAtLeast = 400ull << 20;
    host::DiskFacts unknownSize = unknown;
    unknownSize.mediaAtLeast = small.mediaAtLeast;
    const char* const smallText =
        "tarnwick: disk 3 (256.0 MiB) cannot hold the media: the boot image alone takes 400.0 MiB; refusing to erase it";
    const char* const unidentified = "tarnwick: disk 3 cannot be identified (error 1); refusing to erase it";
    const char* const protectedText = "tarnwick: disk 3 is write-protected; refusing to erase it";
    const char* const systemText = "tarnwick: disk 3 holds the running system; refusing to erase it";
    const struct {
        const host::DiskFacts& facts;
        bool unknownDisk;
        const char* refusal;
    } cases[] = {{unknown, false, unidentified}, {unknown, true, ""},         {locked, false, protectedText},
                 {locked, true, protectedText},  {system, true, systemText}, {usb, true, ""},
                 {small, true, smallText},       {unknownSize, true, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(host::DiskRefusal(c.facts, c.unknownDisk), c.refusal);
    }
    EXPECT_EQ(host::BusName(BusTypeNvme), "NVMe");
    EXPECT_EQ(host::BusName(BusTypeMaxReserved), "");
}

TEST(HostResultLine, SaysWhatWasMadeWithOneFormOfSize)
{
    const struct {
        unsigned long long bytes;
        const char* text;
    } sizes[] = {{0, "0 bytes"},           {1023, "1023 bytes"},        {1024, "1.0 KiB"},
                 {1048524, "1023.9 KiB"},  {1048525, "1.0 MiB"},         {367001600, "350.0 MiB"},
                 {15682240512ull, "14.6 GiB"}, {1ull << 40, "1.0 TiB"}, {1ull << 52, "4096.0 TiB"}};
    for (const auto& size : sizes) {
        EXPECT_EQ(host::SizeText(size.bytes), size.text);
    }
    EXPECT_EQ(host::MadeLine(host::kIsoWritten, L"D:\\out\\boot.iso", 367001600),
              L"ISO written: D:\\out\\boot.iso (350.0 MiB)");
    EXPECT_EQ(host::MadeLine(host::kWinreCopied, L"C:\\w\\winre.wim", 537186304),
              L"winre.wim copied: C:\\w\\winre.wim (512.3 MiB)");
    EXPECT_EQ(host::DiskWrittenLine(1, 367001600), L"disk 1 written: 350.0 MiB");
    const SYSTEMTIME written = {2026, 12, 1, 7, 9, 5, 59, 0};
    EXPECT_EQ(host::ReplacingLine(L"D:\\out\\boot.iso", 2048, written),
              L"replacing D:\\out\\boot.iso (2.0 KiB, 2026-12-07 09:05)");
}

TEST(HostLogExcerpt, KeepsTheLastLines)
{
    EXPECT_EQ(host::LastLines("a\r\nb\r\nc\r\n", 2), "b\r\nc\r\n");
    EXPECT_EQ(host::LastLines("a\r\nb\r\nc\r\n", 5), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(host::LastLines("x failed\r\n\r\n", 2), "x failed\r\n\r\n");
    EXPECT_EQ(host::LastLines("", 3), "");
    EXPECT_EQ(host::LastLines("a\nb", 1), "b");
}

TEST(HostProgram, HelpAndUsageErrors)
{
    const std::wstring host = L"\"" + ExeFolder() + L"tarnwick.exe\"";
    ChildResult help = RunProgram(host + L" --help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_TRUE(Holds(help.stdoutBytes, "tarnwick esd-to-iso [--uefi] [--edition N|all] [--force] ESD ISO"));
    EXPECT_TRUE(Holds(help.stdoutBytes, "--deliver disk ERASES the disk"));
    EXPECT_TRUE(Holds(help.stdoutBytes, "Exit codes:\r\n  0    done\r\n  1    failed\r\n  2    refused before any work"));
    EXPECT_TRUE(Holds(help.stdoutBytes, "\r\n  130  cancelled: Ctrl+C, or any answer but yes to a question\r\n"));
    // A command's help is its usage and options, and names no other command.
    const struct {
        const wchar_t* arguments;
        const char* usage;
        const char* other;
    } commands[] = {{L" make-pe --deliver iso --help", "tarnwick make-pe --deliver", "esd-to-iso"},
                    {L" help esd-to-iso", "tarnwick esd-to-iso [--uefi]", "make-pe"},
                    {L" configure-boot-wim -h", "tarnwick configure-boot-wim\r\n", "extract-winre"},
                    {L" extract-winre --help", "tarnwick extract-winre TARGET\r\n", "Exit codes"}};
    for (const auto& c : commands) {
        help = RunProgram(host + c.arguments);
        EXPECT_EQ(help.exitCode, 0u);
        EXPECT_EQ(help.stdoutBytes.find(c.usage), 0u) << help.stdoutBytes;
        EXPECT_FALSE(Holds(help.stdoutBytes, c.other)) << help.stdoutBytes;
    }

    ChildResult usage = RunProgram(host + L" esd-to-iso onlyone");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_TRUE(
        Holds(usage.stderrBytes, "tarnwick: usage: tarnwick esd-to-iso [--uefi] [--edition N|all] [--force] ESD ISO"));
    usage = RunProgram(host + L" esd-to-iso --edition 2 a b");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_TRUE(Holds(usage.stderrBytes, "--edition must be all or an image number of at least 4, not \"2\""));
}

// tarnwick.exe installed in inst\ with the library, Discforge.dll, the tools
// it ships and a PE folder whose WIM only the scripted WIM tool sees, started
// from a scratch folder. The other tools are the stand-ins of bin\tools on
// PATH, and LOCALAPPDATA is the scratch folder's local\. \\.\PhysicalDrive7
// is a file, through a link of the Wine prefix.
class HostRun : public testing::Test {
protected:
    HostRun()
    {
        MakeTree(start.path(), {L"\\inst", L"\\inst\\tools", L"\\inst\\PE", L"\\inst\\PE\\ISO",
                                L"\\inst\\PE\\ISO\\SOURCES", L"\\inst\\PE\\ISO\\BOOT", L"\\local", L"\\out"},
                 {{L"\\inst\\PE\\ISO\\SOURCES\\BOOT.wim", ""}, {L"\\inst\\PE\\etfsboot.com", ""},
                  {L"\\inst\\PE\\ISO\\BOOT\\BOOT.SDI", ""}});
        for (const wchar_t* file : {L"tarnwick.exe", L"TarnwickMedia.dll", L"ravenfs.dll", L"Discforge.dll",
                                    L"tools\\wimlib-imagex.exe", L"tools\\cdimage.exe", L"tools\\oscdimg.exe"}) {
            CopyFileW((ExeFolder() + file).c_str(), Inst(file).c_str(), FALSE);
        }
        WriteBytes(start / L"disk7.img", "");
        Sh("ln -sfn '" + UnixPath(start / L"disk7.img") + "' \"$WINEPREFIX/dosdevices/physicaldrive7\"");
    }

    ChildResult Run(const std::wstring& arguments, const std::string& input = "") const
    {
        return RunProgram(L"\"" + Inst(L"tarnwick.exe") + L"\" " + arguments, start.path(), input);
    }
    std::wstring Inst(const std::wstring& name) const { return start / (L"inst\\" + name); }
    // Text of the scratch folder with "@" standing for its path.
    std::string At(const std::string& text) const
    {
        std::string result;
        for (char c : text) {
            result += c == '@' ? ToUtf8(start.path()) : std::string(1, c);
        }
        return result;
    }
    std::wstring WorkFolder() const { return start / L"local\\Tarnwick"; }
    ChildResult CtrlCWhen(const std::wstring& arguments, const std::function<bool()>& ready) const;

    ScratchFolder start;
    EnvScope local{L"LOCALAPPDATA", start / L"local"};
    ToolsFirstOnPath toolsFirst;
};

// The installation folder stays as shipped: the log goes to the user's folder.
TEST_F(HostRun, EsdToIsoWorksInTheUsersFolderOnAbsolutePaths)
{
    const ChildResult failed = Run(L"esd-to-iso missing.esd out.iso");
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_FALSE(Holds(failed.stdoutBytes, "ESD file: ")) << "the echo goes to the log";
    EXPECT_TRUE(Holds(ReadBytes(WorkFolder() + L"\\tarnwick.log"), At(" ESD file: @\\missing.esd")));
    EXPECT_TRUE(
        Holds(failed.stderrBytes, "tarnwick: esd-to-iso failed\r\nLog file: " + ToUtf8(WorkFolder()) + "\\tarnwick.log"));
    EXPECT_TRUE(Holds(failed.stderrBytes, "ConvertESDToISO failed: Error: ESD file not found"));
    EXPECT_FALSE(Exists(Inst(L"tarnwick.log")));
}

BOOL WINAPI IgnoreCtrlC(DWORD event)
{
    return event == CTRL_C_EVENT;
}

// Starts tarnwick with ARGUMENTS in the scratch folder and presses Ctrl+C once
// READY holds. Ctrl+C goes to every process of the console: the host's and
// the test's own, which ignores it.
ChildResult HostRun::CtrlCWhen(const std::wstring& arguments, const std::function<bool()>& ready) const
{
    // Wine starts the test with a windowless console that takes no signal.
    FreeConsole();
    EXPECT_TRUE(AllocConsole()) << GetLastError();
    SetConsoleCtrlHandler(IgnoreCtrlC, TRUE);
    StartedProgram host(L"\"" + Inst(L"tarnwick.exe") + L"\" " + arguments, start.path());
    for (int tries = 0; tries < 600 && !ready(); ++tries) {
        Sleep(100);
    }
    EXPECT_TRUE(ready()) << "never ready for Ctrl+C";
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    // Wine may deliver the event here only after a host that ended at once:
    // this process keeps ignoring it.
    return host.Wait();
}

TEST_F(HostRun, EsdToIsoStopsOnCtrlCLeavingNothing)
{
    StandinJournal journal;
    std::string lines;
    for (int percent = 0; percent < 100; ++percent) {
        lines += "Archiving file data: 1 MiB of 2 MiB (" + std::to_string(percent) + "%) done\r";
    }
    journal.Respond(4, 0, 0, lines, 200);
    // A WIM header of six images: the library reads no further.
    WriteBytes(start / L"in.esd", std::string("MSWIM\0\0\0", 8) + std::string(36, '\0') + std::string("\6\0\0\0", 4));
    WriteBytes(start / L"old.iso", "old");
    const std::vector<std::wstring> workFolders = ListNames(TempFolder(), L"ESD_");
    const ChildResult cancelled =
        CtrlCWhen(L"esd-to-iso --force in.esd old.iso", [&] { return journal.Pid(4) != 0; });
    EXPECT_EQ(cancelled.exitCode, 130u);
    EXPECT_EQ(cancelled.stderrBytes, "tarnwick: esd-to-iso cancelled\r\n");
    EXPECT_EQ(cancelled.stdoutBytes.find(At("replacing @\\old.iso (3 bytes, ")), 0u) << cancelled.stdoutBytes;
    // No echo, and without the ESD's image sizes the records are the bar.
    EXPECT_FALSE(Holds(cancelled.stdoutBytes, "ESD file: "));
    EXPECT_TRUE(Holds(cancelled.stdoutBytes, "\r\nprogress   0%  ")) << cancelled.stdoutBytes;
    EXPECT_TRUE(Holds(cancelled.stdoutBytes, "progress  60%  "));
    EXPECT_EQ(journal.Count(), 4u);
    EXPECT_FALSE(journal.Running(4));
    EXPECT_EQ(ReadBytes(start / L"old.iso"), "old");
    EXPECT_EQ(ListNames(start.path(), L"old.iso"), std::vector<std::wstring>{L"old.iso"}) << "no .partial, no .lock";
    EXPECT_EQ(ListNames(TempFolder(), L"ESD_"), workFolders);
}

// Ctrl+C stops the tool that runs, which would otherwise wait for ever, and
// the ISO that stood in the target was never touched; what the ISO tool had
// begun beside it is gone. --clean and --driver reach the
// library: its clean clear-out batch, and every driver folder it refuses.
TEST_F(HostRun, MakePeCancelledWhileAToolRunsLeavesTheIsoThatStoodThere)
{
    const std::wstring iso = start / L"out\\boot.iso";
    const struct {
        const char* tool;
        unsigned call;
        bool toolWritesIso;
    } cases[] = {{"oscdimg", 2, true}, {"WIM tool", 1, false}};
    for (const auto& c : cases) {
        WriteBytes(iso, "old");
        StandinJournal journal;
        journal.Script(c.call, "0 0 0 wait=never");
        const ChildResult cancelled =
            CtrlCWhen(L"make-pe --deliver iso --clean --force --target out --startup inst\\tarnwick.exe inst", [&] {
                return journal.Pid(c.call) != 0 && (!c.toolWritesIso || WriteBytes(iso + L".partial", "new"));
            });
        EXPECT_EQ(cancelled.exitCode, 130u);
        EXPECT_TRUE(Holds(cancelled.stderrBytes, "tarnwick: make-pe cancelled\r\n")) << cancelled.stderrBytes;
        EXPECT_FALSE(journal.Running(c.call));
        EXPECT_TRUE(Holds(journal.Stdin(1), Utf16("delete --force --recursive \"\\TarnwickToolset\"\r\n")));
        EXPECT_EQ(ReadBytes(iso), "old");
        EXPECT_FALSE(Exists(iso + L".partial"));
    }
    MakeTree(start / L"good", {}, {{L"\\d.inf", kUsableInf}, {L"\\d.cat", ""}});
    const ChildResult refused = Run(L"make-pe --deliver iso --network --driver out --driver good --driver missing "
                                    L"--force --target out --startup inst\\tarnwick.exe inst");
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_TRUE(Holds(refused.stderrBytes, At("error: BuildPE: No usable driver package in @\\out: no .inf file\r\n"
                                              "tarnwick: BuildPE: No usable driver package in @\\out: no .inf file\r\n"
                                              "tarnwick: BuildPE: Driver folder not found: @\\missing\r\n")))
        << refused.stderrBytes;
}

// The copy of winre.wim cannot be stopped, and a configuration stops only
// once its tool is done: Ctrl+C ends both with the same exit code.
TEST_F(HostRun, CtrlCWhileAToolRunsExitsWith130)
{
    const struct {
        const wchar_t* arguments;
        const char* cancelled;
    } cases[] = {{L"extract-winre winre.wim", "tarnwick: extract-winre cancelled; the copy is deleted\r\n"},
                 {L"configure-boot-wim", "tarnwick: configure-boot-wim cancelled\r\n"}};
    MakeTree(Inst(L"PE\\pe_requirements"), {L"\\system"}, {{L"\\system\\x.dll", ""}});
    for (const auto& c : cases) {
        StandinJournal journal;
        journal.Respond(1, 0, 2000);
        const ChildResult cancelled = CtrlCWhen(c.arguments, [&] { return journal.Pid(1) != 0; });
        EXPECT_EQ(cancelled.exitCode, 130u) << ToUtf8(c.arguments);
        EXPECT_TRUE(Holds(cancelled.stderrBytes, c.cancelled)) << cancelled.stderrBytes;
        EXPECT_FALSE(Exists(start / L"winre.wim"));
    }
}

TEST_F(HostRun, MakePeReportsTheFailureRecordAndTheLogInTheUsersFolder)
{
    RemoveTree(Inst(L"PE"));
    const ChildResult failed = Run(L"make-pe --deliver iso --target . --startup inst\\tarnwick.exe inst");
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_TRUE(Holds(failed.stdoutBytes, "progress   0%  0:0"));
    EXPECT_TRUE(Holds(failed.stderrBytes, "error: "));
    EXPECT_TRUE(Holds(failed.stderrBytes,
                      "tarnwick: make-pe failed\r\nLog file: " + ToUtf8(WorkFolder()) + "\\tarnwick.log\r\n"));
    EXPECT_TRUE(Holds(failed.stderrBytes, "PEMaker::Init: Source WIM not found at"));
}

// A pipe cannot answer for the user: "y" from one restarts nothing.
TEST_F(HostRun, RestartDeliveryWithoutAConsoleNeedsYes)
{
    StandinJournal journal;
    const ChildResult refused = Run(L"make-pe --deliver restart --startup inst\\tarnwick.exe inst", "y\r\n");
    EXPECT_EQ(refused.exitCode, 2u);
    EXPECT_EQ(refused.stdoutBytes, "");
    EXPECT_EQ(refused.stderrBytes, "tarnwick: --deliver restart restarts this computer; add --yes to confirm\r\n");
    EXPECT_EQ(journal.Count(), 0u);
    EXPECT_FALSE(Exists(WorkFolder() + L"\\tarnwick.log"));
}

// Ctrl+C within the restart's delay aborts it, as "shutdown /a" does on
// Windows; the entry stays for the next start.
TEST_F(HostRun, CtrlCWithinTheRestartDelayAbortsTheRestart)
{
    StandinJournal journal;
    journal.RespondTool(L"bcdedit", 0, 0, "{0f1e2d3c-0000-4000-8000-000000000001}\r\n");
    const ChildResult stopped = CtrlCWhen(L"make-pe --deliver restart --yes --startup inst\\tarnwick.exe inst", [&] {
        return journal.Count() > 0 && journal.Tool(journal.Count()) == "shutdown";
    });
    EXPECT_EQ(stopped.exitCode, 130u) << stopped.stderrBytes;
    EXPECT_TRUE(Holds(stopped.stdoutBytes, "restarting in 5 seconds; Ctrl+C to stop\r\n"));
    EXPECT_FALSE(Holds(stopped.stdoutBytes, "restarting\r\n"));
    EXPECT_TRUE(Holds(stopped.stderrBytes, "tarnwick: restart stopped; boot entry "
                                           "{0f1e2d3c-0000-4000-8000-000000000001} stays and boots at the next start\r\n"))
        << stopped.stderrBytes;
    ASSERT_GE(journal.Count(), 2u);
    EXPECT_TRUE(Holds(journal.CommandLine(journal.Count() - 1), "shutdown.exe\" /r /t 5"));
    EXPECT_TRUE(Holds(journal.CommandLine(journal.Count()), "shutdown.exe\" /a"));
}

// The command interpreter looks in the current folder first, so the host
// must not leave the library in the folder it was started from.
TEST_F(HostRun, RunsNoProgramPlantedInTheFolderItIsStartedFrom)
{
    for (const wchar_t* tool : {L"ROBOCOPY", L"oscdimg", L"bcdedit", L"shutdown", L"reagentc"}) {
        WriteBytes(start / (std::wstring(tool) + L".bat"),
                   "@echo ran> \"" + ToUtf8(start / (L"ran-" + std::wstring(tool))) + "\"\r\n");
    }
    const std::wstring app = L" --startup \"" + Inst(L"tarnwick.exe") + L"\" \"" + (start / L"inst") + L"\"";
    // A successful build names each INF it leaves out of load.cmd.
    MakeTree(start / L"good", {}, {{L"\\d.inf", kUsableInf}, {L"\\d.cat", ""}, {L"\\autorun.inf", "[AutoRun]\r\n"}});
    const struct {
        std::wstring arguments;
        DWORD exitCode;
        const char* tool;  // must run, from the user's folder
        std::string shown;
    } cases[] = {
        {L"make-pe --deliver iso --driver good --target \"" + (start / L"out") + L"\"" + app, 0, "wimlib-imagex",
         At("\r\nskipped: @\\good\\autorun.inf: no catalogue named in [Version]\r\n"
            "ISO written: @\\out\\boot.iso (0 bytes)\r\n")},
        {L"make-pe --deliver restart --yes" + app, 0, "bcdedit",
         "boot entry {0f1e2d3c-0000-4000-8000-000000000001} made\r\nrestarting in 5 seconds; Ctrl+C to stop\r\n"
         "boot entry {0f1e2d3c-0000-4000-8000-000000000001} made; restarting\r\n"},
        {L"extract-winre \"" + (start / L"winre.wim") + L"\"", 1, "reagentc", ""},
    };
    for (const auto& c : cases) {
        StandinJournal journal;
        journal.RespondTool(L"bcdedit", 0, 0, "{0f1e2d3c-0000-4000-8000-000000000001}\r\n");
        journal.RespondTool(L"reagentc", 0, 0, "no recovery location\r\n");
        const ChildResult result = Run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << ToUtf8(c.arguments) << "\n" << result.stderrBytes;
        EXPECT_TRUE(Holds(result.stdoutBytes, c.shown)) << result.stdoutBytes;
        for (const std::wstring& ran : ListNames(start.path(), L"ran-")) {
            ADD_FAILURE() << ToUtf8(ran) << " for " << ToUtf8(c.arguments);
            DeleteFileW((start / ran).c_str());
        }
        unsigned runs = 0;
        for (unsigned call = 1; call <= journal.Count(); ++call) {
            if (journal.Tool(call) == c.tool) {
                ++runs;
                EXPECT_EQ(journal.WorkDir(call), ToUtf8(WorkFolder()));
            }
        }
        EXPECT_GT(runs, 0u) << c.tool << " did not run for " << ToUtf8(c.arguments);
    }
    EXPECT_TRUE(Holds(ReadBytes(WorkFolder() + L"\\tarnwick.log"), "not find recovery partition"));
}

TEST_F(HostRun, ChecksFilesTargetsToolsAndDisksBeforeCallingTheLibrary)
{
    MakeTree(start.path(), {L"\\app", L"\\app2", L"\\other", L"\\blocked", L"\\blocked\\boot.iso", L"\\notiso",
                            L"\\locked", L"\\locked\\new.iso.partial"},
             {{L"\\app\\app.exe", "MZ"}, {L"\\app\\readme.txt", "MZ"}, {L"\\app2\\app.exe", "MZ"},
              {L"\\other\\tool.exe", "MZ"}, {L"\\notiso\\boot.iso", "notes"}, {L"\\app.exe", "MZ"}});
    Sh("truncate -s 15T '" + UnixPath(start / L"huge.esd") + "'");
    // Later options win.
    const std::wstring iso = L"make-pe --deliver iso --target out ";
    const std::wstring disk = L"make-pe --deliver disk --target ";
    const std::wstring app = L" --startup app\\app.exe app";
    const std::wstring systemOnly = L"C:\\windows\\system32";
    const char* const notIso = " exists and is not an ISO image; add --force to replace it\r\n";
    const struct {
        std::wstring arguments;
        DWORD exitCode;
        std::string message;  // "@" is the folder tarnwick is started from
        const wchar_t* hidden = nullptr;  // a file of the installation taken away
        const wchar_t* path = nullptr;    // PATH, when not the stand-ins first
    } cases[] = {
        {iso + L"--startup app\\app.exe app missing", 2, "tarnwick: SOURCE not found: @\\missing\r\n"},
        {iso + L"--startup app\\gone.exe app", 2, "tarnwick: --startup program not found: @\\app\\gone.exe\r\n"},
        {iso + L"--startup app app", 2, "tarnwick: --startup program not found: @\\app\r\n"},
        {iso + L"--startup app2\\app.exe app", 2,
         "tarnwick: --startup program @\\app2\\app.exe is not inside any SOURCE"},
        {iso + L"--startup app\\app.exe app\\readme.txt other", 2, "@\\app\\app.exe is not inside any SOURCE"},
        // A disk delivery to a number the library cannot take, to no disk, to
        // the system's disk (under Wine \\.\C: is disk 0), without a console.
        {iso + L"--deliver disk --target 99999999999" + app, 2,
         "tarnwick: --target of --deliver disk must be a disk number from 0 to 2147483647\r\n"},
        {disk + L"2147483647 --yes" + app, 2, "tarnwick: disk 2147483647 not found\r\n"},
        {disk + L"0 --yes" + app, 2, "tarnwick: disk 0 holds the running system; refusing to erase it\r\n"},
        // Under Wine a disk answers no query (error 50, not supported): its size is unknown.
        {disk + L"7 --yes" + app, 2, "tarnwick: disk 7 cannot be identified (error 50); refusing to erase it\r\n"},
        {disk + L"7 --unknown-disk" + app, 2, "tarnwick: --deliver disk erases disk 7; add --yes to confirm\r\n"},
        {iso + L"--target nowhere" + app, 2, "tarnwick: --target folder @\\nowhere does not exist\r\n"},
        {iso + L"--target app\\readme.txt" + app, 2, "tarnwick: --target @\\app\\readme.txt is not a folder\r\n"},
        {iso + L"--target blocked" + app, 2, "tarnwick: ISO path is a folder: @\\blocked\\boot.iso\r\n"},
        {iso + L"--target notiso" + app, 2, std::string("tarnwick: @\\notiso\\boot.iso") + notIso},
        {iso + L"--target notiso --force" + app, 0, ""},
        {iso + L"--target " + std::wstring(250, L'x') + app, 2, "\\boot.iso would be longer than 250 characters\r\n"},
        {iso + L"--target app\\sub\\.." + app, 2, "tarnwick: --target folder @\\app is inside SOURCE @\\app\r\n"},
        {iso + L"--startup APP\\App.EXE other app\\", 0, ""},
        {iso + L"--startup app\\app.exe APP\\APP.EXE", 0, ""},
        // A relative --startup is looked for in the SOURCE folders before the current one.
        {iso + L"--startup app.exe other app", 0, ""},
        {L"esd-to-iso app\\app.exe nowhere\\out.iso", 2,
         "tarnwick: folder of ISO @\\nowhere\\out.iso does not exist: @\\nowhere\\\r\n"},
        {L"esd-to-iso app\\app.exe APP\\APP.EXE", 2, "tarnwick: ISO @\\APP\\APP.EXE is the ESD file\r\n"},
        {L"esd-to-iso app\\app.exe blocked", 2, "tarnwick: ISO path is a folder: @\\blocked\r\n"},
        {L"esd-to-iso app\\app.exe app\\readme.txt", 2, std::string("tarnwick: @\\app\\readme.txt") + notIso},
        // An ISO folder the ISO tool cannot write its file into (on Windows, one
        // whose ACL denies it; here a folder is in the way), and a volume with
        // less room than the ESD's size (a sparse 15 TiB ESD).
        {L"esd-to-iso app\\app.exe locked\\new.iso", 2, "tarnwick: @\\locked cannot be written (error "},
        {L"esd-to-iso huge.esd new.iso", 2,
         " MiB free; the ISO needs about 15728640 MiB\r\ntarnwick: add --force to try anyway\r\n"},
        {L"esd-to-iso --force huge.esd new.iso", 1, "error: Error: Not a WIM or ESD file\r\n"},
        // The library reads the header first and refuses before the ISO is touched.
        {L"esd-to-iso --force app\\app.exe app\\readme.txt", 1, "error: Error: Not a WIM or ESD file\r\n"},
        {L"configure-boot-wim", 2,
         "tarnwick: wimlib-imagex.exe not found (looked in @\\inst\\tools; @\\local\\Tarnwick\\tools)\r\n",
         L"tools\\wimlib-imagex.exe"},
        {L"esd-to-iso app\\app.exe new.iso", 2,
         "tarnwick: cdimage.exe not found (looked in @\\inst\\tools; @\\local\\Tarnwick\\tools)\r\n",
         L"tools\\cdimage.exe"},
        {iso + app, 2, "tarnwick: oscdimg.exe not found (looked in @\\inst\\PE; PATH; @\\inst\\tools)\r\n",
         L"tools\\oscdimg.exe", systemOnly.c_str()},
        // The installation's own oscdimg.exe, found at the end of the search path.
        {iso + app, 0, "", nullptr, systemOnly.c_str()},
    };
    for (const auto& c : cases) {
        StandinJournal journal;
        EnvScope path(L"PATH", c.path ? c.path : Env(L"PATH"));
        const std::wstring hidden = c.hidden ? Inst(c.hidden) : L"";
        if (c.hidden) {
            MoveFileW(hidden.c_str(), (hidden + L".away").c_str());
        }
        // What a journalled ISO tool left is no ISO: the next case would be refused.
        DeleteFileW((start / L"out\\boot.iso").c_str());
        const std::string logBefore = ReadBytes(WorkFolder() + L"\\tarnwick.log");
        const ChildResult result = Run(c.arguments);
        if (c.hidden) {
            MoveFileW((hidden + L".away").c_str(), hidden.c_str());
        }
        // 0 also means that the library found the start-up program in a source.
        EXPECT_EQ(result.exitCode, c.exitCode) << ToUtf8(c.arguments) << "\n" << result.stderrBytes;
        EXPECT_TRUE(Holds(result.stderrBytes, At(c.message))) << ToUtf8(c.arguments) << "\n" << result.stderrBytes;
        const std::string log = ReadBytes(WorkFolder() + L"\\tarnwick.log").substr(logBefore.size());
        if (c.exitCode == 2) {
            EXPECT_EQ(result.stdoutBytes, "") << ToUtf8(c.arguments);
            EXPECT_EQ(journal.Count(), 0u) << ToUtf8(c.arguments);
            // Only a refused disk is logged.
            const bool diskRefused = c.message.compare(0, 15, "tarnwick: disk ") == 0;
            EXPECT_EQ(log.empty(), !diskRefused) << ToUtf8(c.arguments) << "\n" << log;
            EXPECT_TRUE(!diskRefused || Holds(log, c.message.substr(0, c.message.size() - 2))) << log;
        }
    }
    EXPECT_EQ(ReadBytes(start / L"notiso\\boot.iso"), "") << "replaced with --force by what the scripted tool wrote";
    EXPECT_EQ(ReadBytes(start / L"app\\readme.txt"), "MZ");
    EXPECT_FALSE(Exists(Inst(L"tarnwick.log")));
}

// A sample ESD converted by journalling tools ends with the ISO and the
// editions its XML names; a failing tool is named with its cause in words.
TEST_F(HostRun, EsdToIsoEndsWithTheIsoAndItsEditionsOrTheToolsCause)
{
    Sh(SourceDir() + "/scripts/make-sample-esd.sh '" + UnixPath(start / L"s.esd") + "'");
    const std::wstring iso = start / L"out.iso";
    const struct {
        const wchar_t* options;
        std::string editions;
    } cases[] = {{L"", "Windows 10 Pro"}, {L"--edition all ", "Windows 10 Pro, Windows 10 Home, Windows 10 Education"}};
    for (const auto& c : cases) {
        StandinJournal journal;
        journal.Respond(4, 0, 0, "Image Count: 6\n");
        DeleteFileW(iso.c_str());
        const ChildResult done = Run(std::wstring(L"esd-to-iso ") + c.options + L"s.esd out.iso");
        EXPECT_EQ(done.exitCode, 0u) << done.stderrBytes;
        const std::string line = "install ISO written: " + ToUtf8(iso) + " (" + host::SizeText(FileSize(iso)) +
                                 "), editions: " + c.editions + "\r\n";
        EXPECT_EQ(done.stdoutBytes.substr(done.stdoutBytes.size() - std::min(line.size(), done.stdoutBytes.size())),
                  line);
        EXPECT_FALSE(Holds(done.stdoutBytes, "Command: "));
    }
    StandinJournal journal;
    journal.RespondTool(L"cdimage", 32, 0, "xorriso : FAILURE : Cannot open 'out.iso.partial': Permission denied\n");
    const ChildResult failed = Run(L"esd-to-iso --force s.esd out.iso");
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.stderrBytes, "tarnwick: cdimage: the ISO folder cannot be written (exit 32)\r\nLog file: " +
                                      ToUtf8(WorkFolder()) + "\\tarnwick.log\r\n");
}

TEST_F(HostRun, FailedDiskDeliveryNamesTheDiskAndTheBootDiskLibraryResult)
{
    const struct {
        bool bootDiskLibrary;
        unsigned long isoToolExit;
        const char* reason;
    } cases[] = {
        {true, 0, "tarnwick: make-pe failed: disk 7 was not written: CreateWindowsBootDisk of Discforge.dll "
                  "returned failure\r\n"},
        {false, 0, "tarnwick: make-pe failed: disk 7 was not written: Discforge.dll or its CreateWindowsBootDisk "
                   "could not be loaded\r\n"},
        {true, 1, "tarnwick: make-pe failed: disk 7 was not written\r\n"},
    };
    for (const auto& c : cases) {
        if (c.bootDiskLibrary) {
            CopyFileW((ExeFolder() + L"Discforge.dll").c_str(), Inst(L"Discforge.dll").c_str(), FALSE);
        } else {
            DeleteFileW(Inst(L"Discforge.dll").c_str());
        }
        StandinJournal journal;
        journal.RespondTool(L"oscdimg", c.isoToolExit);
        const ChildResult result =
            Run(L"make-pe --deliver disk --target 7 --yes --unknown-disk --startup inst\\tarnwick.exe inst");
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_TRUE(Holds(result.stderrBytes, c.reason));
        // Under Wine no system partition is recorded.
        EXPECT_EQ(result.stdoutBytes.find("Disk 7: unknown model, unknown size (error 50), unknown bus\r\n"
                                          "The media boot on UEFI PCs; a raw ISO image on a disk does not boot on "
                                          "BIOS.\r\nNote: whether disk 7 holds the running system could not be "
                                          "determined.\r\n"),
                  0u);
    }
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The last line says what was made: the ISO (after the one it replaces), the
// disk with the size of the media, the configured boot image. The relative
// --startup is found in the SOURCE.
TEST_F(HostRun, EveryCommandEndsWithWhatItMade)
{
    const std::wstring app = L" --startup tarnwick.exe inst";
    WriteBytes(start / L"out\\boot.iso", "old");
    StandinJournal journal;
    ChildResult result = Run(L"make-pe --deliver iso --force --target out" + app);
    EXPECT_EQ(result.exitCode, 0u) << result.stderrBytes;
    EXPECT_EQ(result.stdoutBytes.find(At("replacing @\\out\\boot.iso (3 bytes, 20")), 0u) << result.stdoutBytes;
    EXPECT_TRUE(EndsWith(result.stdoutBytes, At("\r\nISO written: @\\out\\boot.iso (0 bytes)\r\n")))
        << result.stdoutBytes;

    // The same sources again: the image is delivered as it is, so the ISO
    // tool makes the first run.
    StandinJournal diskJournal;
    diskJournal.Script(1, "0 0 0 wait=go");
    StartedProgram disk(
        L"\"" + Inst(L"tarnwick.exe") + L"\" make-pe --deliver disk --target 7 --yes --unknown-disk" + app,
        start.path());
    for (int tries = 0; tries < 600 && diskJournal.Pid(1) == 0; ++tries) {
        Sleep(100);
    }
    EXPECT_EQ(diskJournal.Tool(1), "oscdimg");
    WriteBytes(Inst(L"PE\\boot.iso.partial"), "media");
    diskJournal.Release(L"go");
    result = disk.Wait();
    EXPECT_EQ(result.exitCode, 0u) << result.stderrBytes;
    EXPECT_EQ(ReadBytes(start / L"disk7.img"), "media");
    EXPECT_TRUE(EndsWith(result.stdoutBytes, "\r\ndisk 7 written: 5 bytes\r\n")) << result.stdoutBytes;

    result = Run(L"configure-boot-wim");
    EXPECT_EQ(result.exitCode, 0u) << result.stderrBytes;
    EXPECT_TRUE(EndsWith(result.stdoutBytes, At("BOOT.wim configured: @\\inst\\PE\\ISO\\SOURCES\\BOOT.wim (0 bytes)\r\n")))
        << result.stdoutBytes;
}

}  // namespace
