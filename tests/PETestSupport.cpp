#include "PETestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace petest {

namespace {

// Test programs run side by side in bin\ and the log file lies in the current
// folder at first use, so each of these programs logs into a folder of its
// own. Child modes run before the tests and keep the folder they start in.
class OwnLogFolder : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(UseOwnLogFolder()); }
};

const testing::Environment* const ownLogFolder = testing::AddGlobalTestEnvironment(new OwnLogFolder);
}  // namespace

PrivateTemp::~PrivateTemp()
{
    for (const std::wstring& name : ListNames(path())) {
        EXPECT_TRUE(name.compare(0, 2, L"tw") == 0 || name == L"_wim_empty") << "left in TEMP: " << ToUtf8(name);
    }
}

PEFolder::PEFolder(bool withWim) : m_path(ExeFolder() + L"PE")
{
    RemoveTree(m_path);
    MakeTree(m_path, {L"\\ISO", L"\\ISO\\SOURCES", L"\\ISO\\BOOT"});
    // What the ISO and the ramdisk deliveries need besides the image.
    WriteBytes(m_path + L"\\etfsboot.com", "boot");
    WriteBytes(m_path + L"\\ISO\\BOOT\\BOOT.SDI", "sdi");
    if (withWim) {
        WriteBytes(Wim(), "");
    }
}

PEFolder::~PEFolder()
{
    RemoveTree(m_path);
}

std::string WimFile(const std::wstring& wim, const std::string& imagePath)
{
    return Sh("wimlib-imagex extract '" + UnixPath(wim) + "' 1 '" + imagePath + "' --to-stdout --no-acls");
}

std::string WimListing(const std::wstring& wim)
{
    return Sh("wimlib-imagex dir '" + UnixPath(wim) + "' 1");
}

bool CaptureWim(const std::wstring& folder, const std::wstring& wim)
{
    const standin::UnixResult made =
        Shell("wimlib-imagex capture '" + UnixPath(folder) + "' '" + UnixPath(wim) + "' --quiet");
    EXPECT_TRUE(made.answered && made.exitCode == 0) << made.output;
    return made.answered && made.exitCode == 0;
}

}  // namespace petest
