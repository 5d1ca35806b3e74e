#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// A call's folder in the temporary folder, holding an open lock file
// "tarnwick-work.lock" (opened without sharing) for its whole life. A host
// that dies closes the lock with its handles, and the next call, which can
// then delete the lock file, knows the folder's owner is gone.
class WorkFolderLock {
public:
    static constexpr const wchar_t* kLockFileName = L"tarnwick-work.lock";

    WorkFolderLock() = default;
    WorkFolderLock(const WorkFolderLock&) = delete;
    WorkFolderLock& operator=(const WorkFolderLock&) = delete;

    // Creates folder\tarnwick-work.lock (CREATE_NEW) and holds it open. False
    // with the last error kept: the folder is not this call's to use.
    bool Take(const std::wstring& folder);
    // Closes and deletes the lock file; the owner removes the folder after.
    void Release();

private:
    UniqueHandle m_file;
    std::wstring m_path;
};

// Removes every folder directly in the temporary folder whose name matches
// one of patterns (such as L"ESD_*") and whose lock file can be deleted: its
// owner is gone. A folder whose lock is held, or that has no lock file, is
// left alone, and so is everything else. Returns how many were removed.
unsigned ReclaimAbandonedWorkFolders(const std::vector<std::wstring>& patterns);

// The work folders of every export: the builder's staging, start-up and
// update items and the converter's, so that any call reclaims them all.
inline constexpr const wchar_t* kWorkFolderPatterns[] = {L"PEC*.tmp", L"PES*.tmp", L"WIM*.tmp", L"ESD_*"};

// ReclaimAbandonedWorkFolders of kWorkFolderPatterns.
unsigned ReclaimAbandonedWorkFolders();
