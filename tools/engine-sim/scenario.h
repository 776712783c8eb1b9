// Scenario: what the simulated engines answer. Per keyword and engine it gives the number of
// results, the user's sites placed at chosen ranks and the faults to act out; for everything else
// the results are generated from the keyword, the same for every run. Tests build a Scenario in
// code; scripts load one from a JSON file (FromJson / Load, format in README.md).
//
// A Scenario is a plain value: whoever builds it owns it, and EngineSim keeps its own copy. It
// holds no locks; share it between threads only for reading. LinkGenerator reads a Scenario that
// must outlive it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace enginesim {

enum class Engine { Quillon, Verrin };

const char* EngineName(Engine engine);  // "quillon" or "verrin", as in scenario files
int ResultsPerPage(Engine engine);      // 10 for Quillon, 15 for Verrin

enum class FaultKind {
    Status,         // answer with HTTP status `status` and a short error page
    CloseMidBody,   // announce the whole page, send half of it, then close the connection
    NoAnswer,       // send nothing for `ms`, then only the headers, then close the connection
    Delay,          // wait `ms`, then answer as usual
    Truncate,       // the page ends halfway through the link of result `result`
    RepeatPage,     // serve the page before this one again (page 1 serves itself)
    NoNextLink,     // Verrin: the page lacks its next-page link (Quillon pages have none to lose)
    EmptyLink,      // the link of result `result` is empty
    LineBreakLink,  // the link of result `result` holds a line break (LF) in its path
    HugePage,       // the page is padded with markup up to `bytes`
    Garbage,        // `bytes` of binary noise instead of a page
    Markers,        // the page holds `count` results instead of the engine's page size,
                    // written back to back without the markup around each result
    Captcha,        // the engine's captcha page instead of the results, with status 200
    Consent,        // a 302 away from the results to the engine's consent page ("/consent")
    Drip,           // announce `contentLength` bytes and send the page, padded to that length,
                    // at `bytesPerSecond` (a proxy that trickles): complete only after a long time
    Drop,           // close the connection before any byte of an answer (an outage)
};

const char* FaultName(FaultKind kind);  // the name used in scenario files, e.g. "closeMidBody"

// One fault. A keyword fault (in EngineSetup) hits the requests for its page of that keyword; a
// scenario-wide fault (in Scenario) hits every result-page request from request `fromRequest` on.
// Either way it hits the first `times` requests it matches, or all of them when `times` is 0.
// Several faults may hit one request: delays add up, the first failure (Status, CloseMidBody,
// NoAnswer, Drip, Drop) decides the answer, and page faults are applied together.
struct Fault {
    FaultKind kind = FaultKind::Status;
    int page = 0;         // keyword faults: the 1-based page it hits; 0: every page
    int fromRequest = 0;  // scenario-wide faults: the 1-based request number it starts at
    int times = 0;        // how many matching requests it hits; 0: all of them
    int status = 500;     // Status
    int ms = 0;           // NoAnswer, Delay
    int result = 0;       // Truncate, EmptyLink, LineBreakLink: 1-based place on the page; 0: last
    int count = 0;        // Markers
    size_t bytes = 0;     // HugePage (0: 20 MiB), Garbage (0: 64 KiB)
    int listener = 0;     // only requests that came in on this port (1-based, as EngineSim::Ports
                          // lists them); 0: any port
    int bytesPerSecond = 0;    // Drip (0: 1)
    size_t contentLength = 0;  // Drip: the least length announced (0: 1,000,000)
};

// A site of the user's that a keyword's results show at `rank` (1-based, counted over pages).
// `link` is the link text exactly as the page shows it, e.g. "http://www.my-bakery.example/".
struct PlacedSite {
    int rank = 1;
    std::string link{};
};

struct EngineSetup {
    std::optional<int> results;  // how many results the keyword has; unset: defaultResults
    std::vector<PlacedSite> sites{};
    std::vector<Fault> faults{};
};

struct KeywordSetup {
    EngineSetup quillon;
    EngineSetup verrin;
    EngineSetup& For(Engine engine) { return engine == Engine::Quillon ? quillon : verrin; }
    const EngineSetup& For(Engine engine) const {
        return engine == Engine::Quillon ? quillon : verrin;
    }
};

// Proxy basic authentication: when set, a request without "Proxy-Authorization: Basic" and these
// credentials is answered 407.
struct ProxyAuth {
    std::string user;
    std::string password;
};

// How fast one client may ask: at most `requests` requests in any `seconds` seconds, counted per
// client address or per listening port (each port then plays one client, say one upstream
// proxy). The request over the limit, and every request of that client for `cooldown` seconds
// after it, gets `answer`: 429 with Retry-After (the cool-down left, in whole seconds rounded up),
// or the engine's captcha page with 200. After the cool-down the count starts afresh. With a
// `listener` set, only the requests that came in on that port are limited (one upstream among
// several that meets the limit).
struct RateLimit {
    enum class Per { Client, Port };
    enum class Answer { TooManyRequests, Captcha };
    int requests = 1;
    double seconds = 1;
    double cooldown = 60;
    Per per = Per::Client;
    Answer answer = Answer::TooManyRequests;
    int listener = 0;  // 1-based, as EngineSim::Ports lists them; 0: every port
};

struct Scenario {
    int defaultResults = 35;  // results of a keyword (or engine) the scenario does not name
    std::map<std::string, KeywordSetup> keywords;  // by keyword as UTF-8 text, as the user wrote it
    std::vector<Fault> faults;                     // scenario-wide faults
    std::optional<ProxyAuth> proxyAuth;
    std::optional<RateLimit> rateLimit;  // counts every request that reaches an engine's page

    // The setup of a keyword on one engine, created when missing (for building in code).
    EngineSetup& Setup(const std::string& keyword, Engine engine) {
        return keywords[keyword].For(engine);
    }
    // The setup of a keyword on one engine, or nullptr when the scenario does not name it.
    const EngineSetup* Find(const std::string& keyword, Engine engine) const;
    int ResultCount(const std::string& keyword, Engine engine) const;

    // Throws std::invalid_argument naming the offending entry: a negative count or listener, a
    // rate limit of fewer than 1 request or without a positive time, a site ranked
    // outside its keyword's results or two sites at one rank, an empty site link or one holding
    // a blank, '<' or a double quotation mark.
    void Validate() const;

    // Parse and validate a scenario; unknown keys are errors, so a misspelt key cannot pass
    // unnoticed. Throws std::invalid_argument.
    static Scenario FromJson(const std::string& text);
    static Scenario Load(const std::string& path);
};

// The link texts of the result pages. A rank holds its placed site if there is one, else a link
// made from a hash of engine, keyword and rank: unique per rank, never containing a blank, '<'
// or a double quotation mark, and not containing any site placed anywhere in the scenario
// (compared as the plug-ins compare: without "http://" and a trailing "/", ignoring case),
// unless that site is so short (say "example") that no link can avoid it.
class LinkGenerator {
  public:
    explicit LinkGenerator(const Scenario& scenario);

    std::string Link(const std::string& keyword, Engine engine, int rank) const;
    // All result links of a keyword in rank order.
    std::vector<std::string> Links(const std::string& keyword, Engine engine) const;

  private:
    std::string Generated(const std::string& keyword, Engine engine, int rank) const;

    const Scenario& scenario_;
    std::vector<std::string> placed_;  // every placed link, normalised and lower-case
};

}  // namespace enginesim
