#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <string>

// Calls visit(entry), a WIN32_FIND_DATAW, for each entry of folder but "."
// and "..", in the file system's order, until visit returns false. False
// when the folder cannot be listed.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW found = {};
    UniqueFindHandle search(
        FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search.Valid()) {
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && !visit(static_cast<const WIN32_FIND_DATAW&>(found))) {
            return true;
        }
    } while (FindNextFileW(search.Get(), &found));
    return true;
}
