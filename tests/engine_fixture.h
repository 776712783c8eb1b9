// EngineCase and EngineFixture: one engine's plug-in library driven against engine-sim. The case
// holds what the tests need to know of an engine to predict its requests and files; each
// engine's own test file defines its case (kQuillon in quillon_plugin_test.cpp, kVerrin in
// verrin_plugin_test.cpp) beside the tests only that engine has. The fixture runs a library in a
// scratch folder and speaks of its status lines and files; plugin_run_test.cpp makes the engine
// its parameter for the scenarios where both behave alike. Test (main) thread only.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/sim_fixture.h"
#include "tools/engine-sim/scenario.h"

namespace testsupport {

struct EngineCase {
    const char* name;  // the engine word of the exports and the job files ("Quillon")
    const char* lib;   // the built library
    enginesim::Engine engine;
    int perPage;       // results on a full page
    bool dropsScheme;  // whether a result link loses its "http://"
    // The URL of page `page` (1-based) of a keyword with query text `q` (as the plug-in encodes
    // it, "red+shoes") and `results` results in all: the page the plug-in asks for after page
    // `page` - 1.
    std::string (*pageUrl)(const std::string& q, int page, int results);

    std::string FirstPage(const std::string& q) const { return pageUrl(q, 1, 0); }
};

// How gtest shows a case in its output and in failure messages: by the engine's name.
inline void PrintTo(const EngineCase& c, std::ostream* out) {
    *out << c.name;
}

extern const EngineCase kQuillon;
extern const EngineCase kVerrin;

class EngineFixture : public SimFixture {
  protected:
    using V = std::vector<std::string>;

    explicit EngineFixture(const EngineCase& engine) : engine_(engine) {}

    const EngineCase& E() const { return engine_; }
    std::string Name() const { return engine_.name; }

    // The engine's library, loaded once for the process; its host side starts afresh.
    PluginHarness& Plugin() {
        static std::map<std::string, std::unique_ptr<PluginHarness>> plugins;
        auto& plugin = plugins[Name()];
        if (!plugin) plugin = std::make_unique<PluginHarness>(E().lib, Name());
        plugin->bridge.ClearLines();
        plugin->bridge.ResetStartFailure();
        plugin->bridge.OnLine = nullptr;
        return *plugin;
    }

    // This engine's part of the test's scenario; SetScenario hands the scenario to the simulator.
    enginesim::EngineSetup& Setup(const std::string& keyword) {
        return scenario_.Setup(keyword, E().engine);
    }
    void SetScenario() { sim_.SetScenario(scenario_); }
    // `pages` full pages and five results more.
    int PagesAndFive(int pages) const { return pages * E().perPage + 5; }

    V Links(int keyword) const {
        return ReadLines(Name() + "-" + std::to_string(keyword) + ".urls");
    }
    V Expected(const std::string& keyword) const {
        return SimFixture::Expected(keyword, E().engine, scenario_, E().dropsScheme);
    }
    V Progress() const { return ReadLines(Name() + ".set"); }
    // Page `page` of a keyword of the scenario, by its query text ("red+shoes").
    std::string PageUrl(const std::string& q, int page) const {
        std::string keyword = q;
        std::replace(keyword.begin(), keyword.end(), '+', ' ');
        return E().pageUrl(q, page, scenario_.ResultCount(keyword, E().engine));
    }

    // The status lines of this engine.
    std::string StartLine(const std::string& keyword) const {
        return "Start " + Name() + " search for keyword \"" + keyword + "\"";
    }
    std::string Pos(int n, const std::string& keyword) const {
        return std::to_string(n) + " pos. on " + Name() + " for \"" + keyword + "\"";
    }
    std::string TryingAgain() const { return "Can't connect to " + Name() + ". Trying again"; }
    std::string PageSkipped() const { return "Can't connect to " + Name() + ". Page skipped"; }
    std::string Finished() const { return "Finished search on " + Name(); }
    static long Count(const V& log, const std::string& line) {
        return std::count(log.begin(), log.end(), line);
    }

    // Runs a keyword of one full page whose first results put the link rule to the test (one
    // trailing slash, two, "http://" inside a query, an upper-case scheme) and returns the first
    // four lines of its result file. The run must keep every link.
    V LinksUnderTheLinkRule() {
        Setup("kw").results = E().perPage;
        Setup("kw").sites = {{1, "http://www.one.example/a/"},
                             {2, "http://www.two.example/b//"},
                             {3, "www.three.example/?u=http://x"},
                             {4, "HTTP://www.four.example/"}};
        SetScenario();
        Keywords({"kw"});
        EXPECT_TRUE(Plugin().Run());
        const V links = Links(0);
        EXPECT_EQ(links.size(), static_cast<size_t>(E().perPage));
        return links.size() < 4 ? links : V(links.begin(), links.begin() + 4);
    }

    enginesim::Scenario scenario_;

  private:
    const EngineCase& engine_;
};

}  // namespace testsupport
