// Real conversion: a sample ESD made by the real wimlib, converted through the
// DLL with stand-ins that reach the real wimlib and xorriso, and the ISO
// checked with those tools.
#include "TestSupport.h"

#include "esd/EsdConverter.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;

namespace {

std::string Narrow(const std::wstring& text)
{
    return standin::ToUtf8(text);
}

class EsdEndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch = new ScratchFolder(L"twe2e");
        esdPath = new std::wstring(*scratch / L"sample.esd");
        WriteBytes(*esdPath, "");
        const standin::UnixResult made =
            Shell(SourceDir() + "/scripts/make-sample-esd.sh '" + UnixPath(*esdPath) + "'");
        ASSERT_TRUE(made.answered && made.exitCode == 0) << made.output;
    }
    static void TearDownTestSuite()
    {
        delete esdPath;
        delete scratch;
    }

    static std::string Sh(const std::string& script)
    {
        const standin::UnixResult result = Shell(script);
        EXPECT_TRUE(result.answered && result.exitCode == 0) << script << "\n" << result.output;
        return result.output;
    }

    static ScratchFolder* scratch;
    static std::wstring* esdPath;
};

ScratchFolder* EsdEndToEndTest::scratch = nullptr;
std::wstring* EsdEndToEndTest::esdPath = nullptr;

TEST_F(EsdEndToEndTest, ConvertsASampleEsdIntoABootableInstallationIso)
{
    const std::wstring isoPath = *scratch / L"windows.iso";
    const std::vector<std::wstring> foldersBefore = ListNames(TempFolder(), L"ESD_");
    const ChildResult child = RunChild(L"convert \"" + *esdPath + L"\" \"" + isoPath + L"\"");
    ASSERT_EQ(child.exitCode, 0u) << child.stdoutBytes;
    EXPECT_EQ(ListNames(TempFolder(), L"ESD_"), foldersBefore);

    // The echo lines, in order and exact, among whatever the tools printed.
    std::vector<std::string> echoed;
    std::smatch line;
    std::string rest = child.stdoutBytes;
    const std::regex echoLine("(ESD file: |ISO file: |ISO label: |Command: )[^\r\n]*\r\n");
    while (std::regex_search(rest, line, echoLine)) {
        echoed.push_back(line.str());
        rest = line.suffix();
    }
    ASSERT_EQ(echoed.size(), 8u) << child.stdoutBytes;
    EXPECT_EQ(echoed[0], "ESD file: " + Narrow(*esdPath) + "\r\n");
    EXPECT_EQ(echoed[1], "ISO file: " + Narrow(isoPath) + "\r\n");
    EXPECT_EQ(echoed[2], "ISO label: Windows\r\n");
    EXPECT_EQ(echoed[3].find("Command: \"tools\\wimlib-imagex.exe\" extract \"" + Narrow(*esdPath) + "\" 1 "), 0u);
    EXPECT_EQ(echoed[7].find("Command: \"tools\\cdimage.exe\" -l\"Windows\" -t"), 0u);

    const std::string iso = "'" + UnixPath(isoPath) + "'";
    EXPECT_NE(Sh("xorriso -indev " + iso + " -pvd_info 2>/dev/null").find("Volume Id    : Windows\n"),
              std::string::npos);
    const std::string boot = Sh("xorriso -indev " + iso + " -report_el_torito plain 2>/dev/null");
    EXPECT_NE(boot.find("El Torito boot img :   1  BIOS  y   none"), std::string::npos) << boot;
    EXPECT_NE(boot.find("El Torito img path :   1  /boot/etfsboot.com"), std::string::npos) << boot;

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
    EXPECT_NE(bootWim.find("Microsoft Windows PE (amd64)"), std::string::npos);
    EXPECT_NE(bootWim.find("Microsoft Windows Setup (amd64)"), std::string::npos);
    const std::string installWim = Sh("wimlib-imagex info " + out + "/sources/install.wim");
    EXPECT_TRUE(std::regex_search(installWim, std::regex("Image Count: +1\n")));
    EXPECT_TRUE(std::regex_search(installWim, std::regex("Compression: +LZMS\n")));
    EXPECT_NE(installWim.find("Windows 10 Pro"), std::string::npos);
    EXPECT_EQ(Sh("head -c 12 " + out + "/boot/etfsboot.com"), "TWBOOTSECTOR");
}

TEST_F(EsdEndToEndTest, EsdPathThatIsAFolderFailsInTheFirstRun)
{
    StandinJournal journal;
    journal.EnableReal();
    CESDConverter converter;
    converter.enableVerbose();
    EXPECT_FALSE(converter.convert(scratch->path(), *scratch / L"never.iso", L"Windows"));
    EXPECT_EQ(journal.Count(), 1u);
    EXPECT_EQ(converter.getProgress(), 10);
    const std::wstring prefix = L"Command failed with exit code: ";
    const std::wstring status = converter.getStatusMessage();
    EXPECT_EQ(status.substr(0, prefix.size()), prefix) << Narrow(status);
    EXPECT_NE(status.find(L" - Command: " + standin::FromUtf8(journal.CommandLine(1))), std::wstring::npos);
}

}  // namespace
