#include "LogFile.h"

#include <windows.h>

#include <share.h>
#include <time.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {
const char kLogFileName[] = "tarnwick.log";
const char kEntryPrefix[] = "[Tarnwick]";
const char kTimeFormat[] = "%04d-%02d-%02d %02d:%02d:%02d";
const size_t kTimeBufferSize = 64;

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

// Appends a width or precision, taking a "*" from the arguments.
const char* CopyNumber(const char* at, std::string& directive, va_list& args, bool precision)
{
    if (*at == '*') {
        const int value = va_arg(args, int);
        // A negative precision counts as none; a negative width is "-" and its size.
        if (!precision || value >= 0) {
            directive += (precision ? "." : "") + std::to_string(value);
        }
        return at + 1;
    }
    if (precision) {
        directive.push_back('.');
    }
    while (std::isdigit(static_cast<unsigned char>(*at))) {
        directive.push_back(*at++);
    }
    return at;
}

// The message of an entry that the C runtime refuses to format: a wide
// string or character holds a character outside the code page it converts
// to. Every conversion is formatted on its own, and wide text is converted
// by WideToAnsi first, which writes such a character as the ANSI code page's
// default character.
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
        const char* const start = at++;
        std::string directive = "%";
        while (*at != '\0' && std::strchr("-+ #0", *at)) {
            directive.push_back(*at++);
        }
        at = CopyNumber(at, directive, args, false);
        if (*at == '.') {
            at = CopyNumber(at + 1, directive, args, true);
        }
        const char* const size = at;
        for (const char* modifier : {"I64", "I32", "hh", "ll", "h", "l", "w", "L", "I", "j", "z", "t"}) {
            if (std::strncmp(at, modifier, std::strlen(modifier)) == 0) {
                at += std::strlen(modifier);
                break;
            }
        }
        const std::string modifier(size, at);
        const char conversion = *at;
        if (conversion == '\0') {
            message.append(start);
            break;
        }
        ++at;
        const bool wideText = modifier == "l" || modifier == "w" ||
                              ((conversion == 'C' || conversion == 'S') && modifier != "h");
        const bool size64 = modifier == "ll" || modifier == "I64" || modifier == "I" || modifier == "j" ||
                            modifier == "z" || modifier == "t";
        const std::string numeric = directive + modifier + conversion;
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
                AppendConversion(message, directive + "s", WideToAnsi(std::wstring(1, character)).c_str());
            } else {
                AppendConversion(message, numeric, va_arg(args, int));
            }
            break;
        case 's':
        case 'S':
            if (wideText) {
                const wchar_t* text = va_arg(args, const wchar_t*);
                AppendConversion(message, directive + "s", text ? WideToAnsi(text).c_str() : nullptr);
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
CLogFile& CLogFile::GetInstance()
{
    const DWORD lastError = GetLastError();
    static CLogFile instance;
    SetLastError(lastError);
    return instance;
}

// Text-mode append with deny-none sharing; a failed open leaves m_stream null
// and every later entry is dropped silently.
CLogFile::CLogFile() : m_stream(_fsopen(kLogFileName, "a", _SH_DENYNO))
{
    std::memset(m_message, 0, sizeof(m_message));
}

CLogFile::~CLogFile()
{
    if (m_stream) {
        std::fclose(m_stream);
    }
}

void CLogFile::Write(int level, const char* function, unsigned int line, const char* format, ...)
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

void CLogFile::WriteV(const char* function, unsigned int line, const char* format, va_list args)
{
    if (!format) {
        return;
    }
    va_list counting;
    va_copy(counting, args);
    const int length = _vscprintf(format, counting);
    va_end(counting);
    if (length < 0) {
        std::string message;
        try {
            message = FormatConvertingWideText(format, args);
        } catch (...) {
            // Without memory the entry is lost, as a long one is.
            return;
        }
        WriteEntry(function, line, message.c_str());
        return;
    }

    const size_t size = static_cast<size_t>(length) + 1;
    char* target = m_message;
    char* heapBlock = nullptr;
    if (size >= kMessageBufferSize) {
        heapBlock = static_cast<char*>(std::malloc(size));
        if (!heapBlock) {
            return;
        }
        target = heapBlock;
    }
    std::vsnprintf(target, size, format, args);
    WriteEntry(function, line, target);
    std::free(heapBlock);
}

void CLogFile::WriteEntry(const char* function, unsigned int line, const char* message)
{
    const std::string stamp = GetTimeString();
    if (m_stream) {
        std::fprintf(m_stream, "%s%s    %s:%u %s\n", kEntryPrefix, stamp.c_str(), function ? function : "", line,
                     message);
        std::fflush(m_stream);
    }
}

std::string CLogFile::GetTimeString()
{
    char buffer[kTimeBufferSize] = {};
    const __time64_t now = _time64(nullptr);
    struct tm local = {};
    if (_localtime64_s(&local, &now) == 0) {
        std::snprintf(buffer, sizeof(buffer), kTimeFormat, local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    }
    return buffer;
}

std::string WideToAnsi(const std::wstring& wide)
{
    std::string result;
    const size_t len = wide.size();
    const size_t capacity = 4 * len + 4;
    char* block = static_cast<char*>(std::calloc(capacity, 1));
    if (!block) {
        return result;
    }
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(len + 1), block,
                         static_cast<int>(capacity), nullptr, nullptr);
    result = block;
    std::free(block);
    return result;
}
