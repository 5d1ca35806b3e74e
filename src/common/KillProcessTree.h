#pragma once

#include <windows.h>

// Ends a process and all its descendants, depth first: every child's tree
// before the process itself, one process snapshot per level. Nothing is
// reported; a process that cannot be opened is left alone.
void KillProcessTree(DWORD processId);
