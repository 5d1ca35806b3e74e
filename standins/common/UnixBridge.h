#pragma once

#include "FileText.h"

#include <functional>
#include <string>
#include <vector>

// Runs Linux programs from a Windows program under Wine, through files and
// the script tools\unixrun.sh, because Wine gives no handle for a Unix process.
namespace standin {

// Exit code of a call whose answer came but cannot be trusted: its exit code
// is missing, empty or not a number, or its output cannot be read. The reason
// then goes to standard error.
constexpr unsigned long kBrokenAnswer = 255;

struct UnixResult {
    bool answered = false;        // false: the bridge could not start or gave no answer in time
    unsigned long exitCode = 1;   // the program's, or kBrokenAnswer
    std::string output;           // standard output and error together
};

// The Unix path of a Windows path, or empty when not running under Wine.
std::string ToUnixPath(const std::wstring& windowsPath);

using plainwin::FromUtf8;
using plainwin::ToUtf8;

// Receives a program's output while it runs, piece by piece.
using OutputHandler = std::function<void(const std::string& bytes)>;

// argv[0] is looked up on the Linux PATH. The Linux side ends the program
// after limitSeconds, or as soon as the calling process has gone; this side
// gives up 30 seconds after that. With passOutput, the output goes there as
// it comes instead of into the result.
UnixResult RunOnUnix(const std::wstring& bridgeScript, const std::vector<std::string>& argv,
                     const std::string& unixWorkDir, const std::string& stdinBytes, unsigned limitSeconds,
                     const OutputHandler& passOutput = OutputHandler());

}  // namespace standin
