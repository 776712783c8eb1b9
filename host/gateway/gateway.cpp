#include "host/gateway/gateway.h"

#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "host/gateway/listener.h"
#include "host/gateway/remote_gateway.h"
#include "host/gateway/upstream_client.h"
#include "host/gateway/upstream_pool.h"

namespace rankcheck::gateway {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;
constexpr auto kStartTimeout = std::chrono::seconds(5);

void CheckOptions(const GatewayOptions& o) {
    const auto fail = [](const std::string& what) {
        throw std::invalid_argument("gateway: " + what);
    };
    if (o.upstreams.empty()) fail("no upstream to send requests through");
    if (o.pace.count() < 0) fail("the pace must not be negative");
    if (!(o.paceExtra >= 0 && o.paceExtra <= 1))
        fail("the pace's random extra is a share from 0 to 1");
    if (o.timeout.count() <= 0) fail("the time-out must be above 0");
    if (o.interimEvery.count() <= 0) fail("the interval of interim answers must be above 0");
    if (o.workers < 1) fail("at least one worker is needed");
}

std::vector<std::string> LabelsOf(const std::vector<Upstream>& upstreams) {
    std::vector<std::string> labels;
    for (const Upstream& u : upstreams)
        labels.push_back(u.label);
    return labels;
}

std::vector<std::string> NamesOf(const std::vector<EngineRules>& engines) {
    std::vector<std::string> names;
    for (const EngineRules& e : engines)
        names.push_back(e.name);
    return names;
}

std::vector<Upstream> Labelled(std::vector<Upstream> upstreams) {
    LabelUpstreams(upstreams);
    return upstreams;
}

// The host of an absolute http:// target, without a port; empty when it is not one.
std::string HostOfTarget(const std::string& target) {
    if (target.size() < 8 || ::strncasecmp(target.c_str(), "http://", 7) != 0) return "";
    const std::string rest = target.substr(7);
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    return authority.substr(0, authority.find(':'));
}

// The user name of a "Proxy-Authorization: Basic ..." header: the run the request is from.
std::string ClientOf(const httplib::Request& req) {
    const std::string value = req.get_header_value("Proxy-Authorization");
    if (value.size() < 6 || ::strncasecmp(value.c_str(), "Basic ", 6) != 0) return "";
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string decoded;
    unsigned bits = 0;
    int count = 0;
    for (size_t i = 6; i < value.size(); ++i) {
        const size_t digit = kAlphabet.find(value[i]);
        if (digit == std::string::npos) break;  // "=" padding, or the end
        bits = (bits << 6) | static_cast<unsigned>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            decoded += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return decoded.substr(0, decoded.find(':'));
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content("rankcheck gateway: " + message + "\n", "text/plain; charset=utf-8");
}

// The page goes out as it came, uncompressed: the server library compresses a body for a
// client that accepts it, but not a provider's content of known length, and compressing on the
// loopback would cost milliseconds of CPU for nothing.
void Deliver(httplib::Response& res, UpstreamAnswer&& answer) {
    res.status = static_cast<int>(answer.status);
    if (!answer.location.empty()) res.set_header("Location", answer.location);
    const std::string type = answer.contentType.empty() ? "text/html" : answer.contentType;
    if (answer.body.empty()) {
        res.set_header("Content-Type", type);
        return;
    }
    auto page = std::make_shared<std::string>(std::move(answer.body));
    res.set_content_provider(page->size(), type.c_str(),
                             [page](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(page->data() + offset, length);
                             });
}

}  // namespace

struct Gateway::Impl {
    explicit Impl(GatewayOptions o)
        : options((CheckOptions(o), std::move(o))),
          upstreams(Labelled(options.upstreams)),
          pool(LabelsOf(upstreams), options.pace, options.paceExtra),
          stats(LabelsOf(upstreams), NamesOf(options.engines)) {
        const ClientSettings settings{options.timeout, options.maxPageBytes, options.connectTo};
        for (const Upstream& u : upstreams)
            clients.push_back(std::make_unique<UpstreamClient>(u, settings));
        LoadState();
    }

    // The handler of every request, on a worker thread.
    void Serve(const httplib::Request& req, httplib::Response& res);
    // Steps of Serve. WaitForSlot: false when the gateway stops or the client has gone.
    bool WaitForSlot(SteadyTime at);
    // Who asked for what: the engine (or the site's host) and the client.
    struct Asker {
        std::string engine;
        std::string client;
    };
    void Failed(httplib::Response& res, size_t upstream, const Asker& asker,
                const std::string& cause, int status, double ms);
    void Blocked(size_t upstream, const Asker& asker, const Verdict& verdict,
                 const UpstreamAnswer& answer);
    void NoUpstreamLeft(httplib::Response& res, const Asker& asker);
    // The status pages: /rankcheck/events, /rankcheck/stats, /rankcheck/upstreams.
    void ServeStatus(const httplib::Request& req, httplib::Response& res);
    std::string HttpFailureCause(const Upstream& upstream, const std::string& engine,
                                 long status) const;
    std::vector<UpstreamState> States() const;
    // The state file.
    void LoadState();
    void SaveState();
    void Notice(const std::string& text);

    const GatewayOptions options;
    const std::vector<Upstream> upstreams;
    std::vector<std::unique_ptr<UpstreamClient>> clients;  // one per upstream
    UpstreamPool pool;
    StatsBook stats;
    EventLog events;

    std::mutex stateMutex;                      // one writer of the state file at a time
    std::map<std::string, Suspension> foreign;  // state file entries of other upstreams
    std::string lastNotice;                     // guarded by stateMutex

    std::unique_ptr<Listener> listener;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::mutex stopMutex;
    std::condition_variable stopped;
};

void Gateway::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET") {
        res.set_header("Allow", "GET");
        res.set_header("Connection", "close");
        return Refuse(res, 405,
                      req.method == "CONNECT"
                          ? "CONNECT is not served: ask for http:// pages, the engines' own"
                          : req.method + " is not served: the gateway forwards GET requests");
    }
    const std::string host = HostOfTarget(req.target);
    if (host.empty() && req.target.rfind("/rankcheck/", 0) == 0) return ServeStatus(req, res);
    if (host.empty())
        return Refuse(res, 400, "this is a proxy: ask it for an absolute http:// URL");
    const EngineRules* rules = RulesForHost(options.engines, host);
    const Asker asker{rules != nullptr ? rules->name : host, ClientOf(req)};
    const ForwardedHeaders headers{req.get_header_value("User-Agent"),
                                   req.get_header_value("Accept-Language"),
                                   req.get_header_value("Accept")};
    // Each turn of the loop is one try through one upstream; a block suspends that upstream, so
    // the tries end when the page came, a failure is passed on, or no upstream is left.
    for (;;) {
        const std::optional<UpstreamPool::Turn> turn = pool.Take(std::chrono::system_clock::now());
        if (!turn) return NoUpstreamLeft(res, asker);
        if (!WaitForSlot(turn->at)) return Refuse(res, 503, "the gateway is stopping");
        // Another request may have found it blocked while this one waited.
        if (pool.Suspended(turn->upstream, std::chrono::system_clock::now())) continue;
        const size_t u = turn->upstream;
        UpstreamAnswer answer = clients[u]->Get(req.target, headers, stopping);
        pool.Sent(u, answer.sent);
        if (!answer.answered)
            return Failed(res, u, asker, answer.cause, answer.timedOut ? 504 : 502, answer.ms);
        const Verdict verdict = Classify(rules, answer.status, answer.location, answer.body);
        if (verdict.kind != BlockKind::None) {
            Blocked(u, asker, verdict, answer);
            continue;
        }
        if (answer.status >= 400)
            return Failed(res, u, asker,
                          HttpFailureCause(upstreams[u], asker.engine, answer.status), 502,
                          answer.ms);
        stats.Record(u, asker.engine, asker.client, Outcome::Page, answer.ms);
        return Deliver(res, std::move(answer));
    }
}

bool Gateway::Impl::WaitForSlot(SteadyTime at) {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(stopMutex);
    SteadyTime interim = Clock::now() + options.interimEvery;
    while (!stopping) {
        const SteadyTime now = Clock::now();
        if (now >= at) return true;
        if (now >= interim) {
            lock.unlock();
            // A client that has gone needs no page: its slot is left unused.
            if (!Listener::SendInterim()) return false;
            lock.lock();
            interim = now + options.interimEvery;
            continue;
        }
        stopped.wait_until(lock, std::min(at, interim));
    }
    return false;
}

std::string Gateway::Impl::HttpFailureCause(const Upstream& upstream, const std::string& engine,
                                            long status) const {
    if (!upstream.IsProxy()) return StatusWords(status) + " from " + engine;
    if (status == 407)
        return "HTTP 407 from proxy " + upstream.label + " (proxy authentication required)";
    // Some proxies (tinyproxy) answer a wrong password with 401 rather than 407; the engines
    // never ask for one.
    if (status == 401 && !upstream.user.empty())
        return "HTTP 401 from proxy " + upstream.label + " (user name or password not accepted)";
    return StatusWords(status) + " through proxy " + upstream.label;
}

void Gateway::Impl::Failed(httplib::Response& res, size_t upstream, const Asker& asker,
                           const std::string& cause, int status, double ms) {
    stats.Record(upstream, asker.engine, asker.client, Outcome::Failure, ms);
    Event event;
    event.kind = EventKind::Failure;
    event.engine = asker.engine;
    event.client = asker.client;
    event.upstream = upstreams[upstream].label;
    event.cause = cause;
    event.answered = status;
    events.Add(std::move(event));
    Refuse(res, status, cause);
}

void Gateway::Impl::Blocked(size_t upstream, const Asker& asker, const Verdict& verdict,
                            const UpstreamAnswer& answer) {
    stats.Record(upstream, asker.engine, asker.client, Outcome::Block, answer.ms);
    const auto now = std::chrono::system_clock::now();
    std::optional<std::chrono::seconds> retryAfter;
    if (!answer.retryAfter.empty()) retryAfter = ParseRetryAfter(answer.retryAfter, now);
    const std::string what = verdict.what + " from " + asker.engine;
    const Suspension s = pool.Block(upstream, answer.status, retryAfter, what, options.blocks, now);
    const Upstream& u = upstreams[upstream];
    Event event;
    event.kind = EventKind::Block;
    event.engine = asker.engine;
    event.client = asker.client;
    event.upstream = u.label;
    event.cause = what + (u.IsProxy() ? " through " + u.label : " on the direct connection") +
                  "; suspended until " + ClockText(s.until, now);
    event.until = s.until;
    events.Add(std::move(event));
    SaveState();
}

void Gateway::Impl::NoUpstreamLeft(httplib::Response& res, const Asker& asker) {
    const auto now = std::chrono::system_clock::now();
    const SystemTime back = pool.AllSuspendedUntil(now).value_or(now);
    const std::string when = ClockText(back, now);
    Event event;
    event.kind = EventKind::NoUpstreamLeft;
    event.engine = asker.engine;
    event.client = asker.client;
    event.answered = 503;
    event.until = back;
    event.cause =
        "no upstream left: " + (upstreams.size() == 1
                                    ? upstreams[0].label + " is suspended until " + when
                                    : "every upstream is suspended; the first is back at " + when);
    const std::string cause = event.cause;
    events.Add(std::move(event));
    const auto wait = std::chrono::ceil<std::chrono::seconds>(back - now).count();
    res.set_header("Retry-After", std::to_string(std::max<long long>(0, wait)));
    Refuse(res, 503, cause);
}

void Gateway::Impl::ServeStatus(const httplib::Request& req, httplib::Response& res) {
    const std::string client = req.get_param_value("client");
    if (req.path == "/rankcheck/events") {
        const uint64_t after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
        const uint64_t last = events.Last();
        std::vector<Event> found = events.Since(after);
        std::erase_if(found, [&](const Event& e) {
            return !client.empty() && !e.client.empty() && e.client != client;
        });
        return res.set_content(EventsToJson(found, last), "application/json");
    }
    if (req.path == "/rankcheck/stats")
        return res.set_content(StatsToJson(stats.Rows(req.get_param_value("engine"), client)),
                               "application/json");
    if (req.path == "/rankcheck/upstreams")
        return res.set_content(UpstreamsToJson(States()), "application/json");
    Refuse(res, 404, "no status page " + req.path);
}

std::vector<UpstreamState> Gateway::Impl::States() const {
    const auto now = std::chrono::system_clock::now();
    const std::map<std::string, Suspension> all = pool.Suspensions();
    std::vector<UpstreamState> states;
    for (const Upstream& u : upstreams) {
        UpstreamState state;
        state.label = u.label;
        const auto it = all.find(u.label);
        if (it != all.end()) {
            if (now < it->second.until) state.suspendedUntil = it->second.until;
            state.cause = it->second.cause;
            state.strikes = StillCounts(it->second, options.blocks, now) ? it->second.strikes : 0;
        }
        states.push_back(std::move(state));
    }
    return states;
}

void Gateway::Impl::LoadState() {
    if (options.stateFile.empty()) return;
    try {
        std::map<std::string, Suspension> all = LoadSuspensions(options.stateFile);
        pool.Restore(all);
        for (const Upstream& u : upstreams)
            all.erase(u.label);
        foreign = std::move(all);
    } catch (const StateFileError& e) {
        Notice(std::string(e.what()) + "; the upstreams start without suspensions");
    }
}

void Gateway::Impl::SaveState() {
    if (options.stateFile.empty()) return;
    std::lock_guard lock(stateMutex);
    std::map<std::string, Suspension> all = foreign;
    for (auto& [label, s] : pool.Suspensions())
        all[label] = s;
    const auto now = std::chrono::system_clock::now();
    std::erase_if(
        all, [&](const auto& entry) { return !StillCounts(entry.second, options.blocks, now); });
    try {
        SaveSuspensions(options.stateFile, all);
        lastNotice.clear();
    } catch (const StateFileError& e) {
        // Said once, not after every block.
        if (lastNotice != e.what()) {
            lastNotice = e.what();
            Notice(e.what());
        }
    }
}

void Gateway::Impl::Notice(const std::string& text) {
    Event event;
    event.kind = EventKind::Notice;
    event.cause = text;
    events.Add(std::move(event));
}

Gateway::Gateway(GatewayOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Gateway::~Gateway() {
    Stop();
}

int Gateway::Start() {
    Stop();
    Impl& g = *impl_;
    g.stopping = false;
    auto listener = std::make_unique<Listener>();
    // Only SO_REUSEADDR: with the library's default SO_REUSEPORT a second gateway could share
    // the port and take half of the connections.
    listener->set_socket_options([](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    listener->set_tcp_nodelay(true);
    listener->set_keep_alive_max_count(100000);
    listener->set_keep_alive_timeout(30);
    // A request may wait for its pace and then for its upstream; the client's own limit governs.
    listener->set_read_timeout(60);
    listener->set_write_timeout(60);
    const int workers = g.options.workers;
    listener->new_task_queue = [workers] {
        return new httplib::ThreadPool(static_cast<size_t>(workers));
    };
    listener->set_pre_routing_handler([&g](const httplib::Request& req, httplib::Response& res) {
        g.Serve(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    const std::string where = g.options.address + ":" + std::to_string(g.options.port);
    errno = 0;
    const int bound =
        g.options.port == 0
            ? listener->bind_to_any_port(g.options.address)
            : (listener->bind_to_port(g.options.address, g.options.port) ? g.options.port : -1);
    if (bound <= 0) {
        const int err = errno;
        throw std::runtime_error("gateway: cannot listen on " + where +
                                 (err != 0 ? std::string(": ") + std::strerror(err) : ""));
    }
    Listener* server = listener.get();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    g.thread = std::thread([server, ended] {
        server->listen_after_bind();
        *ended = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!server->is_running()) {
        if (*ended || std::chrono::steady_clock::now() >= deadline) {
            server->stop();
            g.thread.join();
            throw std::runtime_error("gateway: the server on " + g.options.address + ":" +
                                     std::to_string(bound) + " did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    g.listener = std::move(listener);
    g.port = bound;
    return bound;
}

void Gateway::Stop() {
    Impl& g = *impl_;
    {
        std::lock_guard lock(g.stopMutex);
        g.stopping = true;
    }
    g.stopped.notify_all();
    if (!g.listener) return;
    g.listener->stop();
    g.thread.join();
    g.listener.reset();
    g.port = 0;
}

int Gateway::Port() const {
    return impl_->port;
}

jobfiles::ProxySettings Gateway::JobProxySettings(const std::string& client) const {
    jobfiles::ProxySettings settings = GatewayProxySettings(impl_->options.address, impl_->port);
    if (!client.empty()) {
        settings.credentials = true;
        settings.user = client;
        settings.password = "-";
    }
    return settings;
}

const EventLog& Gateway::Events() const {
    return impl_->events;
}

std::vector<UpstreamStats> Gateway::Stats(const std::string& engine,
                                          const std::string& client) const {
    return impl_->stats.Rows(engine, client);
}

std::vector<UpstreamState> Gateway::Upstreams() const {
    return impl_->States();
}

std::optional<SystemTime> Gateway::AllSuspendedUntil() const {
    return impl_->pool.AllSuspendedUntil(std::chrono::system_clock::now());
}

}  // namespace rankcheck::gateway
