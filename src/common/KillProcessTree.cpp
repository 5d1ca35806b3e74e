#include "KillProcessTree.h"

#include "RunnerConstants.h"
#include "UniqueHandle.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace {

// Creation time of a running process, or 0 when it cannot be read.
ULONGLONG CreationTime(DWORD processId)
{
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!process.Valid() || !GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Parent identifiers go stale when a parent ends and its identifier is
// reused: a process older than the one whose identifier it names as its
// parent is not that one's child (under Wine the system services name such an
// identifier). Each identifier is also visited only once.
void KillTree(DWORD processId, std::vector<DWORD>& visited)
{
    if (std::find(visited.begin(), visited.end(), processId) != visited.end()) {
        return;
    }
    visited.push_back(processId);
    const ULONGLONG created = CreationTime(processId);

    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Valid()) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry)) {
            if (entry.th32ParentProcessID != processId || entry.th32ProcessID == processId) {
                continue;
            }
            const ULONGLONG childCreated = CreationTime(entry.th32ProcessID);
            if (created != 0 && childCreated != 0 && childCreated < created) {
                continue;
            }
            KillTree(entry.th32ProcessID, visited);
        }
    }
    snapshot.Reset();

    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process.Valid()) {
        return;
    }
    TerminateProcess(process.Get(), runner::kKilledExitCode);
    WaitForSingleObject(process.Get(), runner::kKillWaitMs);
}

}  // namespace

void KillProcessTree(DWORD processId)
{
    std::vector<DWORD> visited;
    KillTree(processId, visited);
}
