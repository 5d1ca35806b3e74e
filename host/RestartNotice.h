#pragma once

#include <functional>
#include <string>

// What make-pe --deliver restart says once the library has ordered the
// restart with a delay, and the abort that Ctrl+C asks for within it.
namespace host {

constexpr unsigned long kRestartDelayMs = 5000;
constexpr unsigned long kRestartPollMs = 100;
constexpr unsigned long kAbortLimitMs = 30000;
constexpr char kEntryMadeLogText[] = "PEMaker::RestartToPE: boot entry {";
constexpr char kEntryMadeFormat[] = "boot entry {%s} made\n";
constexpr char kRestartDelayText[] = "restarting in 5 seconds; Ctrl+C to stop\n";
constexpr char kRestartingFormat[] = "boot entry {%s} made; restarting\n";
constexpr char kRestartStoppedFormat[] =
    "tarnwick: restart stopped; boot entry {%s} stays and boots at the next start\n";
constexpr char kAbortFailedFormat[] = "tarnwick: the restart could not be stopped (shutdown /a: %s)\n";
constexpr wchar_t kShutdownProgram[] = L"shutdown";
constexpr wchar_t kAbortArguments[] = L" /a";

// The identifier of the boot entry a call's log entries say it made; empty
// when none does.
std::string MadeBootEntry(const std::string& log);

// Names the entry and the delay, then waits it out while stopRequested says
// no; a stop runs "shutdown /a". Returns the exit code.
int AwaitRestart(const std::string& entryId, const std::function<bool()>& stopRequested);

}  // namespace host
