// UpstreamStats: how each upstream has fared, per engine and client: requests sent through it,
// pages passed on, blocks, failures and the median time of its requests. The host prints them
// in a run's summary and keeps them with each check (one check is one engine's run of one
// project, hence per engine and per client, the run's name in its proxy.def).
//
// StatsBook is the gateway's record of them: its worker threads record, any thread reads.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace rankcheck::gateway {

struct UpstreamStats {
    std::string upstream;  // the label
    int requests = 0;      // requests sent through it
    int pages = 0;         // answers passed on to the plug-in as they came
    int blocks = 0;        // answers that suspended it
    int failures = 0;      // requests that failed otherwise (refused, timed out, HTTP errors)
    double medianMs = 0;   // median time from sending a request to its whole answer (or its
                           // failure), over its requests; 0 when it has none
};

enum class Outcome { Page, Block, Failure };

class StatsBook {
  public:
    StatsBook(std::vector<std::string> labels, std::vector<std::string> engines);

    // One request through upstream `upstream` (an index into the labels) for `engine` (a name
    // not among the engines counts as "other") from `client`.
    void Record(size_t upstream, const std::string& engine, const std::string& client,
                Outcome outcome, double ms);
    // A row per upstream, in the labels' order: the requests for `engine` from `client`; an
    // empty `engine` takes every engine and site, an empty `client` every client.
    std::vector<UpstreamStats> Rows(const std::string& engine = "",
                                    const std::string& client = "") const;

  private:
    struct Cell {
        int requests = 0, pages = 0, blocks = 0, failures = 0;
        std::vector<float> ms;  // the times, for the median
    };
    std::string EngineKey(const std::string& engine) const;  // the engine, or "" for others

    const std::vector<std::string> labels_;
    const std::vector<std::string> engines_;
    mutable std::mutex mutex_;
    // [upstream][{engine, client}]
    std::vector<std::map<std::pair<std::string, std::string>, Cell>> cells_;
};

}  // namespace rankcheck::gateway
