#include "UnixBridge.h"

#include "common/UniqueHandle.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

namespace standin {
namespace {

const DWORD kFastPollMs = 1;
const DWORD kSlowPollMs = 5;
const ULONGLONG kFastPollPeriodMs = 200;
const unsigned kGraceSeconds = 30;
const DWORD kFollowBytes = 65536;

// The script writes the code in decimal with a line break. Anything else is
// no code: an empty file, as a full file system leaves it, a cut or garbled one.
bool ParseExitCode(const std::string& text, unsigned long& code)
{
    if (text.size() < 2 || text.find_first_not_of("0123456789") != text.size() - 1 || text.back() != '\n') {
        return false;
    }
    errno = 0;
    code = std::strtoul(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

void WriteStderr(const std::string& text)
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE) {
        plainwin::WriteAll(error, text);
    }
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
        return !m_hasInput || plainwin::WriteWholeFile(File(L".in"), bytes);
    }

private:
    std::wstring m_base;
    bool m_hasInput = false;
};

// Hands over what the program has added to its output file since the last
// look. The file appears once the program starts.
class OutputFollower {
public:
    OutputFollower(std::wstring path, const OutputHandler& pass) : m_path(std::move(path)), m_pass(pass) {}

    void Pass()
    {
        if (!m_file.Valid()) {
            const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        char buffer[kFollowBytes];
        DWORD got = 0;
        while (m_file.Valid() && ReadFile(m_file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            m_pass(std::string(buffer, got));
        }
    }
    bool Opened() const { return m_file.Valid(); }

private:
    std::wstring m_path;
    const OutputHandler& m_pass;
    UniqueHandle m_file;
};

// A listening socket on the loopback that the bridge script connects to. It
// closes with this process, however that ends (a cancelled tool is ended
// with TerminateProcess), and the script then ends its command. Port 0: none.
class LifeLine {
public:
    LifeLine()
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket = m_started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (m_socket != INVALID_SOCKET && bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(m_socket, 1) == 0 && getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~LifeLine()
    {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
        }
        if (m_started) {
            WSACleanup();
        }
    }
    LifeLine(const LifeLine&) = delete;
    LifeLine& operator=(const LifeLine&) = delete;

    unsigned short port() const { return m_port; }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    unsigned short m_port = 0;
};

}  // namespace

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
                     const std::string& unixWorkDir, const std::string& stdinBytes, unsigned limitSeconds,
                     const OutputHandler& passOutput)
{
    UnixResult result;
    RequestFiles request;
    std::string packedArgs;
    for (const std::string& arg : argv) {
        packedArgs += arg;
        packedArgs.push_back('\0');
    }
    if (!plainwin::WriteWholeFile(request.File(L".argv"), packedArgs) || !request.WriteInput(stdinBytes)) {
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

    const LifeLine lifeLine;
    std::wstring commandLine = L"\"" + bridgeScript + L"\" \"" + FromUtf8(baseUnix) + L"\" " +
                               std::to_wstring(limitSeconds) + L" \"" + FromUtf8(unixWorkDir) + L"\" " +
                               std::to_wstring(lifeLine.port());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        result.output = "bridge: cannot start " + ToUtf8(bridgeScript) + "\n";
        return result;
    }
    ProcessHandles bridge;
    bridge.Adopt(process);

    // Short tools answer within milliseconds: poll fast first, then slower.
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG deadline = start + (static_cast<ULONGLONG>(limitSeconds) + kGraceSeconds) * 1000;
    const std::wstring rcFile = request.File(L".rc");
    OutputFollower follower(request.File(L".out"), passOutput);
    while (GetFileAttributesW(rcFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (passOutput) {
            follower.Pass();
        }
        const ULONGLONG now = GetTickCount64();
        if (now > deadline) {
            result.output = "bridge: no answer in time\n";
            return result;
        }
        Sleep(now - start < kFastPollPeriodMs ? kFastPollMs : kSlowPollMs);
    }
    result.answered = true;
    std::string rcText;
    if (passOutput) {
        follower.Pass();
    }
    const bool outputRead =
        passOutput ? follower.Opened() : plainwin::ReadWholeFile(request.File(L".out"), result.output);
    const std::string program = argv.empty() ? std::string() : argv.front();
    if (!plainwin::ReadWholeFile(rcFile, rcText) || !ParseExitCode(rcText, result.exitCode)) {
        result.exitCode = kBrokenAnswer;
        WriteStderr("bridge: no exit code from " + program + "\n");
    } else if (!outputRead) {
        result.exitCode = kBrokenAnswer;
        WriteStderr("bridge: cannot read the output of " + program + "\n");
    }
    return result;
}

}  // namespace standin
