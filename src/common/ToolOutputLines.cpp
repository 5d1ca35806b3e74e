#include "ToolOutputLines.h"

#include "RunnerConstants.h"

namespace runner {
namespace {

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

}  // namespace

void ToolOutputLines::Append(const char* bytes, size_t count)
{
    std::wstring text;
    m_decoder.Append(bytes, count, text);
    Take(text);
}

void ToolOutputLines::Finish()
{
    std::wstring text;
    m_decoder.Finish(text);
    Take(text);
    if (!m_overlong && !m_line.empty()) {
        m_handler(m_line);
    }
    m_line.clear();
    m_overlong = false;
}

void ToolOutputLines::Take(const std::wstring& text)
{
    for (const wchar_t c : text) {
        if (c == L'\r' || c == L'\n') {
            if (!m_overlong && !m_line.empty()) {
                m_handler(m_line);
            }
            m_line.clear();
            m_overlong = false;
        } else if (m_overlong) {
            continue;
        } else if (m_line.size() < kMaxLineChars) {
            m_line.push_back(c);
        } else {
            m_line.clear();
            m_overlong = true;
        }
    }
}

bool FileDataPercent(const std::wstring& line, unsigned& percent)
{
    if (line.find(kFileDataMarker) == std::wstring::npos) {
        return false;
    }
    for (size_t end = line.rfind(L"%)"); end != std::wstring::npos && end > 0; end = line.rfind(L"%)", end - 1)) {
        size_t start = end;
        while (start > 0 && IsDigit(line[start - 1]) && end - start < kMaxPercentDigits) {
            --start;
        }
        if (start < end && start > 0 && line[start - 1] == L'(') {
            unsigned value = 0;
            for (size_t at = start; at < end; ++at) {
                value = value * 10 + static_cast<unsigned>(line[at] - L'0');
            }
            percent = value < kFullPercent ? value : kFullPercent;
            return true;
        }
    }
    return false;
}

}  // namespace runner
