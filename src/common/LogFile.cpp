#include "LogFile.h"

#include <windows.h>

#include <share.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

namespace {
const char kLogFileName[] = "tarnwick.log";
const char kEntryPrefix[] = "[Tarnwick]";
const char kTimeFormat[] = "%04d-%02d-%02d %02d:%02d:%02d";
const size_t kTimeBufferSize = 64;
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

    const std::string stamp = GetTimeString();
    if (m_stream) {
        std::fprintf(m_stream, "%s%s    %s:%u %s\n", kEntryPrefix, stamp.c_str(),
                     function ? function : "", line, target);
        std::fflush(m_stream);
    }
    std::free(heapBlock);
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
