#include "PEFolderLock.h"

#include "PEMaker.h"
#include "PEMakerConstants.h"
#include "common/PathIdentity.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace {

// One name for every spelling of the folder's full path.
std::wstring MutexName()
{
    wchar_t peDir[pemaker::kPathChars] = {};
    ComposePEFolder(peDir);
    const std::wstring full = FullPath(peDir);
    std::wstring path(full.size(), L'\0');
    const int length = static_cast<int>(full.size());
    if (full.empty() || LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(), length, &path[0], length,
                                      nullptr, nullptr, 0) != length) {
        path = full;
    }
    // A backslash after the namespace prefix would name an object directory.
    std::replace(path.begin(), path.end(), L'\\', pemaker::kMutexSeparatorStandIn);
    const std::wstring name = pemaker::kPEFolderMutexPrefix + path;
    if (name.size() <= pemaker::kMutexNameMaxChars) {
        return name;
    }
    // FNV-1a over the UTF-16 units of the normalised path.
    uint64_t hash = pemaker::kFnvOffsetBasis;
    for (const wchar_t unit : path) {
        hash = (hash ^ static_cast<uint16_t>(unit)) * pemaker::kFnvPrime;
    }
    wchar_t digits[pemaker::kHashDigitsChars] = {};
    swprintf(digits, pemaker::kHashDigitsChars, L"%016llX", static_cast<unsigned long long>(hash));
    return pemaker::kPEFolderMutexHashPrefix + std::wstring(digits);
}

}  // namespace

PEFolderLock::PEFolderLock() : m_mutex(CreateMutexW(nullptr, FALSE, MutexName().c_str()))
{
    // No mutex at all (one of another account that this one may not open):
    // counted as another build's.
    if (!m_mutex.Valid()) {
        return;
    }
    const DWORD state = WaitForSingleObject(m_mutex.Get(), 0);
    m_owned = state == WAIT_OBJECT_0 || state == WAIT_ABANDONED;
}

PEFolderLock::~PEFolderLock()
{
    if (m_owned) {
        ReleaseMutex(m_mutex.Get());
    }
}
