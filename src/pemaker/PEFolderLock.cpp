#include "PEFolderLock.h"

#include "PEMaker.h"
#include "PEMakerConstants.h"
#include "common/HeldFile.h"

#include <shlwapi.h>

PEFolderLock::PEFolderLock()
{
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    wchar_t path[pemaker::kPathChars] = {};
    if (!PathCombineW(path, peDir, pemaker::kLockFileName)) {
        m_error = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    m_file.Reset(CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (m_file.Valid()) {
        m_state = State::Owned;
        return;
    }
    m_error = GetLastError();
    if (HeldByAnother(m_error)) {
        m_state = State::InUse;
    } else if (m_error == ERROR_PATH_NOT_FOUND && !PathIsDirectoryW(peDir)) {
        // Nothing to protect: the build fails at Init as without a lock.
        m_state = State::NoFolder;
    }
}
