#include "RecoveryPartitionLocator.h"

#include "RecoveryReport.h"
#include "WinreConstants.h"

#include <windows.h>

#include <cstdio>

namespace {

// Owns the tool's output stream and closes it with _pclose.
class PipeStream {
public:
    explicit PipeStream(FILE* stream) : m_stream(stream) {}
    ~PipeStream()
    {
        if (m_stream) {
            _pclose(m_stream);
        }
    }
    PipeStream(const PipeStream&) = delete;
    PipeStream& operator=(const PipeStream&) = delete;
    FILE* get() const { return m_stream; }

private:
    FILE* m_stream;
};

}  // namespace

std::string LocateRecoveryPartition(ReagentRun& run)
{
    run = ReagentRun();
    {
        PipeStream pipe(_popen(winre::kReagentCommand, winre::kPipeMode));
        if (!pipe.get()) {
            run.error = GetLastError();
            return std::string();
        }
        run.started = true;
        char chunk[winre::kReportChunkSize];
        while (std::fgets(chunk, sizeof chunk, pipe.get())) {
            run.report += chunk;
        }
    }
    return RecoveryPartitionFromReport(run.report);
}
