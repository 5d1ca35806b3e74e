#pragma once

#include "ProgressBar.h"

#include "TarnwickMedia.h"

#include <string>
#include <vector>

namespace host {

// The host's progress sink: draws the progress bar, prints failure records as
// errors, and answers the library's cancellation checks after Ctrl+C.
class ConsoleSink : public IProgressSink {
public:
    static constexpr bool kCursorHome = true;
    // cursorHome: a bar drawn on a terminal leaves the cursor at its start.
    // stageStarts: the percentages at which the call's stages begin; empty
    // when every record begins one.
    explicit ConsoleSink(bool cursorHome = false, std::vector<int> stageStarts = {});
    ~ConsoleSink();
    ConsoleSink(const ConsoleSink&) = delete;
    ConsoleSink& operator=(const ConsoleSink&) = delete;

    bool OnProgress(const ProgressInfo* info) override;
    bool ShouldContinue() override;

    // Ends a bar still on its line; call before printing anything else.
    void Finish();
    bool Cancelled() const;
    // Whether a progress record reported the whole amount done.
    bool ReachedEnd() const { return m_reachedEnd; }
    // The size file had when the record of the whole amount came: make-pe's
    // disk delivery deletes its ISO once the disk is written.
    void MeasureAtEnd(const std::wstring& file) { m_measured = file; }
    unsigned long long SizeAtEnd() const { return m_sizeAtEnd; }

private:
    ProgressBar m_bar;
    bool m_reachedEnd = false;
    std::wstring m_measured;
    unsigned long long m_sizeAtEnd = 0;
};

}  // namespace host
