#include "Question.h"

#include "CancelExit.h"
#include "HostConstants.h"

#include <windows.h>

#include <cstdio>

namespace host {
namespace {

bool AskOnConsole(const std::string& question)
{
    // Nothing is done while a question waits: Ctrl+C ends the process there
    // and then, whether or not the console read returns for it.
    const CancelExit cancel(kCancelledText);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // What was typed while the command started must not answer.
    FlushConsoleInputBuffer(input);
    std::fputs(question.c_str(), stdout);
    std::fflush(stdout);
    wchar_t line[kLongestAnswer] = {};
    DWORD read = 0;
    const bool ok = ReadConsoleW(input, line, kLongestAnswer, &read, nullptr) != FALSE;
    // Windows ends the read empty on Ctrl+C, before the handler's thread
    // has run: the handler has the last word.
    if (!ok || read == 0) {
        Sleep(kCtrlCGraceMs);
        return false;
    }
    std::string narrow;
    for (DWORD i = 0; i < read; ++i) {
        narrow += line[i] < 0x80 ? static_cast<char>(line[i]) : '?';
    }
    return IsYes(narrow);
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
    if (AskOnConsole(question)) {
        return kExitSuccess;
    }
    std::fputs(kCancelledText, stderr);
    return kExitCancelled;
}

}  // namespace host
