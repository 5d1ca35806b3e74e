#include "Question.h"

#include "HostConstants.h"

#include <windows.h>

#include <cstdio>

namespace host {
namespace {

constexpr DWORD kLongestAnswer = 64;
// Ctrl+C ends the console read at once; the handler runs on a thread of its
// own and may raise its flag a little later.
constexpr int kCtrlCWaitSteps = 50;
constexpr DWORD kCtrlCWaitStepMs = 10;

volatile LONG g_interrupted = 0;

BOOL WINAPI OnQuestionControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        InterlockedExchange(&g_interrupted, 1);
        return TRUE;
    }
    return FALSE;
}

bool Interrupted()
{
    return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0;
}

// Ctrl+C and Ctrl+Break turn into a flag while the question waits.
class QuestionControl {
public:
    QuestionControl()
    {
        InterlockedExchange(&g_interrupted, 0);
        // A parent may have passed on Ctrl+C ignored.
        SetConsoleCtrlHandler(nullptr, FALSE);
        SetConsoleCtrlHandler(OnQuestionControl, TRUE);
    }
    ~QuestionControl() { SetConsoleCtrlHandler(OnQuestionControl, FALSE); }
    QuestionControl(const QuestionControl&) = delete;
    QuestionControl& operator=(const QuestionControl&) = delete;
};

enum class Answer { Yes, No, Cancelled };

Answer Ask(const std::string& question)
{
    const QuestionControl control;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // What was typed while the command started must not answer.
    FlushConsoleInputBuffer(input);
    std::fputs(question.c_str(), stdout);
    std::fflush(stdout);
    wchar_t line[kLongestAnswer] = {};
    DWORD read = 0;
    const bool answered = ReadConsoleW(input, line, kLongestAnswer, &read, nullptr) && read > 0;
    for (int step = 0; !answered && !Interrupted() && step < kCtrlCWaitSteps; ++step) {
        Sleep(kCtrlCWaitStepMs);
    }
    if (Interrupted()) {
        std::fputs("\n", stdout);
        return Answer::Cancelled;
    }
    std::string narrow;
    for (DWORD i = 0; i < read; ++i) {
        narrow += line[i] < 0x80 ? static_cast<char>(line[i]) : '?';
    }
    return answered && IsYes(narrow) ? Answer::Yes : Answer::No;
}

}  // namespace

bool InputIsConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

bool IsYes(const std::string& answer)
{
    const char* const blanks = " \t\r\n";
    const size_t first = answer.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return false;
    }
    std::string word = answer.substr(first, answer.find_last_not_of(blanks) - first + 1);
    for (char& c : word) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return word == "y" || word == "yes";
}

int Confirm(const std::string& question, bool yes, const std::string& refusal)
{
    if (yes) {
        return kExitSuccess;
    }
    if (!InputIsConsole()) {
        std::fprintf(stderr, "tarnwick: %s\n", refusal.c_str());
        return kExitUsage;
    }
    if (Ask(question) == Answer::Yes) {
        return kExitSuccess;
    }
    std::fputs(kCancelledText, stderr);
    return kExitCancelled;
}

}  // namespace host
