#pragma once

#include <windows.h>

// Starts a child that inherits exactly the standard handles its startup data
// names (when STARTF_USESTDHANDLES is set), through a handle list: with plain
// inheritance every inheritable handle of the host, whatever thread made it,
// would reach the child too. Null, invalid, repeated and non-inheritable
// handles are left out of the list; with none left, inheritance is off.
// The arguments are those of CreateProcessW; on failure the last error is
// the one process creation set.
bool StartChild(wchar_t* commandLine, DWORD creationFlags, const wchar_t* workDir, const STARTUPINFOW& startup,
                PROCESS_INFORMATION& info);
