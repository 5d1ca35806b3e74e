#include "OutputPipe.h"

#include "AnsiPieceDecoder.h"
#include "RunnerConstants.h"
#include "ToolOutputLines.h"

SECURITY_ATTRIBUTES InheritableAttributes()
{
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    return attributes;
}

bool OutputPipe::Create()
{
    SECURITY_ATTRIBUTES attributes = InheritableAttributes();
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &attributes, 0)) {
        return false;
    }
    read.Reset(readEnd);
    write.Reset(writeEnd);
    SetHandleInformation(read.Get(), HANDLE_FLAG_INHERIT, 0);
    return true;
}

ULONGLONG DeadlineAfter(DWORD limitMs)
{
    if (limitMs == INFINITE) {
        return ~0ULL;
    }
    return GetTickCount64() + limitMs;
}

DWORD RemainingMs(ULONGLONG deadline)
{
    if (deadline == ~0ULL) {
        return INFINITE;
    }
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

DWORD BytesWaiting(HANDLE readEnd, bool& ended)
{
    DWORD available = 0;
    ended = !PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    return available;
}

// Anonymous pipes cannot be read with a time-out, so the loop peeks and only
// reads once bytes are there; an ended pipe makes the peek fail.
bool ReadOutputUntil(HANDLE readEnd, HANDLE child, std::wstring& output, ULONGLONG deadline, ToolWatch* watch)
{
    AnsiPieceDecoder decoder;
    size_t kept = 0;
    // Whole lines for a watch that reads them; bytes kept up to the limit otherwise.
    runner::ToolOutputLines lines([&](const std::wstring& line) {
        if (watch->onLine(line) && kept < runner::kMaxDecodedOutputBytes) {
            output += line + L"\n";
            kept += line.size() + 1;
        }
    });
    const bool byLine = watch && watch->onLine;
    char buffer[runner::kReadBufferBytes];
    bool inTime = true;
    ULONGLONG graceEnd = 0;
    ULONGLONG nextCheck = DeadlineAfter(runner::kWatchIntervalMs);
    for (;;) {
        if (RemainingMs(deadline) == 0) {
            inTime = graceEnd != 0;
            break;
        }
        if (watch && RemainingMs(nextCheck) == 0) {
            nextCheck = DeadlineAfter(runner::kWatchIntervalMs);
            if (!watch->keepGoing()) {
                watch->stopped = true;
                return false;
            }
        }
        bool ended = false;
        if (BytesWaiting(readEnd, ended) == 0) {
            if (ended) {
                break;
            }
            // A process is signalled before its handles are closed, so the
            // pipe usually ends a moment after the child; a descendant that
            // holds the write end keeps it open, and only for the grace time.
            if (graceEnd == 0 && WaitForSingleObject(child, 0) == WAIT_OBJECT_0) {
                graceEnd = DeadlineAfter(runner::kEndedChildGraceMs);
            } else if (graceEnd != 0 && RemainingMs(graceEnd) == 0) {
                break;
            }
            Sleep(runner::kOutputPollMs);
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, runner::kReadPieceBytes, &got, nullptr) || got == 0) {
            break;
        }
        if (byLine) {
            lines.Append(buffer, got);
        } else if (kept < runner::kMaxDecodedOutputBytes) {
            const size_t take = got < runner::kMaxDecodedOutputBytes - kept ? got : runner::kMaxDecodedOutputBytes - kept;
            decoder.Append(buffer, take, output);
            kept += take;
        }
    }
    if (byLine) {
        lines.Finish();
    } else {
        decoder.Finish(output);
    }
    return inTime;
}
