#include "ProgramSearch.h"

#include "PathIdentity.h"
#include "RunnerConstants.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace {

std::wstring EnvironmentValue(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

// The entries of a list such as PATH: split at ';', quotes dropped, empty ones left out.
std::vector<std::wstring> SplitList(const std::wstring& list)
{
    std::vector<std::wstring> entries;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(L';', start), list.size());
        std::wstring entry;
        for (size_t i = start; i < end; ++i) {
            if (list[i] != L'"') {
                entry += list[i];
            }
        }
        if (!entry.empty()) {
            entries.push_back(entry);
        }
        start = end + 1;
    }
    return entries;
}

// "X:\..." or "\\server\...": a folder that does not depend on the current one.
bool IsFullyQualified(const std::wstring& folder)
{
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (folder.size() >= 3 && std::iswalpha(folder[0]) && folder[1] == L':' && separator(folder[2])) {
        return true;
    }
    return folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
}

std::wstring WithoutTrailingSeparators(std::wstring folder)
{
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

std::wstring FindProgram(const std::wstring& name, const wchar_t* firstFolder)
{
    std::wstring pathExt = EnvironmentValue(L"PATHEXT");
    if (pathExt.empty()) {
        pathExt = runner::kDefaultPathExt;
    }
    const std::vector<std::wstring> extensions = SplitList(pathExt);
    std::vector<std::wstring> folders;
    if (firstFolder) {
        folders.push_back(firstFolder);
    }
    for (const std::wstring& folder : SplitList(EnvironmentValue(L"PATH"))) {
        if (IsFullyQualified(folder)) {
            folders.push_back(folder);
        }
    }
    for (const std::wstring& folder : folders) {
        const std::wstring candidate = WithoutTrailingSeparators(folder) + L"\\" + name;
        if (IsFile(candidate)) {
            return candidate;
        }
        for (const std::wstring& extension : extensions) {
            if (IsFile(candidate + extension)) {
                return candidate + extension;
            }
        }
    }
    return std::wstring();
}
