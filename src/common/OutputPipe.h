#pragma once

#include "ToolWatch.h"
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

// Reads the pipe in pieces of at most 4095 bytes, converted from the ANSI code
// page and appended to output, until it ends, or until it has stayed empty
// for kEndedChildGraceMs after child ended: a descendant that still holds the
// write end does not keep the reading going. Only the first
// kMaxDecodedOutputBytes are kept; the rest is read and dropped, so a tool
// that writes without end cannot fill the memory. Stops at the deadline (a
// GetTickCount64 value) whether or not output keeps arriving, and then
// returns false unless child had ended by then. With a watch, its keepGoing
// is asked as it promises, and false stops the reading (watch->stopped set,
// false returned); with its onLine, the output keeps the lines it answers
// true for, each ended by a line feed.
bool ReadOutputUntil(HANDLE readEnd, HANDLE child, std::wstring& output, ULONGLONG deadline,
                     ToolWatch* watch = nullptr);

// Bytes that a read of the pipe would return at once; ended is set when the
// pipe has ended (all write ends closed) or cannot be read.
DWORD BytesWaiting(HANDLE readEnd, bool& ended);

// GetTickCount64 value after limitMs; INFINITE never comes.
ULONGLONG DeadlineAfter(DWORD limitMs);
// Time left until the deadline, for a wait.
DWORD RemainingMs(ULONGLONG deadline);
