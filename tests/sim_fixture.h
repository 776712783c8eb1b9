// SimFixture: a scratch working folder with proxy.def pointing at an in-process engine-sim, for
// tests that drive a built plug-in library as a host would. The simulator stands in for both
// engines; the plug-in reaches it as its HTTP proxy. Test (main) thread only.
#pragma once

#include <gtest/gtest.h>

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
