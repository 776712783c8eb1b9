#include "host/gateway/remote_gateway.h"

#include <httplib.h>

#include <array>
#include <utility>

#include <nlohmann/json.hpp>

namespace rankcheck::gateway {

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::system_clock;

constexpr std::array<std::pair<EventKind, const char*>, 4> kKinds{{
    {EventKind::Failure, "failure"},
    {EventKind::Block, "block"},
    {EventKind::NoUpstreamLeft, "noUpstreamLeft"},
    {EventKind::Notice, "notice"},
}};

long long Ms(SystemTime t) {
    return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
}
SystemTime FromMs(long long ms) {
    return SystemTime(std::chrono::duration_cast<system_clock::duration>(milliseconds(ms)));
}

template <typename T>
T Parsed(const std::string& text, T (*from)(const json&)) {
    try {
        return from(json::parse(text));
    } catch (const json::exception& e) {
        throw RemoteGatewayError(std::string("the gateway's status answer is not readable: ") +
                                 e.what());
    }
}

std::string Encoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string EventsToJson(const std::vector<Event>& events, uint64_t last) {
    json list = json::array();
    for (const Event& e : events) {
        json j = {{"sequence", e.sequence}, {"kind", kKinds[static_cast<size_t>(e.kind)].second},
                  {"atMs", Ms(e.at)},       {"engine", e.engine},
                  {"upstream", e.upstream}, {"client", e.client},
                  {"cause", e.cause},       {"answered", e.answered}};
        if (e.until) j["untilMs"] = Ms(*e.until);
        list.push_back(std::move(j));
    }
    return json{{"last", last}, {"events", list}}.dump(-1, ' ', false,
                                                       json::error_handler_t::replace);
}

std::vector<Event> EventsFromJson(const std::string& text, uint64_t& last) {
    const json j = Parsed<json>(text, [](const json& j) { return j; });
    std::vector<Event> events;
    try {
        last = j.at("last").get<uint64_t>();
        for (const json& e : j.at("events")) {
            Event event;
            event.sequence = e.at("sequence").get<uint64_t>();
            const std::string kind = e.at("kind").get<std::string>();
            for (const auto& [k, name] : kKinds)
                if (kind == name) event.kind = k;
            event.at = FromMs(e.at("atMs").get<long long>());
            event.engine = e.at("engine").get<std::string>();
            event.upstream = e.at("upstream").get<std::string>();
            event.client = e.at("client").get<std::string>();
            event.cause = e.at("cause").get<std::string>();
            event.answered = e.at("answered").get<int>();
            if (e.contains("untilMs")) event.until = FromMs(e["untilMs"].get<long long>());
            events.push_back(std::move(event));
        }
    } catch (const json::exception& e) {
        throw RemoteGatewayError(std::string("the gateway's events are not readable: ") + e.what());
    }
    return events;
}

std::string StatsToJson(const std::vector<UpstreamStats>& rows) {
    json list = json::array();
    for (const UpstreamStats& s : rows)
        list.push_back({{"upstream", s.upstream},
                        {"requests", s.requests},
                        {"pages", s.pages},
                        {"blocks", s.blocks},
                        {"failures", s.failures},
                        {"medianMs", s.medianMs}});
    return json{{"upstreams", list}}.dump();
}

std::vector<UpstreamStats> StatsFromJson(const std::string& text) {
    return Parsed<std::vector<UpstreamStats>>(text, [](const json& j) {
        std::vector<UpstreamStats> rows;
        for (const json& r : j.at("upstreams"))
            rows.push_back({r.at("upstream").get<std::string>(), r.at("requests").get<int>(),
                            r.at("pages").get<int>(), r.at("blocks").get<int>(),
                            r.at("failures").get<int>(), r.at("medianMs").get<double>()});
        return rows;
    });
}

std::string UpstreamsToJson(const std::vector<UpstreamState>& states) {
    json list = json::array();
    for (const UpstreamState& s : states) {
        json j = {{"label", s.label}, {"cause", s.cause}, {"strikes", s.strikes}};
        if (s.suspendedUntil) j["suspendedUntilMs"] = Ms(*s.suspendedUntil);
        list.push_back(std::move(j));
    }
    return json{{"upstreams", list}}.dump();
}

std::vector<UpstreamState> UpstreamsFromJson(const std::string& text) {
    return Parsed<std::vector<UpstreamState>>(text, [](const json& j) {
        std::vector<UpstreamState> states;
        for (const json& s : j.at("upstreams")) {
            UpstreamState state;
            state.label = s.at("label").get<std::string>();
            state.cause = s.at("cause").get<std::string>();
            state.strikes = s.at("strikes").get<int>();
            if (s.contains("suspendedUntilMs"))
                state.suspendedUntil = FromMs(s["suspendedUntilMs"].get<long long>());
            states.push_back(std::move(state));
        }
        return states;
    });
}

namespace {

// What a failed status request met, in words.
std::string Failure(httplib::Error error) {
    switch (error) {
        case httplib::Error::Connection: return "nothing accepts a connection there";
        case httplib::Error::ConnectionTimeout: return "the connection timed out";
        case httplib::Error::Read: return "its answer could not be read";
        case httplib::Error::Write: return "the request could not be sent";
        default: return httplib::to_string(error);
    }
}

}  // namespace

RemoteGateway::RemoteGateway(std::string host, int port, std::chrono::milliseconds timeout)
    : host_(std::move(host)), port_(port), timeout_(timeout) {}

std::string RemoteGateway::Get(const std::string& path) const {
    httplib::Client client(host_, port_);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout_);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeout_ - seconds);
    client.set_connection_timeout(seconds.count(), micros.count());
    client.set_read_timeout(seconds.count(), micros.count());
    const auto res = client.Get(path.c_str());
    const std::string where = "the gateway at " + host_ + ":" + std::to_string(port_);
    if (!res)
        throw RemoteGatewayError(where + " does not answer: " + Failure(res.error()));
    if (res->status != 200)
        throw RemoteGatewayError(where + " answered " + std::to_string(res->status) + " to " +
                                 path);
    return res->body;
}

std::vector<Event> RemoteGateway::EventsSince(uint64_t after, const std::string& client,
                                              uint64_t& last) const {
    return EventsFromJson(Get("/rankcheck/events?after=" + std::to_string(after) +
                              (client.empty() ? "" : "&client=" + Encoded(client))),
                          last);
}

std::vector<UpstreamStats> RemoteGateway::Stats(const std::string& engine,
                                                const std::string& client) const {
    return StatsFromJson(
        Get("/rankcheck/stats?engine=" + Encoded(engine) + "&client=" + Encoded(client)));
}

std::vector<UpstreamState> RemoteGateway::Upstreams() const {
    return UpstreamsFromJson(Get("/rankcheck/upstreams"));
}

}  // namespace rankcheck::gateway
