#include "OutputPipe.h"

#include "AnsiPieceDecoder.h"
#include "RunnerConstants.h"

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

// Anonymous pipes cannot be read with a time-out, so the loop peeks and only
// reads once bytes are there; an ended pipe makes the peek fail.
bool ReadOutputUntil(HANDLE readEnd, std::wstring& output, ULONGLONG deadline)
{
    AnsiPieceDecoder decoder;
    char buffer[runner::kReadBufferBytes];
    bool inTime = true;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            break;
        }
        if (available == 0) {
            if (RemainingMs(deadline) == 0) {
                inTime = false;
                break;
            }
            Sleep(runner::kOutputPollMs);
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, runner::kReadPieceBytes, &got, nullptr) || got == 0) {
            break;
        }
        decoder.Append(buffer, got, output);
    }
    decoder.Finish(output);
    return inTime;
}
