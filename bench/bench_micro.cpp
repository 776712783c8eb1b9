// bench_micro: Google Benchmark micro-benchmarks of the pieces a result page passes through: the
// two link scanners (a realistic 100 KB page, and pathological pages: many markers, a huge page
// with one unterminated link), the Verrin next-page extraction, URLEncode/URLDecode, SaveToFile
// with its atomic replace, one status hand-over through HostBridge, a kept-alive GET from
// engine-sim (back to back, and after the idle time of a page's pauses), and the real length of
// Sleep(1).
//
// Families whose argument doubles from one instance to the next are checked for linear time: at
// the end the reporter prints, for each doubling, how much more CPU time the larger input took
// (linear is 2.0; the goal is at most 2.3), from the median when repetitions are asked for.
//
//   bench_micro [Google Benchmark flags, e.g. --benchmark_filter=Scan --benchmark_repetitions=5]
#include <benchmark/benchmark.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engines/link_scanners.h"
#include "hostkit/host_bridge.h"
#include "platform/http_client.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"
#include "platform/thread.h"
#include "plugin/host_list_target.h"
#include "tools/engine-sim/engine_sim.h"
#include "tools/engine-sim/result_page.h"
#include "urlcodec/url_codec.h"

namespace {

namespace fs = std::filesystem;
using enginesim::Engine;

constexpr size_t kMiB = 1024 * 1024;

// --- Pages. ---

// A result page as the simulator serves it, padded with ordinary markup to `bytes`.
std::string RealisticPage(Engine engine, size_t bytes) {
    enginesim::PageContent page;
    page.engine = engine;
    page.keyword = "red shoes";
    page.rawQuery = "red+shoes";
    page.firstRank = 11;
    page.totalResults = 480;
    for (int i = 0; i < enginesim::ResultsPerPage(engine); ++i)
        page.links.push_back("http://www.shoe-shop-" + std::to_string(i) +
                             ".example/catalogue/red-shoes/item-" + std::to_string(i * 37) + "/");
    page.nextLink = true;
    return enginesim::PadPage(enginesim::RenderPage(page).html, bytes);
}

// `count` results back to back, each marker followed at once by its link.
std::string MarkerPage(Engine engine, int count) {
    std::string page = "<html><body>\n";
    for (int i = 0; i < count; ++i) {
        if (engine == Engine::Quillon)
            page += "&nbsp<span class=\"resURL\">&#8226;www.s" + std::to_string(i) + ".example/ ";
        else
            page += "<span class=\"u\">www.s" + std::to_string(i) + ".example/</span>";
    }
    return page + "</body></html>\n";
}

// One marker at the top, then `bytes` of text without the engine's link terminator (no blank for
// Quillon, no '<' for Verrin) and without a line break: the one link runs to the end of the page.
std::string UnterminatedPage(Engine engine, size_t bytes) {
    std::string page = engine == Engine::Quillon ? "&nbsp<span class=\"resURL\">&#8226;www."
                                                 : "<span class=\"u\">www.";
    static const std::string kFill = "abcdefghijklmnopqrstuvwxyz0123456789-./?=&";
    page.reserve(page.size() + bytes);
    while (page.size() < bytes)
        page += kFill;
    return page;
}

template <typename Scanner>
void ScanPage(benchmark::State& state, const std::string& page, Scanner scan) {
    size_t links = 0;
    for (auto _ : state) {
        auto found = scan(page);
        links = found.size();
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.SetComplexityN(static_cast<int64_t>(page.size()));
    state.counters["links"] = static_cast<double>(links);
    state.counters["page_bytes"] = static_cast<double>(page.size());
}

void BM_ScanQuillon_Realistic100K(benchmark::State& state) {
    ScanPage(state, RealisticPage(Engine::Quillon, 100 * 1024), ScanQuillonLinks);
}
void BM_ScanVerrin_Realistic100K(benchmark::State& state) {
    ScanPage(state, RealisticPage(Engine::Verrin, 100 * 1024), ScanVerrinLinks);
}
void BM_ExtractVerrinNextPage_Realistic100K(benchmark::State& state) {
    ScanPage(state, RealisticPage(Engine::Verrin, 100 * 1024), [](const AnsiString& page) {
        return std::vector<AnsiString>{ExtractVerrinNextPage(page)};
    });
}
void BM_ScanQuillon_Markers(benchmark::State& state) {
    ScanPage(state, MarkerPage(Engine::Quillon, static_cast<int>(state.range(0))),
             ScanQuillonLinks);
}
void BM_ScanVerrin_Markers(benchmark::State& state) {
    ScanPage(state, MarkerPage(Engine::Verrin, static_cast<int>(state.range(0))), ScanVerrinLinks);
}
void BM_ScanQuillon_NoBlankMiB(benchmark::State& state) {
    ScanPage(state, UnterminatedPage(Engine::Quillon, static_cast<size_t>(state.range(0)) * kMiB),
             ScanQuillonLinks);
}
void BM_ScanVerrin_NoTerminatorMiB(benchmark::State& state) {
    ScanPage(state, UnterminatedPage(Engine::Verrin, static_cast<size_t>(state.range(0)) * kMiB),
             ScanVerrinLinks);
}

BENCHMARK(BM_ScanQuillon_Realistic100K);
BENCHMARK(BM_ScanVerrin_Realistic100K);
BENCHMARK(BM_ExtractVerrinNextPage_Realistic100K);
// 100,000 markers and 20 MiB, each between half and twice that.
BENCHMARK(BM_ScanQuillon_Markers)->Arg(50000)->Arg(100000)->Arg(200000)->Complexity(benchmark::oN);
BENCHMARK(BM_ScanVerrin_Markers)->Arg(50000)->Arg(100000)->Arg(200000)->Complexity(benchmark::oN);
BENCHMARK(BM_ScanQuillon_NoBlankMiB)
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanVerrin_NoTerminatorMiB)
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// --- URL codec. ---

// Keyword-like text: words, blanks and UTF-8 letters, `bytes` long.
std::string KeywordText(size_t bytes) {
    static const std::string kWords[] = {"red shoes ",
                                         "caf\xC3\xA9"
                                         " ",
                                         "size 42/43 ",
                                         "cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                                         "e ",
                                         "50% off! "};
    std::string text;
    for (size_t i = 0; text.size() < bytes; ++i)
        text += kWords[i % 5];
    text.resize(bytes);
    return text;
}

void BM_URLEncode(benchmark::State& state) {
    TUrlCodec codec;
    const std::string text = KeywordText(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.URLEncode(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
void BM_URLDecode(benchmark::State& state) {
    TUrlCodec codec;
    const std::string encoded = codec.URLEncode(KeywordText(static_cast<size_t>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.URLDecode(encoded));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_URLEncode)->Arg(32)->Arg(64 * 1024);
BENCHMARK(BM_URLDecode)->Arg(32)->Arg(64 * 1024);

// --- Job files. ---

// Writes a list of `lines` result links over an existing file, as RecordProgress does after every
// page: temporary file, write, close, rename over the old one.
void BM_SaveToFile(benchmark::State& state) {
    char pattern[] = "/tmp/bench-micro-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const std::string file = (dir / "Quillon-0.urls").string();
    TStringList list;
    for (int i = 0; i < state.range(0); ++i)
        list.Add("www.shoe-shop-" + std::to_string(i) + ".example/catalogue/red-shoes");
    list.SaveToFile(file);
    for (auto _ : state)
        list.SaveToFile(file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * list.Text().size()));
    fs::remove_all(dir);
}
BENCHMARK(BM_SaveToFile)->Arg(4)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// --- The status hand-over. ---

// A job-like thread that hands lines to the host's main thread until told to stop.
class HandOverThread : public TThread {
  public:
    explicit HandOverThread(hostkit::HostBridge& bridge)
        : TThread(&target_), target_(bridge.Control()) {}
    ~HandOverThread() override { WaitFor(); }
    std::atomic<bool> stop{false};

  protected:
    void Execute() override {
        const std::string line = "10 pos. on Quillon for \"red shoes\"";
        while (!stop.load())
            Synchronize([&] { target_.InsertLine(line); });
    }

  private:
    THostListTarget target_;
};

// One iteration: the thread posts a line, the main thread (this one) runs it in Pump, the thread
// gets control back and posts the next. Argument 1: the thread runs at the job's lowered priority.
void BM_StatusHandOver(benchmark::State& state) {
    hostkit::HostBridge bridge;
    HandOverThread thread(bridge);
    if (state.range(0) != 0) thread.SetPriority(TThreadPriority::tpLowest);
    thread.Resume();
    for (auto _ : state) {
        bridge.Pump(1000);
        if (bridge.Lines().size() > 1000) bridge.ClearLines();
    }
    thread.stop = true;
    thread.WaitFor();
}
BENCHMARK(BM_StatusHandOver)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// --- The HTTP exchange. ---

// A client set up as the job sets up its own, with engine-sim as its proxy.
void UseSimulator(THttpClient& http, int port) {
    http.UserAgent = "Mozilla/3.0 (compatible;)";
    http.AcceptLanguage = "en-us";
    http.ReadTimeout = 30000;
    http.ProxyBasicAuthentication = true;
    http.ProxyServer = "127.0.0.1";
    http.ProxyPort = port;
}

const char kPageUrl[] =
    "http://search.quillon.example/search?q=red+shoes&c=web&cs=utf-8&o=10&l=any";

// One GET of a Quillon result page from engine-sim through the kept-alive connection.
void BM_HttpGetKeptAlive(benchmark::State& state) {
    enginesim::Scenario scenario;
    scenario.defaultResults = 1000;
    enginesim::EngineSim sim(scenario);
    sim.SetCompression(false);
    THttpClient http;
    UseSimulator(http, sim.Start());
    http.Get(kPageUrl);  // connects
    size_t bytes = 0;
    for (auto _ : state)
        bytes += http.Get(kPageUrl).size();
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_HttpGetKeptAlive)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same GET after the connection has been idle for the argument (microseconds), as it is
// while a page's links are paused for: 10 ms on a Quillon page, 15 ms on a Verrin page. Shows
// what the simulator's server adds: it waits for the next request on a kept-alive connection in
// rounds of a 10 ms poll and a 1 ms sleep, and a request that comes during the sleep waits for it.
void BM_HttpGetAfterIdle(benchmark::State& state) {
    enginesim::Scenario scenario;
    scenario.defaultResults = 1000;
    enginesim::EngineSim sim(scenario);
    sim.SetCompression(false);
    THttpClient http;
    UseSimulator(http, sim.Start());
    http.Get(kPageUrl);
    const auto idle = std::chrono::microseconds(state.range(0));
    for (auto _ : state) {
        // Idle to an exact deadline, whatever this thread's timer slack.
        const auto until = std::chrono::steady_clock::now() + idle;
        while (std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_until(until);
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(http.Get(kPageUrl));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_HttpGetAfterIdle)
    ->Arg(5000)
    ->Arg(10300)
    ->Arg(15500)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(200);

// --- The pause per link. ---

// How long Sleep(1) really takes on this thread, with the timer slack the thread has (argument 0:
// the system's default, 50 us unless changed) or with 1 ns (argument 1, as the job thread has).
void BM_Sleep1ms(benchmark::State& state) {
    const int previous = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (state.range(0) != 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    for (auto _ : state)
        Sleep(1);
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous), 0, 0, 0);
    state.counters["slack_ns"] = state.range(0) != 0 ? 1 : previous;
}
BENCHMARK(BM_Sleep1ms)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// --- Linear-time check. ---

// The console report, followed by the ratio of times for every doubling of the input within a
// family that reports its page size (counter page_bytes).
class LinearityReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto size = run.counters.find("page_bytes");
            if (run.error_occurred || size == run.counters.end()) continue;
            const auto n = static_cast<int64_t>(size->second.value);
            // CPU time: on a shared machine the wall clock also counts other people's work. With
            // repetitions, the median aggregate stands for the family member.
            auto& slot = times_[run.run_name.function_name][n];
            if (run.run_type == Run::RT_Iteration) {
                slot.push_back(run.GetAdjustedCPUTime());
            } else if (run.aggregate_name == "median") {
                medians_[run.run_name.function_name][n] = run.GetAdjustedCPUTime();
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (auto& [family, bySize] : times_) {
            std::vector<std::pair<int64_t, double>> medians;  // page size, median time
            for (auto& [size, times] : bySize) {
                std::sort(times.begin(), times.end());
                const auto aggregate = medians_[family].find(size);
                if (aggregate != medians_[family].end())
                    medians.emplace_back(size, aggregate->second);
                else if (!times.empty())
                    medians.emplace_back(size, times[times.size() / 2]);
            }
            for (size_t i = 1; i < medians.size(); ++i) {
                if (!header)
                    std::printf("\nLinear time (goal: at most 2.3 for twice the input):\n");
                header = true;
                const double sizeRatio = static_cast<double>(medians[i].first) /
                                         static_cast<double>(medians[i - 1].first);
                const double timeRatio = medians[i].second / medians[i - 1].second;
                std::printf("  %-30s %10lld -> %10lld bytes (x%.2f): time x%.2f  %s\n",
                            family.c_str(), static_cast<long long>(medians[i - 1].first),
                            static_cast<long long>(medians[i].first), sizeRatio, timeRatio,
                            timeRatio <= 2.3 * sizeRatio / 2.0 ? "ok" : "NOT LINEAR");
            }
        }
        std::fflush(stdout);
    }

  private:
    std::map<std::string, std::map<int64_t, std::vector<double>>> times_;
    std::map<std::string, std::map<int64_t, double>> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    LinearityReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
