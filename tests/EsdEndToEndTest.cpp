// Real conversion: a sample ESD made by the real wimlib, converted through the
// DLL with stand-ins that reach the real wimlib and xorriso, and the ISO
// checked with those tools.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <set>

using namespace testsupport;

namespace {

class EsdEndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = std::make_unique<ScratchFolder>(L"twe2e");
        esdPath = *scratch / L"sample.esd";
        Sh(SourceDir() + "/scripts/make-sample-esd.sh '" + UnixPath(esdPath) + "'");
    }
    static void TearDownTestSuite() { scratch.reset(); }

    static inline std::unique_ptr<ScratchFolder> scratch;
    static inline std::wstring esdPath;
};

TEST_F(EsdEndToEndTest, ConvertsASampleEsdIntoABootableInstallationIso)
{
    const std::wstring isoPath = *scratch / L"windows.iso";
    const std::vector<std::wstring> foldersBefore = ListNames(TempFolder(), L"ESD_");
    const ChildResult child = RunExport(L"ConvertESDToISO \"" + esdPath + L"\" \"" + isoPath + L"\"");
    ASSERT_EQ(child.exitCode, 0u) << child.stdoutBytes;
    EXPECT_EQ(ListNames(TempFolder(), L"ESD_"), foldersBefore);

    const std::string iso = "'" + UnixPath(isoPath) + "'";
    EXPECT_TRUE(Holds(Sh("xorriso -indev " + iso + " -pvd_info 2>/dev/null"), "Volume Id    : Windows\n"));
    const std::string boot = Sh("xorriso -indev " + iso + " -report_el_torito plain 2>/dev/null");
    EXPECT_TRUE(Holds(boot, "El Torito boot img :   1  BIOS  y   none"));
    EXPECT_TRUE(Holds(boot, "El Torito img path :   1  /boot/etfsboot.com"));

    // Image 1's files form the root of the ISO, next to the two new WIMs.
    const std::string isoFiles = Sh("xorriso -indev " + iso + " -find / -type f 2>/dev/null | sort");
    EXPECT_EQ(isoFiles,
              "'/autorun.inf'\n'/boot/etfsboot.com'\n'/bootmgr'\n'/efi/boot/bootx64.efi'\n"
              "'/efi/microsoft/boot/efisys.bin'\n'/setup.exe'\n"
              "'/sources/boot.wim'\n'/sources/install.wim'\n'/sources/lang.ini'\n");

    const std::string out = "'" + UnixPath(scratch->path()) + "/iso'";
    Sh("rm -rf " + out + " && xorriso -osirrox on -indev " + iso + " -extract / " + out + " 2>/dev/null");
    const std::string bootWim = Sh("wimlib-imagex info " + out + "/sources/boot.wim");
    EXPECT_TRUE(std::regex_search(bootWim, std::regex("Image Count: +2\n")));
    EXPECT_TRUE(std::regex_search(bootWim, std::regex("Compression: +LZX\n")));
    EXPECT_TRUE(std::regex_search(bootWim, std::regex("Chunk Size: +32768 bytes\n")));
    EXPECT_TRUE(std::regex_search(bootWim, std::regex("Boot Index: +2\n")));
    EXPECT_TRUE(Holds(bootWim, "Microsoft Windows PE (amd64)"));
    EXPECT_TRUE(Holds(bootWim, "Microsoft Windows Setup (amd64)"));
    const std::string installWim = Sh("wimlib-imagex info " + out + "/sources/install.wim");
    EXPECT_TRUE(std::regex_search(installWim, std::regex("Image Count: +1\n")));
    EXPECT_TRUE(std::regex_search(installWim, std::regex("Compression: +LZMS\n")));
    EXPECT_TRUE(Holds(installWim, "Windows 10 Pro"));
    EXPECT_EQ(Sh("head -c 12 " + out + "/boot/etfsboot.com"), "TWBOOTSECTOR");
}

// Through the options export, which runs the same tools.
TEST_F(EsdEndToEndTest, EveryEditionInOrderOrTheChosenOneGoesIntoInstallWim)
{
    const std::wstring isoPath = *scratch / L"editions.iso";
    const std::string tree = "'" + UnixPath(scratch->path()) + "/editions'";
    const struct {
        const wchar_t* options;  // FLAGS:EDITION
        const char* names;
    } cases[] = {
        {L"2:0", "Windows 10 Pro|Windows 10 Home|Windows 10 Education|"},
        {L"0:5", "Windows 10 Home|"},
    };
    for (const auto& c : cases) {
        const ChildResult child = RunExport(L"ConvertESDToISOWithOptions \"" + esdPath + L"\" \"" + isoPath + L"\" " +
                                            c.options);
        ASSERT_EQ(child.exitCode, 0u) << child.stdoutBytes;
        Sh("rm -rf " + tree + " && xorriso -osirrox on -indev '" + UnixPath(isoPath) + "' -extract /sources " + tree +
           " 2>/dev/null");
        EXPECT_EQ(Sh("wimlib-imagex info " + tree + "/install.wim | sed -n 's/^Name: *//p' | tr '\\n' '|'"), c.names);
    }
}

// An ESD whose edition holds PAYLOAD MiB of KIND ("zeros" or "files").
std::wstring MakeEsd(const ScratchFolder& scratch, const wchar_t* name, int payloadMib, const char* kind)
{
    const std::wstring path = scratch / name;
    Sh(SourceDir() + "/scripts/make-sample-esd.sh '" + UnixPath(path) + "' " + std::to_string(payloadMib) + " '' " +
       kind);
    return path;
}

// The WIM tool's progress lines of a long export, read as it prints them.
TEST_F(EsdEndToEndTest, ALongExportReportsTenValuesAndMoreWithinItsStage)
{
    const std::wstring big = MakeEsd(*scratch, L"zeros.esd", 300, "zeros");
    const ChildResult child = RunExport(
        L"ConvertESDToISOWithOptions \"" + big + L"\" \"" + (*scratch / L"big.iso") + L"\" 0:0", true);
    ASSERT_EQ(child.exitCode, 0u) << child.stdoutBytes;
    std::set<int> inside;
    const std::regex record("record 2 (\\d+) 100 ");
    for (std::sregex_iterator it(child.stdoutBytes.begin(), child.stdoutBytes.end(), record), end; it != end; ++it) {
        const int value = std::stoi((*it)[1]);
        if (value > 60 && value < 90) {
            inside.insert(value);
        }
    }
    EXPECT_GE(inside.size(), 10u) << child.stdoutBytes;
}

// Cancelling ends the stand-in's job, as a host's cancel ends a real tool on
// Windows, and so does a host that is killed (kill-on-close); the Linux
// export behind the stand-in must end with it.
TEST_F(EsdEndToEndTest, CancellingOrKillingTheHostInsideTheExportEndsTheLinuxToolToo)
{
    // Files that LZMS takes a quarter of a minute to compress.
    const std::wstring big = MakeEsd(*scratch, L"files.esd", 250, "files");
    const std::wstring isoPath = *scratch / L"cancelled.iso";
    // The long export of the edition, not the short ones before it, which
    // may end between two looks.
    const auto exporting = [&] {
        return Shell("pgrep -f -- '^wimlib-imagex export " + UnixPath(big) + " 4 '").exitCode == 0;
    };
    const auto added = [](const std::wstring& prefix, const std::vector<std::wstring>& before) {
        std::vector<std::wstring> names;
        for (const std::wstring& name : ListNames(TempFolder(), prefix)) {
            if (std::find(before.begin(), before.end(), name) == before.end()) {
                names.push_back(name);
            }
        }
        return names;
    };
    for (const bool kill : {false, true}) {
        const std::vector<std::wstring> bridgeBefore = ListNames(TempFolder(), L"twbridge-");
        const std::vector<std::wstring> foldersBefore = ListNames(TempFolder(), L"ESD_");
        if (kill) {
            StartedProgram host(L"\"" + ThisProgram() + L"\" --child call \"" + ExeFolder() +
                                L"TarnwickMedia.dll\" ConvertESDToISO \"" + big + L"\" \"" + isoPath + L"\"");
            for (int tries = 0; tries < 1200 && !exporting(); ++tries) {
                Sleep(100);
            }
            ASSERT_TRUE(exporting());
            TerminateProcess(host.process(), 1);
            host.Wait();
        } else {
            RecordingSink sink;
            sink.cancelWhen = [&] { return !sink.records.empty() && sink.Values().back() > 60; };
            EsdIsoOptions options = {sizeof(EsdIsoOptions), 0, 0, 0, &sink};
            auto convert = LibraryExport<ConvertESDToISOWithOptions_Fn>("ConvertESDToISOWithOptions");
            ASSERT_NE(convert, nullptr);
            EXPECT_FALSE(convert(big.c_str(), isoPath.c_str(), &options));
            ASSERT_GT(sink.Values().back(), 60) << "cancelled before the export";
        }
        // The ended stand-in could not delete its request: the bridge's
        // answer (.rc) says that the Linux side has ended the export.
        const auto answered = [&] {
            for (const std::wstring& name : added(L"twbridge-", bridgeBefore)) {
                if (name.size() > 3 && name.compare(name.size() - 3, 3, L".rc") == 0) {
                    return true;
                }
            }
            return false;
        };
        for (int tries = 0; tries < 1200 && !answered(); ++tries) {
            Sleep(100);
        }
        EXPECT_TRUE(answered()) << (kill ? "killed" : "cancelled");
        EXPECT_FALSE(exporting()) << (kill ? "killed" : "cancelled");
        EXPECT_EQ(GetFileAttributesW(isoPath.c_str()), INVALID_FILE_ATTRIBUTES);
        for (const std::wstring& name : added(L"twbridge-", bridgeBefore)) {
            DeleteFileW((TempFolder() + name).c_str());
        }
        // A killed host had no chance to remove its work folder.
        for (const std::wstring& name : added(L"ESD_", foldersBefore)) {
            RemoveTree(TempFolder() + name);
        }
    }
}

}  // namespace
