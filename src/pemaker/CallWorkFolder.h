#pragma once

#include "common/WorkFolder.h"

#include <string>

// A build's own folder in the temporary folder, "PEC*.tmp", holding the
// call's update command files, start-up files and staging folders under
// their prefixes, and a work lock for its whole life: a call that dies
// leaves one folder, which the next call reclaims. Made on first use and
// removed, with everything in it, when the owner goes.
class CallWorkFolder {
public:
    CallWorkFolder() = default;
    ~CallWorkFolder();
    CallWorkFolder(const CallWorkFolder&) = delete;
    CallWorkFolder& operator=(const CallWorkFolder&) = delete;

    // The folder, made if need be; empty when it cannot be made.
    const std::wstring& Folder();

private:
    std::wstring m_folder;
    WorkFolderLock m_lock;
};
