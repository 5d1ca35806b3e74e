#include "UnixBridge.h"

#include <windows.h>

#include <cstdlib>

namespace standin {
namespace {

const DWORD kFastPollMs = 1;
const DWORD kSlowPollMs = 5;
const ULONGLONG kFastPollPeriodMs = 200;
const unsigned kGraceSeconds = 30;

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = bytes.empty() ||
                    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

// Owns the files of one request, named from a unique base in the temporary
// folder, and deletes them. Few files and no folder: every file operation
// under Wine costs a round trip to its server.
class RequestFiles {
public:
    RequestFiles()
    {
        static LONG counter = 0;
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_base = std::wstring(temp) + L"twbridge-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(InterlockedIncrement(&counter));
    }
    ~RequestFiles()
    {
        for (const wchar_t* suffix : {L".argv", L".out", L".rc"}) {
            DeleteFileW(File(suffix).c_str());
        }
        if (m_hasInput) {
            DeleteFileW(File(L".in").c_str());
        }
    }
    RequestFiles(const RequestFiles&) = delete;
    RequestFiles& operator=(const RequestFiles&) = delete;

    const std::wstring& base() const { return m_base; }
    std::wstring File(const wchar_t* suffix) const { return m_base + suffix; }
    // The command's input file; an empty input needs none.
    bool WriteInput(const std::string& bytes)
    {
        m_hasInput = !bytes.empty();
        return !m_hasInput || WriteWholeFile(File(L".in"), bytes);
    }

private:
    std::wstring m_base;
    bool m_hasInput = false;
};

}  // namespace

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

std::string ToUnixPath(const std::wstring& windowsPath)
{
    typedef char*(__cdecl * UnixNameFn)(const wchar_t*);
    static const UnixNameFn toUnix = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) {
        return std::string();
    }
    char* name = toUnix(windowsPath.c_str());
    if (!name) {
        return std::string();
    }
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

UnixResult RunOnUnix(const std::wstring& bridgeScript, const std::vector<std::string>& argv,
                     const std::string& unixWorkDir, const std::string& stdinBytes, unsigned limitSeconds)
{
    UnixResult result;
    RequestFiles request;
    std::string packedArgs;
    for (const std::string& arg : argv) {
        packedArgs += arg;
        packedArgs.push_back('\0');
    }
    if (!WriteWholeFile(request.File(L".argv"), packedArgs) || !request.WriteInput(stdinBytes)) {
        result.output = "bridge: cannot write request\n";
        return result;
    }
    // The base is known not to exist yet, so its Unix name comes from the
    // folder, which does.
    const size_t slash = request.base().find_last_of(L'\\');
    const std::string folderUnix = ToUnixPath(request.base().substr(0, slash + 1));
    if (folderUnix.empty()) {
        result.output = "bridge: not running under Wine\n";
        return result;
    }
    const std::string baseUnix =
        folderUnix + (folderUnix.back() == '/' ? "" : "/") + ToUtf8(request.base().substr(slash + 1));

    std::wstring commandLine = L"\"" + bridgeScript + L"\" \"" + FromUtf8(baseUnix) + L"\" " +
                               std::to_wstring(limitSeconds) + L" \"" + FromUtf8(unixWorkDir) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        result.output = "bridge: cannot start " + ToUtf8(bridgeScript) + "\n";
        return result;
    }
    if (process.hProcess) {
        CloseHandle(process.hProcess);
    }
    if (process.hThread) {
        CloseHandle(process.hThread);
    }

    // Short tools answer within milliseconds: poll fast first, then slower.
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG deadline = start + (static_cast<ULONGLONG>(limitSeconds) + kGraceSeconds) * 1000;
    const std::wstring rcFile = request.File(L".rc");
    while (GetFileAttributesW(rcFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const ULONGLONG now = GetTickCount64();
        if (now > deadline) {
            result.output = "bridge: no answer in time\n";
            return result;
        }
        Sleep(now - start < kFastPollPeriodMs ? kFastPollMs : kSlowPollMs);
    }
    std::string rcText;
    ReadWholeFile(rcFile, rcText);
    ReadWholeFile(request.File(L".out"), result.output);
    result.exitCode = std::strtoul(rcText.c_str(), nullptr, 10);
    result.answered = true;
    return result;
}

}  // namespace standin
