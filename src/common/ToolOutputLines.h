#pragma once

#include "AnsiPieceDecoder.h"

#include <functional>
#include <string>

// Reading what a tool prints, as it prints it.
namespace runner {

// Cuts output read in pieces into lines ended by CR or LF (the tool ends its
// progress lines with CR alone) and hands each to a handler as it completes.
// Only the unfinished last line is kept, and at most kMaxLineChars of it: a
// longer line is dropped whole, so a tool that never ends a line cannot fill
// the memory.
class ToolOutputLines {
public:
    using Handler = std::function<void(const std::wstring& line)>;
    explicit ToolOutputLines(Handler handler) : m_handler(std::move(handler)) {}

    void Append(const char* bytes, size_t count);
    // Hands over an unfinished last line.
    void Finish();

private:
    void Take(const std::wstring& text);

    AnsiPieceDecoder m_decoder;
    Handler m_handler;
    std::wstring m_line;
    bool m_overlong = false;
};

// The NN of the last "(NN%)" of a line holding "file data:", at most 100:
// the WIM tool's "... file data: X MiB of Y MiB (NN%) done".
bool FileDataPercent(const std::wstring& line, unsigned& percent);

}  // namespace runner
