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
const DWORD kFilePollMs = 20;
// Set for the child of the "child" mode: where it records its process id.
const wchar_t* const kHoldVariable = L"TWSTANDIN_HOLD";

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

void WaitForFile(const std::wstring& path)
{
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Sleep(kFilePollMs);
    }
}

// A copy of this program that records its process id in pidFile and waits
// until it is ended; returns once the id is there. It inherits no handle, so
// it holds no pipe of its parent's.
void StartHoldingChild(const std::wstring& pidFile)
{
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    SetEnvironmentVariableW(kHoldVariable, pidFile.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &info);
    SetEnvironmentVariableW(kHoldVariable, nullptr);
    if (started) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        WaitForFile(pidFile);
    }
}

// The words after the numbers of a response header: "wait=NAME" waits until
// the file NAME of the journal folder exists; "child" starts a child first.
void Prepare(const std::string& words, const std::wstring& dir, const std::wstring& base)
{
    size_t start = words.find_first_not_of(' ');
    while (start != std::string::npos) {
        const size_t end = words.find(' ', start);
        const std::string word = words.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (word == "child") {
            StartHoldingChild(base + L".child");
        } else if (word.compare(0, 5, "wait=") == 0) {
            WaitForFile(dir + L"\\" + FromUtf8(word.substr(5)));
        }
        start = end == std::string::npos ? end : words.find_first_not_of(' ', end);
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

int Main(const wchar_t* tool, const Work& work, const Answered& answered)
{
    const std::wstring holdFile = EnvVar(kHoldVariable);
    if (!holdFile.empty()) {
        plainwin::WriteWholeFile(holdFile, std::to_string(GetCurrentProcessId()));
        Sleep(INFINITE);
    }
    const Invocation invocation = CaptureInvocation(tool);
    unsigned long exitCode = 0;
    if (AnswerFromJournal(invocation, exitCode)) {
        if (exitCode == 0 && answered) {
            answered(invocation);
        }
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
        const unsigned long everyMs = std::strtoul(rest, &rest, 10);
        Prepare(rest, dir, base);
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
