// Which driver packages drvload can install on x64, from the INF's text and
// the files beside it.
#include "InfPackage.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::wstring kVersion = L"[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=stor.cat ; signed\r\n";
const std::wstring kModels = L"[Manufacturer]\r\n%Mfg%=Models,NTamd64\r\n";
const std::wstring kFiles = L"[SourceDisksNames]\r\n1 = %Disk%,,,\\amd64\r\n"
                            L"[SourceDisksFiles]\r\nstor.sys = 1,drivers\r\n";

TEST(InfPackageTest, UsableWhenCatalogueModelsAndSourceFilesAreThere)
{
    const std::set<std::wstring> files{L"stor.cat", L"stor_nt.cat", L"amd64\\drivers\\stor.sys", L"flat.sys"};
    const struct {
        const char* name;
        std::wstring inf;
        std::string reason;
    } cases[] = {
        {"plain", kVersion + kModels + kFiles, ""},
        {"versioned decoration, continued line", kVersion + L"[Manufacturer]\r\nA=M,NTx86, \\\r\n NTamd64.10.0...16299\r\n" + kFiles, ""},
        {"NT catalogue before the plain one",
         L"[version]\r\ncatalogfile = missing.cat\r\nCatalogFile.NT = \"stor_nt.cat\"\r\n" + kModels, ""},
        {"no source files listed", kVersion + kModels, ""},
        {"file without a disk path", kVersion + kModels + L"[SourceDisksFiles.amd64]\r\nflat.sys=2\r\n", ""},
        {"no catalogue", L"[Version]\r\nSignature=x\r\n" + kModels, "no catalogue named in [Version]"},
        {"catalogue missing", L"[Version]\r\nCatalogFile.NTamd64=gone.cat\r\n" + kModels,
         "catalogue file missing: gone.cat"},
        {"x86 only", kVersion + L"[Manufacturer]\r\nA=M,NTx86\r\n", "no NTamd64 models in [Manufacturer]"},
        {"NTamd64 only in a comment", kVersion + L"[Manufacturer]\r\nA=M ; NTamd64\r\n",
         "no NTamd64 models in [Manufacturer]"},
        {"source file missing", kVersion + kModels + L"[SourceDisksNames.amd64]\r\n3=d,,,sub\r\n"
                                                    L"[SourceDisksFiles.amd64]\r\nStor2.sys=3\r\n",
         "source file missing: sub\\Stor2.sys"},
        {"autorun", L"[AutoRun]\r\nopen=setup.exe\r\n", "no catalogue named in [Version]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(drivers::UnusableReason(c.inf, [&](const std::wstring& path) { return files.count(path) > 0; }),
                  c.reason);
    }
}

}  // namespace
