#pragma once

#include <string>
#include <vector>

// The "PEC" staging folders of one injection, in the call's work folder,
// removed with rmdir through the command runner, in the order they were
// made, when the owner goes.
class StagingFolders {
public:
    StagingFolders() = default;
    ~StagingFolders();
    StagingFolders(const StagingFolders&) = delete;
    StagingFolders& operator=(const StagingFolders&) = delete;

    // Makes a new empty staging folder in parent.
    bool Make(const std::wstring& parent, std::wstring& folder);

private:
    std::vector<std::wstring> m_folders;
};
