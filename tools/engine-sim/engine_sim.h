// EngineSim: the simulated Quillon and Verrin search engines behind one HTTP/1.1 server with
// keep-alive. Clients reach it as they reach the engines through a proxy: an absolute-form
// request "GET http://search.quillon.example/search?... HTTP/1.1" is routed by the host in its
// target, an origin-form request by its Host header. It serves
//   search.quillon.example  /search?...&q=KW[&o=N]           10 results from offset N (default 0)
//   search.verrin.example   /results.asp?q=KW...             the first 15 results
//                           /results.aspx?q=KW&amp;first=N   15 results from rank N ("amp;first"
//                                                             is read as "first")
//   either host             /                                the front page, without results
//                           /consent                         the consent page (Consent fault)
// with the results, sites and faults of its Scenario. Any other host or path gets 404, a result
// page request without q gets 400, and with proxy authentication set every request without the
// right Proxy-Authorization gets 407. With a rate limit, a client over it gets 429 or the captcha
// page for the cool-down.
//
// It may listen on several ports (SetPortCount), all serving the same engines; a fault or the
// rate limit can tell them apart, so that each port plays one upstream proxy of its own.
//
// Every request is logged (in memory, and as one JSON line in the log file when one is set) as
// soon as its answer is decided, before any delay.
//
// The owner (a test, or the engine-sim program) starts and stops it on one thread; requests are
// answered on the server's own worker threads. SetScenario, Requests and ClearRequests may be
// called from any thread at any time. Stop cuts short the waits of Delay, NoAnswer and Drip
// faults and closes idle keep-alive connections within about 50 ms.
#pragma once

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/engine-sim/scenario.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace enginesim {

inline constexpr const char* kQuillonHost = "search.quillon.example";
inline constexpr const char* kVerrinHost = "search.verrin.example";

struct LoggedRequest {
    int number = 0;   // 1-based, in the order in which requests arrived
    std::string url;  // the absolute-form target, or "http://" + Host + the origin-form target
    std::string userAgent;
    std::string acceptLanguage;
    std::string proxyAuthorization;
    int clientPort = 0;  // the client's port: requests with equal ports came over one connection
    int status = 0;      // the status answered (a CloseMidBody, NoAnswer or Drip fault answers
                         // 200; a Drop fault answers nothing: 0)
    std::string faults;  // names of the faults that hit the request, comma-separated
    int listener = 1;    // the port it came in on, 1-based in the order of Ports()
    std::chrono::steady_clock::time_point at{};  // when it was read, before its answer
};

class EngineSim {
  public:
    // Throws std::invalid_argument when the scenario does not pass Scenario::Validate.
    explicit EngineSim(Scenario scenario = {});
    ~EngineSim();  // stops the server
    EngineSim(const EngineSim&) = delete;
    EngineSim& operator=(const EngineSim&) = delete;

    // The longest Start waits for the bound server to accept connections.
    static constexpr std::chrono::milliseconds kStartTimeout{5000};

    // Binds (port 0: any free port), starts serving and returns the bound port once the server
    // accepts connections; with a port count above 1 the further ports are free ones. Throws
    // std::runtime_error naming the address when it cannot be bound (also when another server
    // listens on that port) or the server does not come up within kStartTimeout; nothing is left
    // running then.
    int Start(int port = 0, const std::string& address = "127.0.0.1");
    // Stops serving and waits for the worker threads. Harmless when not running.
    void Stop();
    int Port() const { return port_; }
    // Every bound port, Port() first; listener n of a fault or log entry is Ports()[n - 1].
    std::vector<int> Ports() const { return ports_; }
    // How many ports the next Start binds (default 1).
    void SetPortCount(int count) { portCount_ = count < 1 ? 1 : count; }

    // Replaces the scenario; fault counts start again from zero. Throws as the constructor.
    void SetScenario(Scenario scenario);
    // Appends one JSON line per request to `path` from now on. Throws std::runtime_error when
    // the file cannot be opened.
    void SetLogFile(const std::string& path);
    // Whether answers (result pages, front pages, error pages) go out compressed when the client
    // accepts it (the default, as a web server does). Off, they are sent as they are: a benchmark then measures the client and not
    // the simulator's compressor, which at the server library's default brotli setting takes
    // several milliseconds of CPU per page on the machine the client runs on.
    void SetCompression(bool on);
    // Whether a connection stays open for further requests (the default); the next request on
    // it is read as soon as it arrives (PromptServer). Off, every answer closes its connection
    // and the client connects anew for each request. Takes effect at the next Start.
    void SetKeepAlive(bool on) { keepAlive_ = on; }

    std::vector<LoggedRequest> Requests() const;  // a snapshot of the log so far
    void ClearRequests();  // forgets the logged requests; the numbering goes on

  private:
    struct State;  // the scenario with its link generator and fault counts
    struct Plan;   // how one request is answered

    // Server worker threads: answers one request as its plan says, after the plan's delay.
    void Handle(const httplib::Request& req, httplib::Response& res);
    // Under mutex_ (Decide takes it): numbers and logs the request and plans its answer.
    Plan Decide(const httplib::Request& req, LoggedRequest& entry);
    // Under mutex_: the seconds of cool-down left when the request is over the rate limit (it
    // is counted otherwise).
    std::optional<double> OverRateLimit(const httplib::Request& req, const LoggedRequest& entry);
    // Binds one more port and serves it; Start's work for each port.
    int Listen(int port, const std::string& address);
    LoggedRequest NewLogEntry(const httplib::Request& req, const std::string& url);
    // Picks the faults that act on a result-page request and counts them as used.
    void ApplyFaults(Plan& plan, LoggedRequest& entry);
    // The result page of a plan, as its page faults change it.
    static std::string RenderResultPage(const Plan& plan);
    static void SendPage(const Plan& plan, std::string body, httplib::Response& res);
    // CloseMidBody and NoAnswer: the connection breaks off before the page is complete.
    void SendFailure(const Plan& plan, std::string body, httplib::Response& res);
    // Drip: the page trickles out at the fault's rate until it is complete or Stop is called.
    void SendDrip(const Fault& fault, std::string body, httplib::Response& res);
    void Log(const LoggedRequest& entry);
    bool WaitUnlessStopped(int ms);  // false when Stop cut the wait short

    struct Listening {
        std::unique_ptr<httplib::Server> server;
        std::thread thread;
    };
    std::vector<Listening> servers_;  // one per port, in the order of ports_
    std::vector<int> ports_;          // written under mutex_: the handlers read it
    int port_ = 0;
    int portCount_ = 1;  // the owner's thread only
    const std::chrono::steady_clock::time_point born_ = std::chrono::steady_clock::now();

    mutable std::mutex mutex_;  // guards everything below
    std::shared_ptr<State> state_;
    int requestCount_ = 0;
    std::vector<LoggedRequest> log_;
    std::ofstream logFile_;
    bool stopping_ = false;
    bool compress_ = true;
    bool keepAlive_ = true;  // the owner's thread only
    std::condition_variable stopped_;
};

}  // namespace enginesim
