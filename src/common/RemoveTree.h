#pragma once

#include <string>

// Removes a file, or a folder with everything in it, through the file system
// alone (for what a removal through the command interpreter left behind).
// Read-only files are made writable first; links are removed, not followed.
// True when nothing is left at path.
bool RemoveTree(const std::wstring& path);
