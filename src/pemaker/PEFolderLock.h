#pragma once

#include "common/UniqueHandle.h"

#include <windows.h>

// One build at a time per PE folder, for as long as the object lives. Builds
// edit the folder's BOOT.wim in place, so two at once would mix their content.
//
// The lock is a file in the PE folder, opened without sharing and deleted on
// close: the file system, not the path's spelling, decides that two opens
// meet, so an 8.3 name, another drive letter, a link or a share all collide,
// and a holder that dies releases it with its handles.
class PEFolderLock {
public:
    enum class State { Owned, InUse, NoFolder, Failed };

    // Tries once, for the folder "PE" beside the host executable, without waiting.
    PEFolderLock();
    PEFolderLock(const PEFolderLock&) = delete;
    PEFolderLock& operator=(const PEFolderLock&) = delete;

    State Get() const { return m_state; }
    // The error of a failed open.
    DWORD Error() const { return m_error; }

private:
    UniqueHandle m_file;
    State m_state = State::Failed;
    DWORD m_error = 0;
};
