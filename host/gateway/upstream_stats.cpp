#include "host/gateway/upstream_stats.h"

#include <algorithm>

namespace rankcheck::gateway {

StatsBook::StatsBook(std::vector<std::string> labels, std::vector<std::string> engines)
    : labels_(std::move(labels)),
      engines_(std::move(engines)),
      cells_(labels_.size(), std::vector<Cell>(engines_.size() + 1)) {}

size_t StatsBook::EngineIndex(const std::string& engine) const {
    const auto it = std::find(engines_.begin(), engines_.end(), engine);
    return static_cast<size_t>(it - engines_.begin());  // engines_.size(): other
}

void StatsBook::Record(size_t upstream, const std::string& engine, Outcome outcome, double ms) {
    const size_t column = EngineIndex(engine);
    std::lock_guard lock(mutex_);
    Cell& cell = cells_.at(upstream)[column];
    ++cell.requests;
    ++(outcome == Outcome::Page    ? cell.pages
       : outcome == Outcome::Block ? cell.blocks
                                   : cell.failures);
    cell.ms.push_back(static_cast<float>(ms));
}

std::vector<UpstreamStats> StatsBook::Rows(const std::string& engine) const {
    std::vector<UpstreamStats> rows;
    std::lock_guard lock(mutex_);
    for (size_t u = 0; u < labels_.size(); ++u) {
        UpstreamStats row;
        row.upstream = labels_[u];
        std::vector<float> ms;
        for (size_t e = 0; e < cells_[u].size(); ++e) {
            if (!engine.empty() && e != EngineIndex(engine)) continue;
            const Cell& cell = cells_[u][e];
            row.requests += cell.requests;
            row.pages += cell.pages;
            row.blocks += cell.blocks;
            row.failures += cell.failures;
            ms.insert(ms.end(), cell.ms.begin(), cell.ms.end());
        }
        if (!ms.empty()) {
            // The lower and upper middle for an even count, averaged.
            const size_t half = ms.size() / 2;
            std::nth_element(ms.begin(), ms.begin() + half, ms.end());
            double median = ms[half];
            if (ms.size() % 2 == 0)
                median = (median + *std::max_element(ms.begin(), ms.begin() + half)) / 2;
            row.medianMs = median;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace rankcheck::gateway
