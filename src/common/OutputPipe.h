#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <string>

// The anonymous pipe that carries a child's standard output and error. Its
// handles are made inheritable and the read end is then taken out of
// inheritance, so that only the write end passes to the child.
struct OutputPipe {
    UniqueHandle read;
    UniqueHandle write;

    bool Create();
};

// Security attributes that make a handle inheritable.
SECURITY_ATTRIBUTES InheritableAttributes();

// Reads the pipe until it ends, in pieces of at most 4095 bytes converted from
// the ANSI code page and appended to output. The reading is bounded: it stops
// at the deadline (a GetTickCount64 value) even when a child or one of its
// descendants keeps the write end open. Returns false when the deadline came
// first.
bool ReadOutputUntil(HANDLE readEnd, std::wstring& output, ULONGLONG deadline);

// GetTickCount64 value after limitMs; INFINITE never comes.
ULONGLONG DeadlineAfter(DWORD limitMs);
// Time left until the deadline, for a wait.
DWORD RemainingMs(ULONGLONG deadline);
