#include "PETestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace petest {

bool RecordingSink::OnProgress(const ProgressInfo* info)
{
    records.push_back(*info);
    return true;
}

bool RecordingSink::ShouldContinue()
{
    ++checks;
    return checks != m_cancelAt;
}

std::vector<long long> RecordingSink::Values() const
{
    std::vector<long long> values;
    for (const ProgressInfo& info : records) {
        values.push_back(info.state == 3 ? -1 : static_cast<long long>(info.current));
    }
    return values;
}

namespace {

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
    RemoveTree(m_path);
}

std::vector<std::wstring> PrivateTemp::Names() const
{
    std::vector<std::wstring> names;
    for (const std::wstring& name : ListNames(m_path)) {
        if (name.compare(0, 2, L"tw") != 0) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace petest

namespace petest {

PEFolder::PEFolder(bool withWim) : m_path(ExeFolder() + L"PE")
{
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
    CreateDirectoryW((m_path + L"\\ISO").c_str(), nullptr);
    CreateDirectoryW((m_path + L"\\ISO\\SOURCES").c_str(), nullptr);
    CreateDirectoryW((m_path + L"\\ISO\\BOOT").c_str(), nullptr);
    if (withWim) {
        WriteBytes(Wim(), "");
    }
}

PEFolder::~PEFolder()
{
    RemoveTree(m_path);
}

}  // namespace petest
