#include "ToolJob.h"

#include "ChildProcess.h"

namespace {

// The processes still in the job; 0 when it cannot be asked, as nothing
// more can be done for it then.
DWORD ActiveProcesses(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                   nullptr)) {
        return 0;
    }
    return accounting.ActiveProcesses;
}

}  // namespace

ToolJob::ToolJob() : m_job(CreateJobObjectW(nullptr, nullptr))
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (m_job.Valid() &&
        !SetInformationJobObject(m_job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        // A job that would not take its tools with it is no job for them.
        m_job.Reset();
    }
}

ToolJob::~ToolJob() = default;

bool ToolJob::Start(wchar_t* commandLine, DWORD creationFlags, const wchar_t* workDir, const STARTUPINFOW& startup,
                    PROCESS_INFORMATION& info, wchar_t* environment, const wchar_t* program)
{
    if (!m_job.Valid()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!StartChild(commandLine, creationFlags | CREATE_SUSPENDED, workDir, startup, info, environment, program)) {
        return false;
    }
    if (AssignProcessToJobObject(m_job.Get(), info.hProcess) && ResumeThread(info.hThread) != static_cast<DWORD>(-1)) {
        return true;
    }
    const DWORD error = GetLastError();
    ProcessHandles process;
    process.Adopt(info);
    info = PROCESS_INFORMATION{};
    TerminateProcess(process.process.Get(), runner::kKilledExitCode);
    SetLastError(error);
    return false;
}

// Ending is asynchronous: TerminateJobObject returns before the processes are
// gone. The count of active processes is polled rather than a completion
// port's "no process left" message awaited: the system does not promise to
// deliver port messages, and the count behaves alike under Windows and Wine
// (measured under Wine 8: 0 within a millisecond of the call).
void ToolJob::EndAll(DWORD waitMs)
{
    if (!m_job.Valid() || !TerminateJobObject(m_job.Get(), runner::kKilledExitCode)) {
        return;
    }
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    while (ActiveProcesses(m_job.Get()) > 0 && GetTickCount64() < deadline) {
        Sleep(runner::kJobEndPollMs);
    }
}
