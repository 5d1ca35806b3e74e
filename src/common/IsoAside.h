#pragma once

#include <windows.h>

#include <string>

// Keeps the ISO that stands at a path until its replacement is complete. Just
// before the ISO tool runs, SetAside moves it to "<ISO path>.previous", so the
// tool finds no file at its output path; unless Keep is called, the
// destructor deletes what the tool left and moves the previous ISO back.
// A ".previous" that already stands there (a crash left it) is the one kept:
// the file at the ISO path is deleted instead. Paths go through their "\\?\"
// form, so an ISO path of 259 characters still has room for the suffix.
class IsoAside {
public:
    static constexpr const wchar_t* kPreviousSuffix = L".previous";

    explicit IsoAside(const std::wstring& isoPath);
    ~IsoAside();
    IsoAside(const IsoAside&) = delete;
    IsoAside& operator=(const IsoAside&) = delete;

    // Clears the ISO path. False, with the system's error code, when the
    // existing ISO can be neither moved nor deleted (3: its folder is missing).
    bool SetAside(DWORD& error);
    // The new ISO is complete: the previous one is deleted.
    void Keep();

    // Where the previous ISO of isoPath waits.
    static std::wstring PreviousPath(const std::wstring& isoPath);

private:
    std::wstring m_iso;
    std::wstring m_previous;
    bool m_cleared = false;   // SetAside succeeded: the ISO path is the tool's
    bool m_holding = false;   // a previous ISO waits to come back
    bool m_kept = false;
};
