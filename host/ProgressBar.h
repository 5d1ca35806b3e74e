#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Turns progress and failure records into console text: a bar redrawn in
// place on a terminal, plain lines when the output is redirected, each with
// the time elapsed and, once a stage has shown its pace, the time left.
namespace host {

struct ProgressRecord {
    bool failure = false;
    std::uint64_t current = 0;
    std::uint64_t total = 0;
    std::string message;
};

struct ConsoleText {
    std::string out;  // for standard output
    std::string err;  // for standard error
};

// Milliseconds from any fixed start; the test sets it.
using Clock = std::function<std::uint64_t()>;

struct BarStyle {
    bool terminal = false;
    // The percentages at which a stage begins; empty: every record begins one.
    std::vector<int> stageStarts;
};

// Where a record puts the bar and how much time is left; without one, a
// record's percentage is the bar's and the rest goes at the running stage's pace.
class BarModel {
public:
    virtual int Place(int percent) = 0;
    // False while it cannot tell.
    virtual bool Left(std::uint64_t& ms) const = 0;

protected:
    ~BarModel() = default;
};

class ProgressBar {
public:
    // The elapsed time counts from construction. model may be null.
    ProgressBar(BarStyle style, Clock clock, BarModel* model = nullptr);

    ConsoleText Update(const ProgressRecord& record);
    // On a terminal, the bar again when its time text changed; else nothing.
    std::string Tick();
    // Ends a bar that is still on its line.
    std::string Finish();

    static constexpr int kWidth = 40;
    // A stage must run this long before its pace predicts the rest.
    static constexpr std::uint64_t kEstimateAfterMs = 10000;

private:
    bool StartsStage(int percent) const;
    std::string TimeText(std::uint64_t now) const;
    std::string Line(const std::string& timeText);

    BarStyle m_style;
    Clock m_clock;
    BarModel* m_model;
    std::uint64_t m_start;
    bool m_barOnLine = false;
    int m_lastPercent = -1;
    int m_stagePercent = 0;  // v0
    std::uint64_t m_stageStart = 0;  // t0
    std::string m_lastTimeText;
    size_t m_drawnLength = 0;
};

}  // namespace host
