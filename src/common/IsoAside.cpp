#include "IsoAside.h"

#include "PathIdentity.h"

namespace {

constexpr const wchar_t* kLongPrefix = L"\\\\?\\";
constexpr const wchar_t* kLongUncPrefix = L"\\\\?\\UNC\\";

// The "\\?\" form of a path, which lifts the 260-character limit.
std::wstring LongForm(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    if (full.compare(0, 4, kLongPrefix) == 0) {
        return full;
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return kLongUncPrefix + full.substr(2);
    }
    return kLongPrefix + full;
}

}  // namespace

IsoAside::IsoAside(const std::wstring& isoPath)
    : m_iso(LongForm(isoPath)), m_previous(LongForm(PreviousPath(isoPath)))
{
}

IsoAside::~IsoAside()
{
    if (!m_cleared || m_kept) {
        return;
    }
    DeleteFileW(m_iso.c_str());
    if (m_holding) {
        MoveFileExW(m_previous.c_str(), m_iso.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

bool IsoAside::SetAside(DWORD& error)
{
    // The older ISO is the last one known whole: the one at the ISO path may
    // be what the crashed run had begun.
    m_holding = IsFile(m_previous);
    const bool done = m_holding ? DeleteFileW(m_iso.c_str()) : MoveFileExW(m_iso.c_str(), m_previous.c_str(), 0);
    if (!done) {
        error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return false;
        }
    }
    m_holding = m_holding || done;
    m_cleared = true;
    return true;
}

void IsoAside::Keep()
{
    m_kept = true;
    if (m_holding) {
        DeleteFileW(m_previous.c_str());
    }
}

std::wstring IsoAside::PreviousPath(const std::wstring& isoPath)
{
    return isoPath + kPreviousSuffix;
}
