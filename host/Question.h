#pragma once

#include <string>

// A yes-or-no question on the console, answered no unless the user says yes.
namespace host {

// Whether standard input is a console a user can answer on.
bool InputIsConsole();

// "y" or "yes", case ignored, after blanks and CR around it are dropped.
bool IsYes(const std::string& answer);

// kExitSuccess when yes was given beforehand or the user answers yes on the
// console. Otherwise prints why and returns the exit code: without a console
// "tarnwick: <refusal>" (which names --yes) and kExitUsage; Ctrl+C or any
// other answer "tarnwick: cancelled, nothing written" and kExitCancelled.
int Confirm(const std::string& question, bool yes, const std::string& refusal);

}  // namespace host
