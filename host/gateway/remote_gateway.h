// The gateway seen from another process. A gateway that runs on its own (several projects
// sharing one pool of upstreams, its pace and its suspensions) answers status requests beside
// the proxy requests of the plug-ins: origin-form GETs of
//   /rankcheck/events?after=N[&client=C]     the events numbered above N (of client C and those
//                                            of no client), with the number of the newest
//   /rankcheck/stats[?engine=E][&client=C]   a row per upstream, as Gateway::Stats
//   /rankcheck/upstreams                     each upstream's state, as Gateway::Upstreams
// as JSON. RemoteGateway reads them for a host that runs its plug-ins through such a gateway; the
// *Json functions are the format both sides share. Times travel as milliseconds since the epoch.
//
// RemoteGateway holds only the address: any thread, each call one request of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/gateway/event_log.h"
#include "host/gateway/gateway.h"
#include "host/gateway/upstream_stats.h"

namespace rankcheck::gateway {

// A status request that got no answer, or an answer that is not the gateway's.
class RemoteGatewayError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RemoteGateway {
  public:
    RemoteGateway(std::string host, int port,
                  std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // As Gateway::Events().Since, for one client's events (and the gateway's notices), or all
    // when `client` is empty; `last` receives the number of the newest event of all.
    std::vector<Event> EventsSince(uint64_t after, const std::string& client, uint64_t& last) const;
    std::vector<UpstreamStats> Stats(const std::string& engine = "",
                                     const std::string& client = "") const;
    std::vector<UpstreamState> Upstreams() const;

  private:
    std::string Get(const std::string& path) const;  // the body of a 200; throws otherwise

    const std::string host_;
    const int port_;
    const std::chrono::milliseconds timeout_;
};

std::string EventsToJson(const std::vector<Event>& events, uint64_t last);
std::vector<Event> EventsFromJson(const std::string& text, uint64_t& last);
std::string StatsToJson(const std::vector<UpstreamStats>& rows);
std::vector<UpstreamStats> StatsFromJson(const std::string& text);
std::string UpstreamsToJson(const std::vector<UpstreamState>& states);
std::vector<UpstreamState> UpstreamsFromJson(const std::string& text);

}  // namespace rankcheck::gateway
