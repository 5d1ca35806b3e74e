// tarnwick.exe: console host that loads TarnwickMedia.dll from its own folder
// and drives its exports.
#include "CommandLine.h"
#include "HostSession.h"

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
        fputws(host::kUsage, stdout);
        return host::kExitSuccess;
    }
    return host::Run(parsed.options);
}
