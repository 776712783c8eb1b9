// Preflight: before a run starts, rankcheck makes sure that the first hop of every page request
// can be reached at all, so that an unreachable proxy does not burn every keyword in a fraction
// of a second, overwriting the earlier result files with error markers. The first hop is the
// proxy of proxy.def (or each upstream of proxies.lst), or the engine's own host for a direct
// connection; it is reached with a plain TCP connect and a time limit, and nothing is sent.
//
// Free functions without state; any thread (rankcheck calls them on its main thread).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobfiles/job_files.h"

namespace rankcheck {

struct Endpoint {
    std::string host;
    int port = 0;
    std::string what;  // "the proxy of proxy.def", "Quillon's search host"

    // host:port; a user name and password before the host (user:password@host) are replaced by
    // "(user and password hidden)", so that no message shows them.
    std::string Text() const;
};

// Connects to `endpoint` within `timeoutMs`; returns why it failed ("connection refused",
// "no answer within 5 s", "host not found: ..."), or nothing when a connection was made.
std::optional<std::string> Unreachable(const Endpoint& endpoint, int timeoutMs);

// Unreachable for each endpoint, all tried at the same time, so that the time limits of a pool's
// proxies do not add up; in the order of `endpoints`.
std::vector<std::optional<std::string>> UnreachableEach(const std::vector<Endpoint>& endpoints,
                                                        int timeoutMs);

// The first hop of an engine's requests with `proxy`: the proxy, or for a direct connection the
// engine's search host from the engine table (nothing for an engine the table does not hold).
std::optional<Endpoint> FirstHop(const jobfiles::ProxySettings& proxy, const std::string& engine);

}  // namespace rankcheck
