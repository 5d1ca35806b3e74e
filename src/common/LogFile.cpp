#include "LogFile.h"

#include <windows.h>

#include <share.h>
#include <time.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {
const char kLogFileName[] = "tarnwick.log";
const char kEntryPrefix[] = "[Tarnwick]";
const char kTimeFormat[] = "%04d-%02d-%02d %02d:%02d:%02d";
const size_t kTimeBufferSize = 64;

struct FreeBlock {
    void operator()(char* block) const { std::free(block); }
};
using HeapBlock = std::unique_ptr<char, FreeBlock>;

// The time stamp of an entry into a zero-filled buffer; empty when the local
// time cannot be had.
void FormatTime(char (&buffer)[kTimeBufferSize])
{
    std::memset(buffer, 0, sizeof(buffer));
    const __time64_t now = _time64(nullptr);
    struct tm local = {};
    if (_localtime64_s(&local, &now) == 0) {
        std::snprintf(buffer, sizeof(buffer), kTimeFormat, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour, local.tm_min, local.tm_sec);
    }
}

// Appends one conversion, formatted by the C runtime on its own.
template <typename T>
void AppendConversion(std::string& message, const std::string& directive, T value)
{
    const int length = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (length <= 0) {
        return;
    }
    std::string piece(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&piece[0], piece.size(), directive.c_str(), value);
    message.append(piece, 0, static_cast<size_t>(length));
}

// WideToAnsi's conversion, which throws when memory runs out: an entry
// without its wide text is lost rather than written without it.
std::string AnsiOf(const std::wstring& wide)
{
    const size_t len = wide.size();
    const size_t capacity = 4 * len + 4;
    HeapBlock block(static_cast<char*>(std::calloc(capacity, 1)));
    if (!block) {
        throw std::bad_alloc();
    }
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(len + 1), block.get(), static_cast<int>(capacity),
                        nullptr, nullptr);
    return std::string(block.get());
}

// One conversion of a printf format, as the C runtime reads it. Its pieces
// point into the format.
struct Conversion {
    std::string_view flags;
    std::string_view width;
    bool hasPrecision = false;
    std::string_view precision;
    std::string_view modifier;
    // '\0' when the format ends inside the directive.
    char letter = '\0';
    const char* next = nullptr;
};

std::string_view Span(const char* from, const char* to)
{
    return std::string_view(from, static_cast<size_t>(to - from));
}

const char* SkipNumber(const char* at)
{
    if (*at == '*') {
        return at + 1;
    }
    while (std::isdigit(static_cast<unsigned char>(*at))) {
        ++at;
    }
    return at;
}

// The directive whose '%' is at percent (not "%%").
Conversion ParseConversion(const char* percent)
{
    Conversion conv;
    const char* at = percent + 1;
    const char* from = at;
    while (*at != '\0' && std::strchr("-+ #0", *at)) {
        ++at;
    }
    conv.flags = Span(from, at);
    from = at;
    at = SkipNumber(at);
    conv.width = Span(from, at);
    if (*at == '.') {
        conv.hasPrecision = true;
        from = ++at;
        at = SkipNumber(at);
        conv.precision = Span(from, at);
    }
    from = at;
    for (const char* modifier : {"I64", "I32", "hh", "ll", "h", "l", "w", "L", "I", "j", "z", "t"}) {
        if (std::strncmp(at, modifier, std::strlen(modifier)) == 0) {
            at += std::strlen(modifier);
            break;
        }
    }
    conv.modifier = Span(from, at);
    conv.letter = *at;
    conv.next = *at != '\0' ? at + 1 : at;
    return conv;
}

bool IsWideText(const Conversion& conv)
{
    const char c = conv.letter;
    const bool text = c == 's' || c == 'S' || c == 'c' || c == 'C';
    return text && (conv.modifier == "l" || conv.modifier == "w" || ((c == 'C' || c == 'S') && conv.modifier != "h"));
}

// Whether a wide string or character enters the message.
bool HoldsWideText(const char* format)
{
    for (const char* at = std::strchr(format, '%'); at; at = std::strchr(at, '%')) {
        if (at[1] == '%') {
            at += 2;
            continue;
        }
        const Conversion conv = ParseConversion(at);
        if (conv.letter == '\0') {
            return false;
        }
        if (IsWideText(conv)) {
            return true;
        }
        at = conv.next;
    }
    return false;
}

// A width or precision, taking a "*" from the arguments.
void AppendNumber(std::string& directive, std::string_view number, va_list& args, bool precision)
{
    if (number == "*") {
        const int value = va_arg(args, int);
        // A negative precision counts as none; a negative width is "-" and its size.
        if (!precision || value >= 0) {
            directive += (precision ? "." : "") + std::to_string(value);
        }
        return;
    }
    if (precision) {
        directive.push_back('.');
    }
    directive.append(number);
}

// The message of an entry with wide text in it. Every conversion is formatted
// on its own, and wide text is converted by WideToAnsi first: the C runtime
// would convert it in its own locale, so characters outside ASCII would
// reach the log in another code page than the rest of the entry, or stop
// the entry.
std::string FormatConvertingWideText(const char* format, va_list args)
{
    std::string message;
    const char* at = format;
    while (*at != '\0') {
        if (*at != '%') {
            message.push_back(*at++);
            continue;
        }
        if (at[1] == '%') {
            message.push_back('%');
            at += 2;
            continue;
        }
        const char* const start = at;
        const Conversion conv = ParseConversion(at);
        if (conv.letter == '\0') {
            message.append(start);
            break;
        }
        at = conv.next;
        std::string directive = "%";
        directive.append(conv.flags);
        AppendNumber(directive, conv.width, args, false);
        if (conv.hasPrecision) {
            AppendNumber(directive, conv.precision, args, true);
        }
        const std::string_view modifier = conv.modifier;
        const char conversion = conv.letter;
        const bool wideText = IsWideText(conv);
        const bool size64 = modifier == "ll" || modifier == "I64" || modifier == "I" || modifier == "j" ||
                            modifier == "z" || modifier == "t";
        const std::string numeric = directive + std::string(modifier) + conversion;
        switch (conversion) {
        case 'd':
        case 'i':
            if (size64) {
                AppendConversion(message, numeric, va_arg(args, long long));
            } else if (modifier == "l") {
                AppendConversion(message, numeric, va_arg(args, long));
            } else {
                AppendConversion(message, numeric, va_arg(args, int));
            }
            break;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (size64) {
                AppendConversion(message, numeric, va_arg(args, unsigned long long));
            } else if (modifier == "l") {
                AppendConversion(message, numeric, va_arg(args, unsigned long));
            } else {
                AppendConversion(message, numeric, va_arg(args, unsigned int));
            }
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (modifier == "L") {
                AppendConversion(message, numeric, va_arg(args, long double));
            } else {
                AppendConversion(message, numeric, va_arg(args, double));
            }
            break;
        case 'p':
            AppendConversion(message, numeric, va_arg(args, void*));
            break;
        case 'n':
            // Writes nothing, as in the C runtime, but takes its argument.
            (void)va_arg(args, int*);
            break;
        case 'c':
        case 'C':
            if (wideText) {
                const wchar_t character = static_cast<wchar_t>(va_arg(args, int));
                AppendConversion(message, directive + "s", AnsiOf(std::wstring(1, character)).c_str());
            } else {
                AppendConversion(message, numeric, va_arg(args, int));
            }
            break;
        case 's':
        case 'S':
            if (wideText) {
                const wchar_t* text = va_arg(args, const wchar_t*);
                AppendConversion(message, directive + "s", text ? AnsiOf(text).c_str() : nullptr);
            } else {
                AppendConversion(message, numeric, va_arg(args, const char*));
            }
            break;
        default:
            // The arguments behind an unknown conversion cannot be told apart.
            message.append(start);
            return message;
        }
    }
    return message;
}

}  // namespace

// Call sites pass GetLastError() as an argument, which is evaluated after this
// call; opening the file on first use must not change it.
namespace {

std::wstring FullLogPath()
{
    wchar_t path[MAX_PATH] = {};
    const std::wstring name(kLogFileName, kLogFileName + sizeof(kLogFileName) - 1);
    const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH, path, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

}  // namespace

CLogFile& CLogFile::GetInstance()
{
    const DWORD lastError = GetLastError();
    static CLogFile instance;
    SetLastError(lastError);
    return instance;
}

// Text-mode append with deny-none sharing; a failed open leaves m_stream null
// and every later entry is dropped silently.
CLogFile::CLogFile() : m_path(FullLogPath()), m_stream(_fsopen(kLogFileName, "a", _SH_DENYNO))
{
    std::memset(m_message, 0, sizeof(m_message));
}

CLogFile::~CLogFile()
{
    if (m_stream) {
        std::fclose(m_stream);
    }
}

void CLogFile::Write(int level, const char* function, unsigned int line, const char* format, ...) noexcept
{
    (void)level;
    if (!format) {
        return;
    }
    va_list args;
    va_start(args, format);
    WriteV(function, line, format, args);
    va_end(args);
}

// Entries are written from catch handlers and from the exports' own paths, so
// nothing may be thrown from here: without memory the entry is lost, as a
// long one is.
void CLogFile::WriteV(const char* function, unsigned int line, const char* format, va_list args) noexcept
{
    if (!format) {
        return;
    }
    try {
        if (HoldsWideText(format)) {
            WriteEntry(function, line, FormatConvertingWideText(format, args).c_str());
            return;
        }
        va_list counting;
        va_copy(counting, args);
        const int length = _vscprintf(format, counting);
        va_end(counting);
        if (length < 0) {
            WriteEntry(function, line, FormatConvertingWideText(format, args).c_str());
            return;
        }
        const size_t size = static_cast<size_t>(length) + 1;
        char* target = m_message;
        HeapBlock heapBlock;
        if (size >= kMessageBufferSize) {
            heapBlock.reset(static_cast<char*>(std::malloc(size)));
            if (!heapBlock) {
                return;
            }
            target = heapBlock.get();
        }
        std::vsnprintf(target, size, format, args);
        WriteEntry(function, line, target);
    } catch (...) {
    }
}

void CLogFile::WriteEntry(const char* function, unsigned int line, const char* message) noexcept
{
    char stamp[kTimeBufferSize];
    FormatTime(stamp);
    if (m_stream) {
        std::fprintf(m_stream, "%s%s    %s:%u %s\n", kEntryPrefix, stamp, function ? function : "", line, message);
        std::fflush(m_stream);
    }
}

std::string CLogFile::GetTimeString()
{
    char stamp[kTimeBufferSize];
    FormatTime(stamp);
    return stamp;
}

std::string WideToAnsi(const std::wstring& wide) noexcept
{
    try {
        return AnsiOf(wide);
    } catch (...) {
        return std::string();
    }
}
