#include "UnixBridge.h"

#include <windows.h>

#include <cstdlib>

namespace standin {
namespace {

const DWORD kPollMs = 5;
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

// Owns the request folder and removes it with its files.
class RequestFolder {
public:
    RequestFolder()
    {
        static LONG counter = 0;
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"twbridge-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(InterlockedIncrement(&counter));
        m_created = CreateDirectoryW(m_path.c_str(), nullptr) != FALSE;
    }
    ~RequestFolder()
    {
        if (!m_created) {
            return;
        }
        for (const wchar_t* name : {L"argv", L"cwd", L"stdin", L"limit", L"output", L"rc", L"rc.tmp"}) {
            DeleteFileW(File(name).c_str());
        }
        RemoveDirectoryW(m_path.c_str());
    }
    RequestFolder(const RequestFolder&) = delete;
    RequestFolder& operator=(const RequestFolder&) = delete;

    bool created() const { return m_created; }
    const std::wstring& path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
    bool m_created = false;
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
    RequestFolder request;
    if (!request.created()) {
        result.output = "bridge: cannot create request folder\n";
        return result;
    }
    std::string packedArgs;
    for (const std::string& arg : argv) {
        packedArgs += arg;
        packedArgs.push_back('\0');
    }
    const std::string requestUnix = ToUnixPath(request.path());
    if (requestUnix.empty() || !WriteWholeFile(request.File(L"argv"), packedArgs) ||
        !WriteWholeFile(request.File(L"cwd"), unixWorkDir) || !WriteWholeFile(request.File(L"stdin"), stdinBytes) ||
        !WriteWholeFile(request.File(L"limit"), std::to_string(limitSeconds))) {
        result.output = "bridge: cannot write request\n";
        return result;
    }

    std::wstring commandLine = L"\"" + bridgeScript + L"\" \"" + FromUtf8(requestUnix) + L"\"";
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

    const ULONGLONG deadline = GetTickCount64() + (static_cast<ULONGLONG>(limitSeconds) + kGraceSeconds) * 1000;
    std::string rcText;
    while (!ReadWholeFile(request.File(L"rc"), rcText)) {
        if (GetTickCount64() > deadline) {
            result.output = "bridge: no answer in time\n";
            return result;
        }
        Sleep(kPollMs);
    }
    ReadWholeFile(request.File(L"output"), result.output);
    result.exitCode = std::strtoul(rcText.c_str(), nullptr, 10);
    result.answered = true;
    return result;
}

}  // namespace standin
