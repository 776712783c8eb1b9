// The start export of both plug-ins when the job's thread cannot be started: the failure reaches
// the host through startFailed, no job is left behind, is-finished does not wait on a job that
// never runs, and the next start is not refused. The export source is built into this test over
// adapters whose thread start fails on request (tests/start_failing_adapter.h).
#include <gtest/gtest.h>

#include <ostream>

#include "tests/sim_fixture.h"
#include "tests/start_failing_adapter.h"

#define DECLARE_EXPORTS(prefix)                                                         \
    extern "C" void prefix##StartSearch(char, int, char, char, const HostListControl*); \
    extern "C" void prefix##StopSearch();                                               \
    extern "C" char prefix##IsFinished();                                               \
    extern "C" void prefix##ClearMemory();
DECLARE_EXPORTS(_StartFailingQuillon)
DECLARE_EXPORTS(_StartFailingVerrin)

namespace {

using namespace testsupport;

struct ExportCase {
    const char* engineName;
    enginesim::Engine engine;
    PluginHarness::StartFn start;
    PluginHarness::VoidFn stop;
    PluginHarness::FinishedFn isFinished;
    PluginHarness::VoidFn clear;
};

void PrintTo(const ExportCase& c, std::ostream* out) {
    *out << c.engineName;
}

const ExportCase kQuillon{"Quillon",
                          enginesim::Engine::Quillon,
                          &_StartFailingQuillonStartSearch,
                          &_StartFailingQuillonStopSearch,
                          &_StartFailingQuillonIsFinished,
                          &_StartFailingQuillonClearMemory};
const ExportCase kVerrin{"Verrin",
                         enginesim::Engine::Verrin,
                         &_StartFailingVerrinStartSearch,
                         &_StartFailingVerrinStopSearch,
                         &_StartFailingVerrinIsFinished,
                         &_StartFailingVerrinClearMemory};

class ThreadStart : public SimFixture, public ::testing::WithParamInterface<ExportCase> {
  protected:
    void TearDown() override { failThreadStart = false; }
};

TEST_P(ThreadStart, FailureIsReportedAndLeavesNoJob) {
    const ExportCase& c = GetParam();
    const std::string engine = c.engineName;
    enginesim::Scenario scenario;
    scenario.Setup("kw", c.engine).results = 3;
    sim_.SetScenario(scenario);
    Keywords({"kw"});
    PluginHarness plugin(c.start, c.stop, c.isFinished, c.clear);

    failThreadStart = true;
    plugin.Start();
    failThreadStart = false;
    EXPECT_TRUE(plugin.bridge.StartFailed());
    EXPECT_EQ(plugin.bridge.StartFailure(),
              "cannot start a thread: Resource temporarily unavailable");
    EXPECT_EQ(plugin.isFinished(), 1);  // no job: nothing to wait for
    plugin.stop();
    plugin.clear();
    EXPECT_TRUE(plugin.bridge.Lines().empty());
    EXPECT_TRUE(sim_.Requests().empty());

    // The next start is not refused and runs to its end.
    plugin.bridge.ResetStartFailure();
    ASSERT_TRUE(plugin.Run());
    EXPECT_FALSE(plugin.bridge.StartFailed()) << plugin.bridge.StartFailure();
    EXPECT_EQ(plugin.Log().back(), "Finished search on " + engine);
    EXPECT_EQ(ReadLines(engine + "-0.urls").size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, ThreadStart, ::testing::Values(kQuillon, kVerrin),
                         [](const auto& info) { return std::string(info.param.engineName); });

}  // namespace
