#include "SearchWinre.h"

#include "../common/LogFile.h"
#include "WinreConstants.h"

#include <cwchar>
#include <cwctype>

namespace {

bool IsWinreName(const wchar_t* name)
{
    std::wstring lower(name);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return lower == winre::kWinreName;
}

}  // namespace

std::wstring SearchWinre(IVolumeFsDevice* fs, const std::wstring& directory)
{
    if (!fs) {
        return std::wstring();
    }
    // A directory whose pattern would not fit the buffer is treated like one
    // that cannot be enumerated.
    wchar_t pattern[winre::kPatternChars] = {};
    const size_t wildcardLength = std::wcslen(winre::kWildcard);
    uint64_t handle = 0;
    FsFindData data = {};
    if (directory.size() + wildcardLength < winre::kPatternChars) {
        std::wmemcpy(pattern, directory.c_str(), directory.size());
        std::wmemcpy(pattern + directory.size(), winre::kWildcard, wildcardLength);
        handle = fs->FindFirstFile(pattern, &data);
    }
    if (handle == 0 || handle == winre::kInvalidFindHandle) {
        TW_LOG("SearchWinre", winre::kLogFindFirstFailed, directory.c_str());
        return std::wstring();
    }
    std::wstring result;
    do {
        data.name[sizeof data.name / sizeof data.name[0] - 1] = L'\0';
        const std::wstring name = data.name;
        if (name == winre::kCurrentDir || name == winre::kParentDir) {
            continue;
        }
        const std::wstring path = directory + name;
        if (data.attributes & winre::kDirectoryAttribute) {
            result = SearchWinre(fs, path + winre::kSeparator);
        } else if (IsWinreName(data.name)) {
            result = path;
        }
    } while (result.empty() && fs->FindNextFile(handle, &data));
    fs->FindClose(handle);
    return result;
}
