#include "KillProcessTree.h"

#include "RunnerConstants.h"
#include "UniqueHandle.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace {

// A reused process identifier can make a stale parent link point back into the
// tree; each identifier is therefore visited once.
void KillTree(DWORD processId, std::vector<DWORD>& visited)
{
    if (std::find(visited.begin(), visited.end(), processId) != visited.end()) {
        return;
    }
    visited.push_back(processId);

    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Valid()) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry)) {
            if (entry.th32ParentProcessID == processId) {
                KillTree(entry.th32ProcessID, visited);
            }
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
