#pragma once

#include <windows.h>

#include <string>

// The boot image of one call. The call edits a working copy, PE\BOOT.wim.work,
// and ISO\SOURCES\BOOT.wim is only ever replaced by renames: the user's image
// is never written to, and a host that dies at any moment leaves either the
// old image or the new one in place, plus files that the next call settles by
// file identity, never by a blind restore. Renames need the PE folder and
// ISO\SOURCES on one volume (OnOneVolume).
//
// Whatever is not committed is undone when the owner goes.
class BootImageTransaction {
public:
    enum class Leftover { None, Restored, Discarded };

    explicit BootImageTransaction(const wchar_t* peDir);
    ~BootImageTransaction();
    BootImageTransaction(const BootImageTransaction&) = delete;
    BootImageTransaction& operator=(const BootImageTransaction&) = delete;

    // Settles what an interrupted call left: a swapped image whose swap the
    // state file records comes back only if ISO\SOURCES\BOOT.wim is still the
    // new image the state names (or is missing); otherwise the old image is
    // discarded. Leftover working copies (and saves of the last release) go.
    bool SettleInterrupted(Leftover& found, DWORD& error);
    // False when the PE folder and ISO\SOURCES lie on different volumes; true
    // when either cannot be opened (the build then fails where it looks for
    // the image).
    bool OnOneVolume() const;

    // Copies BOOT.wim to the working copy, flushed.
    bool Begin(DWORD& error);
    const std::wstring& WorkPath() const { return m_work; }
    bool Begun() const { return m_begun; }
    // The new image in place and the old one kept as PE\BOOT.wim.previous;
    // the state file is written first.
    bool Swap(DWORD& error);
    bool Swapped() const { return m_swapped; }
    // The working copy replaces BOOT.wim in one rename; nothing is kept.
    bool Replace(DWORD& error);
    // The call succeeded: the old image and the state file go.
    void Commit();
    // Back to the image before Begin: the new image goes, the old one comes
    // back. On failure the files stay for the next call to settle.
    bool Undo(DWORD& error);

    // The size of the image after its last full rewrite, recorded beside it
    // by the image's identity, size and time; false when none is recorded for BOOT.wim.
    bool SizeAtLastRewrite(unsigned long long& size) const;
    // Whether BOOT.wim is the image a build of these inputs (a BuildInputs
    // digest) made, as recorded beside it.
    bool HoldsBuild(const std::string& inputs) const;
    unsigned long long WorkSize() const;
    // Records for the working copy, which becomes BOOT.wim, its size at the
    // last rewrite and the digest of the inputs it was built from.
    void RecordBuild(unsigned long long size, const std::string& inputs) const;

private:
    bool ReadImageRecord(unsigned long long& rewriteSize, std::string& digest) const;
    void DeleteWorkCopies() const;
    bool PutPreviousBack(DWORD& error);

    std::wstring m_peDir;
    std::wstring m_sourcesDir;
    std::wstring m_wim;
    std::wstring m_work;
    std::wstring m_previous;
    std::wstring m_state;
    std::wstring m_rewriteRecord;
    bool m_begun = false;
    bool m_swapped = false;
};
