// Which driver packages drvload can install on x64, from the INF's bytes and
// the files beside it.
#include "InfPackage.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::string kVersion = "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=stor.cat ; signed\r\n";
const std::string kModels = "[Manufacturer]\r\n%Mfg%=Models,NTamd64\r\n[Models.NTamd64]\r\n%Dev%=Inst,PCI\\VEN_1\r\n";
const std::string kFiles = "[SourceDisksNames]\r\n1 = %Disk%,,,\\amd64\r\n[SourceDisksFiles]\r\nstor.sys = 1,drivers\r\n";
const std::string kGood = kVersion + kModels + kFiles;

std::string Utf16(const std::string& ascii)
{
    std::string bytes;
    for (const char c : ascii) {
        bytes += std::string{c, '\0'};
    }
    return bytes;
}

std::string Repeat(const std::string& text, size_t count)
{
    std::string all;
    while (count-- > 0) {
        all += text;
    }
    return all;
}

TEST(InfPackageTest, VerdictOfEachInf)
{
    // The outside file exists: only where it lies refuses it.
    const std::set<std::wstring> files{L"stor.cat",          L"stor_nt.cat",       L"amd64\\drivers\\stor.sys",
                                       L"flat.sys",          L"bin\\amd64\\x.sys", L"my driver.sys",
                                       L"pilote \u00e9.sys", L"..\\shared\\x.sys"};
    const struct {
        const char* name;
        std::string inf;
        std::string reason;
    } cases[] = {
        {"plain", kGood, ""},
        {"versioned decoration, continued line",
         kVersion + "[Manufacturer]\r\nA=M,NTx86, \\\r\n NTamd64.10.0...16299\r\n[m.ntamd64.10.0...16299]\r\nD=I\r\n" + kFiles,
         ""},
        {"NT catalogue before the plain one",
         "[version]\r\ncatalogfile = missing.cat\r\nCatalogFile.NT = \"stor_nt.cat\"\r\n" + kModels, ""},
        {"no source files listed", kVersion + kModels, ""},
        {"file without a disk path", kVersion + kModels + "[SourceDisksFiles.amd64]\r\nflat.sys=2\r\n", ""},
        {"amd64 entries replace the file's and the disk's",
         kVersion + kModels + "[SourceDisksNames]\r\n1=d,,,\\bin\\x86\r\n[SourceDisksNames.AMD64]\r\n1=d,,,\\bin\r\n"
                              "[SourceDisksFiles]\r\nX.SYS=1,\\x86\r\n[sourcedisksfiles.amd64]\r\nx.sys=1,amd64\r\n"
                              "[SourceDisksFiles.x86]\r\nold.sys=1\r\n",
         ""},
        {"an amd64 entry replaces only its own file",
         kVersion + kModels + "[SourceDisksFiles]\r\nco.dll=1\r\n[SourceDisksFiles.amd64]\r\nflat.sys=1\r\n",
         "source file missing: co.dll"},
        {"quoted key, UTF-8 name", "\xEF\xBB\xBF" + kVersion + kModels +
                                       "[SourceDisksFiles]\r\n\"my driver.sys\" = 1\r\n\"pilote \xC3\xA9.sys\"=1\r\n", ""},
        {"tokens in catalogue, disk path and file name",
         "[Version]\r\nCatalogFile=%Cat%\r\n" + kModels + "[SourceDisksNames]\r\n1=d,,,%DIR%\\.\\x\\..\r\n"
         "[SourceDisksFiles]\r\n%file%=1,drivers\r\n[Strings]\r\nCat=\"stor.cat\"\r\nDir=amd64\r\nFile=stor.sys\r\n",
         ""},
        {"undefined token", "[Version]\r\nCatalogFile=%Cat%\r\n[Strings.0409]\r\nCat=stor.cat\r\n",
         "undefined string token: %Cat%"},
        {"tokens beyond the bound",
         kVersion + kModels + "[SourceDisksFiles]\r\n" + Repeat("%A%", 2000) + "=1\r\n[Strings]\r\nA=" +
             Repeat("a", 600) + "\r\n",
         "string tokens expand beyond 1048576 characters"},
        {"file outside the folder", kVersion + kModels + "[SourceDisksNames]\r\n1=d,,,sub\\..\\..\\shared\r\n"
                                                         "[SourceDisksFiles]\r\nx.sys=1\r\n",
         "file outside the package folder: sub\\..\\..\\shared\\x.sys"},
        {"catalogue outside the folder", "[Version]\r\nCatalogFile=... /stor.cat\r\n",
         "file outside the package folder: ... /stor.cat"},
        {"no catalogue", "[Version]\r\nSignature=x\r\n" + kModels, "no catalogue named in [Version]"},
        {"catalogue missing", "[Version]\r\nCatalogFile.NTamd64=gone.cat\r\n" + kModels,
         "catalogue file missing: gone.cat"},
        {"x86 only", kVersion + "[Manufacturer]\r\nA=M,NTx86\r\n", "no NTamd64 models in [Manufacturer]"},
        {"NTamd64 only in a comment", kVersion + "[Manufacturer]\r\nA=M ; NTamd64\r\n",
         "no NTamd64 models in [Manufacturer]"},
        {"no models section", kVersion + "[Manufacturer]\r\nA=M,NTamd64\r\n", "no NTamd64 models section: M.NTamd64"},
        {"empty models section", kVersion + "[Manufacturer]\r\nA=M,NTamd64.10.0\r\n[M.NTamd64.10.0]\r\n; none\r\n",
         "no NTamd64 models section: M.NTamd64.10.0"},
        {"network service", "[Version]\r\nclass = nettrans\r\n",
         "network service packages are installed by netcfg, not drvload"},
        {"source file missing", kVersion + kModels + "[SourceDisksNames.amd64]\r\n3=d,,,sub\r\n"
                                                     "[SourceDisksFiles.amd64]\r\nStor2.sys=3\r\n",
         "source file missing: sub\\Stor2.sys"},
        {"autorun", "[AutoRun]\r\nopen=setup.exe\r\n", "no catalogue named in [Version]"},
        {"UTF-16 with its mark", "\xFF\xFE" + Utf16(kGood), ""},
        {"UTF-16 without a mark", Utf16(kGood), "INF is not readable text"},
        {"UTF-16 of an odd length", "\xFF\xFE" + Utf16(kGood) + "\r", "INF is not readable text"},
        {"8-bit with a Latin-1 string", kGood + "[Strings]\r\nMfg=\"Soci\xE9t\xE9\"\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(drivers::UnusableReason(c.inf, [&](const std::wstring& path) { return files.count(path) > 0; }),
                  c.reason);
    }
    // One folder below the package folder, an INF may name a file beside its
    // own folder (the whole package goes in), but not above the package.
    const auto exists = [&](const std::wstring& path) { return files.count(path) > 0; };
    const std::string shared = kVersion + kModels + "[SourceDisksNames]\r\n1=d,,,..\\shared\r\n"
                                                    "[SourceDisksFiles]\r\nx.sys=1\r\n";
    EXPECT_EQ(drivers::UnusableReason(shared, exists, 1), "");
    EXPECT_EQ(drivers::UnusableReason(shared, exists, 0), "file outside the package folder: ..\\shared\\x.sys");
}

}  // namespace
