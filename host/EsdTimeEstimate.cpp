#include "EsdTimeEstimate.h"

#include "EsdToIsoConstants.h"

#include <utility>

namespace host {
namespace {

using esdtoiso::kStageStarts;

std::uint64_t BytesOf(const std::vector<EsdImage>& images, unsigned index, bool& known)
{
    const EsdImage* image = FindImage(images, index);
    known = known && image && image->bytes > 0;
    return image ? image->bytes : 0;
}

}  // namespace

std::vector<EsdStage> EsdStages(const std::vector<EsdImage>& images, unsigned edition, bool allEditions)
{
    bool known = true;
    const std::uint64_t media = BytesOf(images, 1, known);
    std::vector<std::uint64_t> editions;
    if (allEditions) {
        for (const EsdImage& image : images) {
            if (image.index >= esdtoiso::kFirstEdition) {
                editions.push_back(BytesOf(images, image.index, known));
            }
        }
        if (editions.empty()) {
            editions.push_back(0);
            known = false;
        }
    } else {
        editions.push_back(BytesOf(images, edition == 0 ? esdtoiso::kFirstEdition : edition, known));
    }
    // The first stage, before any tool, moves no data.
    std::vector<EsdStage> stages = {
        {0, kStageStarts[0], {}, 0},
        {kStageStarts[0], kStageStarts[1], {media}, 0},
        {kStageStarts[1], kStageStarts[2], {BytesOf(images, 2, known), BytesOf(images, 3, known)}, 0},
        {kStageStarts[2], kStageStarts[3], editions, allEditions ? 1u : 0u},
        {kStageStarts[3], kStageStarts[4], {media}, 0},
    };
    if (!known) {
        for (EsdStage& stage : stages) {
            const size_t runs = stage.runBytes.empty() ? 1 : stage.runBytes.size();
            stage.runBytes.assign(runs, static_cast<std::uint64_t>(stage.end - stage.start) * esdtoiso::kMiB / runs);
        }
    }
    return stages;
}

EsdTimeEstimate::EsdTimeEstimate(std::vector<EsdStage> stages, Clock clock)
    : m_stages(std::move(stages)), m_clock(std::move(clock)), m_startMs(m_clock()), m_progress(m_stages.size())
{
    for (size_t s = 0; s < m_stages.size(); ++s) {
        m_total += StageBytes(s);
    }
}

double EsdTimeEstimate::StageBytes(size_t stage) const
{
    double bytes = 0;
    for (const std::uint64_t run : m_stages[stage].runBytes) {
        bytes += static_cast<double>(run);
    }
    return bytes;
}

unsigned EsdTimeEstimate::StageRuns(size_t stage) const
{
    return static_cast<unsigned>(m_stages[stage].runBytes.size()) + m_stages[stage].silentRuns;
}

int EsdTimeEstimate::Place(int percent)
{
    const std::uint64_t now = m_clock();
    int stage = -1;
    for (size_t s = 0; s < m_stages.size(); ++s) {
        if (percent >= m_stages[s].start) {
            stage = static_cast<int>(s);
        }
    }
    if (!m_stages.empty() && percent >= m_stages.back().end) {
        stage = static_cast<int>(m_stages.size());
    }
    for (; m_current < stage; ++m_current) {
        if (m_current >= 0) {
            m_progress[static_cast<size_t>(m_current)].endMs = now;
            m_done += StageBytes(static_cast<size_t>(m_current));
        }
        if (m_current + 1 < static_cast<int>(m_stages.size())) {
            Progress& next = m_progress[static_cast<size_t>(m_current + 1)];
            next.startMs = next.lastMs = now;
        }
    }
    if (m_current < 0 || m_current >= static_cast<int>(m_stages.size()) || m_total <= 0) {
        return m_current < 0 || m_total <= 0 ? 0 : 100;
    }
    const EsdStage& running = m_stages[static_cast<size_t>(m_current)];
    Progress& progress = m_progress[static_cast<size_t>(m_current)];
    // The library puts run i at p % on start + span * (i + p / 100) / runs.
    const size_t runs = running.runBytes.size();
    double bytes = 0;
    if (runs > 0 && percent > running.start) {
        const double at = static_cast<double>(percent - running.start) * static_cast<double>(runs) /
                          static_cast<double>(running.end - running.start);
        const size_t run = static_cast<size_t>(at) < runs ? static_cast<size_t>(at) : runs - 1;
        for (size_t i = 0; i < run; ++i) {
            bytes += static_cast<double>(running.runBytes[i]);
        }
        bytes += (at - static_cast<double>(run)) * static_cast<double>(running.runBytes[run]);
        progress.run = static_cast<unsigned>(run);
    }
    if (bytes > progress.lastBytes) {
        progress.lastMs = now;
        progress.lastBytes = bytes;
    }
    const int placed = static_cast<int>(100 * (m_done + progress.lastBytes) / m_total);
    return placed < 100 ? placed : 99;
}

// The running stage's data per ms since it began, its tool's start
// included; before it has shown one, that of the finished stage that moved
// the most data. A byte costs each stage differently, so the small stages
// tell little.
bool EsdTimeEstimate::Pace(double& bytesPerMs) const
{
    const Progress& running = m_progress[static_cast<size_t>(m_current)];
    if (running.lastBytes > 0 && running.lastMs >= running.startMs + esdtoiso::kPaceAfterMs) {
        bytesPerMs = running.lastBytes / static_cast<double>(running.lastMs - running.startMs);
        return true;
    }
    double most = 0;
    for (int s = 0; s < m_current; ++s) {
        const Progress& p = m_progress[static_cast<size_t>(s)];
        const double bytes = StageBytes(static_cast<size_t>(s));
        if (bytes > most && p.endMs > p.startMs) {
            most = bytes;
            bytesPerMs = bytes / static_cast<double>(p.endMs - p.startMs);
        }
    }
    return most > 0;
}

// What a finished stage took beyond its data at that pace, per run: the start
// of a tool and what it does besides the data it reports.
double EsdTimeEstimate::RunCostMs(double bytesPerMs) const
{
    double extra = 0;
    unsigned runs = 0;
    for (int s = 0; s < m_current && s < static_cast<int>(m_stages.size()); ++s) {
        if (StageRuns(static_cast<size_t>(s)) == 0) {
            continue;
        }
        const Progress& p = m_progress[static_cast<size_t>(s)];
        const double over = static_cast<double>(p.endMs - p.startMs) - StageBytes(static_cast<size_t>(s)) / bytesPerMs;
        extra += over > 0 ? over : 0;
        runs += StageRuns(static_cast<size_t>(s));
    }
    return runs > 0 ? extra / runs : 0;
}

bool EsdTimeEstimate::Left(std::uint64_t& ms) const
{
    if (m_current < 0 || m_current >= static_cast<int>(m_stages.size()) || m_total <= 0) {
        return false;
    }
    const std::uint64_t now = m_clock();
    const Progress& progress = m_progress[static_cast<size_t>(m_current)];
    const double done = m_done + progress.lastBytes;
    if (100 * done < esdtoiso::kShowLeftFromPercent * m_total) {
        return false;
    }
    double pace = 0;
    if (!Pace(pace)) {
        // No stage has shown a pace yet: the rest at the whole call's pace so far.
        ms = static_cast<std::uint64_t>(static_cast<double>(now - m_startMs) * (m_total - done) / done);
        return true;
    }
    const double runCost = RunCostMs(pace);
    const size_t current = static_cast<size_t>(m_current);
    const EsdStage& stage = m_stages[current];
    // The runs after the one that moves data start their tools too; before
    // it moved any, so do it and the silent runs ahead of it.
    double pending = 0;
    if (progress.lastBytes > 0) {
        const size_t after = stage.runBytes.size() > progress.run + 1 ? stage.runBytes.size() - progress.run - 1 : 0;
        pending = (StageBytes(current) - progress.lastBytes) / pace + runCost * static_cast<double>(after) -
                  static_cast<double>(now - progress.lastMs);
    } else {
        pending = StageBytes(current) / pace + runCost * StageRuns(current) - static_cast<double>(now - progress.startMs);
    }
    double left = pending > 0 ? pending : 0;
    for (size_t s = current + 1; s < m_stages.size(); ++s) {
        left += StageBytes(s) / pace + runCost * StageRuns(s);
    }
    ms = static_cast<std::uint64_t>(left);
    return true;
}

}  // namespace host
