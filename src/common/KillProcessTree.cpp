#include "KillProcessTree.h"

#include "RunnerConstants.h"
#include "UniqueHandle.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace {

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG Now()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

// Creation time of an open process, or 0 when it cannot be read.
ULONGLONG CreationTime(HANDLE process)
{
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    return GetProcessTimes(process, &created, &exited, &kernel, &user) ? Ticks(created) : 0;
}

HANDLE OpenById(DWORD access, DWORD processId)
{
    return OpenProcess(access, FALSE, processId);
}

struct TreeWalk {
    ProcessOpener open;
    std::vector<DWORD> visited;
};

// The process is opened before its children are walked, so its identifier
// stays its own until it has been ended. listedAt is a time after the
// snapshot that named it: a process created later only reuses the identifier.
// Parent identifiers go stale too: a process older than the one whose
// identifier it names as its parent is not that one's child (under Wine the
// system services name such an identifier).
void KillTree(DWORD processId, ULONGLONG listedAt, TreeWalk& walk)
{
    if (std::find(walk.visited.begin(), walk.visited.end(), processId) != walk.visited.end()) {
        return;
    }
    walk.visited.push_back(processId);
    UniqueHandle process(walk.open(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, processId));
    const ULONGLONG created = process.Valid() ? CreationTime(process.Get()) : 0;
    if (created > listedAt) {
        return;
    }

    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    const ULONGLONG snapshotTime = Now();
    if (snapshot.Valid()) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry)) {
            if (entry.th32ParentProcessID != processId || entry.th32ProcessID == processId) {
                continue;
            }
            UniqueHandle child(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
            const ULONGLONG childCreated = child.Valid() ? CreationTime(child.Get()) : 0;
            if (created != 0 && childCreated != 0 && childCreated < created) {
                continue;
            }
            KillTree(entry.th32ProcessID, snapshotTime, walk);
        }
    }
    snapshot.Reset();

    if (!process.Valid()) {
        return;
    }
    TerminateProcess(process.Get(), runner::kKilledExitCode);
    WaitForSingleObject(process.Get(), runner::kKillWaitMs);
}

}  // namespace

void KillProcessTree(DWORD processId, ProcessOpener open)
{
    TreeWalk walk{open ? open : OpenById, {}};
    KillTree(processId, Now(), walk);
}
