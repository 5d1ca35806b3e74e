#include "ProgressBar.h"

#include <cstdio>
#include <utility>

namespace host {
namespace {

std::string Duration(std::uint64_t ms)
{
    const std::uint64_t seconds = ms / 1000;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof(text), "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60),
                      static_cast<unsigned long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof(text), "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    }
    return text;
}

}  // namespace

ProgressBar::ProgressBar(BarStyle style, Clock clock, BarModel* model)
    : m_style(std::move(style)), m_clock(std::move(clock)), m_model(model), m_start(m_clock())
{
}

bool ProgressBar::StartsStage(int percent) const
{
    if (m_lastPercent < 0 || m_style.stageStarts.empty()) {
        return true;
    }
    // A record may skip a stage's first value; the stage still changes.
    for (const int start : m_style.stageStarts) {
        if (start > m_stagePercent && start <= percent) {
            return true;
        }
    }
    return false;
}

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
    const int value = m_model ? m_model->Place(static_cast<int>(percent)) : static_cast<int>(percent);
    if (value == m_lastPercent) {
        return text;
    }
    const std::uint64_t now = m_clock();
    if (StartsStage(value)) {
        m_stagePercent = value;
        m_stageStart = now;
    }
    m_lastPercent = value;
    m_lastTimeText = TimeText(now);
    text.out = Line(m_lastTimeText);
    m_barOnLine = m_style.terminal;
    return text;
}

std::string ProgressBar::Tick()
{
    if (!m_barOnLine) {
        return std::string();
    }
    const std::string timeText = TimeText(m_clock());
    if (timeText == m_lastTimeText) {
        return std::string();
    }
    m_lastTimeText = timeText;
    return Line(timeText);
}

std::string ProgressBar::Finish()
{
    if (!m_barOnLine) {
        return std::string();
    }
    m_barOnLine = false;
    return "\n";
}

// The rest at the current stage's pace: (100 - v) * (t - t0) / (v - v0).
std::string ProgressBar::TimeText(std::uint64_t now) const
{
    std::string text = "  " + Duration(now - m_start) + " elapsed";
    std::uint64_t left = 0;
    if (m_model) {
        return m_model->Left(left) ? text + ", about " + Duration(left) + " left" : text;
    }
    const std::uint64_t stageTime = now - m_stageStart;
    if (stageTime >= kEstimateAfterMs && m_lastPercent > m_stagePercent) {
        left = static_cast<std::uint64_t>(100 - m_lastPercent) * stageTime /
               static_cast<std::uint64_t>(m_lastPercent - m_stagePercent);
        text += ", about " + Duration(left) + " left";
    }
    return text;
}

std::string ProgressBar::Line(const std::string& timeText)
{
    char number[8];
    std::snprintf(number, sizeof(number), "%3d%%", m_lastPercent);
    if (!m_style.terminal) {
        return std::string("progress ") + number + timeText + "\n";
    }
    const int filled = m_lastPercent * kWidth / 100;
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kWidth - filled), '.') + "] " + number + timeText;
    // A shorter redraw blanks what the longer one before it left.
    const size_t drawn = bar.size();
    if (drawn < m_drawnLength) {
        bar.append(m_drawnLength - drawn, ' ');
    }
    m_drawnLength = drawn;
    return "\r" + bar;
}

}  // namespace host
