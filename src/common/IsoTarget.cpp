#include "IsoTarget.h"

IsoTarget::IsoTarget(std::wstring isoPath) : m_iso(std::move(isoPath)), m_partial(PartialPathOf(m_iso)) {}

IsoTarget::~IsoTarget()
{
    if (m_prepared && !m_committed) {
        DeleteFileW(m_partial.c_str());
    }
}

IsoTarget::Claim IsoTarget::Lock(DWORD& error)
{
    m_lock.Reset(CreateFileW((m_iso + kLockSuffix).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (m_lock.Valid()) {
        return Claim::Owned;
    }
    error = GetLastError();
    return error == ERROR_SHARING_VIOLATION ? Claim::InUse : Claim::Failed;
}

bool IsoTarget::Prepare(DWORD& error)
{
    if (!DeleteFileW(m_partial.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = GetLastError();
        return false;
    }
    m_prepared = true;
    return true;
}

bool IsoTarget::Commit(DWORD& error)
{
    if (!MoveFileExW(m_partial.c_str(), m_iso.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        return false;
    }
    m_committed = true;
    return true;
}
