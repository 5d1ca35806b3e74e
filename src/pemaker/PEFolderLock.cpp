#include "PEFolderLock.h"

#include "PEMaker.h"
#include "PEMakerConstants.h"

#include <shlwapi.h>

namespace {

constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056L);

// Windows reports an open of a file whose delete is pending (a holder closing
// right now) as access denied; only the NT status tells the two apart.
bool DeletePending(DWORD error)
{
    if (error == ERROR_DELETE_PENDING) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED) {
        return false;
    }
    using LastNtStatusFn = LONG(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto lastStatus = ntdll ? reinterpret_cast<LastNtStatusFn>(reinterpret_cast<void*>(
                                        GetProcAddress(ntdll, "RtlGetLastNtStatus")))
                                  : nullptr;
    return lastStatus && lastStatus() == kStatusDeletePending;
}

}  // namespace

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
    if (m_error == ERROR_SHARING_VIOLATION || DeletePending(m_error)) {
        m_state = State::InUse;
    } else if (m_error == ERROR_PATH_NOT_FOUND && !PathIsDirectoryW(peDir)) {
        // Nothing to protect: the build fails at Init as without a lock.
        m_state = State::NoFolder;
    }
}
