#include "StagingFolders.h"

#include "BoundedText.h"
#include "PEMakerConstants.h"
#include "common/CommandRunner.h"
#include "common/RemoveTree.h"

#include <windows.h>

StagingFolders::~StagingFolders()
{
    for (const std::wstring& folder : m_folders) {
        wchar_t command[pemaker::kShortCommandChars];
        FormatBounded(command, pemaker::kShortCommandChars, pemaker::kRmdirFormat, folder.c_str());
        runner::RunCommand(command, pemaker::kCommandTimeoutMs);
        // Whatever the interpreter's rmdir left (a path it rewrote, a file in use) goes here.
        RemoveTree(folder);
    }
}

bool StagingFolders::Make(const std::wstring& parent, std::wstring& folder)
{
    // The naming call makes a file; a folder of that name takes its place.
    wchar_t name[pemaker::kPathChars] = {};
    if (parent.empty() || GetTempFileNameW(parent.c_str(), pemaker::kStagingPrefix, 0, name) == 0) {
        return false;
    }
    DeleteFileW(name);
    if (!CreateDirectoryW(name, nullptr)) {
        return false;
    }
    m_folders.push_back(name);
    folder = name;
    return true;
}
