#pragma once

#include "common/UniqueHandle.h"

#include <string>

// Ownership of the machine-wide mutex named after a PE folder, for as long as
// the object lives. Builds edit the folder's BOOT.wim in place, so two at once
// would mix their content.
class PEFolderLock {
public:
    // Tries once, for the folder "PE" beside the host executable, without
    // waiting. A mutex left by a holder that ended without releasing it is
    // taken over.
    PEFolderLock();
    ~PEFolderLock();
    PEFolderLock(const PEFolderLock&) = delete;
    PEFolderLock& operator=(const PEFolderLock&) = delete;

    bool Owned() const { return m_owned; }

private:
    UniqueHandle m_mutex;
    bool m_owned = false;
};
