// Media that boot: the WinPE ISO of MakePE and the installation ISO of
// ConvertESDToISOEx, mastered by the real tools behind the stand-ins and
// started in QEMU under SeaBIOS and under OVMF. Their boot sector and UEFI
// application (build-payloads.sh) each write a marker to COM1.
#include "../PETestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;
using namespace petest;

namespace {

const char kBiosMarker[] = "TW-BIOS-BOOT-OK";
const char kUefiMarker[] = "TW-UEFI-BOOT-OK";

// Boots the ISO under SeaBIOS and under OVMF, which must reach the UEFI
// marker if uefi is set and otherwise find no UEFI boot image on the disc (an
// efisys.bin in its tree is not one).
void ExpectBoots(const std::wstring& iso, bool uefi)
{
    // What reached COM1 under each firmware, after a "== <firmware>" line.
    const std::string output = Sh("'" + SourceDir() + "/tests/boot/boot-iso.sh' '" + UnixPath(iso) + "' bios uefi");
    const size_t ovmf = output.find("== uefi\n");
    const std::string underOvmf = ovmf == std::string::npos ? "" : output.substr(ovmf);
    EXPECT_TRUE(Holds(output.substr(0, ovmf), kBiosMarker));
    EXPECT_EQ(underOvmf.find(kUefiMarker) != std::string::npos, uefi) << underOvmf;
    if (!uefi) {
        EXPECT_TRUE(Holds(underOvmf, "failed to load Boot0001 \"UEFI QEMU DVD-ROM"));
        EXPECT_TRUE(Holds(underOvmf, "Not Found"));
    }
}

class BootMediaTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        payloads = std::make_unique<ScratchFolder>(L"twboot");
        Sh("'" + SourceDir() + "/tests/boot/build-payloads.sh' '" + UnixPath(payloads->path()) + "'");
    }
    static void TearDownTestSuite() { payloads.reset(); }

    static inline std::unique_ptr<ScratchFolder> payloads;
};

// With efisys.bin beside etfsboot.com the ISO boots under OVMF too; the demo
// boots such an ISO under both firmwares.
TEST_F(BootMediaTest, WinPeIsoWithoutEfisysBootsUnderSeaBiosOnly)
{
    PrivateTemp temp;
    ToolsFirstOnPath toolsOnPath;
    PEFolder pe(false);
    ScratchFolder scratch;
    const std::wstring image = scratch / L"image";
    MakeTree(image, {L"\\TarnwickToolset", L"\\TarnwickToolset\\Brightmoor"},
             {{L"\\TarnwickToolset\\Brightmoor\\old.txt", "previous build"}});
    ASSERT_TRUE(CaptureWim(image, pe.Wim()));
    WriteBytes(pe / L"ISO\\BOOT\\BOOT.SDI", "sdi");
    ASSERT_TRUE(CopyFileW((*payloads / L"etfsboot.com").c_str(), (pe / L"etfsboot.com").c_str(), FALSE));
    const std::wstring app = scratch / L"app.exe";
    WriteBytes(app, "MZapp");
    const std::vector<std::wstring> sources{app};
    auto makePE = LibraryExport<MakePE_Fn>("MakePE");
    ASSERT_NE(makePE, nullptr);
    ASSERT_TRUE(makePE(&sources, app.c_str(), kMakePEWriteIso, scratch.path().c_str(), nullptr));
    ExpectBoots(scratch / L"boot.iso", false);
}

TEST_F(BootMediaTest, InstallationIsoBootsUnderOvmfOnlyWithTheUefiFlag)
{
    ScratchFolder scratch;
    const std::wstring esd = scratch / L"sample.esd";
    WriteBytes(esd, "");
    Sh("'" + SourceDir() + "/scripts/make-sample-esd.sh' '" + UnixPath(esd) + "' 0 '" +
       UnixPath(payloads->path()) + "'");
    auto convert = LibraryExport<ConvertESDToISOEx_Fn>("ConvertESDToISOEx");
    ASSERT_NE(convert, nullptr);
    const std::wstring uefi = scratch / L"uefi.iso";
    const std::wstring plain = scratch / L"plain.iso";
    ASSERT_TRUE(convert(esd.c_str(), uefi.c_str(), kEsdIsoUefi));
    ASSERT_TRUE(convert(esd.c_str(), plain.c_str(), 0));

    ExpectBoots(uefi, true);
    ExpectBoots(plain, false);
}

}  // namespace
