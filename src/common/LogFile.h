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

    void Write(int level, const char* function, unsigned int line, const char* format, ...);
    void WriteV(const char* function, unsigned int line, const char* format, va_list args);
    std::string GetTimeString();

    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

private:
    CLogFile();
    ~CLogFile();

    // Fields 1 to 9 of one entry, flushed.
    void WriteEntry(const char* function, unsigned int line, const char* message);

    static constexpr size_t kMessageBufferSize = 1024;

    FILE* m_stream;
    char m_message[kMessageBufferSize];
};

// Converts to the system ANSI code page; empty on allocation failure.
std::string WideToAnsi(const std::wstring& wide);

// One log entry from the calling function, with the caller's source line.
#define TW_LOG(function, ...) \
    CLogFile::GetInstance().Write(kLogLevel, function, __LINE__, __VA_ARGS__)
