#include "ConsoleSink.h"

#include "common/PathIdentity.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace host {
namespace {

constexpr uint32_t kFailureState = 3;

volatile LONG g_cancelRequested = 0;

// Ctrl+C and Ctrl+Break only raise the flag; the library stops at its next
// check and the call returns normally.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        InterlockedExchange(&g_cancelRequested, 1);
        return TRUE;
    }
    return FALSE;
}

bool OutputIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

}  // namespace

ConsoleSink::ConsoleSink(bool cursorHome, std::vector<int> stageStarts)
    : m_bar(BarStyle{OutputIsTerminal(), cursorHome, std::move(stageStarts)}, [] { return GetTickCount64(); })
{
    InterlockedExchange(&g_cancelRequested, 0);
    // A parent may have passed on Ctrl+C ignored (a new process group does),
    // which would keep the handler from ever seeing it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleSink::~ConsoleSink()
{
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool ConsoleSink::OnProgress(const ProgressInfo* info)
{
    if (!info) {
        return true;
    }
    ProgressRecord record;
    record.failure = info->state == kFailureState;
    record.current = info->current;
    record.total = info->total;
    record.message.assign(info->message, strnlen(info->message, sizeof(info->message)));
    const bool end = !record.failure && record.total != 0 && record.current >= record.total;
    if (end && !m_reachedEnd && !m_measured.empty()) {
        m_sizeAtEnd = FileSize(m_measured);
    }
    m_reachedEnd = m_reachedEnd || end;
    const ConsoleText text = m_bar.Update(record);
    std::fputs(text.out.c_str(), stdout);
    std::fflush(stdout);
    std::fputs(text.err.c_str(), stderr);
    return true;
}

bool ConsoleSink::ShouldContinue()
{
    // The converter asks every 250 ms, which keeps the bar's clock going.
    const std::string tick = m_bar.Tick();
    if (!tick.empty()) {
        std::fputs(tick.c_str(), stdout);
        std::fflush(stdout);
    }
    return InterlockedCompareExchange(&g_cancelRequested, 0, 0) == 0;
}

void ConsoleSink::Finish()
{
    std::fputs(m_bar.Finish().c_str(), stdout);
    std::fflush(stdout);
}

bool ConsoleSink::Cancelled() const
{
    return InterlockedCompareExchange(&g_cancelRequested, 0, 0) != 0;
}

}  // namespace host
