#pragma once

#include <windows.h>

// Whether an open that failed with error met a file another holds: a
// sharing violation, or a delete pending (a holder closing right now).
bool HeldByAnother(DWORD error);
