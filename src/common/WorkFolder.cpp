#include "WorkFolder.h"

#include "RemoveTree.h"

bool WorkFolderLock::Take(const std::wstring& folder)
{
    m_path = folder + L"\\" + kLockFileName;
    m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.Valid();
}

void WorkFolderLock::Release()
{
    if (m_file.Valid()) {
        m_file.Reset();
        DeleteFileW(m_path.c_str());
    }
}

unsigned ReclaimAbandonedWorkFolders(const std::vector<std::wstring>& patterns)
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        return 0;
    }
    unsigned removed = 0;
    for (const std::wstring& pattern : patterns) {
        WIN32_FIND_DATAW found = {};
        UniqueFindHandle search(FindFirstFileW((std::wstring(temp) + pattern).c_str(), &found));
        if (!search.Valid()) {
            continue;
        }
        do {
            const std::wstring folder = std::wstring(temp) + found.cFileName;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                DeleteFileW((folder + L"\\" + WorkFolderLock::kLockFileName).c_str()) && RemoveTree(folder)) {
                ++removed;
            }
        } while (FindNextFileW(search.Get(), &found));
    }
    return removed;
}

unsigned ReclaimAbandonedWorkFolders()
{
    return ReclaimAbandonedWorkFolders({L"PEC*.tmp", L"PES*.tmp", L"WIM*.tmp", L"ESD_*"});
}
