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

// Whether a file, or a folder, exists at path.
bool IsFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);
