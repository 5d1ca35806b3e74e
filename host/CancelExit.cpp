#include "CancelExit.h"

#include "HostConstants.h"

#include <windows.h>

#include <cstdio>

namespace host {
namespace {

// Set before the handler is, read by it on the thread Windows starts for it.
const char* g_text = nullptr;
std::wstring g_unfinished;

BOOL WINAPI OnControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    // The line the cursor is on may be a question or a bar.
    std::fputs("\n", stdout);
    std::fflush(stdout);
    std::fputs(g_text, stderr);
    std::fflush(stderr);
    // The writer shares deletion: the file goes when its handle closes at exit.
    if (!g_unfinished.empty()) {
        DeleteFileW(g_unfinished.c_str());
    }
    ExitProcess(kExitCancelled);
}

}  // namespace

CancelExit::CancelExit(const char* text, const std::wstring& unfinished)
{
    g_text = text;
    g_unfinished = unfinished;
    // A parent may have passed on Ctrl+C ignored.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

CancelExit::~CancelExit()
{
    SetConsoleCtrlHandler(OnControl, FALSE);
}

}  // namespace host
