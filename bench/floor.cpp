// The least a Windows program can do to start the processes one export
// starts, with the same creation settings, and wait for each: the floor the
// benchmarks subtract from a library run whose tools do no work.
//   floor esd ESD ISO            the converter's five tools and its rmdir
//   floor makepe APP TARGET      MakePEWithOptions' one WIM update and oscdimg
//   floor winre TOOLS VOLUMELIB  the recovery report and the volume library;
//                                prints the seconds both took
#include <windows.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FileText.h"
#include "ProgramFolder.h"
#include "common/UniqueHandle.h"

namespace {

const wchar_t kWimlib[] = L"tools\\wimlib-imagex.exe";
const wchar_t kCdimage[] = L"tools\\cdimage.exe";

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    return path;
}

// A pipe for a child's output.
struct Pipe {
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
};

// Starts the command line as given and returns its exit code, -1 when it does
// not start; with output, what the child writes there is read to its end first.
int Run(const std::wstring& command, STARTUPINFOW& startup, BOOL inherit, const wchar_t* workDir,
        Pipe* output = nullptr)
{
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.c_str(), command.c_str() + command.size() + 1);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit, CREATE_NO_WINDOW, nullptr, workDir, &startup,
                        &info)) {
        return -1;
    }
    ProcessHandles process;
    process.Adopt(info);
    if (output) {
        // The child has its own copy: ours must go for the read to see the end.
        output->writeEnd.Reset();
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output->readEnd.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        }
    }
    WaitForSingleObject(process.process.Get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.process.Get(), &code);
    return static_cast<int>(code);
}

// As the converter: standard output and error inherited, no input.
int RunInherited(const std::wstring& command)
{
    STARTUPINFOW startup = {};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    return Run(command, startup, TRUE, nullptr);
}

// As the builder's WIM updates and captured runs: hidden, output into a pipe
// read to its end, and optionally a file as input.
int RunCaptured(const std::wstring& command, const std::wstring& inputFile, const wchar_t* workDir)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    Pipe pipe;
    if (!CreatePipe(pipe.readEnd.Receive(), pipe.writeEnd.Receive(), &inheritable, 0)) {
        return -1;
    }
    SetHandleInformation(pipe.readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle input;
    if (!inputFile.empty()) {
        input.Reset(CreateFileW(inputFile.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    STARTUPINFOW startup = {};
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input.Valid() ? input.Get() : nullptr;
    startup.hStdOutput = pipe.writeEnd.Get();
    startup.hStdError = pipe.writeEnd.Get();
    return Run(command, startup, TRUE, workDir, &pipe);
}

int Esd(const std::wstring& esd, const std::wstring& iso)
{
    srand(GetTickCount());
    const std::wstring work = TempFolder() + L"ESD_" + std::to_wstring(rand());
    CreateDirectoryW(work.c_str(), nullptr);
    CreateDirectoryW((work + L"\\sources").c_str(), nullptr);
    const std::wstring wimlib = Quoted(kWimlib) + L" ";
    const std::wstring boot = Quoted(work + L"\\sources\\boot.wim");
    const std::vector<std::wstring> commands{
        wimlib + L"extract " + Quoted(esd) + L" 1 --dest-dir=" + Quoted(work) + L" --no-acls",
        wimlib + L"export " + Quoted(esd) + L" 2 " + boot + L" --compress=LZX --chunk-size 32K",
        wimlib + L"export " + Quoted(esd) + L" 3 " + boot + L" --compress=LZX --chunk-size 32K --boot",
        wimlib + L"export " + Quoted(esd) + L" 4 " + Quoted(work + L"\\sources\\install.wim") +
            L" --compress=LZMS --chunk-size 128K",
        Quoted(kCdimage) + L" -l\"Windows\" -t01/01/2024,00:00:00 -b" + Quoted(work + L"\\boot\\etfsboot.com") +
            L" -h -n -o -m " + Quoted(work) + L" " + Quoted(iso)};
    int failed = 0;
    for (const std::wstring& command : commands) {
        failed |= RunInherited(command);
    }
    _wsystem((L"rmdir /s /q " + Quoted(work)).c_str());
    return failed ? 1 : 0;
}

int MakePe(const std::wstring& target)
{
    const std::wstring pe = plainwin::ProgramFolder() + L"PE";
    const std::wstring commandFile = TempFolder() + L"floor-update.txt";
    const std::wstring config = TempFolder() + L"floor-exclude.ini";
    if (!plainwin::WriteWholeFile(commandFile, std::string("d\0e\0l\0e\0t\0e\0\r\0\n\0", 16)) ||
        !plainwin::WriteWholeFile(config, "[ExclusionList]\r\n\\PE\r\n")) {
        return 1;
    }
    // One watched update run with the PE folder excluded, as MakePEWithOptions
    // makes it (the source is added straight, never staged).
    int failed = RunCaptured(Quoted(plainwin::ProgramFolder() + kWimlib) + L" update " +
                                 Quoted(pe + L"\\ISO\\SOURCES\\BOOT.wim") + L" 1 --no-acls --config=" +
                                 Quoted(config),
                             commandFile, nullptr);
    failed |= RunCaptured(L"cmd.exe /C oscdimg.exe -n -m -o -b" + Quoted(pe + L"\\etfsboot.com") +
                              L" -t07/09/2021,17:30:00 " + Quoted(pe + L"\\ISO") + L" " +
                              Quoted(target + L"\\boot.iso"),
                          std::wstring(), pe.c_str());
    DeleteFileW(commandFile.c_str());
    DeleteFileW(config.c_str());
    return failed ? 1 : 0;
}

int Winre(const std::wstring& tools, const std::wstring& volumeLibrary)
{
    wchar_t path[32767] = {};
    GetEnvironmentVariableW(L"PATH", path, 32767);
    SetEnvironmentVariableW(L"PATH", (tools + L";" + path).c_str());

    LARGE_INTEGER start, stop, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    FILE* report = _popen("reagentc /info", "r");
    if (!report) {
        return 1;
    }
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, report)) {
    }
    _pclose(report);
    const UniqueModule library(LoadLibraryW(volumeLibrary.c_str()));
    QueryPerformanceCounter(&stop);
    if (!library) {
        return 1;
    }
    std::printf("%.3f\n", static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"esd") {
        return Esd(argv[2], argv[3]);
    }
    if (argc == 4 && std::wstring(argv[1]) == L"makepe") {
        return MakePe(argv[3]);
    }
    if (argc == 4 && std::wstring(argv[1]) == L"winre") {
        return Winre(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: floor esd ESD ISO | makepe APP TARGET | winre TOOLS VOLUMELIB\n");
    return 2;
}
