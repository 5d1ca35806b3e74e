// The version the build was configured with, as each shipped binary's version
// resource, tarnwick --version and the DLL's TarnwickGetVersion give it.
#include "TarnwickMedia.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::wstring kProjectVersion = L"" TW_PROJECT_VERSION;

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
        SCOPED_TRACE(ToUtf8(binary.file));
        const std::wstring path = ExeFolder() + binary.file;
        std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), nullptr));
        ASSERT_TRUE(!data.empty() &&
                    GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
        const auto query = [&](const std::wstring& key) -> const void* {
            void* value = nullptr;
            UINT length = 0;
            return VerQueryValueW(data.data(), key.c_str(), &value, &length) && length != 0 ? value : nullptr;
        };
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
        const auto* language = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
        ASSERT_TRUE(fixed && language);
        EXPECT_EQ(Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), kProjectVersion + L".0");
        EXPECT_EQ(Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), kProjectVersion + L".0");
        EXPECT_EQ(fixed->dwFileType, binary.type);

        // The strings of the first language the resource lists.
        const auto text = [&](const wchar_t* name) {
            wchar_t key[96];
            swprintf(key, 96, L"\\StringFileInfo\\%04x%04x\\%ls", language[0], language[1], name);
            const auto* value = static_cast<const wchar_t*>(query(key));
            return std::wstring(value ? value : L"");
        };
        EXPECT_EQ(text(L"FileVersion"), kProjectVersion);
        EXPECT_EQ(text(L"ProductVersion"), kProjectVersion);
        EXPECT_EQ(text(L"ProductName"), L"TarnwickMedia");
        EXPECT_EQ(text(L"OriginalFilename"), binary.file);
        EXPECT_NE(text(L"FileDescription"), L"");
    }
}

TEST(LibraryVersion, TarnwickGetVersionPacksTheProjectVersionAsTheHeaderDoes)
{
    const auto get = LibraryExport<TarnwickGetVersion_Fn>("TarnwickGetVersion");
    ASSERT_NE(get, nullptr);
    const uint32_t version = get();
    EXPECT_EQ(version, static_cast<uint32_t>(TARNWICK_VERSION));
    EXPECT_EQ(std::to_wstring(version >> 16) + L"." + std::to_wstring((version >> 8) & 0xff) + L"." +
                  std::to_wstring(version & 0xff),
              kProjectVersion);
}

TEST(HostVersion, PrintsTheProjectVersionAndSucceeds)
{
    const ChildResult result = RunProgram(L"\"" + ExeFolder() + L"tarnwick.exe\" --version");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.stdoutBytes, "tarnwick " TW_PROJECT_VERSION "\r\n");
    EXPECT_EQ(result.stderrBytes, "");
}

}  // namespace
