// Media that boot: the WinPE ISO of MakePE and the installation ISO of
// ConvertESDToISOEx, mastered by the real tools behind the stand-ins and
// started in QEMU under SeaBIOS and under OVMF. Their boot sector and UEFI
// application (build-payloads.sh) each write a marker to COM1.
#include "../PETestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace testsupport;
using namespace petest;

namespace {

const char kBiosMarker[] = "TW-BIOS-BOOT-OK";
const char kUefiMarker[] = "TW-UEFI-BOOT-OK";

// What reached COM1 under each firmware named ("bios", "uefi").
std::map<std::string, std::string> Boot(const std::wstring& iso, const std::string& firmware)
{
    const std::string output =
        Sh("'" + SourceDir() + "/tests/boot/boot-iso.sh' '" + UnixPath(iso) + "' " + firmware);
    std::map<std::string, std::string> serial;
    size_t at = output.find("== ");
    while (at != std::string::npos) {
        const size_t text = output.find('\n', at);
        const size_t next = output.find("\n== ", text);
        serial[output.substr(at + 3, text - at - 3)] =
            output.substr(text + 1, next == std::string::npos ? std::string::npos : next - text);
        at = next == std::string::npos ? next : next + 1;
    }
    return serial;
}

// OVMF found no UEFI boot image on the disc; an efisys.bin in its tree is not one.
void ExpectNoUefiBoot(const std::string& uefi)
{
    EXPECT_FALSE(Holds(uefi, kUefiMarker));
    EXPECT_TRUE(Holds(uefi, "failed to load Boot0001 \"UEFI QEMU DVD-ROM"));
    EXPECT_TRUE(Holds(uefi, "Not Found"));
}

class BootMediaTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        payloads = std::make_unique<ScratchFolder>(L"twboot");
        Sh("'" + SourceDir() + "/tests/boot/build-payloads.sh' '" + UnixPath(payloads->path()) + "'");
    }
    static void TearDownTestSuite() { payloads.reset(); }

    static std::wstring Payload(const wchar_t* name) { return *payloads / name; }

    static inline std::unique_ptr<ScratchFolder> payloads;
};

TEST_F(BootMediaTest, WinPeIsoBootsUnderSeaBiosAndUnderOvmfOnlyWithEfisys)
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
    ASSERT_TRUE(CopyFileW(Payload(L"etfsboot.com").c_str(), (pe / L"etfsboot.com").c_str(), FALSE));
    const std::wstring app = scratch / L"app.exe";
    WriteBytes(app, "app");
    const std::vector<std::wstring> sources{app};
    auto makePE = LibraryExport<MakePE_Fn>("MakePE");
    ASSERT_NE(makePE, nullptr);

    const std::wstring biosOnly = scratch / L"bios";
    const std::wstring both = scratch / L"both";
    MakeTree(biosOnly, {});
    MakeTree(both, {});
    ASSERT_TRUE(makePE(&sources, app.c_str(), kMakePEWriteIso, biosOnly.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Payload(L"efisys.bin").c_str(), (pe / L"efisys.bin").c_str(), FALSE));
    ASSERT_TRUE(makePE(&sources, app.c_str(), kMakePEWriteIso, both.c_str(), nullptr));

    // The boot images come from beside the tree and stay out of it.
    EXPECT_EQ(Sh("xorriso -indev '" + UnixPath(both + L"\\boot.iso") + "' -find / -type f 2>/dev/null | sort"),
              "'/BOOT/BOOT.SDI'\n'/SOURCES/BOOT.wim'\n");

    auto serial = Boot(biosOnly + L"\\boot.iso", "bios uefi");
    EXPECT_TRUE(Holds(serial["bios"], kBiosMarker));
    ExpectNoUefiBoot(serial["uefi"]);
    serial = Boot(both + L"\\boot.iso", "bios uefi");
    EXPECT_TRUE(Holds(serial["bios"], kBiosMarker));
    EXPECT_TRUE(Holds(serial["uefi"], kUefiMarker));
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

    auto serial = Boot(uefi, "bios uefi");
    EXPECT_TRUE(Holds(serial["bios"], kBiosMarker));
    EXPECT_TRUE(Holds(serial["uefi"], kUefiMarker));

    serial = Boot(plain, "bios uefi");
    EXPECT_TRUE(Holds(serial["bios"], kBiosMarker));
    ExpectNoUefiBoot(serial["uefi"]);
}

}  // namespace
