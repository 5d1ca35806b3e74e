#pragma once

#include <string>
#include <vector>

// The full path of the program the command interpreter would start for name:
// firstFolder when given, then each folder of PATH in order, in each the name
// as given and then with each extension of PATHEXT. The current folder is
// never searched, nor a PATH entry that is relative to it. Empty when found
// nowhere.
std::wstring FindProgram(const std::wstring& name, const wchar_t* firstFolder = nullptr);

// Where a program named by a relative path such as "tools\cdimage.exe" is
// looked for, in order, as full paths: below the host executable's folder,
// then below the current folder. A fully qualified path is its own only place.
std::vector<std::wstring> RelativeProgramPlaces(const std::wstring& path);
// The first of places that is a file; empty when none is.
std::wstring FirstFileOf(const std::vector<std::wstring>& places);
