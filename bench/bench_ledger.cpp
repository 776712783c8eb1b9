// bench_ledger: the check ledger at a year's size. Builds a ledger of N daily checks (default 365)
// of 500 keywords with 100 result links each and 3 user URLs in a scratch folder, the way
// rankcheck run records them (one BeginCheck, one RecordKeyword per keyword, one EndCheck), and
// times:
//   - recording one check (every check is timed; goal: at most 0.5 s),
//   - the report of the latest check with its previous complete check, from a freshly opened
//     ledger as a new rankcheck process has it (goal: at most 1 s),
//   - the full history and filtered ones, each row formatted as a CSV line (goal: at most 1 s),
// and states the database size per check.
//
// The links are realistic for a rank checker: each keyword has its own pool of pages from a few
// hundred sites; from one day to the next the list is mostly the same, a few neighbours swap
// places and three links per keyword are replaced by pages never seen before. The user's sites
// rank for about half of the keywords and move a little every day.
//
//   bench_ledger [--checks N] [--keywords N] [--links N] [--short PERCENT] [--durable] [--dir DIR]
//
// --short makes the engine's results of that share of the keywords end early, at 30 to 80
// positions, a few more or fewer from one day to the next: the outcome of such a keyword is
// told from its history (a day with fewer results than the last trusted one is suspect), which
// the report, the history and the check list then read.
//
// --durable opens the ledger with durable commits (one flush per commit). --dir keeps the
// database in DIR (left there); by default it is made in a temporary folder under /tmp and removed.
//
// Single-threaded.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ledger/ledger.h"
#include "ledger/sqlite_db.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace rankcheck::ledger;

struct Options {
    int checks = 365;
    int keywords = 500;
    int links = 100;
    int shortPercent = 0;
    bool durable = false;
    std::string dir;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_ledger: %s\n"
                 "usage: bench_ledger [--checks N (daily checks, default 365)]\n"
                 "                    [--keywords N (per check, default 500)]\n"
                 "                    [--links N (result links per keyword, default 100)]\n"
                 "                    [--short PERCENT (keywords whose results end early)]\n"
                 "                    [--durable (flush every commit: synchronous=FULL)]\n"
                 "                    [--dir DIR (database in DIR, left there; default: a\n"
                 "                     temporary folder under /tmp, removed)]\n",
                 problem.c_str());
    std::exit(2);
}

int IntArg(const std::string& name, const char* value, int low, int high) {
    if (value == nullptr) Usage(name + " needs a value");
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (*end != '\0' || n < low || n > high) {
        Usage(name + " must be a number from " + std::to_string(low) + " to " +
              std::to_string(high));
    }
    return static_cast<int>(n);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--checks") {
            o.checks = IntArg(a, next, 2, 5000), ++i;
        } else if (a == "--keywords") {
            o.keywords = IntArg(a, next, 1, 500), ++i;
        } else if (a == "--links") {
            o.links = IntArg(a, next, 1, 1000), ++i;
        } else if (a == "--short") {
            o.shortPercent = IntArg(a, next, 0, 100), ++i;
        } else if (a == "--durable") {
            o.durable = true;
        } else if (a == "--dir") {
            if (next == nullptr) Usage("--dir needs a value");
            o.dir = next, ++i;
        } else {
            Usage("unknown option " + a);
        }
    }
    return o;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of this process so far (user and system), which other people's load moves less than
// the wall time.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

const char* kWords[] = {"canyon", "granite", "glacier", "birch",  "hollow", "silver", "meadow",
                        "river",  "stone",   "oak",     "pine",   "amber",  "cedar",  "harbor",
                        "north",  "sunny",   "maple",   "willow", "copper", "falcon"};
const char* kSections[] = {"recipes", "reviews", "forum", "blog", "news", "shop"};

// The result lists of every keyword, day after day.
class Web {
  public:
    Web(const Options& o) : o_(o), rng_(20261208), pools_(static_cast<size_t>(o.keywords)) {
        for (int k = 0; k < o.keywords; ++k) {
            keywords_.push_back("keyword " + std::to_string(k) + " " + Pick(kWords) + " " +
                                Pick(kWords));
            for (int i = 0; i < o.links + o.links / 2; ++i)
                pools_[static_cast<size_t>(k)].push_back(NewLink(k));
        }
    }
    const std::vector<std::string>& Keywords() const { return keywords_; }
    static std::vector<UserUrl> Urls() {
        return {{"http://www.my-bakery.example/", "my-bakery.example"},
                {"www.bread-shop.example", ""},
                {"http://rye-corner.example/menu", "rye-corner.example/menu"}};
    }

    // The next day's list of keyword k, and where the user's sites are in it.
    std::vector<std::string> NextDay(int k, std::vector<UrlRank>& ranks) {
        auto& pool = pools_[static_cast<size_t>(k)];
        for (int i = 0; i < 3; ++i)
            pool[rng_() % pool.size()] = NewLink(k);
        for (int i = 0; i < 10; ++i) {
            const size_t at = rng_() % (static_cast<size_t>(o_.links) - 1);
            std::swap(pool[at], pool[at + 1]);
        }
        std::vector<std::string> links(pool.begin(), pool.begin() + o_.links);
        if (k % 100 < o_.shortPercent) {
            // The engine's results end early, a little earlier or later each day.
            const int end = std::clamp(
                o_.links * (30 + k % 51) / 100 + static_cast<int>(rng_() % 7) - 3, 1, o_.links);
            links.resize(static_cast<size_t>(end));
        }
        ranks.assign(3, {});
        const auto urls = Urls();
        for (size_t u = 0; u < urls.size(); ++u) {
            // About half of the keywords rank each site, near a place of their own.
            const size_t seed = static_cast<size_t>(k) * 31 + u * 7;
            if (seed % 2 == 0) continue;
            const int home = static_cast<int>(seed % static_cast<size_t>(o_.links));
            const int at = std::clamp(home + static_cast<int>(rng_() % 5) - 2, 0, o_.links - 1);
            if (at >= static_cast<int>(links.size())) continue;
            if (links[static_cast<size_t>(at)].find("/page-") != std::string::npos) continue;
            links[static_cast<size_t>(at)] = "http://www." + urls[u].Key() + "/page-" +
                                             std::to_string(k);
            ranks[u] = {at + 1, std::nullopt};
        }
        return links;
    }

  private:
    const char* Pick(const char* const (&list)[20]) { return list[rng_() % 20]; }
    const char* Pick(const char* const (&list)[6]) { return list[rng_() % 6]; }
    std::string NewLink(int k) {
        return "http://www." + std::string(Pick(kWords)) + "-" + Pick(kWords) + ".example/" +
               Pick(kSections) + "/" + keywords_[static_cast<size_t>(k)].substr(8) + "-" +
               std::to_string(serial_++) + ".html";
    }

    Options o_;
    std::mt19937 rng_;
    std::vector<std::string> keywords_;
    std::vector<std::vector<std::string>> pools_;
    long serial_ = 0;
};

uintmax_t FileSize(const fs::path& p) {
    std::error_code ec;
    const uintmax_t n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

// The database's size as SQLite counts it, committed pages still in the WAL included: the files'
// sizes alone mislead, since the WAL keeps its largest size and the main file grows only when
// the WAL is copied back into it.
uintmax_t DatabaseSize(const fs::path& p) {
    rankcheck::ledger::SqliteDb db(p.string(), SQLITE_OPEN_READONLY);
    rankcheck::ledger::SqliteStatement size(
        db, "SELECT page_count * page_size FROM pragma_page_count(), pragma_page_size()");
    size.Step();
    return static_cast<uintmax_t>(size.Int(0));
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

// Runs `query` three times and prints its fastest and slowest time.
template <class F>
double Timed(const char* what, F&& query) {
    std::vector<double> times;
    size_t rows = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        rows = query();
        times.push_back(Seconds(Clock::now() - start));
    }
    std::printf("  %-44s %8zu rows  %7.3f s  (slowest of 3: %.3f s)\n", what, rows,
                *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
    return *std::min_element(times.begin(), times.end());
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    const bool keep = !o.dir.empty();
    fs::path dir = o.dir;
    if (!keep) {
        char pattern[] = "/tmp/bench-ledger-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::perror("bench_ledger: mkdtemp");
            return 1;
        }
        dir = pattern;
    }
    fs::create_directories(dir);
    const fs::path db = dir / Ledger::kDefaultFileName;
    fs::remove(db);
    std::printf(
        "bench_ledger: %d checks of %d keywords x %d links (%d%% ending early), 3 URLs, "
        "%s commits, in %s\n",
        o.checks, o.keywords, o.links, o.shortPercent, o.durable ? "durable" : "normal",
        db.c_str());
    std::printf("machine: %ld CPUs, load average %s\n", ::sysconf(_SC_NPROCESSORS_ONLN),
                LoadAverage().c_str());

    int status = 0;
    try {
        Web web(o);
        std::vector<double> recordS;
        std::vector<double> recordCpuS;
        std::vector<uintmax_t> sizeAfter;
        {
            Ledger ledger(db.string(), {.durableCommits = o.durable});
            std::vector<KeywordResult> day(static_cast<size_t>(o.keywords));
            for (int c = 0; c < o.checks; ++c) {
                const std::string at = UtcTimestamp(1796097600 + static_cast<std::time_t>(c) * 86400);
                // The day's lists come from the engine before the clock starts.
                for (int k = 0; k < o.keywords; ++k) {
                    KeywordResult& r = day[static_cast<size_t>(k)];
                    r.index = k;
                    r.state = KeywordState::Done;
                    r.links = web.NextDay(k, r.ranks);
                    r.positionsExamined = static_cast<int>(r.links.size());
                    r.recordedAt = at;
                }
                const auto start = Clock::now();
                const double cpuStart = CpuSeconds();
                CheckStart s{"Quillon", at, {o.links, false, false}, "h", web.Keywords(),
                             Web::Urls(), false};
                const int64_t id = ledger.BeginCheck(s);
                for (const KeywordResult& r : day)
                    ledger.RecordKeyword(id, r);
                ledger.EndCheck(id, CheckState::Complete, at);
                recordS.push_back(Seconds(Clock::now() - start));
                recordCpuS.push_back(CpuSeconds() - cpuStart);
                sizeAfter.push_back(DatabaseSize(db));
                if ((c + 1) % 73 == 0 || c + 1 == o.checks) {
                    std::printf("  recorded %3d checks, last %.3f s, database %.1f MB\n", c + 1,
                                recordS.back(), static_cast<double>(sizeAfter.back()) / 1e6);
                    std::fflush(stdout);
                }
            }
        }
        const uintmax_t finalSize = FileSize(db);  // the WAL is checkpointed at the last close
        const size_t firstTenth = std::max<size_t>(1, recordS.size() / 10);
        const std::vector<double> early(recordS.begin(), recordS.begin() + firstTenth);
        const std::vector<double> late(recordS.end() - firstTenth, recordS.end());
        std::printf("recording one check (goal <= 0.5 s): median %.3f s, p95 %.3f s, max %.3f s;"
                    " first tenth median %.3f s, last tenth median %.3f s\n",
                    Percentile(recordS, 0.5), Percentile(recordS, 0.95),
                    *std::max_element(recordS.begin(), recordS.end()), Percentile(early, 0.5),
                    Percentile(late, 0.5));
        std::printf("  CPU time per check: median %.3f s, first check %.3f s\n",
                    Percentile(recordCpuS, 0.5), recordCpuS.front());
        const double perCheck =
            static_cast<double>(finalSize - sizeAfter.front()) / (o.checks - 1) / 1e3;
        std::printf("database: %.1f MB for %d checks; %.0f kB per check after the first"
                    " (first check %.0f kB)\n",
                    static_cast<double>(finalSize) / 1e6, o.checks, perCheck,
                    static_cast<double>(sizeAfter.front()) / 1e3);

        std::printf("queries (load average %s):\n", LoadAverage().c_str());
        const auto openStart = Clock::now();
        Ledger reader(db.string(), {.readOnly = true});
        std::printf("  %-44s %8s       %7.3f s\n", "open the ledger", "",
                    Seconds(Clock::now() - openStart));
        const int64_t latest = reader.LatestCheck("Quillon")->id;
        std::string line;
        const auto csv = [&](const HistoryRow& r) {
            line = r.engine + "," + std::to_string(r.checkId) + "," + r.checkedAt + "," +
                   r.keyword + "," + r.url + "," + (r.rank ? std::to_string(*r.rank) : "") + "," +
                   Name(r.status) + "\n";
        };
        const double report = Timed("report of the latest check, with previous", [&] {
            return reader.Report(latest, RankMode::Contains).rows.size();
        });
        const double history = Timed("history, everything", [&] {
            size_t n = 0;
            reader.History({}, [&](const HistoryRow& r) { csv(r), ++n; });
            return n;
        });
        HistoryFilter byKeyword;
        byKeyword.keyword = web.Keywords()[250];
        const double filtered = Timed("history --keyword K", [&] {
            size_t n = 0;
            reader.History(byKeyword, [&](const HistoryRow& r) { csv(r), ++n; });
            return n;
        });
        HistoryFilter byUrl;
        byUrl.url = Web::Urls()[0].Key();
        const double urlOnly = Timed("history --url U", [&] {
            size_t n = 0;
            reader.History(byUrl, [&](const HistoryRow& r) { csv(r), ++n; });
            return n;
        });
        HistoryFilter both = byKeyword;
        both.url = byUrl.url;
        Timed("history --keyword K --url U", [&] {
            size_t n = 0;
            reader.History(both, [&](const HistoryRow& r) { csv(r), ++n; });
            return n;
        });
        Timed("checks", [&] { return reader.Checks().size(); });
        const CheckInfo last = reader.Check(latest);
        std::printf("  latest check: %d of %d keywords suspect\n", last.keywordsSuspect,
                    last.keywordsTotal);
        Timed("result list of one keyword", [&] { return reader.ResultList(latest, 250).size(); });

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("peak memory %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
        std::printf("result checks=%d record_median_s=%.4f record_p95_s=%.4f kb_per_check=%.0f "
                    "report_s=%.4f history_s=%.4f history_keyword_s=%.4f history_url_s=%.4f\n",
                    o.checks, Percentile(recordS, 0.5), Percentile(recordS, 0.95), perCheck,
                    report, history, filtered, urlOnly);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ledger: %s\n", e.what());
        status = 1;
    }
    if (!keep) {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    return status;
}
