// bench_html_report: the HTML report of a big ledger, as `rankcheck report --format html` writes
// it and a browser draws it. Reads the ledger that `bench_ledger --dir DIR` leaves (500 keywords
// x 3 URLs x 365 daily checks by default), and measures:
//   - the time to build the page (the rank view, the history behind the charts, the page itself)
//     from a freshly opened read-only ledger, the fastest of --repeat runs;
//   - the page's size (goal: at most 3 MB);
//   - the time headless Chromium needs to draw it (goal: at most 1.5 s), two ways, each in a
//     fresh profile at --width x 900 px: in the page, the time from the start of the navigation
//     to the end of the load event with the whole page laid out (a copy of the page with a
//     one-line script that forces the layout and notes performance.now(), read back through
//     --dump-dom); and from outside, the wall time of a run that loads the page and takes a
//     screenshot, less that of a page of one line (Chromium's own start and end), medians of
//     alternating runs, with the largest Chromium process's peak memory.
//
//   bench_html_report --dir DIR [--repeat N] [--width PX] [--chromium PATH] [--keep FILE]
//
// The page is written to DIR/report.html (--keep: to FILE). Single-threaded; Chromium runs as a
// child process with the flags the browser test uses (no network, no sandbox: it runs as root).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/report/html/html_report.h"
#include "host/report/rank_view.h"
#include "host/report/report_history.h"
#include "ledger/ledger.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string dir;
    int repeat = 5;
    int width = 1400;
    std::string chromium = "/usr/bin/chromium";
    std::string keep;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_html_report: %s\n"
                 "usage: bench_html_report --dir DIR (a folder bench_ledger --dir left)\n"
                 "                         [--repeat N (runs of each measure, default 5)]\n"
                 "                         [--width PX (the window's width, default 1400)]\n"
                 "                         [--chromium PATH (default /usr/bin/chromium)]\n"
                 "                         [--keep FILE (write the page there, default\n"
                 "                          DIR/report.html)]\n",
                 problem.c_str());
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (next == nullptr)
            Usage(a == "--dir" || a == "--repeat" || a == "--width" || a == "--chromium" ||
                          a == "--keep"
                      ? a + " needs a value"
                      : "unknown option " + a);
        if (a == "--dir") {
            o.dir = next;
        } else if (a == "--repeat") {
            o.repeat = std::clamp(std::atoi(next), 1, 50);
        } else if (a == "--width") {
            o.width = std::clamp(std::atoi(next), 200, 4000);
        } else if (a == "--chromium") {
            o.chromium = next;
        } else if (a == "--keep") {
            o.keep = next;
        } else {
            Usage("unknown option " + a);
        }
        ++i;
    }
    if (o.dir.empty()) Usage("--dir is needed");
    return o;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

// One build of the page from a freshly opened ledger; the times of its three steps.
struct Build {
    double view = 0, history = 0, page = 0;
    std::string html;
    size_t rows = 0;
};

Build BuildPage(const fs::path& dir) {
    Build b;
    rankcheck::ledger::Ledger::Options readOnly;
    readOnly.readOnly = true;
    rankcheck::ledger::Ledger ledger((dir / rankcheck::ledger::Ledger::kDefaultFileName).string(),
                                     readOnly);
    auto start = Clock::now();
    const rankcheck::RankView view = rankcheck::RankView::Build(ledger, {});
    b.view = Seconds(Clock::now() - start);
    start = Clock::now();
    const rankcheck::ReportHistory history = rankcheck::ReportHistory::Build(ledger, view);
    b.history = Seconds(Clock::now() - start);
    start = Clock::now();
    std::ostringstream out;
    rankcheck::WriteHtml(view, history, out, fs::absolute(dir).string(), true);
    b.html = out.str();
    b.page = Seconds(Clock::now() - start);
    b.rows = view.Rows().size();
    return b;
}

// One Chromium run: the wall time from its start to its exit, and the peak memory of the
// largest of its processes (the kernel's figure for the child and the children it waited for).
struct Draw {
    double seconds = 0;
    long peakKb = 0;
};

// `what`: "--screenshot=FILE" or "--dump-dom" (written to `out`).
Draw RunChromium(const Options& o, const fs::path& page, const fs::path& scratch, int run,
                 const std::string& what, const fs::path& out) {
    const fs::path profile = scratch / ("profile-" + std::to_string(run));
    std::vector<std::string> args = {o.chromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--hide-scrollbars",
                                     "--user-data-dir=" + profile.string(),
                                     "--window-size=" + std::to_string(o.width) + ",900",
                                     what,
                                     "file://" + fs::absolute(page).string()};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (scratch / "chromium.log").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "bench_html_report: cannot start %s\n", o.chromium.c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&files);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Draw d{Seconds(Clock::now() - start), usage.ru_maxrss};
    std::error_code ec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_html_report: chromium failed on %s (see %s)\n", page.c_str(),
                     (scratch / "chromium.log").c_str());
        std::exit(1);
    }
    fs::remove_all(profile, ec);
    return d;
}

// A copy of `page` that notes, once loaded and laid out, the milliseconds since the start of the
// navigation on its root element.
void WriteTimedCopy(const std::string& html, const fs::path& copy) {
    const std::string timer =
        "<script>addEventListener('load', function () { document.body.offsetHeight; "
        "document.documentElement.setAttribute('data-drawn', performance.now().toFixed(0)); "
        "});</script>";
    const size_t end = html.rfind("</body>");
    std::ofstream(copy, std::ios::binary)
        << (end == std::string::npos ? html + timer
                                     : html.substr(0, end) + timer + html.substr(end));
}

// The milliseconds the timed copy noted, read from the DOM Chromium dumped.
double DrawnSeconds(const fs::path& dom) {
    std::ifstream in(dom, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t at = text.find("data-drawn=\"");
    if (at == std::string::npos) {
        std::fprintf(stderr, "bench_html_report: the timed page noted no time (%s)\n", dom.c_str());
        std::exit(1);
    }
    return std::atof(text.c_str() + at + 12) / 1000;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    const fs::path dir = o.dir;
    std::printf("bench_html_report: the HTML report of %s, %d runs each\n",
                (dir / rankcheck::ledger::Ledger::kDefaultFileName).c_str(), o.repeat);
    std::printf("machine: %ld CPUs, load average %s\n", ::sysconf(_SC_NPROCESSORS_ONLN),
                LoadAverage().c_str());

    std::vector<double> total, views, histories, pages;
    Build b;
    try {
        for (int i = 0; i < o.repeat; ++i) {
            b = BuildPage(dir);
            views.push_back(b.view);
            histories.push_back(b.history);
            pages.push_back(b.page);
            total.push_back(b.view + b.history + b.page);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_html_report: %s\n", e.what());
        return 1;
    }
    const fs::path page = o.keep.empty() ? dir / "report.html" : fs::path(o.keep);
    std::ofstream(page, std::ios::binary) << b.html;
    std::printf("  %zu keyword and URL rows\n", b.rows);
    std::printf("  page size                  %10.2f MB  (goal: at most 3 MB)  %s\n",
                static_cast<double>(b.html.size()) / 1e6, page.c_str());
    std::printf("  build (fastest)            %10.3f s   view %.3f, history %.3f, page %.3f\n",
                *std::min_element(total.begin(), total.end()),
                *std::min_element(views.begin(), views.end()),
                *std::min_element(histories.begin(), histories.end()),
                *std::min_element(pages.begin(), pages.end()));

    char pattern[] = "/tmp/bench-html-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("bench_html_report: mkdtemp");
        return 1;
    }
    const fs::path scratch = pattern;
    const fs::path blank = scratch / "blank.html";
    std::ofstream(blank) << "<!DOCTYPE html>\n<html lang=\"en\"><title>blank</title><p>blank\n";
    const fs::path timed = scratch / "timed.html";
    WriteTimedCopy(b.html, timed);
    std::vector<double> blankS, pageS, inPageS;
    long blankKb = 0, pageKb = 0;
    const fs::path shot = scratch / "shot.png", dom = scratch / "dom.html";
    for (int i = 0; i < o.repeat; ++i) {
        const Draw empty = RunChromium(o, blank, scratch, 3 * i, "--screenshot=" + shot.string(),
                                       scratch / "stdout");
        const Draw full = RunChromium(o, page, scratch, 3 * i + 1, "--screenshot=" + shot.string(),
                                      scratch / "stdout");
        RunChromium(o, timed, scratch, 3 * i + 2, "--dump-dom", dom);
        inPageS.push_back(DrawnSeconds(dom));
        blankS.push_back(empty.seconds);
        pageS.push_back(full.seconds);
        blankKb = std::max(blankKb, empty.peakKb);
        pageKb = std::max(pageKb, full.peakKb);
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    std::printf(
        "  in the page: loaded and laid out %6.3f s  median (runs %.3f to %.3f) at %d px"
        "  (goal: at most 1.5 s)\n",
        Median(inPageS), *std::min_element(inPageS.begin(), inPageS.end()),
        *std::max_element(inPageS.begin(), inPageS.end()), o.width);
    std::printf(
        "  chromium with a screenshot, blank page %6.3f s  median (runs %.3f to %.3f), peak "
        "%ld MB\n",
        Median(blankS), *std::min_element(blankS.begin(), blankS.end()),
        *std::max_element(blankS.begin(), blankS.end()), blankKb / 1024);
    std::printf(
        "  chromium with a screenshot, the report %6.3f s  median (runs %.3f to %.3f), peak "
        "%ld MB\n",
        Median(pageS), *std::min_element(pageS.begin(), pageS.end()),
        *std::max_element(pageS.begin(), pageS.end()), pageKb / 1024);
    const double draw = Median(pageS) - Median(blankS);
    std::printf("  difference                             %6.3f s\n", draw);
    std::printf(
        "result bytes=%zu build_s=%.3f in_page_s=%.3f screenshot_extra_s=%.3f "
        "page_peak_mb=%ld\n",
        b.html.size(), *std::min_element(total.begin(), total.end()), Median(inPageS), draw,
        pageKb / 1024);
    return 0;
}
