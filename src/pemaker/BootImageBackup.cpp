#include "BootImageBackup.h"

#include "PEMakerConstants.h"
#include "common/PathIdentity.h"
#include "common/UniqueHandle.h"

#include <algorithm>

namespace {

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool CopyFlushed(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        return false;
    }
    UniqueHandle file(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    return file.Valid() && FlushFileBuffers(file.Get());
}

}  // namespace

BootImageBackup::BootImageBackup(const wchar_t* peDir)
    : m_sourcesDir(std::wstring(peDir) + pemaker::kSourcesFolder),
      m_wim(m_sourcesDir + L"\\" + pemaker::kWimFileName),
      m_backup(std::wstring(peDir) + L"\\" + pemaker::kWimBackupName),
      m_partial(m_backup + pemaker::kPartialSuffix)
{
}

bool BootImageBackup::RestoreLeftover(bool& restored, DWORD& error)
{
    restored = false;
    DeleteFileW(m_partial.c_str());
    if (!Exists(m_backup)) {
        return true;
    }
    if (!MoveFileExW(m_backup.c_str(), m_wim.c_str(), kReplace)) {
        error = GetLastError();
        return false;
    }
    restored = true;
    return true;
}

bool BootImageBackup::Save(bool replacedByEdit, DWORD& error)
{
    DeleteFileW(m_partial.c_str());
    // Volumes without hard links (FAT) get a copy.
    const bool written = (replacedByEdit && CreateHardLinkW(m_partial.c_str(), m_wim.c_str(), nullptr)) ||
                         CopyFlushed(m_wim, m_partial);
    if (!written || !MoveFileExW(m_partial.c_str(), m_backup.c_str(), kReplace)) {
        error = GetLastError();
        DeleteFileW(m_partial.c_str());
        return false;
    }
    m_namesAtSave = WimNamesInSources();
    m_saved = true;
    return true;
}

void BootImageBackup::Discard()
{
    if (m_saved) {
        DeleteFileW(m_backup.c_str());
        m_saved = false;
    }
}

bool BootImageBackup::Restore(DWORD& error)
{
    if (!m_saved) {
        return true;
    }
    // A link to the image that no edit replaced: renaming one name of a file
    // onto another may leave both (POSIX rename does), so the saved name goes.
    if (SameFile(m_backup, m_wim)) {
        DeleteFileW(m_backup.c_str());
    } else if (!MoveFileExW(m_backup.c_str(), m_wim.c_str(), kReplace)) {
        error = GetLastError();
        return false;
    }
    m_saved = false;
    for (const std::wstring& name : WimNamesInSources()) {
        const auto before = [&name](const std::wstring& old) { return SameName(old, name); };
        if (std::none_of(m_namesAtSave.begin(), m_namesAtSave.end(), before)) {
            DeleteFileW((m_sourcesDir + L"\\" + name).c_str());
        }
    }
    return true;
}

std::vector<std::wstring> BootImageBackup::WimNamesInSources() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    const std::wstring pattern = m_wim + L"*";
    UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (!search.Valid()) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileW(search.Get(), &found));
    return names;
}
