#pragma once

#include <windows.h>

#include <string>

// Starts a child that inherits exactly the standard handles its startup data
// names (when STARTF_USESTDHANDLES is set), through a handle list: with plain
// inheritance every inheritable handle of the host, whatever thread made it,
// would reach the child too. Null, invalid, repeated and non-inheritable
// handles are left out of the list; with none left, inheritance is off.
// The arguments are those of CreateProcessW (an environment, when given, is
// a block of wide characters; program, when given, is the application name,
// the full path of what runs); on failure the last error is the one process
// creation set.
bool StartChild(wchar_t* commandLine, DWORD creationFlags, const wchar_t* workDir, const STARTUPINFOW& startup,
                PROCESS_INFORMATION& info, wchar_t* environment = nullptr, const wchar_t* program = nullptr);

// This process's environment with name set to value, as a block for a child:
// the host's own environment is not the library's to change. Empty when the
// environment cannot be read.
std::wstring EnvironmentWith(const wchar_t* name, const wchar_t* value);
