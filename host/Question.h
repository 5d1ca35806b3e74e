#pragma once

#include <string>

// A yes-or-no question on the console, answered no unless the user says yes.
namespace host {

// Whether standard input is a console a user can answer on.
bool InputIsConsole();

// Prints the question on standard output and reads one line of answer.
bool AskYesNo(const char* question);

// "y" or "yes", case ignored, after blanks and CR around it are dropped.
bool IsYes(const std::string& answer);

}  // namespace host
