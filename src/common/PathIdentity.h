#pragma once

#include <string>

// The full path of path (against the current folder when relative); path
// itself when it has none.
std::wstring FullPath(const std::wstring& path);
// The "\\?\" form of the full path, which lifts the 260-character limit.
std::wstring LongFormPath(const std::wstring& path);

// Whether two paths name one file: the same volume and file index where both
// can be opened (other spellings, links), else the same full path, case ignored.
bool SameFile(const std::wstring& a, const std::wstring& b);

// What names one file on one machine: its volume and its index there. Stays
// with the file through renames on its volume.
struct FileId {
    unsigned long volume = 0;
    unsigned long long index = 0;
    bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
};

// The identity of the file or folder at path; false when it cannot be opened.
bool IdentifyFile(const std::wstring& path, FileId& id);

// Whether path is folder or lies inside it, by the identity of folder and of
// path's folders (other spellings, links and mounted drives meet).
bool IsAtOrInside(const std::wstring& path, const std::wstring& folder);

// The size of the file at path; 0 when it cannot be read.
unsigned long long FileSize(const std::wstring& path);

// Whether a file, or a folder, exists at path.
bool IsFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);
