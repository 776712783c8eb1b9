// bench_gateway: the gateway's figures, against engine-sim on loopback in this process.
//
//   1. Pages per second through N upstreams (1, 2, 4, 8), each of them a port of engine-sim
//      that allows R requests a second, counted over a window of W seconds (R x W requests in
//      any W seconds; more are answered 429 and the port rests for a minute). The gateway paces
//      each upstream (by default at 0.85/R: with the random extra of up to half of it, its
//      requests come 1.0625/R apart on average), and a real plug-in library, loaded with dlopen
//      and driven as rankcheck drives it, runs its keywords through the gateway. Goal: at least
//      90 % of min(N x R, the pages per second the plug-in takes without a gateway), and no
//      keyword lost to a block.
//   2. The time the gateway adds to a page: the plug-ins' HTTP client fetches a result page
//      with the rhythm of a plug-in (a page, then 10 ms of pauses), alternately from engine-sim
//      as its proxy and through the gateway in front of it. Goal: median at most 0.2 ms. The
//      same is then measured end to end: the plug-in's page cycles with and without the gateway.
//
//   bench_gateway [--engine quillon|verrin] [--rate R] [--window W] [--pace-ms P] [--extra E]
//                 [--seconds S] [--upstreams 1,2,4,8] [--pairs N] [--keywords N]
//                 [--skip-throughput] [--skip-added]
//
// Single-threaded apart from the plug-in's job thread and the servers' threads.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/gateway/gateway.h"
#include "platform/http_client.h"
#include "tests/plugin_harness.h"
#include "tools/engine-sim/engine_sim.h"

namespace {

namespace fs = std::filesystem;
namespace gw = rankcheck::gateway;
using Clock = std::chrono::steady_clock;
using enginesim::Engine;

struct Options {
    Engine engine = Engine::Quillon;
    int rate = 20;       // R: requests per second each upstream allows
    double window = 5;   // W: the seconds over which engine-sim counts them
    double paceMs = 0;   // the gateway's pace; 0: 850 / R
    double extra = 0.5;  // the pace's random extra
    double seconds = 0;  // about how long each throughput run takes; 0: three windows
    std::vector<int> upstreams = {1, 2, 4, 8};
    int pairs = 300;     // client fetches per side for the added time
    int keywords = 100;  // plug-in run with and without the gateway
    bool throughput = true;
    bool added = true;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_gateway: %s\n"
                 "usage: bench_gateway [--engine quillon|verrin] [--rate R (default 20)]\n"
                 "                     [--window W (seconds the limit counts over, default 5)]\n"
                 "                     [--pace-ms P (the gateway's pace, default 850 / R)]\n"
                 "                     [--extra E (pace's random extra, default 0.5)]\n"
                 "                     [--seconds S (a throughput run, default 3 windows)]\n"
                 "                     [--upstreams 1,2,4,8] [--pairs N (default 300)]\n"
                 "                     [--keywords N (default 100)] [--skip-throughput] "
                 "[--skip-added]\n",
                 problem.c_str());
    std::exit(2);
}

double Number(const std::string& name, const char* value, double low, double high) {
    if (value == nullptr) Usage(name + " needs a value");
    char* end = nullptr;
    const double v = std::strtod(value, &end);
    if (*value == '\0' || *end != '\0' || !(v >= low && v <= high))
        Usage(name + " takes a number from " + std::to_string(low) + " to " + std::to_string(high));
    return v;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--engine") {
            const std::string e = next ? next : "";
            if (e != "quillon" && e != "verrin") Usage("--engine takes quillon or verrin");
            o.engine = e == "quillon" ? Engine::Quillon : Engine::Verrin;
            ++i;
        } else if (a == "--rate") {
            o.rate = static_cast<int>(Number(a, next, 1, 1000));
            ++i;
        } else if (a == "--window") {
            o.window = Number(a, next, 0.1, 600);
            ++i;
        } else if (a == "--pace-ms") {
            o.paceMs = Number(a, next, 0, 600000);
            ++i;
        } else if (a == "--extra") {
            o.extra = Number(a, next, 0, 1);
            ++i;
        } else if (a == "--seconds") {
            o.seconds = Number(a, next, 0.5, 600);
            ++i;
        } else if (a == "--pairs") {
            o.pairs = static_cast<int>(Number(a, next, 10, 100000));
            ++i;
        } else if (a == "--keywords") {
            o.keywords = static_cast<int>(Number(a, next, 1, 500));
            ++i;
        } else if (a == "--upstreams") {
            if (next == nullptr) Usage("--upstreams needs a list such as 1,2,4,8");
            o.upstreams.clear();
            std::stringstream list(next);
            for (std::string n; std::getline(list, n, ',');)
                o.upstreams.push_back(static_cast<int>(Number(a, n.c_str(), 1, 64)));
            ++i;
        } else if (a == "--skip-throughput") {
            o.throughput = false;
        } else if (a == "--skip-added") {
            o.added = false;
        } else {
            Usage(a == "--help" || a == "-h" ? "the gateway's benchmark" : "unknown argument " + a);
        }
    }
    if (o.paceMs == 0) o.paceMs = 850.0 / o.rate;
    if (o.seconds == 0) o.seconds = 3 * o.window;
    return o;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(std::ceil(q * v.size())) - 1)];
}

void WriteLines(const fs::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines)
        out << l << "\r\n";
}

const char* Name(Engine engine) {
    return engine == Engine::Quillon ? "Quillon" : "Verrin";
}

testsupport::PluginHarness& Plugin(Engine engine) {
    // A library stays loaded once loaded, as in a host.
    static testsupport::PluginHarness quillon(QUILLON_LIB, "Quillon");
    static testsupport::PluginHarness verrin(VERRIN_LIB, "Verrin");
    return engine == Engine::Quillon ? quillon : verrin;
}

// One run of the plug-in in `dir` with `proxy` as its proxy.def: wall time, pages (progress
// lines), each page's cycle less its pauses, and the keywords given up.
struct PluginRun {
    double wallS = 0;
    int pages = 0;
    long long links = 0;
    int givenUp = 0;
    std::vector<double> overheadMs;
};

PluginRun RunPlugin(Engine engine, const fs::path& dir, int keywords,
                    const std::vector<std::string>& proxy) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<std::string> words;
    for (int i = 0; i < keywords; ++i)
        words.push_back("bench keyword " + std::to_string(i + 1));
    WriteLines(dir / "keywords.lst", words);
    WriteLines(dir / "urls.lst", {"www.never-ranked.example"});
    WriteLines(dir / "proxy.def", proxy);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);

    testsupport::PluginHarness& plugin = Plugin(engine);
    plugin.bridge.ClearLines();
    plugin.bridge.ResetStartFailure();
    PluginRun run;
    Clock::time_point last = Clock::now();
    int previousCount = 0;
    const std::string tag = std::string(" pos. on ") + Name(engine) + " for \"";
    plugin.bridge.OnLine = [&](const std::string& line) {
        const Clock::time_point now = Clock::now();
        if (line.rfind("Start ", 0) == 0) {
            previousCount = 0;
            return;
        }
        if (line.rfind("Can't connect", 0) == 0 && line.find("Page skipped") != std::string::npos)
            ++run.givenUp;
        const size_t at = line.find(tag);
        if (at == std::string::npos) return;
        const int count = std::atoi(line.substr(0, at).c_str());
        const int links = count - previousCount;
        run.overheadMs.push_back(std::chrono::duration<double, std::milli>(now - last).count() -
                                 links);
        run.links += links;
        ++run.pages;
        previousCount = count;
        last = now;
    };
    const Clock::time_point t0 = Clock::now();
    last = t0;
    plugin.Start(0, 10000, 0, 0);
    if (plugin.bridge.StartFailed())
        throw std::runtime_error(std::string(Name(engine)) +
                                 " did not start: " + plugin.bridge.StartFailure());
    while (!plugin.isFinished())
        plugin.bridge.Pump(100);
    run.wallS = std::chrono::duration<double>(Clock::now() - t0).count();
    plugin.bridge.Pump(0);
    plugin.clear();
    plugin.bridge.OnLine = nullptr;
    fs::current_path(previous);
    return run;
}

std::vector<std::string> ProxyLines(int port) {
    return {"1", "0", "127.0.0.1", std::to_string(port)};
}

// The pages per second the plug-in takes with nothing in its way: 100 keywords after a short
// run that warms the library and the files up.
double PluginRate(const Options& o, const fs::path& base) {
    enginesim::EngineSim sim;
    sim.SetCompression(false);
    sim.Start();
    RunPlugin(o.engine, base / "alone", 5, ProxyLines(sim.Port()));
    const PluginRun run = RunPlugin(o.engine, base / "alone", 100, ProxyLines(sim.Port()));
    return run.pages / run.wallS;
}

bool Throughput(const Options& o, const fs::path& base) {
    const double pluginRate = PluginRate(o, base);
    const int pagesPerKeyword = o.engine == Engine::Quillon ? 4 : 3;  // 35 results each
    const int allowed = static_cast<int>(std::lround(o.rate * o.window));
    std::printf(
        "pages per second: %s, each upstream allows %d requests in any %.1f s (R = %d/s; more: "
        "429 and a minute's rest), pace %.1f ms with a random extra up to %.0f %%\n"
        "the plug-in alone takes %.1f pages/s\n",
        Name(o.engine), allowed, o.window, o.rate, o.paceMs, o.extra * 100, pluginRate);
    std::printf("%10s %10s %12s %12s %8s %8s %8s %10s\n", "upstreams", "pages", "pages/s",
                "goal pages/s", "share", "blocks", "lost", "load");
    bool met = true;
    for (const int n : o.upstreams) {
        const double ceiling = std::min(static_cast<double>(n) * o.rate, pluginRate);
        const int keywords = std::clamp(
            static_cast<int>(std::lround(ceiling * o.seconds / pagesPerKeyword)), 3, 500);
        enginesim::Scenario scenario;
        scenario.rateLimit =
            enginesim::RateLimit{allowed, o.window, 60, enginesim::RateLimit::Per::Port,
                                 enginesim::RateLimit::Answer::TooManyRequests};
        enginesim::EngineSim sim(scenario);
        sim.SetCompression(false);
        sim.SetPortCount(n);
        sim.Start();
        gw::GatewayOptions options;
        for (const int port : sim.Ports())
            options.upstreams.push_back(
                gw::ParseUpstream("http://127.0.0.1:" + std::to_string(port)));
        options.pace = std::chrono::milliseconds(std::lround(o.paceMs));
        options.paceExtra = o.extra;
        gw::Gateway gateway(options);
        gateway.Start();
        const std::string load = LoadAverage();
        const PluginRun run = RunPlugin(o.engine, base / ("n" + std::to_string(n)), keywords,
                                        ProxyLines(gateway.Port()));
        int blocks = 0;
        for (const gw::UpstreamStats& s : gateway.Stats())
            blocks += s.blocks;
        const double rate = run.pages / run.wallS;
        const bool ok = rate >= 0.9 * ceiling && blocks == 0 && run.givenUp == 0;
        met = met && ok;
        std::printf("%10d %10d %12.1f %12.1f %7.1f%% %8d %8d %10s%s\n", n, run.pages, rate, ceiling,
                    100 * rate / ceiling, blocks, run.givenUp,
                    load.substr(0, load.find(' ')).c_str(), ok ? "" : "  (goal missed)");
        std::fflush(stdout);
    }
    return met;
}

// The client-level added time: pairs of fetches (direct, then through the gateway, or the
// other way round), each after 10 ms idle, as a plug-in's pauses leave its connection.
bool AddedTime(const Options& o, const fs::path& base) {
    enginesim::EngineSim sim;
    sim.SetCompression(false);
    sim.Start();
    gw::GatewayOptions options;
    options.upstreams = {gw::ParseUpstream("http://127.0.0.1:" + std::to_string(sim.Port()))};
    gw::Gateway gateway(options);
    gateway.Start();
    const auto client = [](int port) {
        auto c = std::make_unique<THttpClient>();
        c->UserAgent = "Mozilla/3.0 (compatible;)";
        c->AcceptLanguage = "en-us";
        c->ProxyServer = "127.0.0.1";
        c->ProxyPort = port;
        return c;
    };
    auto direct = client(sim.Port());
    auto through = client(gateway.Port());
    const std::string url = o.engine == Engine::Quillon
                                ? "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q="
                                : "http://search.verrin.example/results.asp?q=";
    const auto timed = [](THttpClient& c, const std::string& u) {
        const Clock::time_point t0 = Clock::now();
        c.Get(u);
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    };
    direct->Get(url + "warm");
    through->Get(url + "warm");
    std::vector<double> d, g, diff;
    const std::string load = LoadAverage();
    for (int i = 0; i < o.pairs; ++i) {
        const std::string u = url + "pair+" + std::to_string(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        double a, b;
        if (i % 2 == 0) {
            a = timed(*direct, u);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            b = timed(*through, u);
        } else {
            b = timed(*through, u);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            a = timed(*direct, u);
        }
        d.push_back(a);
        g.push_back(b);
        diff.push_back(b - a);
    }
    const double added = Median(diff);
    std::printf(
        "\nadded time per page, the plug-ins' client, %d pages each way after 10 ms idle "
        "(load %s):\n"
        "  direct: median %.3f ms, p95 %.3f; through the gateway: median %.3f ms, p95 %.3f\n"
        "  added: median of the pairs' differences %.3f ms (goal <= 0.2), p95 %.3f\n",
        o.pairs, load.c_str(), Median(d), Percentile(d, 0.95), Median(g), Percentile(g, 0.95),
        added, Percentile(diff, 0.95));

    // End to end: the plug-in's page cycles (less their pauses) without and with the gateway,
    // in the order direct, gateway, gateway, direct, so that both meet the same load.
    const std::string loadRuns = LoadAverage();
    std::vector<double> alone, gated;
    double aloneS = 0, gatedS = 0;
    for (const bool throughGateway : {false, true, true, false}) {
        const PluginRun run = RunPlugin(o.engine, base / "e2e", o.keywords,
                                        ProxyLines(throughGateway ? gateway.Port() : sim.Port()));
        auto& into = throughGateway ? gated : alone;
        into.insert(into.end(), run.overheadMs.begin(), run.overheadMs.end());
        (throughGateway ? gatedS : aloneS) += run.wallS / 2;
    }
    std::printf(
        "  end to end, %s, two runs of %d keywords each way (load %s): overhead per page median "
        "%.3f ms direct, %.3f ms through the gateway: %+.3f ms; wall %.2f s against %.2f s\n",
        Name(o.engine), o.keywords, loadRuns.c_str(), Median(alone), Median(gated),
        Median(gated) - Median(alone), gatedS, aloneS);
    return added <= 0.2;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    std::printf("bench_gateway: machine %ld CPUs, load average %s\n",
                ::sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    char pattern[] = "/tmp/bench-gateway-XXXXXX";
    const fs::path base = ::mkdtemp(pattern);
    bool throughputMet = true, addedMet = true;
    try {
        if (o.throughput) throughputMet = Throughput(o, base);
        if (o.added) addedMet = AddedTime(o, base);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_gateway: %s\n", e.what());
        fs::remove_all(base);
        return 1;
    }
    fs::remove_all(base);
    std::printf("\ngoals: pages per second %s, added time %s\n",
                o.throughput ? (throughputMet ? "met" : "NOT met") : "not measured",
                o.added ? (addedMet ? "met" : "NOT met") : "not measured");
    return 0;
}
