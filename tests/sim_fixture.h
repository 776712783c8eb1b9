// SimFixture: a scratch working folder with proxy.def pointing at an in-process engine-sim, for
// tests that drive a built plug-in library as a host would. The simulator stands in for both
// engines; the plug-in reaches it as its HTTP proxy. Test (main) thread only.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/plugin_harness.h"
#include "tests/test_support.h"
#include "tools/engine-sim/engine_sim.h"

namespace testsupport {

// A fault of `kind` on page `page` of a keyword (0: every page) for its first `times` requests
// (0: all of them). The fault's other fields (ms, result, count, ...) keep their defaults; a test
// sets the ones its kind reads.
inline enginesim::Fault MakeFault(enginesim::FaultKind kind, int page, int times = 0) {
    enginesim::Fault fault;
    fault.kind = kind;
    fault.page = page;
    fault.times = times;
    return fault;
}

// The job files as they were when the host received a status line. The job thread waits in the
// hand-over meanwhile, so they cannot change while the test looks.
struct LineAndFiles {
    std::string line;
    std::vector<std::string> progress;  // the progress file's lines
    ino_t progressInode = 0;            // a new one with every replace of the file
    std::vector<std::string> results;   // the result file of the keyword the progress names
};

// Fills `seen` with every status line of the plug-in's next run and the files beside it.
inline void WatchJobFiles(PluginHarness& plugin, const std::string& engine,
                          std::vector<LineAndFiles>& seen) {
    plugin.bridge.OnLine = [&seen, engine](const std::string& line) {
        LineAndFiles now{line, {}, 0, {}};
        const std::string progress = engine + ".set";
        struct stat st {};
        if (::stat(progress.c_str(), &st) == 0) {
            now.progressInode = st.st_ino;
            now.progress = ReadLines(progress);
            if (now.progress.size() == 4)
                now.results = ReadLines(engine + "-" + now.progress[2] + ".urls");
        }
        seen.push_back(std::move(now));
    };
}

// A run without failed requests, watched by WatchJobFiles: every page that brought links was
// recorded before its progress line reached the host (the files describe the page whole, with
// the request the run makes next, so the recording after the page has nothing left to write) and
// the keyword's last page was not written again after it. A page without links is recorded
// after its line. `requests` are the URLs the engine received, in order.
inline void ExpectPagesRecordedDuringTheirPauses(const std::vector<LineAndFiles>& seen,
                                                 const std::vector<std::string>& requests) {
    int keyword = -1, page = 0, previousCount = 0, pagesWithLinks = 0;
    size_t request = 0;
    for (size_t i = 0; i + 1 < seen.size(); ++i) {
        const std::string& line = seen[i].line;
        if (line.rfind("Start ", 0) == 0) {
            ++keyword;
            page = 0;
            previousCount = 0;
            continue;
        }
        const size_t tag = line.find(" pos. on ");
        if (tag == std::string::npos) continue;
        ++page;
        ++request;
        const int count = std::stoi(line.substr(0, tag));
        const auto& files = seen[i];
        ASSERT_EQ(files.progress.size(), 4u) << line;
        if (count == previousCount) {
            // Nothing to pause for: recorded after the line, as ever.
            EXPECT_NE(files.progress[0], std::to_string(page + 1)) << line;
            EXPECT_NE(seen[i + 1].progressInode, files.progressInode) << line;
            continue;
        }
        ++pagesWithLinks;
        EXPECT_EQ(files.progress[0], std::to_string(page + 1)) << line;
        EXPECT_EQ(files.progress[1], std::to_string(count)) << line;
        EXPECT_EQ(files.progress[2], std::to_string(keyword)) << line;
        EXPECT_EQ(files.results.size(), static_cast<size_t>(count)) << line;
        if (seen[i + 1].line.find(" pos. on ") != std::string::npos) {
            // The keyword's next page follows (and is itself recorded before its line).
            ASSERT_LT(request, requests.size()) << line;
            EXPECT_EQ(files.progress[3], requests[request]) << line;
        } else {
            // The keyword's last page: the next line follows the recording directly.
            EXPECT_EQ(seen[i + 1].progressInode, files.progressInode)
                << line << ": the progress file was written again after the page's line";
        }
        previousCount = count;
    }
    EXPECT_GT(pagesWithLinks, 0);
}

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = sim_.Start();
        UseProxy();
        WriteLines("urls.lst", {"www.mine.example"});
    }

    // proxy.def pointing at the simulator, with credentials when `user` is given.
    void UseProxy(const std::string& user = "", const std::string& password = "") {
        if (user.empty()) {
            WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(port_)});
        } else {
            WriteLines("proxy.def", {"1", "1", "127.0.0.1", std::to_string(port_), user, password});
        }
    }
    void Keywords(const std::vector<std::string>& keywords) {
        WriteLines("keywords.lst", keywords);
    }

    std::vector<std::string> RequestedUrls() const {
        std::vector<std::string> urls;
        for (const auto& r : sim_.Requests())
            urls.push_back(r.url);
        return urls;
    }
    // The links a keyword's result file should hold, as the plug-in trims them.
    std::vector<std::string> Expected(const std::string& keyword, enginesim::Engine engine,
                                      const enginesim::Scenario& scenario, bool dropScheme) const {
        enginesim::LinkGenerator gen(scenario);
        std::vector<std::string> links;
        for (std::string link : gen.Links(keyword, engine)) {
            if (!link.empty() && link.back() == '/') link.pop_back();
            if (dropScheme && link.rfind("http://", 0) == 0) link.erase(0, 7);
            links.push_back(link);
        }
        return links;
    }

    ScratchDir dir_;
    enginesim::EngineSim sim_;
    int port_ = 0;
};

}  // namespace testsupport
