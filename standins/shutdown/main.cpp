// Stand-in for shutdown: records that a restart was ordered and does nothing
// else. The record goes to the journal when tests keep one, otherwise one line
// per call is appended to "shutdown.log" beside the stand-in.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include <windows.h>

int wmain()
{
    const standin::Invocation invocation = standin::CaptureInvocation(L"shutdown");
    unsigned long exitCode = 0;
    if (standin::AnswerFromJournal(invocation, exitCode)) {
        return static_cast<int>(exitCode);
    }
    const std::wstring record = standin::ModuleFolder() + L"shutdown.log";
    HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    const std::string line = "restart ordered: " + standin::ToUtf8(invocation.commandLine) + "\r\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
