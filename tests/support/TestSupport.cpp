#include "TestSupport.h"

#include "ProgramFolder.h"
#include "TarnwickMedia.h"
#include "common/UniqueHandle.h"

#include <cwchar>
#include <map>
#include <regex>

namespace testsupport {

std::wstring ExeFolder()
{
    return plainwin::ProgramFolder();
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    return path;
}

std::wstring CurrentFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, path);
    return path;
}

std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

bool UseOwnLogFolder()
{
    std::wstring name = ThisProgram().substr(ExeFolder().size());
    name.resize(name.find_last_of(L'.'));
    MakeTree(ExeFolder() + L"logs", {(L"\\" + name).c_str()});
    return SetCurrentDirectoryW((ExeFolder() + L"logs\\" + name).c_str()) != FALSE;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    plainwin::ReadWholeFile(path, bytes);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    return plainwin::WriteWholeFile(path, bytes);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ListNames(const std::wstring& folder, const std::wstring& prefix)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &data));
    if (!find.Valid()) {
        return names;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find.Get(), &data));
    return names;
}

void MakeTree(const std::wstring& base, std::initializer_list<const wchar_t*> folders,
              std::initializer_list<std::pair<const wchar_t*, std::string>> files)
{
    CreateDirectoryW(base.c_str(), nullptr);
    for (const wchar_t* folder : folders) {
        CreateDirectoryW((base + folder).c_str(), nullptr);
    }
    for (const auto& file : files) {
        WriteBytes(base + file.first, file.second);
    }
}

std::string Utf16(const std::string& text)
{
    std::string bytes;
    for (char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

testing::AssertionResult Holds(const std::string& text, const std::string& part)
{
    const bool holds = text.find(part) != std::string::npos;
    return (holds ? testing::AssertionSuccess() : testing::AssertionFailure())
           << (holds ? "holds \"" : "lacks \"") << part << "\" in:\n" << text;
}

std::string RegexEscape(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([\\.^$|()\[\]{}*+?])"), R"(\$&)");
}

std::wstring Env(const wchar_t* name)
{
    std::vector<wchar_t> value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    return std::wstring(value.data(), length < value.size() ? length : 0);
}

EnvScope::EnvScope(const wchar_t* name, const std::wstring& value) : m_name(name), m_previous(Env(name))
{
    SetEnvironmentVariableW(name, value.c_str());
}

EnvScope::~EnvScope()
{
    SetEnvironmentVariableW(m_name, m_previous.empty() ? nullptr : m_previous.c_str());
}

ToolsFirstOnPath::ToolsFirstOnPath() : EnvScope(L"PATH", ExeFolder() + L"tools;" + Env(L"PATH")) {}

std::string ToolByPath(const std::string& file)
{
    return "\"" + standin::ToUtf8(ExeFolder()) + "tools\\" + file + "\"";
}

bool IsRunning(DWORD pid)
{
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process.Valid() && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

DWORD CountOpenHandles()
{
    // Of an entry only the owner is read.
    struct HandleEntry {
        USHORT processId;
        USHORT backTraceTypeAttributesAndHandle[3];
        void* object;
        ULONG grantedAccess;
    };
    struct HandleTable {
        ULONG count;
        HandleEntry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer(1 << 16);
    LONG status = kInfoLengthMismatch;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), nullptr)) ==
           kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    DWORD count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        count += table->entries[i].processId == self ? 1 : 0;
    }
    return count;
}

ScratchFolder::ScratchFolder(const std::wstring& tag)
{
    static unsigned counter = 0;
    m_path = TempFolder() + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    Remove();
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    Remove();
}

// Wine reuses process ids, so a folder of an earlier run may be here; the
// links tests make on Linux are not removed by Windows' calls under Wine.
void ScratchFolder::Remove() const
{
    RemoveTree(m_path);
    if (GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Shell("rm -rf '" + UnixPath(m_path) + "'");
    }
}

unsigned StandinJournal::Count() const
{
    unsigned count = 0;
    while (Exists(m_folder / (std::to_wstring(count + 1) + L".cmdline"))) {
        ++count;
    }
    return count;
}

std::string StandinJournal::Recorded(unsigned call, const wchar_t* kind) const
{
    return ReadBytes(m_folder / (std::to_wstring(call) + kind));
}

DWORD StandinJournal::Pid(unsigned call) const
{
    return std::stoul("0" + Recorded(call, L".pid"));
}

DWORD StandinJournal::ChildPid(unsigned call) const
{
    return std::stoul("0" + Recorded(call, L".child"));
}

void StandinJournal::Script(unsigned call, const std::string& header)
{
    WriteBytes(m_folder / (std::to_wstring(call) + L".response"), header + "\n");
}

void StandinJournal::Release(const std::wstring& name)
{
    WriteBytes(m_folder / name, "");
}

bool StandinJournal::Running(unsigned call) const
{
    const DWORD pid = Pid(call);
    EXPECT_NE(pid, 0u) << "call " << call << " recorded no process id";
    return IsRunning(pid);
}

void StandinJournal::Respond(unsigned call, unsigned long exitCode, unsigned long delayMs, const std::string& output,
                             unsigned long everyMs)
{
    RespondTool(std::to_wstring(call), exitCode, delayMs, output, everyMs);
}

void StandinJournal::RespondTool(const std::wstring& tool, unsigned long exitCode, unsigned long delayMs,
                                 const std::string& output, unsigned long everyMs)
{
    WriteBytes(m_folder / (tool + L".response"), std::to_string(exitCode) + " " + std::to_string(delayMs) + " " +
                                                     std::to_string(everyMs) + "\n" + output);
}

bool RecordingSink::OnProgress(const ProgressInfo* info)
{
    records.push_back(*info);
    return true;
}

std::vector<long long> RecordingSink::Values() const
{
    std::vector<long long> values;
    for (const ProgressInfo& info : records) {
        values.push_back(info.state == 3 ? -1 : static_cast<long long>(info.current));
    }
    return values;
}

void StandinJournal::EnableReal()
{
    WriteBytes(m_folder / L"real", "");
}

LogWatch::LogWatch() : m_path(CurrentFolder() + L"\\tarnwick.log"), m_start(ReadBytes(m_path).size()) {}

std::string LogWatch::Added() const
{
    const std::string bytes = ReadBytes(m_path);
    return bytes.size() > m_start ? bytes.substr(m_start) : std::string();
}

standin::UnixResult Shell(const std::string& script, unsigned limitSeconds)
{
    return standin::RunOnUnix(ExeFolder() + L"tools\\unixrun.sh", {"bash", "-c", script}, "/", std::string(),
                              limitSeconds);
}

std::string Sh(const std::string& script)
{
    const standin::UnixResult result = Shell(script);
    EXPECT_TRUE(result.answered && result.exitCode == 0) << script << "\n" << result.output;
    return result.output;
}

std::string UnixPath(const std::wstring& windowsPath)
{
    return standin::ToUnixPath(windowsPath);
}

std::string SourceDir()
{
    return TW_SOURCE_DIR;
}

namespace {

// Prints every record as "record <state> <current> <total> <message>".
class PrintingSink : public IProgressSink {
public:
    bool OnProgress(const ProgressInfo* info) override
    {
        const std::string line = "record " + std::to_string(info->state) + " " + std::to_string(info->current) +
                                 " " + std::to_string(info->total) + " " + info->message + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return true;
    }
    bool ShouldContinue() override { return true; }
};

// "-" stands for a null argument.
const wchar_t* Arg(const wchar_t* text)
{
    return std::wcscmp(text, L"-") == 0 ? nullptr : text;
}

// An export of the DLL loaded by full path, with its own imports found beside it.
int CallExport(int argc, wchar_t** argv, IProgressSink* sink)
{
    HMODULE dll = argc >= 2 ? LoadLibraryExW(argv[0], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
    if (!dll) {
        return 2;
    }
    const std::string name = ToUtf8(argv[1]);
    wchar_t** const args = argv + 2;
    const int count = argc - 2;
    bool result = false;
    if (name == "ExtractWinreFromRecoveryPartition" && count == 1) {
        result = ExportOf<ExtractWinreFromRecoveryPartition_Fn>(dll, name.c_str())(Arg(args[0]));
    } else if (name == "ConvertESDToISO" && count == 2) {
        result = ExportOf<ConvertESDToISO_Fn>(dll, name.c_str())(Arg(args[0]), Arg(args[1]));
    } else if (name == "ConvertESDToISOEx" && count == 3) {
        const auto flags = static_cast<uint32_t>(wcstoul(args[2], nullptr, 0));
        result = ExportOf<ConvertESDToISOEx_Fn>(dll, name.c_str())(Arg(args[0]), Arg(args[1]), flags);
    } else if (name == "ConvertESDToISOWithOptions" && count == 3) {
        EsdIsoOptions options = {sizeof(EsdIsoOptions), 0, 0, 0, sink};
        swscanf(args[2], L"%u:%u:%u:%u", &options.flags, &options.edition, &options.size, &options.reserved);
        result = ExportOf<ConvertESDToISOWithOptions_Fn>(dll, name.c_str())(
            Arg(args[0]), Arg(args[1]), Arg(args[2]) ? &options : nullptr);
    } else if (name == "ConfigureBootWim" && count == 0) {
        result = ExportOf<ConfigureBootWim_Fn>(dll, name.c_str())(sink);
    } else if (name == "MakePE" && count >= 3) {
        const std::vector<std::wstring> sources(args + 3, args + count);
        result = ExportOf<MakePE_Fn>(dll, name.c_str())(count > 3 ? &sources : nullptr, Arg(args[2]), _wtoi(args[0]),
                                                        Arg(args[1]), sink);
    } else {
        return 2;
    }
    return result ? 0 : 1;
}

std::map<std::string, std::function<int(int, wchar_t**)>>& ChildModes()
{
    static std::map<std::string, std::function<int(int, wchar_t**)>> modes{
        {"call", [](int argc, wchar_t** argv) { return CallExport(argc, argv, nullptr); }},
        {"call-printing", [](int argc, wchar_t** argv) {
             PrintingSink sink;
             return CallExport(argc, argv, &sink);
         }}};
    return modes;
}

}  // namespace

void RegisterChildMode(const std::string& name, std::function<int(int, wchar_t**)> mode)
{
    ChildModes()[name] = std::move(mode);
}

int RunChildMode(int argc, wchar_t** argv)
{
    const std::string name = standin::ToUtf8(argv[2]);
    auto found = ChildModes().find(name);
    return found == ChildModes().end() ? 99 : found->second(argc - 3, argv + 3);
}

StartedProgram::StartedProgram(const std::wstring& commandLine, const std::wstring& workDir, const std::string& input,
                               DWORD creationFlags)
{
    WriteBytes(m_capture / L"stdin", input);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const UniqueHandle inputFile(CreateFileW((m_capture / L"stdin").c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const UniqueHandle output(CreateFileW((m_capture / L"stdout").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const UniqueHandle error(CreateFileW((m_capture / L"stderr").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::wstring writable = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputFile.Get();
    startup.hStdOutput = output.Get();
    startup.hStdError = error.Get();
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, creationFlags, nullptr,
                       workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        m_handles.Adopt(info);
        m_pid = info.dwProcessId;
    }
}

ChildResult StartedProgram::Wait()
{
    ChildResult result;
    result.exitCode = 99;
    if (m_handles.process.Valid()) {
        WaitForSingleObject(m_handles.process.Get(), INFINITE);
        GetExitCodeProcess(m_handles.process.Get(), &result.exitCode);
    }
    result.stdoutBytes = ReadBytes(m_capture / L"stdout");
    result.stderrBytes = ReadBytes(m_capture / L"stderr");
    return result;
}

ChildResult RunProgram(const std::wstring& commandLine, const std::wstring& workDir, const std::string& input)
{
    return StartedProgram(commandLine, workDir, input).Wait();
}

ChildResult RunChild(const std::wstring& arguments, const std::wstring& workDir)
{
    return RunProgram(L"\"" + ThisProgram() + L"\" --child " + arguments, workDir);
}

ChildResult RunExport(const std::wstring& call, bool printRecords)
{
    return RunChild(std::wstring(printRecords ? L"call-printing" : L"call") + L" \"" + ExeFolder() +
                    L"TarnwickMedia.dll\" " + call);
}

HMODULE Library()
{
    static HMODULE module = LoadLibraryW((ExeFolder() + L"TarnwickMedia.dll").c_str());
    return module;
}

}  // namespace testsupport
