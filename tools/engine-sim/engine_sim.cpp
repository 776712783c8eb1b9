#include "tools/engine-sim/engine_sim.h"

#include <httplib.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

#include "tools/engine-sim/prompt_server.h"
#include "tools/engine-sim/result_page.h"

namespace enginesim {

namespace {

constexpr size_t kHugePageBytes = 20u * 1024 * 1024;
constexpr size_t kGarbageBytes = 64u * 1024;
constexpr size_t kDripContentLength = 1000000;
constexpr const char* kHtml = "text/html; charset=utf-8";

bool IsFailure(FaultKind kind) {
    return kind == FaultKind::Status || kind == FaultKind::CloseMidBody ||
           kind == FaultKind::NoAnswer || kind == FaultKind::Captcha || kind == FaultKind::Consent ||
           kind == FaultKind::Drip || kind == FaultKind::Drop;
}

// The status a request is answered with when `failure` (or nothing) acts on it.
int AnsweredStatus(const Fault* failure) {
    if (!failure) return 200;
    if (failure->kind == FaultKind::Status) return failure->status;
    if (failure->kind == FaultKind::Drop) return 0;
    return failure->kind == FaultKind::Consent ? 302 : 200;
}

// Where a request goes: host (lower-case, without port), path and raw query, and its full URL.
struct Target {
    std::string host;
    std::string path;
    std::string query;
    std::string url;
};

Target ParseTarget(const httplib::Request& req) {
    Target t;
    std::string pathAndQuery = req.target;
    if (req.target.rfind("http://", 0) == 0) {  // absolute form, as sent to a proxy
        const std::string rest = req.target.substr(7);
        const size_t slash = rest.find('/');
        t.host = rest.substr(0, slash);
        pathAndQuery = slash == std::string::npos ? "/" : rest.substr(slash);
        t.url = req.target;
    } else {
        t.host = req.get_header_value("Host");
        t.url = "http://" + t.host + req.target;
    }
    t.host = t.host.substr(0, t.host.find(':'));
    std::transform(t.host.begin(), t.host.end(), t.host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t question = pathAndQuery.find('?');
    t.path = pathAndQuery.substr(0, question);
    if (question != std::string::npos) t.query = pathAndQuery.substr(question + 1);
    return t;
}

// The q value of a query as it arrived, still percent-encoded.
std::string RawParam(const std::string& query, const std::string& key) {
    size_t start = 0;
    while (start <= query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string item = query.substr(start, end - start);
        if (item.rfind(key + "=", 0) == 0) return item.substr(key.size() + 1);
        start = end + 1;
    }
    return "";
}

// A non-negative decimal number, or -1.
int Number(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::stoi(text);
}

// The answer's HTML. The server library compresses a body for a client that accepts it, but not
// a provider's content of known length: that is how a page goes out as it is.
void SetBody(httplib::Response& res, std::string body, bool compress) {
    if (compress) {
        res.body = std::move(body);
        res.set_header("Content-Type", kHtml);
        return;
    }
    auto whole = std::make_shared<std::string>(std::move(body));
    res.set_content_provider(whole->size(), kHtml,
                             [whole](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(whole->data() + offset, length);
                             });
}

// Every byte but letters, digits and "-._~" as %XX.
std::string QueryEncoded(const std::string& text) {
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

std::string ErrorPage(int status, const std::string& message) {
    return "<!DOCTYPE html>\n<html><head><title>" + std::to_string(status) +
           "</title></head><body><h1>" + std::to_string(status) + "</h1><p>" + HtmlEscape(message) +
           "</p></body></html>\n";
}

// Where a request goes among the engines' pages: a result page of `engine` from rank
// `firstRank`, the engine's front page, or an error answer (`status` other than 200).
struct Route {
    int status = 200;
    std::string message;  // of an error answer
    Engine engine = Engine::Quillon;
    bool frontPage = false;
    bool consentPage = false;
    int firstRank = 1;
};

Route RouteRequest(const httplib::Request& req, const Target& target) {
    Route route;
    const auto error = [&](int status, const std::string& message) {
        route.status = status;
        route.message = message;
        return route;
    };
    if (target.host != kQuillonHost && target.host != kVerrinHost)
        return error(404, "No engine at " + target.host);
    route.engine = target.host == kQuillonHost ? Engine::Quillon : Engine::Verrin;
    if (target.path == "/" || target.path == "/consent") {
        route.frontPage = target.path == "/";
        route.consentPage = !route.frontPage;
        return route;
    }
    if (route.engine == Engine::Quillon && target.path == "/search") {
        const int offset = req.has_param("o") ? Number(req.get_param_value("o")) : 0;
        if (offset < 0) return error(400, "Bad offset");
        route.firstRank = offset + 1;
    } else if (route.engine == Engine::Verrin &&
               (target.path == "/results.asp" || target.path == "/results.aspx")) {
        // Next-page links are written with "&amp;", which arrives as the key "amp;first".
        const char* key = req.has_param("first") ? "first" : "amp;first";
        route.firstRank = req.has_param(key) ? Number(req.get_param_value(key)) : 1;
        if (route.firstRank < 1) return error(400, "Bad first result");
    } else {
        return error(404, "No page " + target.path);
    }
    if (!req.has_param("q")) return error(400, "No query");
    return route;
}

}  // namespace

struct EngineSim::State {
    explicit State(Scenario s) : scenario(std::move(s)), links(scenario) {}
    State(const State&) = delete;  // links refers to scenario
    State& operator=(const State&) = delete;

    const Scenario scenario;
    const LinkGenerator links;
    // How many requests each fault has acted on; guarded by EngineSim::mutex_.
    std::vector<int> scenarioHits = std::vector<int>(scenario.faults.size());
    std::map<std::tuple<std::string, Engine, size_t>, int> keywordHits;
    // The rate limit's count per client address or port: the times of the requests within the
    // window, and the end of a cool-down; guarded by EngineSim::mutex_.
    struct RateWindow {
        std::deque<std::chrono::steady_clock::time_point> times;
        std::chrono::steady_clock::time_point coolUntil{};
    };
    std::map<std::string, RateWindow> rateWindows;
};

struct EngineSim::Plan {
    int status = 200;
    std::string body;              // the answer, unless a result page is to be built
    std::string challenge;         // Proxy-Authenticate value of a 407
    std::string retryAfter;        // Retry-After value of a 429 for the rate limit
    std::string url;               // the URL asked for (a Consent fault's continue=)
    std::shared_ptr<State> state;  // set when a result page is to be built
    Engine engine = Engine::Quillon;
    std::string keyword;
    std::string rawQuery;
    int firstRank = 1;
    int delayMs = 0;
    const Fault* failure = nullptr;
    std::vector<const Fault*> pageFaults;
    uint32_t seed = 0;
    bool compress = true;

    const Fault* PageFault(FaultKind kind) const;  // the page fault of that kind, if one acts
};

EngineSim::EngineSim(Scenario scenario) {
    scenario.Validate();
    state_ = std::make_shared<State>(std::move(scenario));
}

EngineSim::~EngineSim() {
    Stop();
}

int EngineSim::Start(int port, const std::string& address) {
    Stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    try {
        for (int i = 0; i < portCount_; ++i) {
            const int bound = Listen(i == 0 ? port : 0, address);
            std::lock_guard lock(mutex_);  // the servers already up read ports_
            ports_.push_back(bound);
        }
    } catch (...) {
        Stop();
        throw;
    }
    port_ = ports_.front();
    return port_;
}

int EngineSim::Listen(int port, const std::string& address) {
    const std::string where = address + ":" + std::to_string(port);
    auto owned = std::make_unique<PromptServer>();
    httplib::Server* server = owned.get();
    // Only SO_REUSEADDR: the server library's default SO_REUSEPORT would let a second simulator
    // share a port that one already serves, and the two would split its connections.
    server->set_socket_options([](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->set_keep_alive_max_count(keepAlive_ ? 1000 : 1);
    server->set_tcp_nodelay(true);  // else small pages wait for delayed ACKs (about 40 ms each)
    // An idle keep-alive connection holds a worker until this timeout, or until Stop.
    server->set_keep_alive_timeout(2);
    server->Get(".*",
                [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    errno = 0;
    const int bound = port == 0 ? server->bind_to_any_port(address)
                                : (server->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        const int err = errno;
        throw std::runtime_error("engine-sim: cannot listen on " + where +
                                 (err != 0 ? std::string(": ") + std::strerror(err) : ""));
    }
    auto listenEnded = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([server, listenEnded] {
        server->listen_after_bind();
        *listenEnded = true;
    });
    // The server is up once its loop runs. A loop that ends at once, or never shows up, is a
    // failure to start, not a reason to wait for ever.
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!server->is_running()) {
        const bool ended = *listenEnded;
        if (ended || std::chrono::steady_clock::now() >= deadline) {
            server->stop();
            thread.join();
            throw std::runtime_error("engine-sim: the server bound to " + address + ":" +
                                     std::to_string(bound) +
                                     (ended ? " stopped before it accepted a connection"
                                            : " did not start accepting connections within " +
                                                  std::to_string(kStartTimeout.count()) + " ms"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    servers_.push_back({std::move(owned), std::move(thread)});
    return bound;
}

void EngineSim::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    for (Listening& listening : servers_) {
        listening.server->stop();
        listening.thread.join();
    }
    servers_.clear();
    std::lock_guard lock(mutex_);
    ports_.clear();
    port_ = 0;
}

void EngineSim::SetScenario(Scenario scenario) {
    scenario.Validate();
    auto state = std::make_shared<State>(std::move(scenario));
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
}

void EngineSim::SetCompression(bool on) {
    std::lock_guard lock(mutex_);
    compress_ = on;
}

void EngineSim::SetLogFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    logFile_.close();
    logFile_.clear();
    logFile_.open(path, std::ios::app | std::ios::binary);
    if (!logFile_) throw std::runtime_error("engine-sim: cannot write the log file " + path);
}

std::vector<LoggedRequest> EngineSim::Requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void EngineSim::ClearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

bool EngineSim::WaitUnlessStopped(int ms) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void EngineSim::Log(const LoggedRequest& entry) {
    log_.push_back(entry);
    if (logFile_.is_open()) {
        const nlohmann::ordered_json line = {
            {"n", entry.number},
            {"url", entry.url},
            {"userAgent", entry.userAgent},
            {"acceptLanguage", entry.acceptLanguage},
            {"proxyAuthorization", entry.proxyAuthorization},
            {"clientPort", entry.clientPort},
            {"status", entry.status},
            {"faults", entry.faults},
            {"listener", entry.listener},
            {"ms", std::chrono::duration<double, std::milli>(entry.at - born_).count()}};
        logFile_ << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                 << '\n';
        logFile_.flush();
    }
}

LoggedRequest EngineSim::NewLogEntry(const httplib::Request& req, const std::string& url) {
    LoggedRequest entry;
    entry.number = ++requestCount_;
    entry.url = url;
    entry.userAgent = req.get_header_value("User-Agent");
    entry.acceptLanguage = req.get_header_value("Accept-Language");
    entry.proxyAuthorization = req.get_header_value("Proxy-Authorization");
    entry.clientPort = req.remote_port;
    const auto port = std::find(ports_.begin(), ports_.end(), req.local_port);
    entry.listener = port == ports_.end() ? 1 : static_cast<int>(port - ports_.begin()) + 1;
    entry.at = std::chrono::steady_clock::now();
    return entry;
}

EngineSim::Plan EngineSim::Decide(const httplib::Request& req, LoggedRequest& entry) {
    const Target target = ParseTarget(req);
    std::lock_guard lock(mutex_);
    entry = NewLogEntry(req, target.url);
    Plan plan;
    plan.compress = compress_;  // every answer, front and error pages too
    const auto decided = [&](int status, const std::string& message) {
        plan.status = status;
        plan.body = ErrorPage(status, message);
        entry.status = status;
        Log(entry);
        return plan;
    };

    const Scenario& scenario = state_->scenario;
    if (scenario.proxyAuth && entry.proxyAuthorization !=
                                  httplib::make_basic_authentication_header(
                                      scenario.proxyAuth->user, scenario.proxyAuth->password, true)
                                      .second) {
        plan.challenge = "Basic realm=\"engine-sim\"";
        return decided(407, "Proxy authentication required");
    }
    const Route route = RouteRequest(req, target);
    if (route.status != 200) return decided(route.status, route.message);
    plan.engine = route.engine;
    plan.url = target.url;
    if (const auto coolDown = OverRateLimit(req, entry)) {
        entry.faults = "rateLimit";
        if (scenario.rateLimit->answer == RateLimit::Answer::Captcha) {
            plan.body = RenderCaptchaPage(plan.engine);
            entry.status = 200;
            Log(entry);
            return plan;
        }
        plan.retryAfter = std::to_string(static_cast<long long>(std::ceil(*coolDown)));
        return decided(429, "Too many requests");
    }
    if (route.frontPage || route.consentPage) {
        plan.body = route.frontPage ? RenderFrontPage(plan.engine) : RenderConsentPage(plan.engine);
        entry.status = 200;
        Log(entry);
        return plan;
    }

    plan.keyword = req.get_param_value("q");
    plan.rawQuery = RawParam(target.query, "q");
    plan.firstRank = route.firstRank;
    plan.seed = static_cast<uint32_t>(entry.number);
    ApplyFaults(plan, entry);
    plan.state = state_;
    plan.compress = compress_;
    entry.status = AnsweredStatus(plan.failure);
    Log(entry);
    return plan;
}

std::optional<double> EngineSim::OverRateLimit(const httplib::Request& req,
                                               const LoggedRequest& entry) {
    const std::optional<RateLimit>& limit = state_->scenario.rateLimit;
    if (!limit || (limit->listener != 0 && limit->listener != entry.listener)) return std::nullopt;
    const std::string key = limit->per == RateLimit::Per::Port
                                ? "port " + std::to_string(entry.listener)
                                : "client " + req.remote_addr;
    State::RateWindow& window = state_->rateWindows[key];
    const auto now = entry.at;
    using Seconds = std::chrono::duration<double>;
    if (now < window.coolUntil) return Seconds(window.coolUntil - now).count();
    while (!window.times.empty() && Seconds(now - window.times.front()).count() >= limit->seconds)
        window.times.pop_front();
    if (static_cast<int>(window.times.size()) < limit->requests) {
        window.times.push_back(now);
        return std::nullopt;
    }
    window.times.clear();
    window.coolUntil = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 Seconds(limit->cooldown));
    return limit->cooldown;
}

void EngineSim::ApplyFaults(Plan& plan, LoggedRequest& entry) {
    const Scenario& scenario = state_->scenario;
    const int page = (plan.firstRank - 1) / ResultsPerPage(plan.engine) + 1;
    // The faults that may act on this request, with their counters.
    std::vector<std::pair<const Fault*, int*>> matching;
    for (size_t i = 0; i < scenario.faults.size(); ++i) {
        const Fault& fault = scenario.faults[i];
        int& hits = state_->scenarioHits[i];
        if (entry.number >= fault.fromRequest && (fault.times == 0 || hits < fault.times) &&
            (fault.listener == 0 || fault.listener == entry.listener))
            matching.emplace_back(&fault, &hits);
    }
    if (const EngineSetup* setup = scenario.Find(plan.keyword, plan.engine)) {
        for (size_t i = 0; i < setup->faults.size(); ++i) {
            const Fault& fault = setup->faults[i];
            int& hits = state_->keywordHits[{plan.keyword, plan.engine, i}];
            if ((fault.page == 0 || fault.page == page) &&
                (fault.times == 0 || hits < fault.times) &&
                (fault.listener == 0 || fault.listener == entry.listener))
                matching.emplace_back(&fault, &hits);
        }
    }
    // A fault counts only the requests it acts on: page faults wait while a failure is answered.
    for (const auto& [fault, hits] : matching) {
        if (IsFailure(fault->kind) && !plan.failure) plan.failure = fault;
    }
    for (const auto& [fault, hits] : matching) {
        const bool acts = fault->kind == FaultKind::Delay || fault == plan.failure ||
                          (!plan.failure && !IsFailure(fault->kind));
        if (!acts) continue;
        ++*hits;
        if (fault->kind == FaultKind::Delay)
            plan.delayMs += fault->ms;
        else if (!IsFailure(fault->kind))
            plan.pageFaults.push_back(fault);
        if (!entry.faults.empty()) entry.faults += ',';
        entry.faults += FaultName(fault->kind);
    }
}

void EngineSim::Handle(const httplib::Request& req, httplib::Response& res) {
    LoggedRequest entry;
    const Plan plan = Decide(req, entry);
    if (!plan.challenge.empty()) res.set_header("Proxy-Authenticate", plan.challenge);
    if (!plan.retryAfter.empty()) res.set_header("Retry-After", plan.retryAfter);
    if (!plan.state) {
        // A front page or an error page, compressed only as a result page would be.
        res.status = plan.status;
        SetBody(res, plan.body, plan.compress);
        return;
    }
    if (plan.delayMs > 0 && !WaitUnlessStopped(plan.delayMs)) {
        res.status = 503;
        return;
    }
    if (plan.failure && plan.failure->kind == FaultKind::Status) {
        res.status = plan.failure->status;
        res.set_content(ErrorPage(res.status, "The engine failed"), kHtml);
        return;
    }
    if (plan.failure && plan.failure->kind == FaultKind::Drop) {
        PromptServer::DropConnection();
        return;
    }
    if (plan.failure && plan.failure->kind == FaultKind::Captcha) {
        res.status = 200;
        SetBody(res, RenderCaptchaPage(plan.engine), plan.compress);
        return;
    }
    if (plan.failure && plan.failure->kind == FaultKind::Consent) {
        const std::string host = plan.engine == Engine::Quillon ? kQuillonHost : kVerrinHost;
        res.set_redirect("http://" + host + "/consent?continue=" + QueryEncoded(plan.url));
        return;
    }
    std::string body = RenderResultPage(plan);
    if (plan.failure && plan.failure->kind == FaultKind::Drip) {
        SendDrip(*plan.failure, std::move(body), res);
    } else if (plan.failure) {
        SendFailure(plan, std::move(body), res);
    } else {
        SendPage(plan, std::move(body), res);
    }
}

const Fault* EngineSim::Plan::PageFault(FaultKind kind) const {
    for (const Fault* fault : pageFaults)
        if (fault->kind == kind) return fault;
    return nullptr;
}

std::string EngineSim::RenderResultPage(const Plan& plan) {
    // The page's content, changed by the page faults.
    const int perPage = ResultsPerPage(plan.engine);
    PageContent page;
    page.engine = plan.engine;
    page.keyword = plan.keyword;
    page.rawQuery = plan.rawQuery;
    page.totalResults = plan.state->scenario.ResultCount(plan.keyword, plan.engine);
    page.firstRank = plan.PageFault(FaultKind::RepeatPage) ? std::max(1, plan.firstRank - perPage)
                                                           : plan.firstRank;
    const Fault* markers = plan.PageFault(FaultKind::Markers);
    const int last = markers ? page.firstRank + markers->count - 1
                             : std::min(page.firstRank + perPage - 1, page.totalResults);
    // A page of that many results is written densely, as a hostile page would be; with the
    // usual markup around each result it would outgrow what any client accepts.
    page.dense = markers != nullptr;
    for (int rank = page.firstRank; rank <= last; ++rank)
        page.links.push_back(plan.state->links.Link(plan.keyword, plan.engine, rank));
    page.nextLink = plan.engine == Engine::Verrin && last < page.totalResults &&
                    !plan.PageFault(FaultKind::NoNextLink);
    // The 0-based place of the result a fault names: `result` counted from 1, 0 for the last.
    const auto place = [&](const Fault* fault) {
        const int n = static_cast<int>(page.links.size());
        return fault->result >= 1 && fault->result <= n ? fault->result - 1 : n - 1;
    };
    if (const Fault* fault = plan.PageFault(FaultKind::EmptyLink); fault && !page.links.empty())
        page.links[place(fault)].clear();
    if (const Fault* fault = plan.PageFault(FaultKind::LineBreakLink);
        fault && !page.links.empty()) {
        std::string& link = page.links[place(fault)];
        link.insert(link.size() / 2, "\n");
    }

    // The rendered page, changed by the faults that act on its bytes.
    RenderedPage rendered = RenderPage(page);
    std::string& body = rendered.html;
    if (const Fault* fault = plan.PageFault(FaultKind::HugePage))
        body = PadPage(body, fault->bytes ? fault->bytes : kHugePageBytes);
    if (const Fault* fault = plan.PageFault(FaultKind::Truncate)) {
        if (page.links.empty()) {
            body.resize(body.size() / 2);
        } else {
            const size_t i = static_cast<size_t>(place(fault));
            body.resize(rendered.linkOffsets[i] + (page.links[i].size() + 1) / 2);
        }
    }
    if (const Fault* fault = plan.PageFault(FaultKind::Garbage))
        body = Garbage(fault->bytes ? fault->bytes : kGarbageBytes, plan.seed);
    return std::move(body);
}

void EngineSim::SendPage(const Plan& plan, std::string body, httplib::Response& res) {
    res.status = 200;
    SetBody(res, std::move(body), plan.compress);
}

void EngineSim::SendFailure(const Plan& plan, std::string body, httplib::Response& res) {
    // CloseMidBody sends half of the announced page; NoAnswer keeps silent for its time and then
    // sends nothing of it. Either way returning false closes the connection.
    if (plan.failure->kind == FaultKind::NoAnswer) WaitUnlessStopped(plan.failure->ms);
    const size_t sent = plan.failure->kind == FaultKind::CloseMidBody ? body.size() / 2 : 0;
    auto shared = std::make_shared<std::string>(std::move(body));
    res.status = 200;
    res.set_content_provider(shared->size(), kHtml,
                             [shared, sent](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset < sent) return sink.write(shared->data(), sent);
                                 return false;
                             });
}

void EngineSim::SendDrip(const Fault& fault, std::string body, httplib::Response& res) {
    // The page padded to the length asked for (a whole filler more at most), announced and sent
    // in slices of a tenth of a second's bytes (at least one byte) with a wait before each but
    // the first. Stop ends the wait and the answer at once; so does a client that has gone (the
    // write fails).
    auto shared = std::make_shared<std::string>(
        PadPage(body, fault.contentLength ? fault.contentLength : kDripContentLength));
    const size_t announced = shared->size();
    const size_t perSecond = static_cast<size_t>(std::max(fault.bytesPerSecond, 1));
    const size_t slice = std::max<size_t>(1, perSecond / 10);
    const int waitMs = static_cast<int>(1000 * slice / perSecond);
    res.status = 200;
    res.set_content_provider(
        announced, kHtml,
        [this, shared, slice, waitMs](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset > 0 && !WaitUnlessStopped(waitMs)) return false;
            return sink.write(shared->data() + offset, std::min(slice, length));
        });
}

}  // namespace enginesim
