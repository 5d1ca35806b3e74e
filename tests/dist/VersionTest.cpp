// The version the build was configured with, as each shipped binary's version
// resource and tarnwick --version give it.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::wstring kProjectVersion = L"" TW_PROJECT_VERSION;

class VersionResource {
public:
    explicit VersionResource(const std::wstring& path)
    {
        DWORD ignored = 0;
        m_data.resize(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        m_loaded = !m_data.empty() &&
                   GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(m_data.size()), m_data.data());
    }

    bool loaded() const { return m_loaded; }

    const VS_FIXEDFILEINFO* Fixed() const
    {
        return static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\"));
    }

    // A string of the first language the resource lists, empty when missing.
    std::wstring String(const wchar_t* name) const
    {
        const auto* translation = static_cast<const WORD*>(Query(L"\\VarFileInfo\\Translation"));
        if (!translation) {
            return L"";
        }
        wchar_t key[96];
        swprintf(key, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
        const auto* value = static_cast<const wchar_t*>(Query(key));
        return value ? value : L"";
    }

private:
    const void* Query(const wchar_t* key) const
    {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(m_data.data(), key, &value, &length) && length != 0 ? value : nullptr;
    }

    std::vector<BYTE> m_data;
    bool m_loaded = false;
};

std::wstring Dotted(DWORD high, DWORD low)
{
    return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
           std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

TEST(VersionResource, EveryShippedBinaryCarriesTheProjectVersion)
{
    const struct {
        const wchar_t* file;
        DWORD type;
    } binaries[] = {{L"TarnwickMedia.dll", VFT_DLL}, {L"ravenfs.dll", VFT_DLL}, {L"tarnwick.exe", VFT_APP}};
    for (const auto& binary : binaries) {
        SCOPED_TRACE(testing::Message() << binary.file);
        const VersionResource resource(ExeFolder() + binary.file);
        ASSERT_TRUE(resource.loaded());
        const VS_FIXEDFILEINFO* fixed = resource.Fixed();
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), kProjectVersion + L".0");
        EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), kProjectVersion + L".0");
        EXPECT_EQ(fixed->dwFileType, binary.type);

        EXPECT_EQ(resource.String(L"FileVersion"), kProjectVersion);
        EXPECT_EQ(resource.String(L"ProductVersion"), kProjectVersion);
        EXPECT_EQ(resource.String(L"ProductName"), L"TarnwickMedia");
        EXPECT_EQ(resource.String(L"OriginalFilename"), binary.file);
        EXPECT_NE(resource.String(L"FileDescription"), L"");
    }
}

TEST(HostVersion, PrintsTheProjectVersionAndSucceeds)
{
    const ChildResult result = RunProgram(L"\"" + ExeFolder() + L"tarnwick.exe\" --version");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.stdoutBytes, "tarnwick " TW_PROJECT_VERSION "\r\n");
    EXPECT_EQ(result.stderrBytes, "");
}

}  // namespace
