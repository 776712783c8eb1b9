// A run killed with SIGKILL at many moments, resumed after each kill, must end with every
// keyword's complete result file: no damaged file, no run that cannot start again, no link lost
// or recorded twice.
#include <gtest/gtest.h>

#include <random>

#include "platform/sysutils.h"
#include "tests/child_process.h"
#include "tests/sim_fixture.h"

namespace {

using namespace testsupport;
using enginesim::Engine;
using V = std::vector<std::string>;

class KillAndResume : public SimFixture {
  protected:
    // Every job file on disk is whole: the progress file has its four lines and numbers, and
    // each result file is the start of the keyword's true result list (beyond what the run must
    // record, only further real results may follow), with no link twice.
    void ExpectWholeFiles(const enginesim::Scenario& scenario, const V& keywords, int kill) {
        if (!std::filesystem::exists("jobs/run/Quillon.set")) return;
        const V progress = ReadLines("jobs/run/Quillon.set");
        ASSERT_EQ(progress.size(), 4u) << "after kill " << kill;
        for (int i = 0; i < 3; ++i)
            ASSERT_NO_THROW(StrToInt(progress[i])) << "after kill " << kill;
        const int current = StrToInt(progress[2]);
        ASSERT_GE(current, 0);
        ASSERT_LT(current, static_cast<int>(keywords.size()));
        for (int k = 0; k <= current; ++k) {
            const std::string name = "jobs/run/Quillon-" + std::to_string(k) + ".urls";
            ASSERT_TRUE(std::filesystem::exists(name)) << name << " after kill " << kill;
            const V links = ReadLines(name);
            const V truth = Expected(keywords[k], Engine::Quillon, scenario, true);
            ASSERT_LE(links.size(), truth.size()) << name << " after kill " << kill;
            EXPECT_EQ(links, V(truth.begin(), truth.begin() + links.size()))
                << name << " after kill " << kill;
        }
    }
};

TEST_F(KillAndResume, TwentyFourKillsThenTheRunCompletes) {
    const enginesim::Scenario scenario = enginesim::Scenario::Load(EXAMPLES_DIR "/scenario.json");
    // Faults would make the expected files depend on timing; this test is about kills.
    enginesim::Scenario clean = scenario;
    for (auto& [keyword, setup] : clean.keywords) {
        setup.quillon.faults.clear();
        setup.verrin.faults.clear();
    }
    clean.faults.clear();
    sim_.SetScenario(clean);
    std::filesystem::copy_file(EXAMPLES_DIR "/keywords.lst", "keywords.lst");
    std::filesystem::copy_file(EXAMPLES_DIR "/urls.lst", "urls.lst",
                               std::filesystem::copy_options::overwrite_existing);
    const V keywords = ReadLines("keywords.lst");
    const std::string dir = std::filesystem::current_path().string();

    std::mt19937 rng(20261207);
    int kills = 0;
    bool done = false;
    for (int attempt = 0; attempt < 60 && kills < 24 && !done; ++attempt) {
        V args{RANKCHECK_BIN, "run", "quillon", "--dir", dir, "--max-results", "100"};
        if (std::filesystem::exists("jobs/run/Quillon.set")) args.push_back("--resume");
        ChildProcess run(args);
        // Kill after the first few pages of this attempt, at a moment that varies.
        const int pages = 1 + static_cast<int>(rng() % 6);
        int seen = 0;
        const bool reached = run.ReadUntil(
            [&](const std::string& out) {
                seen = static_cast<int>(std::count(out.begin(), out.end(), '\n'));
                return seen >= pages;
            },
            20000);
        if (reached) ::usleep(static_cast<useconds_t>(rng() % 4000));
        if (run.ReadUntilContains("Finished search on Quillon", 0)) {
            done = run.Wait() == 0;
            continue;
        }
        run.Signal(SIGKILL);
        const int status = run.Wait();
        if (status == 128 + SIGKILL) {
            ++kills;
        } else {
            done = status == 0;
        }
        ExpectWholeFiles(clean, keywords, kills);
        if (HasFatalFailure()) return;
    }
    EXPECT_GE(kills, 20);
    RecordProperty("kills", kills);

    // Resume to the end.
    for (int i = 0; i < 3 && !done; ++i) {
        ChildProcess run({RANKCHECK_BIN, "run", "quillon", "--dir", dir, "--resume"});
        const int status = run.Wait(120000);
        ASSERT_EQ(status, 0) << run.Err();
        done = true;
    }
    ASSERT_TRUE(done);
    for (size_t k = 0; k < keywords.size(); ++k) {
        const V truth = Expected(keywords[k], Engine::Quillon, clean, true);
        const V links = ReadLines("jobs/run/Quillon-" + std::to_string(k) + ".urls");
        // A keyword complete by the limit may get the one further page that resuming between
        // two keywords asks for; otherwise the file holds exactly what the run must record.
        const size_t must = std::min<size_t>(truth.size(), 100);
        ASSERT_GE(links.size(), must) << keywords[k];
        EXPECT_LE(links.size(), std::min<size_t>(truth.size(), must + 10)) << keywords[k];
        EXPECT_EQ(links, V(truth.begin(), truth.begin() + links.size())) << keywords[k];
    }
}

}  // namespace
