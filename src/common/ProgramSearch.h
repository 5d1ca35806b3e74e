#pragma once

#include <string>

// The full path of the program the command interpreter would start for name:
// firstFolder when given, then each folder of PATH in order, in each the name
// as given and then with each extension of PATHEXT. The current folder is
// never searched, nor a PATH entry that is relative to it. Empty when found
// nowhere.
std::wstring FindProgram(const std::wstring& name, const wchar_t* firstFolder = nullptr);
