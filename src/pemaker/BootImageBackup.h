#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The saved BOOT.wim of one build, put back when the build does not succeed.
// It lies in the PE folder, outside ISO\, so never on the media.
class BootImageBackup {
public:
    explicit BootImageBackup(const wchar_t* peDir);
    BootImageBackup(const BootImageBackup&) = delete;
    BootImageBackup& operator=(const BootImageBackup&) = delete;

    // Puts back the image that an interrupted build saved, if there is one
    // (restored tells), and deletes a save that never completed.
    bool RestoreLeftover(bool& restored, DWORD& error);
    // Saves BOOT.wim as BOOT.wim.bak: written under a temporary name, flushed,
    // then renamed. replacedByEdit: the first edit writes a new file (a
    // rebuild), so a hard link keeps the old content; an edit in place needs
    // a copy.
    bool Save(bool replacedByEdit, DWORD& error);
    bool Saved() const { return m_saved; }
    // The build succeeded: the saved image goes.
    void Discard();
    // Puts the saved image back by rename and deletes the files beginning
    // with BOOT.wim in ISO\SOURCES that were not there at the save (a cut-off
    // rebuild leaves its temporary file). On failure the saved image stays
    // for the next build.
    bool Restore(DWORD& error);

private:
    std::vector<std::wstring> WimNamesInSources() const;

    std::wstring m_sourcesDir;
    std::wstring m_wim;
    std::wstring m_backup;
    std::wstring m_partial;
    std::vector<std::wstring> m_namesAtSave;
    bool m_saved = false;
};
