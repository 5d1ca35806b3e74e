#pragma once

#include "EsdImages.h"
#include "ProgressBar.h"

#include <cstdint>
#include <vector>

// The bar of esd-to-iso: each stage weighted by the data it moves, and the
// time left from the pace of the data and a fixed cost per tool run.
namespace host {

// One stage of the conversion as its records show it: record values from
// start to end (exclusive), the data of each run whose progress it reports
// (the library spreads them evenly over the span), and the runs that report
// none.
struct EsdStage {
    int start = 0;
    int end = 0;
    std::vector<std::uint64_t> runBytes;
    unsigned silentRuns = 0;
};

// Extraction (image 1), boot.wim (images 2 and 3), install.wim (the chosen
// editions, after an "info" run for all of them) and the ISO, which copies
// what the others made and writes image 1's files again. Without the sizes
// of those images, each stage weighs its span of record values.
std::vector<EsdStage> EsdStages(const std::vector<EsdImage>& images, unsigned edition, bool allEditions);

class EsdTimeEstimate : public BarModel {
public:
    EsdTimeEstimate(std::vector<EsdStage> stages, Clock clock);

    int Place(int percent) override;
    bool Left(std::uint64_t& ms) const override;

private:
    struct Progress {
        std::uint64_t startMs = 0;
        std::uint64_t endMs = 0;
        // The latest record inside the stage that moved data.
        std::uint64_t lastMs = 0;
        double lastBytes = 0;
        unsigned run = 0;
    };

    double StageBytes(size_t stage) const;
    unsigned StageRuns(size_t stage) const;
    bool Pace(double& bytesPerMs) const;
    double RunCostMs(double bytesPerMs) const;

    std::vector<EsdStage> m_stages;
    Clock m_clock;
    std::uint64_t m_startMs;
    double m_total = 0;
    std::vector<Progress> m_progress;
    int m_current = -1;  // the running stage; -1 before the first, size() when done
    double m_done = 0;   // weighted data done
};

}  // namespace host
