#pragma once

// The exit codes and the fixed texts of tarnwick.
namespace host {

// One table, printed by --help: every exit path returns one of these.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the work was begun and failed
constexpr int kExitUsage = 2;  // refused before any work
constexpr int kExitCancelled = 130;  // Ctrl+C, or no yes to a question

// What each command made, in its final line.
constexpr wchar_t kIsoWritten[] = L"ISO written";
constexpr wchar_t kWinreCopied[] = L"winre.wim copied";

}  // namespace host
