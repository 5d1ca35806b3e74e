#include "PETestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace petest {

namespace {

// Test programs run side by side in bin\ and the log file lies in the current
// folder at first use, so each of these programs works in a folder of its
// own, bin\testlogs\<program>, where its log lines cannot mix with others'.
class OwnLogFolder : public testing::Environment {
public:
    void SetUp() override
    {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring name = L"\\" + std::wstring(self).substr(ExeFolder().size());
        name.resize(name.find_last_of(L'.'));
        MakeTree(ExeFolder() + L"testlogs", {name.c_str()});
        SetCurrentDirectoryW((ExeFolder() + L"testlogs" + name).c_str());
    }
};

const testing::Environment* const ownLogFolder = testing::AddGlobalTestEnvironment(new OwnLogFolder);

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? buffer : L"";
}

void RestoreEnv(const wchar_t* name, const std::wstring& value)
{
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

}  // namespace

bool RecordingSink::OnProgress(const ProgressInfo* info)
{
    records.push_back(*info);
    return true;
}

bool RecordingSink::ShouldContinue()
{
    ++checks;
    return m_cancelAt == 0 || checks < m_cancelAt;
}

std::vector<long long> RecordingSink::Values() const
{
    std::vector<long long> values;
    for (const ProgressInfo& info : records) {
        values.push_back(info.state == 3 ? -1 : static_cast<long long>(info.current));
    }
    return values;
}

PrivateTemp::PrivateTemp() : m_oldTmp(Env(L"TMP")), m_oldTemp(Env(L"TEMP"))
{
    static unsigned counter = 0;
    m_path = TempFolder() + L"twtemp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", m_path.c_str());
    SetEnvironmentVariableW(L"TEMP", m_path.c_str());
}

PrivateTemp::~PrivateTemp()
{
    RestoreEnv(L"TMP", m_oldTmp);
    RestoreEnv(L"TEMP", m_oldTemp);
    for (const std::wstring& name : ListNames(m_path)) {
        EXPECT_TRUE(name.compare(0, 2, L"tw") == 0 || name == L"_wim_empty") << "left in TEMP: " << Narrow(name);
    }
    RemoveTree(m_path);
}

PEFolder::PEFolder(bool withWim) : m_path(ExeFolder() + L"PE")
{
    RemoveTree(m_path);
    MakeTree(m_path, {L"\\ISO", L"\\ISO\\SOURCES", L"\\ISO\\BOOT"});
    if (withWim) {
        WriteBytes(Wim(), "");
    }
}

PEFolder::~PEFolder()
{
    RemoveTree(m_path);
}

ToolsFirstOnPath::ToolsFirstOnPath()
{
    std::vector<wchar_t> buffer(32768, L'\0');
    GetEnvironmentVariableW(L"PATH", buffer.data(), static_cast<DWORD>(buffer.size()));
    m_previous = buffer.data();
    SetEnvironmentVariableW(L"PATH", (ExeFolder() + L"tools;" + m_previous).c_str());
}

ToolsFirstOnPath::~ToolsFirstOnPath()
{
    SetEnvironmentVariableW(L"PATH", m_previous.c_str());
}

void MakeTree(const std::wstring& base, std::initializer_list<const wchar_t*> folders,
              std::initializer_list<std::pair<const wchar_t*, std::string>> files)
{
    CreateDirectoryW(base.c_str(), nullptr);
    for (const wchar_t* folder : folders) {
        CreateDirectoryW((base + folder).c_str(), nullptr);
    }
    for (const auto& file : files) {
        WriteBytes(base + file.first, file.second);
    }
}

std::string Narrow(const std::wstring& text)
{
    return standin::ToUtf8(text);
}

std::string Utf16(const std::string& text)
{
    std::string bytes;
    for (char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

std::string Sh(const std::string& script)
{
    const standin::UnixResult result = Shell(script);
    EXPECT_TRUE(result.answered && result.exitCode == 0) << script << "\n" << result.output;
    return result.output;
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
    const standin::UnixResult made = Unix({"wimlib-imagex", "capture", UnixPath(folder), UnixPath(wim), "--quiet"});
    EXPECT_TRUE(made.answered && made.exitCode == 0) << made.output;
    return made.answered && made.exitCode == 0;
}

}  // namespace petest
