// MakePEWithOptions: its refusals, and with the real WIM tool the start-up
// file, the driver packages with load.cmd, and the clean application folder.
#include "PETestSupport.h"
#include "WinreImageHost.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace testsupport;
using namespace petest;

namespace {

const std::string kGoodInf = "[Version]\r\nCatalogFile=stor.cat\r\n[Manufacturer]\r\nV=M,NTamd64.10.0...16299\r\n"
                             "[M.NTamd64.10.0...16299]\r\nD=I\r\n"
                             "[SourceDisksNames]\r\n1=d,,,amd64\r\n[SourceDisksFiles]\r\nstor.sys=1\r\n";
const std::string kLaunch = "[LaunchApps]\r\n";
const std::string kDrivers = "%SYSTEMROOT%\\System32\\cmd.exe, /c %SYSTEMDRIVE%\\TarnwickToolset\\Drivers\\load.cmd\r\n";
const std::string kSetup = "%SYSTEMROOT%\\System32\\wpeinit.exe\r\n";
const std::string kNetwork = "%SYSTEMROOT%\\System32\\wpeutil.exe, InitializeNetwork\r\n"
                             "%SYSTEMROOT%\\System32\\wpeutil.exe, WaitForNetwork\r\n";
const std::string kApp = "\"%systemdrive%\\TarnwickToolset\\app.exe\"\r\n";
const std::string kShell = "%systemdrive%\\Windows\\System32\\cmd.exe";

const std::string kProgressLines = "Archiving file data: 0 MiB of 2 MiB (0%) done\r"
                                   "Archiving file data: 1 MiB of 2 MiB (50%) done\r"
                                   "Archiving file data: 2 MiB of 2 MiB (100%) done\r\n";

// The lines of a UTF-16 command file, temporary names masked as <tmp>.
std::vector<std::string> CommandLines(const std::string& utf16)
{
    std::string text;
    for (size_t i = 0; i < utf16.size(); i += 2) {
        text += utf16[i];
    }
    text = std::regex_replace(text, std::regex(R"("[^"]*\\(PES|WIM)[0-9A-Fa-f]+\.tmp")"), "\"<tmp>\"");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// mib files of 1 MiB of random bytes in folder, made by Linux.
void RandomTree(const std::wstring& folder, unsigned mib)
{
    MakeTree(folder, {});
    Sh("for i in $(seq " + std::to_string(mib) + "); do head -c 1048576 /dev/urandom > '" + UnixPath(folder) +
       "'/part$i.bin; done");
}

class MakePEOptionsTest : public PEMakerFixture {
protected:
    void SetUp() override
    {
        WriteBytes(app, "MZapp");
        // A package in a subfolder, and beside it what drvload skips.
        MakeTree(drivers1, {L"\\n&5%", L"\\n&5%\\amd64", L"\\x86"},
                 {{L"\\n&5%\\net.inf", kGoodInf}, {L"\\n&5%\\stor.cat", "cat"}, {L"\\n&5%\\amd64\\stor.sys", "sys"},
                  {L"\\x86\\old.inf", "[Version]\r\nCatalogFile=stor.cat\r\n[Manufacturer]\r\nV=M,NTx86\r\n"},
                  {L"\\x86\\stor.cat", "cat"}, {L"\\autorun.inf", "[AutoRun]\r\nopen=setup.exe\r\n"}});
        // UTF-16 with its byte-order mark, no source files.
        MakeTree(drivers2, {}, {{L"\\disk.inf", "\xFF\xFE" + Utf16("[Version]\r\nCatalogFile.NT=d.cat\r\n[Manufacturer]\r\n"
                                                                  "V=M,NTamd64\r\n[M.NTamd64]\r\nD=I\r\n")},
                                {L"\\d.cat", "cat"}});
    }

    bool Make(const wchar_t* startup, uint32_t flags, std::vector<const wchar_t*> folders, RecordingSink& records,
              const MakePEOptions* given = nullptr)
    {
        const MakePEOptions options = {sizeof(MakePEOptions), flags, folders.data(),
                                       static_cast<uint32_t>(folders.size()), 0, &records};
        const wchar_t* const sources[] = {app.c_str()};
        return LibraryExport<MakePEWithOptions_Fn>("MakePEWithOptions")(sources, 1, startup, 2, nullptr,
                                                                         given ? given : &options);
    }

    // A real image holding the application folder, then, with the real tools,
    // MakePEWithOptions of mib MiB of fresh random files and the application.
    bool BuildWithBigSource(const std::wstring& name, unsigned mib, RecordingSink& records, std::string& imageBefore)
    {
        StandinJournal real;
        real.EnableReal();
        const std::wstring big = scratch / name;
        RandomTree(big, mib);
        const std::wstring tree = scratch / L"tree";
        MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"});
        DeleteFileW(pe.Wim().c_str());
        EXPECT_TRUE(CaptureWim(tree, pe.Wim()));
        imageBefore = ReadBytes(pe.Wim());
        const MakePEOptions options = {sizeof(MakePEOptions), 0, nullptr, 0, 0, &records};
        const wchar_t* const sources[] = {big.c_str(), app.c_str()};
        return LibraryExport<MakePEWithOptions_Fn>("MakePEWithOptions")(sources, 2, app.c_str(), 2, nullptr,
                                                                         &options);
    }

    std::wstring app = scratch / L"app.exe";
    std::wstring drivers1 = scratch / L"drivers1";
    std::wstring drivers2 = scratch / L"drivers2";
};

TEST_F(MakePEOptionsTest, RefusalsComeBeforeAnyToolOrChange)
{
    const std::wstring empty = scratch / L"empty";
    const std::wstring x86 = drivers1 + L"\\x86";
    const std::wstring percent = scratch / L"%TEMP%";
    MakeTree(empty, {});
    MakeTree(percent, {});
    // What a symbolic link or junction is on Windows: Wine shows a Unix link as a reparse point.
    const std::wstring linked = scratch / L"linked";
    const std::wstring peLink = scratch / L"pe-link";
    MakeTree(linked, {L"\\sub"});
    Sh("ln -s '" + UnixPath(drivers2) + "' '" + UnixPath(linked) + "/sub/more' && ln -s '" + UnixPath(pe.path()) +
       "' '" + UnixPath(peLink) + "'");
    const std::wstring inPE = pe / L"ISO";
    const std::wstring aroundPE = ExeFolder().substr(0, ExeFolder().size() - 1);
    const std::string noUsable = "BuildPE: No usable driver package in ";
    const std::string holdsPE = "BuildPE: Driver folder holds the PE folder: ";
    const std::vector<const wchar_t*> hundred(100, drivers2.c_str());
    const MakePEOptions valid = {sizeof(MakePEOptions), 0, nullptr, 0, 0, nullptr};
    const auto with = [&](uint32_t size, uint32_t flags, const wchar_t* const* folders, uint32_t count,
                          uint32_t reserved) { return MakePEOptions{size, flags, folders, count, reserved, nullptr}; };
    const struct {
        const char* name;
        MakePEOptions options;  // its sink is set below
        std::vector<const wchar_t*> folders;
        std::string text;
        bool record;
        std::string alsoLogged = {};  // a further unusable folder
    } cases[] = {
        {"size", with(24, 0, nullptr, 0, 0), {}, "BuildPE: Invalid options", false},
        {"reserved", with(32, 0, nullptr, 0, 1), {}, "BuildPE: Invalid options", false},
        {"flags", with(32, 4, nullptr, 0, 0), {}, "BuildPE: Unknown flags", true},
        {"no folder list", with(32, 0, nullptr, 1, 0), {}, "BuildPE: Invalid options", true},
        {"100 folders", with(32, 0, hundred.data(), 100, 0), {}, "BuildPE: Invalid options", true},
        {"missing folder", valid, {drivers2.c_str(), L"C:\\no\\such"}, "BuildPE: Driver folder not found: C:\\no\\such",
         true},
        {"drive root", valid, {L"C:\\"}, "BuildPE: A drive root cannot be a driver folder: C:\\", true},
        {"no INF", valid, {empty.c_str()}, noUsable + ToUtf8(empty) + ": no .inf file", true},
        {"x86 only", valid, {x86.c_str()}, noUsable + ToUtf8(x86) + ": no NTamd64 models in [Manufacturer]", true},
        {"two unusable of three", valid, {drivers2.c_str(), empty.c_str(), x86.c_str()},
         noUsable + ToUtf8(empty) + ": no .inf file", true,
         noUsable + ToUtf8(x86) + ": no NTamd64 models in [Manufacturer]\r\n"},
        {"link inside", valid, {linked.c_str()}, noUsable + ToUtf8(linked) + ": package holds a link: sub\\more", true},
        {"PE folder through a link", valid, {peLink.c_str()}, holdsPE + ToUtf8(peLink), true},
        {"inside the PE folder", valid, {inPE.c_str()}, holdsPE + ToUtf8(inPE), true},
        {"around the PE folder", valid, {aroundPE.c_str()}, holdsPE + ToUtf8(aroundPE), true},
        {"interpreter", valid, {percent.c_str()}, "Path not supported by the command interpreter", true},
    };
    WriteBytes(pe.Wim(), "image");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinJournal tools;
        RecordingSink records;
        MakePEOptions options = c.options;
        options.sink = &records;
        if (!c.folders.empty()) {
            options.driverFolders = c.folders.data();
            options.driverFolderCount = static_cast<uint32_t>(c.folders.size());
        }
        LogWatch log;
        EXPECT_FALSE(Make(app.c_str(), 0, {}, records, &options));
        EXPECT_EQ(records.Values(), c.record ? std::vector<long long>{-1} : std::vector<long long>{});
        EXPECT_EQ(records.records.empty() ? "" : records.records[0].message, c.record ? c.text : "");
        EXPECT_TRUE(Holds(log.Added(), "CPEMaker::CreatePE:"));
        EXPECT_TRUE(Holds(log.Added(), c.text));
        EXPECT_TRUE(Holds(log.Added(), c.alsoLogged));
        EXPECT_EQ(tools.Count(), 0u);
        EXPECT_EQ(ReadBytes(pe.Wim()), "image");
    }
    LogWatch log;
    EXPECT_FALSE(LibraryExport<MakePEWithOptions_Fn>("MakePEWithOptions")(nullptr, 0, nullptr, 2, nullptr, nullptr));
    EXPECT_TRUE(Holds(log.Added(), " BuildPE: Invalid options\r\n"));
}

// wpeinit first in every image, then the drivers, then the network, so that
// an adapter whose driver load.cmd loaded comes up; with and without the
// application. load.cmd names the accepted INFs only.
TEST_F(MakePEOptionsTest, StartupFileDriverPackagesAndACleanAppFolderInTheRealImage)
{
    const std::wstring tree = scratch / L"tree";
    MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"},
             {{L"\\TarnwickToolset\\Brightmoor\\old.txt", "previous build"}});
    const std::wstring stock = scratch / L"stock";
    MakeTree(stock, {L"\\Windows"});
    MakeTree(pe / L"pe_requirements", {L"\\cef"}, {{L"\\cef\\cef.pak", "cef"}});
    // A folder given as a symbolic link or junction: its target goes in.
    const std::wstring drivers2Link = scratch / L"drivers2-link";
    Sh("ln -s '" + UnixPath(drivers2) + "' '" + UnixPath(drivers2Link) + "'");
    const struct {
        const wchar_t* startup;
        uint32_t flags;
        std::vector<const wchar_t*> folders;
        std::string winpeshl;
    } cases[] = {
        {app.c_str(), 0, {}, kLaunch + kSetup + kApp + kShell},
        {app.c_str(), kMakePENetwork, {}, kLaunch + kSetup + kNetwork + kApp + kShell},
        {L"", kMakePENetwork, {}, kLaunch + kSetup + kNetwork + kShell},
        {app.c_str(), 0, {drivers1.c_str()}, kLaunch + kSetup + kDrivers + kApp + kShell},
        {L"", kMakePECleanAppFolder, {drivers1.c_str(), drivers2Link.c_str()}, kLaunch + kSetup + kDrivers + kShell},
        {app.c_str(), kMakePENetwork | kMakePECleanAppFolder, {drivers2.c_str()},
         kLaunch + kSetup + kDrivers + kNetwork + kApp + kShell},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.winpeshl);
        const bool clean = (c.flags & kMakePECleanAppFolder) != 0;
        DeleteFileW(pe.Wim().c_str());
        // The clean folder also works on a stock image without \TarnwickToolset.
        ASSERT_TRUE(CaptureWim(clean ? stock : tree, pe.Wim()));
        StandinJournal tools;
        tools.EnableReal();
        RecordingSink records;
        LogWatch log;
        ASSERT_TRUE(Make(c.startup, c.flags, c.folders, records)) << log.Added();
        EXPECT_EQ(WimFile(pe.Wim(), "/Windows/System32/winpeshl.ini"), Utf16(c.winpeshl));
        const std::string listing = WimListing(pe.Wim());
        EXPECT_EQ(Holds(listing, "/TarnwickToolset/Brightmoor/old.txt\n"), !clean);
        EXPECT_EQ(Holds(listing, "/TarnwickToolset/Brightmoor/cef.pak\n"), clean);
        EXPECT_EQ(Holds(listing, "/TarnwickToolset/Drivers/load.cmd\n"), !c.folders.empty());
        EXPECT_EQ(Holds(log.Added(), "BuildPE: Driver package skipped: " + ToUtf8(drivers1) + "\\x86\\old.inf: "
                                     "no NTamd64 models in [Manufacturer]\r\n"),
                  !c.folders.empty() && c.folders[0] == drivers1.c_str());
        if (c.folders.size() == 2) {
            EXPECT_EQ(Sh("wimlib-imagex dir '" + UnixPath(pe.Wim()) + "' 1 --path=/TarnwickToolset/Drivers"),
                      "/TarnwickToolset/Drivers\n/TarnwickToolset/Drivers/01\n/TarnwickToolset/Drivers/01/autorun.inf\n"
                      "/TarnwickToolset/Drivers/01/n&5%\n/TarnwickToolset/Drivers/01/n&5%/amd64\n"
                      "/TarnwickToolset/Drivers/01/n&5%/amd64/stor.sys\n/TarnwickToolset/Drivers/01/n&5%/net.inf\n"
                      "/TarnwickToolset/Drivers/01/n&5%/stor.cat\n/TarnwickToolset/Drivers/01/x86\n"
                      "/TarnwickToolset/Drivers/01/x86/old.inf\n/TarnwickToolset/Drivers/01/x86/stor.cat\n"
                      "/TarnwickToolset/Drivers/02\n/TarnwickToolset/Drivers/02/d.cat\n"
                      "/TarnwickToolset/Drivers/02/disk.inf\n/TarnwickToolset/Drivers/load.cmd\n");
            // The folder's % doubled, its & escaped where unquoted.
            EXPECT_EQ(WimFile(pe.Wim(), "/TarnwickToolset/Drivers/load.cmd"),
                      "@echo off\r\n"
                      "set LOG=%SYSTEMROOT%\\Temp\\tarnwick-drivers.log\r\n"
                      ">>\"%LOG%\" echo %DATE% %TIME% tarnwick: loading 2 driver packages\r\n"
                      "echo Loading driver 1 of 2: 01\\n^&5%%\\net.inf\r\n"
                      ">>\"%LOG%\" echo %TIME% 01\\n^&5%%\\net.inf\r\n"
                      "drvload \"%~dp001\\n&5%%\\net.inf\">>\"%LOG%\" 2>&1\r\n"
                      ">>\"%LOG%\" echo %TIME% 01\\n^&5%%\\net.inf exit %ERRORLEVEL%\r\n"
                      "echo Loading driver 2 of 2: 02\\disk.inf\r\n"
                      ">>\"%LOG%\" echo %TIME% 02\\disk.inf\r\n"
                      "drvload \"%~dp002\\disk.inf\">>\"%LOG%\" 2>&1\r\n"
                      ">>\"%LOG%\" echo %TIME% 02\\disk.inf exit %ERRORLEVEL%\r\n"
                      "exit /b 0\r\n");
        }
    }
}

}  // namespace

// The whole build is one run of the WIM tool, without a rebuild: the
// clear-out, the sources, the drivers with load.cmd, then winpeshl.ini.
TEST_F(MakePEOptionsTest, OneUpdateRunHoldsTheWholeBuildInOrder)
{
    MakeTree(pe / L"pe_requirements", {L"\\cef"});
    const std::string toolset = "\"\\TarnwickToolset\"";
    const std::string empty = "add \"" + ToUtf8(temp.path()) + "\\_wim_empty\" " + toolset;
    const std::vector<std::string> keptAppClearOut = {
        "rename \"\\TarnwickToolset\\Brightmoor\" \"\\_Brightmoor\"", "delete --recursive " + toolset, empty,
        "rename \"\\_Brightmoor\" \"\\TarnwickToolset\\Brightmoor\""};
    const std::string addApp = "add \"" + ToUtf8(app) + "\" \"\\TarnwickToolset\\app.exe\"";
    const std::string winpeshl = "add \"<tmp>\" \"\\Windows\\System32\\winpeshl.ini\"";
    const struct {
        uint32_t flags;
        std::vector<const wchar_t*> folders;
        std::vector<std::string> lines;
    } cases[] = {
        {0, {}, {}},
        {kMakePENetwork, {}, {}},
        {kMakePECleanAppFolder, {},
         {"delete --force --recursive " + toolset, empty,
          "add \"" + ToUtf8(pe / L"pe_requirements\\cef") + "\" \"\\TarnwickToolset\\Brightmoor\"", addApp, winpeshl}},
        {0, {drivers1.c_str(), drivers2.c_str()},
         {"add \"" + ToUtf8(drivers1) + "\" \"\\TarnwickToolset\\Drivers\\01\"",
          "add \"" + ToUtf8(drivers2) + "\" \"\\TarnwickToolset\\Drivers\\02\"",
          "add \"<tmp>\" \"\\TarnwickToolset\\Drivers\\load.cmd\"", winpeshl}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags + 10 * c.folders.size());
        WriteBytes(pe.Wim(), "image");
        StandinJournal tools;
        RecordingSink records;
        ASSERT_TRUE(Make(app.c_str(), c.flags, c.folders, records));
        ASSERT_EQ(tools.Count(), 2u) << "one WIM run, then the ISO";
        EXPECT_FALSE(Holds(tools.CommandLine(1), "--rebuild"));
        std::vector<std::string> expected = c.lines;
        if (!(c.flags & kMakePECleanAppFolder)) {
            expected = keptAppClearOut;
            expected.push_back(addApp);
            expected.insert(expected.end(), c.lines.begin(), c.lines.end());
            if (c.lines.empty()) {
                expected.push_back(winpeshl);
            }
        }
        EXPECT_EQ(CommandLines(tools.Stdin(1)), expected);
    }
}

// The one WIM run's "(NN%)" moves the value from the one sent before it
// towards the record that closes the stage.
TEST_F(MakePEOptionsTest, ProgressInsideTheStagesFromTheWimToolsOwnLines)
{
    journal.RespondTool(L"wimlib-imagex", 0, 0, kProgressLines);
    RecordingSink records;
    ASSERT_TRUE(Make(app.c_str(), 0, {drivers2.c_str()}, records));
    EXPECT_EQ(records.Values(), (std::vector<long long>{0, 5, 47, 89, 90, 90, 100}));
    EXPECT_FALSE(Holds(journal.CommandLine(1), "--quiet")) << "the progress is read";

    // A failing update is logged without its progress lines.
    StandinJournal failing;
    failing.RespondTool(L"wimlib-imagex", 0);
    failing.Respond(1, 1, 0, kProgressLines + "error: no space left\r\n");
    LogWatch log;
    RecordingSink failed;
    EXPECT_FALSE(Make(app.c_str(), 0, {}, failed));
    EXPECT_TRUE(Holds(log.Added(), "error: no space left"));
    EXPECT_FALSE(Holds(log.Added(), "file data"));

    // The real tool, adding 100 MiB of fresh data.
    RecordingSink measured;
    std::string before;
    ASSERT_TRUE(BuildWithBigSource(L"big", 100, measured, before));
    std::set<long long> inside;
    for (const long long value : measured.Values()) {
        if (value > 5 && value < 90) {
            inside.insert(value);
        }
    }
    EXPECT_GE(inside.size(), 10u) << "values inside the update's stage, from 5 to 90";
}

// With the real WIM tool: the same sources leave the image as it is, an
// unchanged application with new times is only referenced again, a changed file has its new content and a removed one is gone, the
// PE folder stays out of a source that holds it (named in another case as
// Windows allows), and builds whose every file changed keep the image within
// half again of the same image rewritten whole.
TEST_F(MakePEOptionsTest, AnUnchangedApplicationCostsNoDataAndTheImageStaysBounded)
{
    StandinJournal real;
    real.EnableReal();
    const std::wstring tree = scratch / L"tree";
    MakeTree(tree, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"});
    const auto fresh = [&] {
        DeleteFileW(pe.Wim().c_str());
        ASSERT_TRUE(CaptureWim(tree, pe.Wim()));
    };
    const auto build = [&](const std::vector<std::wstring>& sources, const std::wstring& startup) {
        RecordingSink records;
        const MakePEOptions options = {sizeof(MakePEOptions), kMakePECleanAppFolder, nullptr, 0, 0, &records};
        std::vector<const wchar_t*> list;
        for (const std::wstring& source : sources) {
            list.push_back(source.c_str());
        }
        LogWatch log;
        const bool made = LibraryExport<MakePEWithOptions_Fn>("MakePEWithOptions")(
            list.data(), static_cast<uint32_t>(list.size()), startup.c_str(), 2, nullptr, &options);
        EXPECT_TRUE(made) << log.Added();
        return made;
    };
    const auto bytes = [](const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    };

    const auto updateRuns = [&] {
        unsigned runs = 0;
        for (unsigned call = 0; call < real.Count(); ++call) {
            runs += Holds(real.CommandLine(call), " update ") ? 1 : 0;
        }
        return runs;
    };

    fresh();
    const std::wstring big = scratch / L"big";
    RandomTree(big, 100);
    ASSERT_TRUE(build({big, app}, app));
    const unsigned long long first = bytes(pe.Wim());
    const unsigned runs = updateRuns();
    {
        LogWatch log;
        ASSERT_TRUE(build({big, app}, app));
        EXPECT_TRUE(Holds(log.Added(), "already holds these sources as they are; not updated")) << log.Added();
    }
    EXPECT_EQ(updateRuns(), runs) << "the image of the same sources was updated again";
    EXPECT_EQ(bytes(pe.Wim()), first);
    // The same bytes with new times: the tool runs and only references them.
    Sh("touch '" + UnixPath(big) + "'/*");
    ASSERT_TRUE(build({big, app}, app));
    EXPECT_EQ(updateRuns(), runs + 1);
    EXPECT_LT(bytes(pe.Wim()) - first, 1u << 20) << "the unchanged 100 MiB were compressed again";
    WriteBytes(big + L"\\part1.bin", "changed");
    DeleteFileW((big + L"\\part2.bin").c_str());
    ASSERT_TRUE(build({big, app}, app));
    EXPECT_EQ(WimFile(pe.Wim(), "/TarnwickToolset/big/part1.bin"), "changed");
    EXPECT_FALSE(Holds(WimListing(pe.Wim()), "/TarnwickToolset/big/part2.bin"));

    std::wstring host = ExeFolder().substr(0, ExeFolder().size() - 1);
    CharUpperW(&host[0]);
    ASSERT_TRUE(build({host}, ThisProgram()));
    const std::string listing = WimListing(pe.Wim());
    EXPECT_TRUE(Holds(listing, "/TarnwickToolset/Brightmoor/make_pe_options_test.exe\n"));
    EXPECT_FALSE(Holds(listing, "/TarnwickToolset/Brightmoor/PE")) << "the PE folder went into its own image";

    fresh();
    const std::wstring small = scratch / L"small";
    for (int round = 0; round < 10; ++round) {
        RandomTree(small, 2);
        ASSERT_TRUE(build({small, app}, app));
    }
    const std::wstring rewritten = scratch / L"rewritten.wim";
    ASSERT_TRUE(CopyFileW(pe.Wim().c_str(), rewritten.c_str(), FALSE));
    Sh("wimlib-imagex optimize '" + UnixPath(rewritten) + "' >/dev/null");
    EXPECT_LE(bytes(pe.Wim()) * 2, bytes(rewritten) * 3);
}

// A host that says stop while a tool runs ends its job at once, the build
// ends as cancelled and BOOT.wim is as it was. Each scripted tool would wait
// for ever, with a child of its own; bcdedit, never cut off, finishes its
// run and the stop acts before the next.
TEST_F(MakePEOptionsTest, AToolStoppedByTheHostEndsAtOnceAndTheBuildIsCancelled)
{
    const EnvScope store(L"TWBCDEDIT_STORE", scratch / L"store.txt");
    const struct {
        const char* tool;
        unsigned call;  // the run that waits
        int type;
        std::wstring source;
        bool finishes = false;  // a run that is never cut off: 3 s, then success
    } cases[] = {
        {"WIM tool", 1, 2, ExeFolder()},
        {"oscdimg", 2, 2, app},
        {"bcdedit", 2, 1, app, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        WriteBytes(pe.Wim(), "image");
        StandinJournal tools;
        tools.Script(c.call, c.finishes ? "0 3000" : "0 0 0 child wait=never");
        RecordingSink records;
        records.cancelWhen = [&] { return c.finishes ? tools.Count() >= c.call : tools.ChildPid(c.call) != 0; };
        const MakePEOptions options = {sizeof(MakePEOptions), 0, nullptr, 0, 0, &records};
        const wchar_t* const sources[] = {c.source.c_str()};
        const std::wstring startup = c.source == app ? app : ThisProgram();
        LogWatch log;
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(LibraryExport<MakePEWithOptions_Fn>("MakePEWithOptions")(sources, 1, startup.c_str(), c.type,
                                                                               nullptr, &options));
        EXPECT_LT(GetTickCount64() - start, 30000u) << "the tool was not stopped";
        EXPECT_EQ(tools.Count(), c.call);
        EXPECT_FALSE(tools.Running(c.call));
        EXPECT_FALSE(IsRunning(tools.ChildPid(c.call)));
        EXPECT_FALSE(records.Values().empty() || records.Values().back() < 0) << "no failure record";
        EXPECT_EQ(winrehost::LoggedMessages(log.Added(), "[^ ]+"), "CPEMaker::CreatePE: Operation cancelled by user\n");
        EXPECT_EQ(ReadBytes(pe.Wim()), "image");
    }

    // The real tool in a long update: its Linux side ends with the stand-in.
    RecordingSink records;
    ULONGLONG stoppedAt = 0;
    records.cancelWhen = [&] {
        stoppedAt = stoppedAt ? stoppedAt : (records.Values().back() > 15 ? GetTickCount64() : 0);
        return stoppedAt != 0;
    };
    std::string before;
    EXPECT_FALSE(BuildWithBigSource(L"bigger", 200, records, before));
    EXPECT_LT(GetTickCount64() - stoppedAt, 5000u) << "the update went on";
    EXPECT_LT(records.Values().back(), 90) << "stopped inside the update";
    EXPECT_EQ(ReadBytes(pe.Wim()), before);
    // The bridge ends the Linux tool once the stand-in's connection closes.
    const std::string running = "pgrep -f '^wimlib-imagex update " + UnixPath(pe / L"BOOT.wim.work") + "' || true";
    for (int wait = 0; wait < 100 && !Sh(running).empty(); ++wait) {
        Sleep(100);
    }
    EXPECT_EQ(Sh(running), "");
}
