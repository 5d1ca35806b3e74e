#pragma once

#include "RunnerConstants.h"
#include "UniqueHandle.h"

#include <windows.h>

// A job object with kill-on-close that holds one tool and everything it
// starts, so that nothing of a tool outlives the call that ran it, nor the
// host: the system closes the job handle when the host dies.
class ToolJob {
public:
    // The job is created here; its handle is never inheritable, or a child
    // holding a copy would keep the job, and the tools, alive.
    ToolJob();
    ToolJob(const ToolJob&) = delete;
    ToolJob& operator=(const ToolJob&) = delete;
    // Closing the handle ends whatever is left in the job.
    ~ToolJob();

    // StartChild (ChildProcess.h) with CREATE_SUSPENDED added, the process
    // assigned to the job, then its thread resumed: the tool cannot start
    // anything before it is in the job. False (last error kept, a created
    // process ended and its handles closed) when the job is missing or
    // creation, assignment or resumption fails.
    bool Start(wchar_t* commandLine, DWORD creationFlags, const wchar_t* workDir, const STARTUPINFOW& startup,
               PROCESS_INFORMATION& info, wchar_t* environment = nullptr, const wchar_t* program = nullptr);

    // Ends every process in the job and waits until none is left, at most waitMs.
    void EndAll(DWORD waitMs = runner::kJobEndWaitMs);

private:
    UniqueHandle m_job;
};
