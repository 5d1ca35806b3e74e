// MakePE and ConfigureBootWim through the DLL, called by a host program in a
// host folder of its own (a copy of this test program) that holds the PE
// folder, with the real wimlib and xorriso behind the stand-ins.
#include "PETestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;
using namespace petest;

namespace {

// The records that the host printed, each without its "record ".
std::string Records(const std::string& output)
{
    std::string records;
    const std::regex record("record ([^\n]*\n)");
    for (std::sregex_iterator it(output.begin(), output.end(), record), end; it != end; ++it) {
        records += (*it)[1].str();
    }
    return records;
}

}  // namespace

class MakePEEndToEndTest : public testing::Test {
protected:
    void SetUp() override
    {
        host = scratch / L"Host App";
        MakeTree(host,
                 {L"\\data", L"\\PE", L"\\PE\\ISO", L"\\PE\\ISO\\BOOT", L"\\PE\\ISO\\SOURCES", L"\\PE\\pe_requirements",
                  L"\\PE\\pe_requirements\\cef"},
                 {{L"\\data\\readme.txt", "read me"},
                  {L"\\PE\\etfsboot.com", std::string(2048, '\xEB')},
                  {L"\\PE\\ISO\\BOOT\\BOOT.SDI", "sdi"},
                  {L"\\PE\\pe_requirements\\cef\\cef.pak", "cef"}});
        ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), (host + L"\\host.exe").c_str(), FALSE));
        const std::wstring image = scratch / L"image";
        MakeTree(image, {L"\\Windows", L"\\Windows\\System32"}, {{L"\\Windows\\System32\\winpeshl.ini", "old"}});
        ASSERT_TRUE(CaptureWim(image, Wim()));

        // The host folder has no tools\; the WIM tool is then looked for
        // relative to the current folder, where the host program runs.
        const std::string tools = UnixPath(CurrentFolder()) + "/tools";
        const std::string standins = UnixPath(ExeFolder() + L"tools");
        Sh("mkdir -p '" + tools + "' && cp -p '" + standins + "/wimlib-imagex.exe' '" + standins + "/unixrun.sh' '" +
           tools + "/'");
    }

    std::wstring Wim() const { return host + L"\\PE\\ISO\\SOURCES\\BOOT.wim"; }

    // The host program calls an export of the library, in this program's current folder.
    ChildResult Host(const std::wstring& call) const
    {
        return RunProgram(L"\"" + host + L"\\host.exe\" --child call-printing \"" + ExeFolder() + L"TarnwickMedia.dll\" " +
                              call,
                          CurrentFolder());
    }
    ChildResult MakePE(const std::wstring& type, const std::wstring& target) const
    {
        return Host(L"MakePE " + type + L" \"" + target + L"\" \"" + host + L"\\host.exe\" \"" + host + L"\"");
    }

    PrivateTemp temp;
    ToolsFirstOnPath toolsOnPath;
    ScratchFolder scratch;
    std::wstring host;
};

TEST_F(MakePEEndToEndTest, HostApplicationInjectedNoBootDiskLibraryBesideTheHostAndNoToolForAnUnsafeHostFolder)
{
    const ChildResult configured = Host(L"ConfigureBootWim");
    ASSERT_EQ(configured.exitCode, 0u) << configured.stdoutBytes;
    EXPECT_EQ(Records(configured.stdoutBytes), "2 0 100 \n2 5 100 \n2 20 100 \n2 100 100 \n");

    const std::wstring out = scratch / L"out";
    CreateDirectoryW(out.c_str(), nullptr);
    const ChildResult made = MakePE(L"2", out);
    ASSERT_EQ(made.exitCode, 0u) << made.stdoutBytes;

    const std::wstring extracted = scratch / L"extracted.wim";
    Sh("osirrox -indev '" + UnixPath(out + L"\\boot.iso") + "' -extract /SOURCES/BOOT.wim '" + UnixPath(extracted) +
       "' 2>/dev/null");
    // The host folder, staged without its PE folder, beside the requirement.
    EXPECT_EQ(Sh("wimlib-imagex dir '" + UnixPath(extracted) + "' 1 --path=/TarnwickToolset/Brightmoor"),
              "/TarnwickToolset/Brightmoor\n/TarnwickToolset/Brightmoor/cef.pak\n/TarnwickToolset/Brightmoor/data\n"
              "/TarnwickToolset/Brightmoor/data/readme.txt\n/TarnwickToolset/Brightmoor/host.exe\n");

    // The boot-disk library lies beside the library, not beside the host
    // program, so the disk type finds none before anything is built.
    ASSERT_TRUE(Exists(ExeFolder() + L"Discforge.dll"));
    const ChildResult disk = MakePE(L"3", L"0");
    EXPECT_EQ(disk.exitCode, 1u);
    EXPECT_TRUE(Holds(disk.stdoutBytes, "err: 126\r\n"));
    EXPECT_EQ(Records(disk.stdoutBytes),
              "3 0 0 BuildPE: Boot disk library not available, error code: 126 (Module not found.)\n");
    EXPECT_FALSE(Exists(host + L"\\PE\\boot.iso"));

    // A host folder that the interpreter would rewrite runs no tool.
    const std::wstring unsafe = scratch / L"Inst & %PATH% ^ !x";
    ASSERT_TRUE(MoveFileW(host.c_str(), unsafe.c_str()));
    host = unsafe;
    StandinJournal journal;
    LogWatch refusedLog;
    // The restart type, whose tools would run with the host's rights.
    const ChildResult refused = MakePE(L"1", out);
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_EQ(Records(refused.stdoutBytes), "3 0 0 Path not supported by the command interpreter\n");
    EXPECT_EQ(journal.Count(), 0u) << "no bcdedit, shutdown, ROBOCOPY or WIM tool";
    EXPECT_TRUE(Holds(refusedLog.Added(),
                      " BuildPE: Path not supported by the command interpreter: " + ToUtf8(unsafe + L"\\PE") + "\r\n"));
}
