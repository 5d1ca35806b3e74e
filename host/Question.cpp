#include "Question.h"

#include <windows.h>

#include <cstdio>

namespace host {

bool InputIsConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

bool AskYesNo(const char* question)
{
    std::fputs(question, stdout);
    std::fflush(stdout);
    char line[64] = {};
    return std::fgets(line, sizeof(line), stdin) && IsYes(line);
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

}  // namespace host
