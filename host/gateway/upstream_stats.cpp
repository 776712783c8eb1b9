#include "host/gateway/upstream_stats.h"

#include <algorithm>

namespace rankcheck::gateway {

StatsBook::StatsBook(std::vector<std::string> labels, std::vector<std::string> engines)
    : labels_(std::move(labels)), engines_(std::move(engines)), cells_(labels_.size()) {}

std::string StatsBook::EngineKey(const std::string& engine) const {
    return std::find(engines_.begin(), engines_.end(), engine) == engines_.end() ? "" : engine;
}

void StatsBook::Record(size_t upstream, const std::string& engine, const std::string& client,
                       Outcome outcome, double ms) {
    const std::string key = EngineKey(engine);
    std::lock_guard lock(mutex_);
    Cell& cell = cells_.at(upstream)[{key, client}];
    ++cell.requests;
    ++(outcome == Outcome::Page    ? cell.pages
       : outcome == Outcome::Block ? cell.blocks
                                   : cell.failures);
    cell.ms.push_back(static_cast<float>(ms));
}

std::vector<UpstreamStats> StatsBook::Rows(const std::string& engine,
                                           const std::string& client) const {
    std::vector<UpstreamStats> rows;
    std::lock_guard lock(mutex_);
    for (size_t u = 0; u < labels_.size(); ++u) {
        UpstreamStats row;
        row.upstream = labels_[u];
        std::vector<float> ms;
        for (const auto& [key, cell] : cells_[u]) {
            if (!engine.empty() && key.first != engine) continue;
            if (!client.empty() && key.second != client) continue;
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
