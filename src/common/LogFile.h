#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// Level passed by every call site; it changes nothing about what is written.
constexpr int kLogLevel = 16;

// The process-wide log file "tarnwick.log" in the current directory at first use.
class CLogFile {
public:
    static CLogFile& GetInstance();

    // Neither throws: an entry that cannot be formatted for want of memory is lost.
    void Write(int level, const char* function, unsigned int line, const char* format, ...) noexcept;
    void WriteV(const char* function, unsigned int line, const char* format, va_list args) noexcept;
    std::string GetTimeString();
    // The file's full path as it was opened.
    const std::wstring& Path() const { return m_path; }

    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

private:
    CLogFile();
    ~CLogFile();

    // Fields 1 to 9 of one entry, flushed.
    void WriteEntry(const char* function, unsigned int line, const char* message) noexcept;

    static constexpr size_t kMessageBufferSize = 1024;

    std::wstring m_path;
    FILE* m_stream;
    char m_message[kMessageBufferSize];
};

// Converts to the system ANSI code page; empty on allocation failure. Wide
// text in a log entry's arguments goes through it too.
std::string WideToAnsi(const std::wstring& wide) noexcept;

// One log entry from the calling function, with the caller's source line.
#define TW_LOG(function, ...) \
    CLogFile::GetInstance().Write(kLogLevel, function, __LINE__, __VA_ARGS__)
