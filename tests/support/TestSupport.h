#pragma once

#include "TarnwickMedia.h"
#include "UnixBridge.h"
#include "common/RemoveTree.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "FileText.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Folder of the running test program, with a trailing backslash. The DLL and
// tools\ lie there.
std::wstring ExeFolder();
std::wstring TempFolder();
std::wstring CurrentFolder();
// The running test program's full path.
std::wstring ThisProgram();
// Makes logs\<program> beside the program the current folder, so that its
// tarnwick.log lies there and programs running beside it do not see its lines.
bool UseOwnLogFolder();

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
// Names in folder that start with prefix (case-insensitive), without "." and "..".
std::vector<std::wstring> ListNames(const std::wstring& folder, const std::wstring& prefix = L"");
// The library's own, so tests clean up exactly as the product does.
using ::RemoveTree;
// Makes base, then each folder below it ("\\sub"), then writes each file below it.
void MakeTree(const std::wstring& base, std::initializer_list<const wchar_t*> folders,
              std::initializer_list<std::pair<const wchar_t*, std::string>> files = {});
// UTF-8 of a wide string, for messages and for comparing with journal files.
using plainwin::ToUtf8;
// ASCII text as UTF-16LE bytes.
std::string Utf16(const std::string& text);
// Whether text holds part; the message shows the text either way.
testing::AssertionResult Holds(const std::string& text, const std::string& part);
// Text that a regular expression matches literally.
std::string RegexEscape(const std::string& text);

// An environment variable, empty when unset.
std::wstring Env(const wchar_t* name);
// Sets a variable, which the programs started meanwhile inherit, for its lifetime.
class EnvScope {
public:
    EnvScope(const wchar_t* name, const std::wstring& value);
    ~EnvScope();
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const wchar_t* m_name;
    std::wstring m_previous;
};
// The stand-ins of bin\tools ahead of Wine's own programs on PATH, where the
// command interpreter finds ROBOCOPY, oscdimg, bcdedit, shutdown and reagentc.
class ToolsFirstOnPath : public EnvScope {
public:
    ToolsFirstOnPath();
};
// A stand-in of bin\tools ("bcdedit.exe") as the builder's runners name it:
// by its full path, quoted.
std::string ToolByPath(const std::string& file);

bool IsRunning(DWORD pid);
// GetProcessHandleCount answers 0 under Wine, so the process's open handles
// are counted in the system handle table; 0 when it cannot be read.
DWORD CountOpenHandles();

// A fresh folder under the temporary folder, removed with its content.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& tag = L"twtest");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    void Remove() const;

    std::wstring m_path;
};

// Points the tool stand-ins at a journal folder for its lifetime.
class StandinJournal {
public:
    unsigned Count() const;
    std::string CommandLine(unsigned call) const { return Recorded(call, L".cmdline"); }
    std::string Tool(unsigned call) const { return Recorded(call, L".tool"); }
    std::string WorkDir(unsigned call) const { return Recorded(call, L".cwd"); }
    std::string Stdin(unsigned call) const { return Recorded(call, L".stdin"); }
    // The stand-in process of call N; 0 until it has recorded it.
    DWORD Pid(unsigned call) const;
    // Whether the stand-in process of call N is still running.
    bool Running(unsigned call) const;
    // Scripts the answer of call N, or of every call of a tool; with everyMs,
    // the output comes one line at a time, everyMs apart.
    void Respond(unsigned call, unsigned long exitCode, unsigned long delayMs = 0, const std::string& output = "",
                 unsigned long everyMs = 0);
    void RespondTool(const std::wstring& tool, unsigned long exitCode, unsigned long delayMs = 0,
                     const std::string& output = "", unsigned long everyMs = 0);
    // Scripts the answer of call N by its whole first line, for the words
    // after the numbers: "0 0 0 child wait=go".
    void Script(unsigned call, const std::string& header);
    // Makes the file that "wait=NAME" waits for.
    void Release(const std::wstring& name);
    // The child that the "child" word made call N start; 0 until it has recorded it.
    DWORD ChildPid(unsigned call) const;
    // Calls without a scripted answer go to the real Linux tool.
    void EnableReal();

private:
    std::string Recorded(unsigned call, const wchar_t* kind) const;
    ScratchFolder m_folder{L"twjournal"};
    EnvScope m_directory{L"TWSTANDIN_DIR", m_folder.path()};
};

// Records what the library sends and answers ShouldContinue as a host whose
// user cancels before the check numbered cancelAt (from 1; 0: never), or at
// the first check at which cancelWhen, if set, says so.
class RecordingSink : public IProgressSink {
public:
    explicit RecordingSink(int cancelAt = 0) : m_cancelAt(cancelAt) {}

    bool OnProgress(const ProgressInfo* info) override;
    bool ShouldContinue() override
    {
        return (++checks < m_cancelAt || m_cancelAt == 0) && !(cancelWhen && cancelWhen());
    }

    std::vector<ProgressInfo> records;
    int checks = 0;
    std::function<bool()> cancelWhen;

    // current of every record, and -1 for a failure record.
    std::vector<long long> Values() const;

private:
    int m_cancelAt;
};

// What the log file "tarnwick.log" in the current folder gained since construction.
class LogWatch {
public:
    LogWatch();
    std::string Added() const;

private:
    std::wstring m_path;
    size_t m_start;
};

// Runs a bash command line on Linux.
standin::UnixResult Shell(const std::string& script, unsigned limitSeconds = 600);
// Runs a bash command line that must succeed and returns its output.
std::string Sh(const std::string& script);
std::string UnixPath(const std::wstring& windowsPath);
// The repository checkout, as a Unix path.
std::string SourceDir();

struct ChildResult {
    DWORD exitCode = 0;
    std::string stdoutBytes;
    std::string stderrBytes;
};
// A Windows command line started with standard output and error going to
// files and standard input read from the given bytes.
class StartedProgram {
public:
    explicit StartedProgram(const std::wstring& commandLine, const std::wstring& workDir = L"",
                            const std::string& input = "", DWORD creationFlags = 0);
    DWORD pid() const { return m_pid; }
    HANDLE process() const { return m_handles.process.Get(); }
    // Waits for the end, then reads what it wrote; exit code 99 if it never started.
    ChildResult Wait();

private:
    ScratchFolder m_capture{L"twchild"};
    ProcessHandles m_handles;
    DWORD m_pid = 0;
};
// Runs a Windows command line and waits for it, standard output and error
// captured, standard input read from the given bytes.
ChildResult RunProgram(const std::wstring& commandLine, const std::wstring& workDir = L"",
                       const std::string& input = "");
// Runs this test program again with the given arguments, standard output
// captured. They name a mode registered with RegisterChildMode, or "call" or
// "call-printing", then the library's full path, an export and its arguments
// ("-" for null; MakePE's as TYPE TARGET STARTUP SOURCE..., a null list
// without SOURCE; the options of ConvertESDToISOWithOptions as
// FLAGS:EDITION[:SIZE:RESERVED]): the export is called with a null sink, or
// with one that prints every record as "record <state> <current> <total>
// <message>"; exit code 0 for true.
ChildResult RunChild(const std::wstring& arguments, const std::wstring& workDir = L"");
// "call" of the library beside the test program, or "call-printing".
ChildResult RunExport(const std::wstring& call, bool printRecords = false);
void RegisterChildMode(const std::string& name, std::function<int(int, wchar_t**)> mode);

// The library loaded from the test program's folder.
HMODULE Library();
template <typename Fn>
Fn ExportOf(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
template <typename Fn>
Fn LibraryExport(const char* name)
{
    return ExportOf<Fn>(Library(), name);
}

}  // namespace testsupport
