#include "Standin.h"

#include "UnixBridge.h"

#include "FileText.h"
#include "ProgramFolder.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

namespace standin {
namespace {

const unsigned kRealLimitSeconds = 1800;

std::wstring EnvVar(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) {
        return std::wstring();
    }
    return buffer;
}

std::string ReadAllStdin()
{
    std::string bytes;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input && input != INVALID_HANDLE_VALUE && GetFileType(input) != FILE_TYPE_CHAR) {
        plainwin::ReadToEnd(input, bytes);
    }
    return bytes;
}

// With everyMs, one line (ended by CR or LF) at a time, everyMs apart, as a
// tool reports its progress.
void WriteOverTime(const std::string& output, unsigned long everyMs)
{
    if (everyMs == 0) {
        WriteStdout(output);
        return;
    }
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find_first_of("\r\n", start);
        const size_t next = end == std::string::npos ? output.size() : end + 1;
        WriteStdout(output.substr(start, next - start));
        start = next;
        if (start < output.size()) {
            Sleep(everyMs);
        }
    }
}

}  // namespace

Invocation CaptureInvocation(const std::wstring& tool)
{
    Invocation invocation;
    invocation.tool = tool;
    invocation.commandLine = GetCommandLineW();
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(invocation.commandLine.c_str(), &count);
    if (argv) {
        for (int i = 1; i < count; ++i) {
            invocation.args.push_back(argv[i]);
        }
        LocalFree(argv);
    }
    wchar_t workDir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, workDir);
    invocation.workDir = workDir;
    invocation.stdinBytes = ReadAllStdin();
    return invocation;
}

void WriteStdout(const std::string& bytes)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output && output != INVALID_HANDLE_VALUE) {
        plainwin::WriteAll(output, bytes);
    }
}

int Main(const wchar_t* tool, const Work& work)
{
    const Invocation invocation = CaptureInvocation(tool);
    unsigned long exitCode = 0;
    if (AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }
    return work(invocation);
}

bool AnswerFromJournal(const Invocation& invocation, unsigned long& exitCode)
{
    const std::wstring dir = EnvVar(L"TWSTANDIN_DIR");
    if (dir.empty()) {
        return false;
    }
    unsigned number = 1;
    while (!plainwin::WriteNewFile(dir + L"\\" + std::to_wstring(number) + L".cmdline",
                                   ToUtf8(invocation.commandLine))) {
        if (GetLastError() != ERROR_FILE_EXISTS || ++number > 100000) {
            exitCode = 1;
            return true;
        }
    }
    const std::wstring base = dir + L"\\" + std::to_wstring(number);
    plainwin::WriteWholeFile(base + L".tool", ToUtf8(invocation.tool));
    plainwin::WriteWholeFile(base + L".cwd", ToUtf8(invocation.workDir));
    plainwin::WriteWholeFile(base + L".stdin", invocation.stdinBytes);
    plainwin::WriteWholeFile(base + L".pid", std::to_string(GetCurrentProcessId()));

    std::string response;
    if (plainwin::ReadWholeFile(base + L".response", response) ||
        plainwin::ReadWholeFile(dir + L"\\" + invocation.tool + L".response", response)) {
        const size_t lineEnd = response.find('\n');
        const std::string header = response.substr(0, lineEnd);
        char* rest = nullptr;
        exitCode = std::strtoul(header.c_str(), &rest, 10);
        const unsigned long delayMs = std::strtoul(rest, &rest, 10);
        const unsigned long everyMs = std::strtoul(rest, nullptr, 10);
        if (delayMs > 0) {
            Sleep(delayMs);
        }
        if (lineEnd != std::string::npos) {
            WriteOverTime(response.substr(lineEnd + 1), everyMs);
        }
        return true;
    }
    if (GetFileAttributesW((dir + L"\\real").c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    exitCode = 0;
    return true;
}

bool IsDrivePath(const std::wstring& text)
{
    return text.size() >= 3 && iswalpha(text[0]) && text[1] == L':' && (text[2] == L'\\' || text[2] == L'/');
}

std::string TranslateArg(const std::wstring& arg)
{
    if (IsDrivePath(arg)) {
        return ToUnixPath(arg);
    }
    const size_t equals = arg.find(L'=');
    if (arg.compare(0, 2, L"--") == 0 && equals != std::wstring::npos && IsDrivePath(arg.substr(equals + 1))) {
        return ToUtf8(arg.substr(0, equals + 1)) + ToUnixPath(arg.substr(equals + 1));
    }
    return ToUtf8(arg);
}

unsigned long RunReal(const std::vector<std::string>& argv, const Invocation& invocation,
                      const std::string& stdinBytes)
{
    const UnixResult result = RunOnUnix(plainwin::ProgramFolder() + L"unixrun.sh", argv,
                                        ToUnixPath(invocation.workDir), stdinBytes, kRealLimitSeconds, WriteStdout);
    WriteStdout(result.output);
    return result.answered ? result.exitCode : 1;
}

}  // namespace standin
