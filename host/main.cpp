// tarnwick.exe: console host that loads TarnwickMedia.dll from its own folder
// and drives its exports.
#include "CommandLine.h"
#include "DiskGuard.h"
#include "HelpText.h"
#include "HostSession.h"
#include "Preflight.h"
#include "Question.h"
#include "ResultLine.h"
#include "ToolSearch.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

int wmain()
{
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i) {
        args.push_back(argv[i]);
    }
    if (argv) {
        LocalFree(argv);
    }

    const host::ParseResult parsed = host::ParseCommandLine(args);
    if (!parsed.error.empty()) {
        fwprintf(stderr, L"tarnwick: %ls\nRun \"tarnwick --help\" for usage.\n", parsed.error.c_str());
        return host::kExitUsage;
    }
    if (parsed.options.command == host::Command::Help) {
        fputws(host::HelpText(parsed.options.helpFor).c_str(), stdout);
        return host::kExitSuccess;
    }
    if (parsed.options.command == host::Command::Version) {
        fwprintf(stdout, L"tarnwick %ls\n", host::kVersion);
        return host::kExitSuccess;
    }
    host::Options options = parsed.options;
    host::MakePathsAbsolute(options);
    host::AppendToolsToPath();
    std::wstring problem = options.command == host::Command::MakePe ? host::CheckMakePeInputs(options) : L"";
    if (problem.empty()) {
        problem = host::CheckOutputs(options);
    }
    if (problem.empty()) {
        problem = host::CheckTools(options, host::WorkFolder());
    }
    if (!problem.empty()) {
        fwprintf(stderr, L"tarnwick: %ls\n", problem.c_str());
        return host::kExitUsage;
    }
    // The disk refusals go to the log, which is written in the work folder.
    const std::wstring folderProblem = host::EnterWorkFolder();
    if (!folderProblem.empty()) {
        fwprintf(stderr, L"tarnwick: %ls\n", folderProblem.c_str());
        return host::kExitUsage;
    }
    const bool makePe = options.command == host::Command::MakePe;
    if (makePe && options.deliver == L"disk") {
        const int guarded = host::GuardDisk(options.target, options.yes, options.unknownDisk);
        if (guarded != host::kExitSuccess) {
            return guarded;
        }
    }
    // --deliver restart reboots this machine as soon as the build is done.
    if (makePe && options.deliver == L"restart") {
        const int confirmed = host::Confirm(host::kRestartQuestion, options.yes, host::kRestartRefusal);
        if (confirmed != host::kExitSuccess) {
            return confirmed;
        }
    }
    const std::wstring replacing = host::ReplacingNotice(host::IsoToReplace(options));
    if (!replacing.empty()) {
        host::PrintLine(replacing);
    }
    return host::Run(options);
}
