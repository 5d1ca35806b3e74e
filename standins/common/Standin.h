#pragma once

#include <functional>
#include <string>
#include <vector>

// Shared behaviour of the tool stand-ins.
//
// With TWSTANDIN_DIR unset, a stand-in does the real work (through Linux tools).
// With TWSTANDIN_DIR set to a folder, every call is journalled there as
// N.tool, N.cmdline, N.cwd (UTF-8), N.stdin (raw bytes) and N.pid, N counting from 1
// across all stand-ins. The answer then comes from N.response or <tool>.response
// if present ("<exit code> <delay ms> [<every ms>] [child] [wait=NAME]" on the
// first line, output after it, written one line at a time every ms apart when
// given); else from the real tool if the folder holds a file named "real";
// else exit 0. "child" first starts a copy of the stand-in that records its
// process id in N.child and waits until it is ended; "wait=NAME" then waits
// until the file NAME appears in the folder, before the delay.
namespace standin {

struct Invocation {
    std::wstring tool;
    std::wstring commandLine;
    std::vector<std::wstring> args;  // without the program name
    std::wstring workDir;
    std::string stdinBytes;
};

Invocation CaptureInvocation(const std::wstring& tool);

void WriteStdout(const std::string& bytes);

// What a stand-in does with a call the journal did not answer; returns the
// exit code.
using Work = std::function<int(const Invocation& invocation)>;

// What a stand-in leaves of a call that the journal answered with exit code 0.
using Answered = std::function<void(const Invocation& invocation)>;

// The whole of a stand-in's wmain: captures the call, answers it from the
// journal when tests keep one (then calls answered on success), else does
// the work.
int Main(const wchar_t* tool, const Work& work, const Answered& answered = Answered());

// Journals the call and answers it if the test scripted an answer or asked
// for no real work. Returns true when exitCode holds the answer.
bool AnswerFromJournal(const Invocation& invocation, unsigned long& exitCode);

// A Windows argument translated for a Linux tool: drive paths (also as the
// value of a --name=value option) become Unix paths, the rest UTF-8.
std::string TranslateArg(const std::wstring& arg);
bool IsDrivePath(const std::wstring& text);

// Runs the Linux program with translated arguments, passes its output on as
// it comes and returns its exit code.
unsigned long RunReal(const std::vector<std::string>& argv, const Invocation& invocation,
                      const std::string& stdinBytes);

}  // namespace standin
