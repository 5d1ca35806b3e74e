#include "ProgressReport.h"

#include <cstring>

namespace progress {

void Report(IProgressSink* sink, uint64_t current, uint64_t total, const char* message)
{
    if (!sink) {
        return;
    }
    ProgressInfo info;
    std::memset(&info, 0, sizeof(info));
    info.type = kRecordType;
    info.state = kStateProgress;
    info.current = current;
    info.total = total;
    info.failed = 0;
    if (message) {
        std::strncpy(info.message, message, kMessageBytes);
        info.message[kMessageBytes] = '\0';
    }
    if (current == 0 && total == 0) {
        info.state = kStateFailure;
        info.failed = 1;
    }
    sink->OnProgress(&info);
}

bool ShouldContinue(IProgressSink* sink)
{
    return !sink || sink->ShouldContinue();
}

}  // namespace progress
