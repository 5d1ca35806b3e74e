#include "IsoTarget.h"

#include "HeldFile.h"
#include "PathIdentity.h"

#include <utility>

namespace {

// Drive-letter or UNC: anything else would be resolved against whatever the
// current folder is when the file is opened.
bool IsAbsolute(const std::wstring& path)
{
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    return drive || path.compare(0, 2, L"\\\\") == 0;
}

}  // namespace

IsoTarget::IsoTarget(std::wstring isoPath) : m_iso(std::move(isoPath)), m_partial(PartialPathOf(m_iso)) {}

IsoTarget::~IsoTarget()
{
    if (m_prepared && !m_committed) {
        DeleteFileW(LongFormPath(m_partial).c_str());
    }
}

IsoTarget::Claim IsoTarget::Lock(DWORD& error)
{
    if (!IsAbsolute(m_iso)) {
        error = ERROR_BAD_PATHNAME;
        return Claim::Failed;
    }
    // Not inheritable: the tools must not keep it after the call.
    m_lock.Reset(CreateFileW(LongFormPath(m_iso + kLockSuffix).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (m_lock.Valid()) {
        return Claim::Owned;
    }
    error = GetLastError();
    return HeldByAnother(error) ? Claim::InUse : Claim::Failed;
}

bool IsoTarget::Prepare(DWORD& error)
{
    if (!DeleteFileW(LongFormPath(m_partial).c_str())) {
        error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return false;
        }
    }
    m_prepared = true;
    return true;
}

bool IsoTarget::Commit(DWORD& error)
{
    if (!MoveFileExW(LongFormPath(m_partial).c_str(), LongFormPath(m_iso).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        return false;
    }
    m_committed = true;
    return true;
}
