#pragma once

#include <windows.h>

#include "PEMakerConstants.h"

// Owns a temporary file by name: the buffer receives the name from
// GetTempFileNameW, and the file is deleted when the owner goes.
class TempFile {
public:
    TempFile() : m_path{} {}
    ~TempFile()
    {
        if (m_path[0] != L'\0') {
            DeleteFileW(m_path);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    wchar_t* Buffer() { return m_path; }
    const wchar_t* Path() const { return m_path; }

private:
    wchar_t m_path[pemaker::kPathChars];
};
