// Gateway: rankcheck's forward proxy between the plug-ins and the outside. A plug-in reaches it
// through a proxy.def that names it (JobProxySettings); it sends each request on through one of
// its upstreams, in turn and at their pace, recognises blocks and routes around them, and says
// the cause of every failure in words.
//
// For each request (GET of an absolute http:// URL; anything else is refused with 405 or 400):
//   1. An upstream that is not suspended is chosen in turn (round-robin; with a pace, the one
//      whose pace lets the request go first), and the request waits for that upstream's pace
//      (UpstreamPool). While it waits long, the plug-in receives "102
//      Processing" every `interimEvery`, so that its client does not give up.
//   2. The request goes out through that upstream, bounded by `timeout` as a whole.
//   3. No answer (refused, timed out, ...), or an HTTP error that is not a block (407 from a
//      proxy, 404, 500, ...): the plug-in receives 502 (504 for a time-out) and reports a failed
//      page as it always has; its next attempt goes to the next upstream. A Failure event says
//      the cause.
//   4. A block (see EngineRules): the upstream is suspended (see Suspensions), a Block event
//      says so, the state file is written, and the request goes back to step 1, so that the
//      plug-in receives the good page through another upstream.
//   5. When every upstream is suspended, the plug-in receives 503 and a NoUpstreamLeft event
//      says when the first upstream is back; the host stops the run there.
//   6. Otherwise the plug-in receives the answer as it came (status, Location, Content-Type and
//      the page, uncompressed).
// Per upstream, engine and client it counts requests, pages, blocks, failures and their median
// time. A client is a run: the gateway asks no password, but the user name in a plug-in's
// proxy.def (JobProxySettings(client)) names the run its requests belong to, in events and
// statistics, so that several projects can share one gateway and each see its own.
//
// Beside the plug-ins' requests it answers status requests (origin-form GETs of /rankcheck/...,
// see remote_gateway.h) with its events, statistics and upstreams as JSON, for hosts in other
// processes.
//
// Threads: the owner (the host) constructs, starts and stops it on one thread. Requests are
// served on the gateway's worker threads, several at once (two plug-ins of `run all`, or several
// projects sharing one gateway), sharing the turns, the pace and the suspensions. Events(),
// Stats(), Upstreams() and AllSuspendedUntil() may be called from any thread at any time; the
// host reads the events on its main thread (see EventLog for the order guarantee).
//
// Never a password in an event, a statistic, the state file or an error: upstreams are shown by
// their labels (see Upstream).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/gateway/engine_rules.h"
#include "host/gateway/event_log.h"
#include "host/gateway/suspensions.h"
#include "host/gateway/upstream.h"
#include "host/gateway/upstream_stats.h"
#include "jobfiles/job_files.h"

namespace rankcheck::gateway {

struct GatewayOptions {
    std::string address = "127.0.0.1";  // where it listens
    int port = 0;                       // 0: a free port
    // At least one; requests go round them in this order. Labelled anew (LabelUpstreams).
    std::vector<Upstream> upstreams;
    std::chrono::milliseconds pace{0};  // least time between two requests through one upstream
    double paceExtra = 0.5;             // random extra up to this share of the pace (0 to 1)
    std::chrono::milliseconds timeout = std::chrono::seconds(20);  // a request as a whole
    BlockPolicy blocks;
    std::vector<EngineRules> engines = DefaultEngineRules();
    // The state file that keeps suspensions across runs; empty: kept in memory only.
    std::string stateFile;
    std::chrono::milliseconds interimEvery = std::chrono::seconds(10);
    size_t maxPageBytes = 16u * 1024 * 1024;
    // libcurl CONNECT_TO entries for direct upstreams (tests and benchmarks: where the engines
    // are), e.g. "search.quillon.example:80:127.0.0.1:8765".
    std::vector<std::string> connectTo;
    int workers = 16;  // connections served at once; more wait for a free worker
};

// An upstream as it stands now.
struct UpstreamState {
    std::string label;
    std::optional<SystemTime> suspendedUntil;  // set while suspended
    std::string cause;                         // of the last block, e.g. "captcha page from Verrin"
    int strikes = 0;                           // blocks in a row that still count
};

class Gateway {
  public:
    // Checks the options (std::invalid_argument: no upstream, a negative pace, a share outside
    // 0 to 1, a time-out or interval not above 0) and takes back the suspensions of the state
    // file; a state file that cannot be read is reported as a Notice event and left alone until
    // the first block replaces it.
    explicit Gateway(GatewayOptions options);
    ~Gateway();  // stops it
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Binds address:port (0: a free port), starts serving and returns the port. Throws
    // std::runtime_error naming the address when it cannot listen there.
    int Start();
    // Stops serving: requests waiting for their pace are answered 503 at once, requests under
    // way are cut short within a second. Harmless when not running.
    void Stop();
    int Port() const;  // 0 when not running

    // The proxy.def that points a plug-in at this gateway: a proxy without credentials, or with
    // `client` as its user name (and a password the gateway ignores) to name the run.
    jobfiles::ProxySettings JobProxySettings(const std::string& client = "") const;

    const EventLog& Events() const;
    // A row per upstream: the requests for `engine` (a display name) from `client`; empty
    // means any.
    std::vector<UpstreamStats> Stats(const std::string& engine = "",
                                     const std::string& client = "") const;
    std::vector<UpstreamState> Upstreams() const;
    // When every upstream is suspended: the time the first is back.
    std::optional<SystemTime> AllSuspendedUntil() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace rankcheck::gateway
