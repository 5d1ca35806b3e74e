#include "CallWorkFolder.h"

#include "PEMakerConstants.h"
#include "common/RemoveTree.h"

#include <windows.h>

CallWorkFolder::~CallWorkFolder()
{
    if (!m_folder.empty()) {
        m_lock.Release();
        RemoveTree(m_folder);
    }
}

const std::wstring& CallWorkFolder::Folder()
{
    if (!m_folder.empty()) {
        return m_folder;
    }
    wchar_t tempFolder[pemaker::kPathChars] = {};
    const DWORD length = GetTempPathW(pemaker::kPathChars, tempFolder);
    wchar_t name[pemaker::kPathChars] = {};
    if (length == 0 || length >= pemaker::kPathChars ||
        GetTempFileNameW(tempFolder, pemaker::kStagingPrefix, 0, name) == 0) {
        return m_folder;
    }
    // The naming call makes a file; a folder of that name takes its place.
    DeleteFileW(name);
    if (CreateDirectoryW(name, nullptr) && m_lock.Take(name)) {
        m_folder = name;
    } else {
        RemoveDirectoryW(name);
    }
    return m_folder;
}
