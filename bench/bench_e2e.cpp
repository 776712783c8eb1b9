// bench_e2e: the pace of whole search runs. Starts engine-sim on loopback in this process, lays
// out a job folder of N keywords whose results fill a set number of pages, loads each plug-in
// library with dlopen and drives a run through its four exports, with a host that services the
// status lines on its main thread the way rankcheck does (a HostBridge::Pump loop). Every status
// line is stamped as the main thread inserts it; the progress lines ("n pos. on ...") mark the end
// of each page, so the time between two of them is one page's cycle: the previous page's recording,
// the request, the scan with its 1 ms pause per link, and the hand-overs. What a page costs beyond
// its own pauses is its overhead.
//
//   bench_e2e [--keywords N] [--engine quillon|verrin|both] [--pages N] [--repeat N]
//             [--poll-ms N] [--compress] [--no-keep-alive] [--dir DIR]
//             [--quillon-lib FILE] [--verrin-lib FILE]
//
// The simulator sends its pages uncompressed unless --compress is given: it runs on the same two
// cores as the plug-in, and its compressor would be measured instead of the plug-in. With
// --no-keep-alive it closes every connection after its answer, and the plug-in connects anew
// for every page.
//
// Single-threaded apart from the plug-in's job thread and the simulator's server threads.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/plugin_harness.h"
#include "tools/engine-sim/engine_sim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using enginesim::Engine;

struct Options {
    int keywords = 100;
    std::vector<Engine> engines = {Engine::Quillon, Engine::Verrin};
    int pages = 5;
    int repeat = 1;
    int pollMs = 100;  // rankcheck's poll period
    bool compress = false;
    bool keepAlive = true;
    std::string quillonLib = QUILLON_LIB;
    std::string verrinLib = VERRIN_LIB;
    std::string keepDir;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_e2e: %s\n"
                 "usage: bench_e2e [--keywords N (1..500, default 100)]\n"
                 "                 [--engine quillon|verrin|both (default both)]\n"
                 "                 [--pages N (full result pages per keyword, default 5)]\n"
                 "                 [--repeat N (runs per engine, default 1)]\n"
                 "                 [--poll-ms N (host's Pump timeout, default 100)]\n"
                 "                 [--compress (the simulator compresses its pages)]\n"
                 "                 [--no-keep-alive (the simulator closes every connection after\n"
                 "                  its answer)]\n"
                 "                 [--dir DIR (job folders in DIR, left there; default: a\n"
                 "                  temporary folder under /tmp, removed)]\n"
                 "                 [--quillon-lib FILE] [--verrin-lib FILE (libraries to load;\n"
                 "                  default: the ones of this build)]\n",
                 problem.c_str());
    std::exit(2);
}

int IntArg(const std::string& name, const char* value, int low, int high) {
    if (value == nullptr) Usage(name + " needs a value");
    char* end = nullptr;
    const long v = std::strtol(value, &end, 10);
    if (*value == '\0' || *end != '\0' || v < low || v > high)
        Usage(name + " takes a number from " + std::to_string(low) + " to " + std::to_string(high));
    return static_cast<int>(v);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--keywords") {
            o.keywords = IntArg(a, next, 1, 500);
            ++i;
        } else if (a == "--pages") {
            o.pages = IntArg(a, next, 1, 60);
            ++i;
        } else if (a == "--repeat") {
            o.repeat = IntArg(a, next, 1, 100);
            ++i;
        } else if (a == "--poll-ms") {
            o.pollMs = IntArg(a, next, 1, 1000);
            ++i;
        } else if (a == "--engine") {
            const std::string e = next != nullptr ? next : "";
            if (e == "quillon")
                o.engines = {Engine::Quillon};
            else if (e == "verrin")
                o.engines = {Engine::Verrin};
            else if (e == "both")
                o.engines = {Engine::Quillon, Engine::Verrin};
            else
                Usage("--engine takes quillon, verrin or both");
            ++i;
        } else if (a == "--quillon-lib" || a == "--verrin-lib") {
            if (next == nullptr) Usage(a + " needs a library file");
            (a == "--quillon-lib" ? o.quillonLib : o.verrinLib) = next;
            ++i;
        } else if (a == "--no-keep-alive") {
            o.keepAlive = false;
        } else if (a == "--compress") {
            o.compress = true;
        } else if (a == "--dir") {
            if (next == nullptr) Usage("--dir needs a folder");
            o.keepDir = next;
            ++i;
        } else if (a == "--help" || a == "-h") {
            Usage("the end-to-end benchmark of the two plug-ins");
        } else {
            Usage("unknown argument " + a);
        }
    }
    return o;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string CpuModel() {
    std::istringstream in(ReadWhole("/proc/cpuinfo"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

std::string LoadAverage() {
    std::istringstream in(ReadWhole("/proc/loadavg"));
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void WriteLines(const fs::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines)
        out << l << "\r\n";
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Percentile by the nearest-rank method: the value below which `q` of the sample lies.
double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(q * v.size())));
    return v[std::min(rank, v.size()) - 1];
}

// The job thread is the one thread of this process that runs at a raised nice value (the job
// lowers its own priority); the simulator's and the host's threads keep the default.
long FindJobThread() {
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    long found = -1;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string stat = ReadWhole(std::string("/proc/self/task/") + e->d_name + "/stat");
        const size_t paren = stat.rfind(')');
        if (paren == std::string::npos) continue;
        std::istringstream fields(stat.substr(paren + 2));
        std::string f;
        // After the name: state is field 3; nice is field 19.
        for (int i = 3; i <= 19 && fields >> f; ++i) {
        }
        if (std::atoi(f.c_str()) > 0) found = std::atol(e->d_name);
    }
    ::closedir(dir);
    return found;
}

// Time the thread has spent on a CPU, in seconds (scheduler statistics, nanosecond resolution).
double ThreadCpuSeconds(long tid) {
    if (tid <= 0) return 0;
    std::istringstream in(ReadWhole("/proc/self/task/" + std::to_string(tid) + "/schedstat"));
    double ns = 0;
    in >> ns;
    return ns / 1e9;
}

struct Stamped {
    Clock::time_point at;
    std::string line;
};

struct PageRecord {
    int keyword = 0;     // 0-based keyword index
    int links = 0;       // links the page added
    double cycleMs = 0;  // time since the previous page's progress line (or the start call)
    double overheadMs() const { return cycleMs - links; }
};

struct RunResult {
    std::string engine;
    int keywords = 0;
    int requests = 0;
    std::vector<PageRecord> pages;
    double wallS = 0;
    long long links = 0;
    double jobCpuS = 0, hostCpuS = 0, processCpuS = 0;
    long maxRssKb = 0;
    std::string firstPageFileKb;
    std::string loadBefore, loadAfter;

    double pausesS() const { return static_cast<double>(links) / 1000.0; }
    double ratio() const { return wallS / pausesS(); }
    std::vector<double> Overheads(bool fullOnly = false) const {
        std::vector<double> v;
        for (const auto& p : pages)
            if (!fullOnly || p.links > 0) v.push_back(p.overheadMs());
        return v;
    }
};

RunResult RunOnce(const Options& o, Engine engine, const fs::path& workDir) {
    const bool quillon = engine == Engine::Quillon;
    const std::string name = quillon ? "Quillon" : "Verrin";
    const int perPage = enginesim::ResultsPerPage(engine);

    // Every keyword has exactly `pages` full pages of results. The short-page rule ends a keyword
    // only on a page that adds fewer than a full page of links, so each keyword costs one more
    // request that brings nothing (Quillon: offset pages x 10; Verrin: the bare host that a last
    // page without a next-page link leaves behind). maxResults is set high enough that the limit
    // rule never ends a keyword first.
    std::vector<std::string> keywords;
    enginesim::Scenario scenario;
    for (int i = 0; i < o.keywords; ++i) {
        keywords.push_back("bench keyword " + std::to_string(i + 1));
        scenario.Setup(keywords.back(), engine).results = o.pages * perPage;
    }
    enginesim::EngineSim sim(scenario);
    sim.SetCompression(o.compress);
    sim.SetKeepAlive(o.keepAlive);
    const int port = sim.Start();

    fs::create_directories(workDir);
    for (const auto& e : fs::directory_iterator(workDir))
        fs::remove_all(e.path());
    WriteLines(workDir / "proxy.def", {"1", "0", "127.0.0.1", std::to_string(port)});
    WriteLines(workDir / "keywords.lst", keywords);
    WriteLines(workDir / "urls.lst", {"www.never-ranked.example"});
    const fs::path previous = fs::current_path();
    fs::current_path(workDir);

    // A library stays loaded once loaded, as in a host.
    static testsupport::PluginHarness quillonLib(o.quillonLib, "Quillon");
    static testsupport::PluginHarness verrinLib(o.verrinLib, "Verrin");
    testsupport::PluginHarness& plugin = quillon ? quillonLib : verrinLib;
    plugin.bridge.ClearLines();
    plugin.bridge.ResetStartFailure();

    std::vector<Stamped> stamped;
    stamped.reserve(static_cast<size_t>(o.keywords) * (o.pages + 3) + 8);
    long jobTid = -1;
    double jobCpu = 0;
    bool closed = false;
    plugin.bridge.OnLine = [&](const std::string& line) {
        stamped.push_back({Clock::now(), line});
        // While a line is handed over the job thread waits in Synchronize: it is alive, and at
        // the closing line all of its work but the final release is done.
        if (jobTid < 0) jobTid = FindJobThread();
        if (line.rfind("Finished search on ", 0) == 0 || line.rfind("Search on ", 0) == 0) {
            jobCpu = ThreadCpuSeconds(jobTid);
            closed = true;
        }
    };

    RunResult r;
    r.engine = name;
    r.keywords = o.keywords;
    r.loadBefore = LoadAverage();
    rusage hostBefore{}, selfBefore{};
    ::getrusage(RUSAGE_THREAD, &hostBefore);
    ::getrusage(RUSAGE_SELF, &selfBefore);

    const Clock::time_point t0 = Clock::now();
    plugin.Start(0, 10000, 0, 0);
    if (plugin.bridge.StartFailed())
        throw std::runtime_error(name + " did not start: " + plugin.bridge.StartFailure());
    // The host's loop; once the closing line is in, only the finished flag is left to see.
    while (!plugin.isFinished())
        plugin.bridge.Pump(closed ? 1 : o.pollMs);
    const Clock::time_point t1 = Clock::now();
    plugin.bridge.Pump(0);
    plugin.clear();

    rusage hostAfter{}, selfAfter{};
    ::getrusage(RUSAGE_THREAD, &hostAfter);
    ::getrusage(RUSAGE_SELF, &selfAfter);
    r.loadAfter = LoadAverage();
    r.wallS = Seconds(t1 - t0);
    r.hostCpuS = CpuSeconds(hostAfter) - CpuSeconds(hostBefore);
    r.processCpuS = CpuSeconds(selfAfter) - CpuSeconds(selfBefore);
    r.jobCpuS = jobCpu;
    r.maxRssKb = selfAfter.ru_maxrss;
    r.requests = static_cast<int>(sim.Requests().size());
    r.firstPageFileKb = std::to_string(fs::file_size(name + ".start") / 1024);
    fs::current_path(previous);
    plugin.bridge.OnLine = nullptr;

    // Pages from the progress lines, their links from the counts they show.
    const std::string progressTag = " pos. on " + name + " for \"";
    Clock::time_point last = t0;
    int keyword = -1, previousCount = 0;
    for (const Stamped& s : stamped) {
        if (s.line.rfind("Start ", 0) == 0) {
            ++keyword;
            previousCount = 0;
            continue;
        }
        const size_t tag = s.line.find(progressTag);
        if (tag == std::string::npos) continue;
        const int count = std::atoi(s.line.substr(0, tag).c_str());
        PageRecord p;
        p.keyword = keyword;
        p.links = count - previousCount;
        p.cycleMs = Ms(s.at - last);
        r.pages.push_back(p);
        r.links += p.links;
        previousCount = count;
        last = s.at;
    }
    if (stamped.empty() || stamped.back().line != "Finished search on " + name)
        throw std::runtime_error(name + " run did not end with its closing line");
    const long long expectedLinks = 1LL * o.keywords * o.pages * perPage;
    if (r.links != expectedLinks)
        throw std::runtime_error(name + " run found " + std::to_string(r.links) +
                                 " links instead of " + std::to_string(expectedLinks));
    return r;
}

void PrintRun(const RunResult& r, int run) {
    const auto all = r.Overheads();
    const auto full = r.Overheads(true);
    const double pages = static_cast<double>(r.pages.size());
    std::printf("%-8s run %d: %d keywords, %zu pages (%d requests), %lld links\n", r.engine.c_str(),
                run, r.keywords, r.pages.size(), r.requests, r.links);
    std::printf("  wall %.3f s, mandated pauses %.3f s, ratio wall/pauses %.4f\n", r.wallS,
                r.pausesS(), r.ratio());
    std::printf("  overhead per page (ms): median %.3f, p95 %.3f, mean %.3f, max %.3f\n",
                Percentile(all, 0.5), Percentile(all, 0.95),
                std::accumulate(all.begin(), all.end(), 0.0) / pages, Percentile(all, 1.0));
    std::printf("  overhead per full page (ms): median %.3f, p95 %.3f; per empty last page: %.3f\n",
                Percentile(full, 0.5), Percentile(full, 0.95), [&] {
                    std::vector<double> empty;
                    for (const auto& p : r.pages)
                        if (p.links == 0) empty.push_back(p.overheadMs());
                    return Percentile(empty, 0.5);
                }());
    std::printf(
        "  CPU per page (ms): job thread %.3f, host main thread %.3f, whole process %.3f"
        " (with the simulator)\n",
        1000 * r.jobCpuS / pages, 1000 * r.hostCpuS / pages, 1000 * r.processCpuS / pages);
    std::printf(
        "  peak memory (ru_maxrss, whole process) %ld KiB; first-page file at the end %s KiB\n",
        r.maxRssKb, r.firstPageFileKb.c_str());
    // How the overhead moves with the keyword index: the first-page file grows by one line per
    // keyword and is rewritten after every page.
    const int groups = std::min(5, r.keywords);
    std::printf("  median overhead by keyword range:");
    for (int g = 0; g < groups; ++g) {
        const int from = r.keywords * g / groups, to = r.keywords * (g + 1) / groups;
        std::vector<double> v;
        for (const auto& p : r.pages)
            if (p.keyword >= from && p.keyword < to) v.push_back(p.overheadMs());
        std::printf(" %d-%d: %.3f", from + 1, to, Percentile(v, 0.5));
    }
    std::printf("\n  load average before %s, after %s\n", r.loadBefore.c_str(),
                r.loadAfter.c_str());
    // The same in one line, for scripts.
    std::printf(
        "result engine=%s keywords=%d pages=%zu wall_s=%.3f ratio=%.4f median_ms=%.3f "
        "p95_ms=%.3f job_cpu_ms=%.3f load1=%s\n",
        r.engine.c_str(), r.keywords, r.pages.size(), r.wallS, r.ratio(), Percentile(all, 0.5),
        Percentile(all, 0.95), 1000 * r.jobCpuS / pages,
        r.loadBefore.substr(0, r.loadBefore.find(' ')).c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    std::printf(
        "bench_e2e: %d keywords x %d full pages, %d run(s) per engine, host poll %d ms, "
        "pages %s\n",
        o.keywords, o.pages, o.repeat, o.pollMs,
        o.compress ? "compressed by the simulator" : "uncompressed");
    for (const Engine engine : o.engines)
        std::printf("library: %s\n",
                    (engine == Engine::Quillon ? o.quillonLib : o.verrinLib).c_str());
    std::printf("machine: %ld CPUs, %s, load average %s\n", ::sysconf(_SC_NPROCESSORS_ONLN),
                CpuModel().c_str(), LoadAverage().c_str());

    char pattern[] = "/tmp/bench-e2e-XXXXXX";
    const fs::path base = o.keepDir.empty() ? fs::path(::mkdtemp(pattern)) : fs::path(o.keepDir);
    bool allMet = true;
    try {
        for (const Engine engine : o.engines) {
            std::vector<RunResult> runs;
            for (int i = 0; i < o.repeat; ++i) {
                runs.push_back(RunOnce(o, engine, base / enginesim::EngineName(engine)));
                PrintRun(runs.back(), i + 1);
            }
            // The goals, judged on the median run (by ratio).
            std::sort(runs.begin(), runs.end(),
                      [](const RunResult& a, const RunResult& b) { return a.ratio() < b.ratio(); });
            const RunResult& m = runs[runs.size() / 2];
            const double ratio = m.ratio();
            const double median = Percentile(m.Overheads(), 0.5);
            const bool met = ratio <= 1.10 && median <= 1.0;
            allMet = allMet && met;
            std::printf(
                "%-8s goals (median of %d run(s)): ratio %.4f (<= 1.10), median overhead "
                "%.3f ms (<= 1.0): %s\n\n",
                m.engine.c_str(), o.repeat, ratio, median, met ? "met" : "NOT met");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_e2e: %s\n", e.what());
        if (o.keepDir.empty()) fs::remove_all(base);
        return 1;
    }
    if (o.keepDir.empty()) fs::remove_all(base);
    // The verdict is printed; the exit status reports only whether the runs could be made.
    (void)allMet;
    return 0;
}
