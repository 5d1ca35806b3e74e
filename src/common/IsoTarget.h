#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <string>

// One ISO path, written by one call at a time, and replaced only by a
// complete ISO. The tool writes "<ISO path>.partial" beside the target;
// Commit renames it over the target in one step. Until then the file at the
// ISO path is never touched, and whatever does not end in Commit deletes the
// ".partial" when the owner goes. The ISO path must be absolute.
class IsoTarget {
public:
    static constexpr const wchar_t* kPartialSuffix = L".partial";
    static constexpr const wchar_t* kLockSuffix = L".lock";

    enum class Claim { Owned, InUse, Failed };

    explicit IsoTarget(std::wstring isoPath);
    ~IsoTarget();
    IsoTarget(const IsoTarget&) = delete;
    IsoTarget& operator=(const IsoTarget&) = delete;

    // Opens "<ISO path>.lock" without sharing and delete-on-close, held until
    // the owner goes: a second call on the same file, however spelt, gets
    // InUse. error receives the system's code of a Failed open.
    Claim Lock(DWORD& error);
    // Deletes a ".partial" that an earlier call left; from here the owner
    // removes it again unless committed. False with the system's code.
    bool Prepare(DWORD& error);
    // Replaces the ISO path with the ".partial" (MoveFileExW with
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). False with the
    // system's code; the ".partial" is then deleted by the owner.
    bool Commit(DWORD& error);

    const std::wstring& IsoPath() const { return m_iso; }
    const std::wstring& PartialPath() const { return m_partial; }
    static std::wstring PartialPathOf(const std::wstring& isoPath) { return isoPath + kPartialSuffix; }

private:
    std::wstring m_iso;
    std::wstring m_partial;
    UniqueHandle m_lock;
    bool m_prepared = false;
    bool m_committed = false;
};
