#pragma once

#include <windows.h>

// Opens a process by identifier with the given rights (OpenProcess).
using ProcessOpener = HANDLE (*)(DWORD access, DWORD processId);

// Ends a process and all its descendants, depth first: every child's tree
// before the process itself, one process snapshot per level. Nothing is
// reported; a process that cannot be opened is left alone, and so is one
// created after the snapshot that listed its identifier (the identifier was
// reused). open replaces OpenProcess only in tests.
void KillProcessTree(DWORD processId, ProcessOpener open = nullptr);
