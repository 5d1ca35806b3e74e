// Stand-in for shutdown: records that a restart was ordered and does nothing
// else. The record goes to the journal when tests keep one, otherwise one line
// per call is appended to "shutdown.log" beside the stand-in.
#include "../common/Standin.h"
#include "../common/UnixBridge.h"

#include "ProgramFolder.h"
#include "common/UniqueHandle.h"

#include <windows.h>

namespace {

int Record(const standin::Invocation& invocation)
{
    const std::wstring record = plainwin::ProgramFolder() + L"shutdown.log";
    const UniqueHandle file(CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return 1;
    }
    plainwin::WriteAll(file.Get(), "restart ordered: " + standin::ToUtf8(invocation.commandLine) + "\r\n");
    return 0;
}

}  // namespace

int wmain()
{
    return standin::Main(L"shutdown", Record);
}
