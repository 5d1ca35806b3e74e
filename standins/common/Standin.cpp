#include "Standin.h"

#include "UnixBridge.h"

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

bool WriteNewFile(const std::wstring& path, const std::string& bytes, bool exclusive)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, exclusive ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    if (!bytes.empty()) {
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    CloseHandle(file);
    return true;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

std::string ReadAllStdin()
{
    std::string bytes;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE || GetFileType(input) == FILE_TYPE_CHAR) {
        return bytes;
    }
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

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
    if (!output || output == INVALID_HANDLE_VALUE || bytes.empty()) {
        return;
    }
    DWORD written = 0;
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool AnswerFromJournal(const Invocation& invocation, unsigned long& exitCode)
{
    const std::wstring dir = EnvVar(L"TWSTANDIN_DIR");
    if (dir.empty()) {
        return false;
    }
    unsigned number = 1;
    while (!WriteNewFile(dir + L"\\" + std::to_wstring(number) + L".cmdline", ToUtf8(invocation.commandLine), true)) {
        if (GetLastError() != ERROR_FILE_EXISTS || ++number > 100000) {
            exitCode = 1;
            return true;
        }
    }
    const std::wstring base = dir + L"\\" + std::to_wstring(number);
    WriteNewFile(base + L".tool", ToUtf8(invocation.tool), false);
    WriteNewFile(base + L".cwd", ToUtf8(invocation.workDir), false);
    WriteNewFile(base + L".stdin", invocation.stdinBytes, false);
    WriteNewFile(base + L".pid", std::to_string(GetCurrentProcessId()), false);

    std::string response;
    if (ReadFileBytes(base + L".response", response) ||
        ReadFileBytes(dir + L"\\" + invocation.tool + L".response", response)) {
        const size_t lineEnd = response.find('\n');
        const std::string header = response.substr(0, lineEnd);
        char* rest = nullptr;
        exitCode = std::strtoul(header.c_str(), &rest, 10);
        const unsigned long delayMs = std::strtoul(rest, nullptr, 10);
        if (delayMs > 0) {
            Sleep(delayMs);
        }
        if (lineEnd != std::string::npos) {
            WriteStdout(response.substr(lineEnd + 1));
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
    const UnixResult result = RunOnUnix(ModuleFolder() + L"unixrun.sh", argv, ToUnixPath(invocation.workDir),
                                        stdinBytes, kRealLimitSeconds);
    WriteStdout(result.output);
    return result.answered ? result.exitCode : 1;
}

}  // namespace standin
