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

// The folder of the host's executable; empty when it cannot be read.
std::wstring HostFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= runner::kLongPathChars) {
            return std::wstring();
        }
        path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace

std::vector<std::wstring> RelativeProgramPlaces(const std::wstring& path)
{
    if (IsFullyQualified(path)) {
        return {path};
    }
    std::vector<std::wstring> places;
    const std::wstring host = HostFolder();
    if (!host.empty()) {
        places.push_back(host + L"\\" + path);
    }
    places.push_back(FullPath(path));
    return places;
}

std::wstring FirstFileOf(const std::vector<std::wstring>& places)
{
    for (const std::wstring& place : places) {
        if (IsFile(place)) {
            return place;
        }
    }
    return std::wstring();
}

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
