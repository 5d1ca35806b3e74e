#include "ProgressBar.h"

#include <cstdio>

namespace host {

ConsoleText ProgressBar::Update(const ProgressRecord& record)
{
    ConsoleText text;
    if (record.failure) {
        text.out = Finish();
        text.err = "error: " + (record.message.empty() ? std::string("operation failed") : record.message) + "\n";
        return text;
    }
    std::uint64_t percent = record.total == 0 ? 0 : record.current * 100 / record.total;
    if (percent > 100) {
        percent = 100;
    }
    const int value = static_cast<int>(percent);
    if (value == m_lastPercent) {
        return text;
    }
    m_lastPercent = value;
    char number[8];
    std::snprintf(number, sizeof(number), "%3d%%", value);
    if (!m_terminal) {
        text.out = std::string("progress ") + number + "\n";
        return text;
    }
    const int filled = value * kWidth / 100;
    text.out = "\r[" + std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(kWidth - filled), '.') + "] " + number + (m_cursorHome ? "\r" : "");
    m_barOnLine = true;
    return text;
}

std::string ProgressBar::Finish()
{
    if (!m_barOnLine) {
        return std::string();
    }
    m_barOnLine = false;
    return "\n";
}

}  // namespace host
