#include "WorkFolder.h"

#include "RemoveTree.h"

#include <shlwapi.h>

#include <iterator>

namespace {

// GetTempPathW's own limit, with its trailing backslash.
constexpr DWORD kTempPathChars = MAX_PATH + 1;

}  // namespace

bool WorkFolderLock::Take(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\" + kLockFileName;
    // No sharing: a delete by another call fails for as long as this handle lives.
    m_file.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.Valid()) {
        return false;
    }
    m_path = path;
    return true;
}

void WorkFolderLock::Release()
{
    if (!m_file.Valid()) {
        return;
    }
    m_file.Reset();
    DeleteFileW(m_path.c_str());
    m_path.clear();
}

unsigned ReclaimAbandonedWorkFolders(const std::vector<std::wstring>& patterns)
{
    wchar_t temp[kTempPathChars] = {};
    const DWORD length = GetTempPathW(kTempPathChars, temp);
    if (length == 0 || length >= kTempPathChars) {
        return 0;
    }
    std::vector<std::wstring> folders;
    for (const std::wstring& pattern : patterns) {
        WIN32_FIND_DATAW entry;
        const UniqueFindHandle find(FindFirstFileW((temp + pattern).c_str(), &entry));
        if (!find.Valid()) {
            continue;
        }
        do {
            // A link is never ours, and a search also matches short names.
            const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            if (folder && PathMatchSpecW(entry.cFileName, pattern.c_str())) {
                folders.push_back(temp + std::wstring(entry.cFileName));
            }
        } while (FindNextFileW(find.Get(), &entry));
    }
    unsigned removed = 0;
    for (const std::wstring& folder : folders) {
        const std::wstring lock = folder + L"\\" + WorkFolderLock::kLockFileName;
        if (!DeleteFileW(lock.c_str())) {
            continue;
        }
        if (RemoveTree(folder)) {
            ++removed;
        } else {
            // A file of it still open (a dying tool's): a later call tries again.
            UniqueHandle(CreateFileW(lock.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        }
    }
    return removed;
}

unsigned ReclaimAbandonedWorkFolders()
{
    return ReclaimAbandonedWorkFolders(std::vector<std::wstring>(std::begin(kWorkFolderPatterns),
                                                                 std::end(kWorkFolderPatterns)));
}
