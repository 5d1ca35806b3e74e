#include "ToolSearch.h"

#include "ProgramFolder.h"

#include <windows.h>

#include <vector>

namespace host {
namespace {

const wchar_t kSearchPathName[] = L"PATH";

std::wstring SearchPath()
{
    const DWORD size = GetEnvironmentVariableW(kSearchPathName, nullptr, 0);
    std::wstring value(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetEnvironmentVariableW(kSearchPathName, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

std::vector<std::wstring> SearchPathFolders()
{
    std::vector<std::wstring> folders;
    const std::wstring path = SearchPath();
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        end = end == std::wstring::npos ? path.size() : end;
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (!folder.empty()) {
            folders.push_back(folder);
        }
        start = end + 1;
    }
    return folders;
}

std::wstring ToolsFolder()
{
    return plainwin::ProgramFolder() + L"tools";
}

bool IsFileIn(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring path = folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Missing(const std::wstring& name, const std::vector<std::wstring>& folders, const std::wstring& places)
{
    for (const std::wstring& folder : folders) {
        if (IsFileIn(folder, name)) {
            return std::wstring();
        }
    }
    return name + L" not found (looked in " + places + L")";
}

}  // namespace

void AppendToolsToPath()
{
    const std::wstring path = SearchPath();
    SetEnvironmentVariableW(kSearchPathName, (path + (path.empty() || path.back() == L';' ? L"" : L";") +
                                              ToolsFolder()).c_str());
}

std::wstring CheckTools(const Options& options, const std::wstring& workFolder)
{
    // The WIM tool and cdimage are started as tools\<name>: the library
    // tries this program's folder first, then the folder it works in.
    std::vector<std::wstring> folders{ToolsFolder()};
    std::wstring places = ToolsFolder();
    if (!workFolder.empty()) {
        folders.push_back(workFolder + L"\\tools");
        places += L"; " + folders.back();
    }
    std::vector<std::wstring> names;
    switch (options.command) {
    case Command::MakePe:
    case Command::ConfigureBootWim:
        names = {L"wimlib-imagex.exe"};
        break;
    case Command::EsdToIso:
        names = {L"wimlib-imagex.exe", L"cdimage.exe"};
        break;
    default:
        break;
    }
    for (const std::wstring& name : names) {
        const std::wstring missing = Missing(name, folders, places);
        if (!missing.empty()) {
            return missing;
        }
    }
    if (options.command != Command::MakePe || options.deliver == L"restart") {
        return std::wstring();
    }
    // oscdimg goes through the command interpreter, started in the PE
    // folder: that folder first, then the search path, which ends in tools\.
    const std::wstring pe = plainwin::ProgramFolder() + L"PE";
    std::vector<std::wstring> searched{pe};
    for (const std::wstring& folder : SearchPathFolders()) {
        searched.push_back(folder);
    }
    return Missing(L"oscdimg.exe", searched, pe + L"; PATH; " + ToolsFolder());
}

}  // namespace host
