// The installed tree: `cmake --install` of this build into a scratch prefix, then the installed
// rankcheck running a check against the installed engine-sim with no --plugin-dir, so that it
// finds the plug-ins from its own location. CMAKE_COMMAND and BUILD_DIR name the build; the
// *_INSTALL_DIR macros are the install folders relative to the prefix.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/child_process.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunProgram(const std::vector<std::string>& argv) {
    ChildProcess child(argv);
    const int status = child.Wait(120000);
    return {status, child.Out(), child.Err()};
}

const char kScenario[] = R"({
  "defaultResults": 25,
  "keywords": {
    "fresh bread": {
      "quillon": {"sites": [{"rank": 4, "link": "http://www.my-bakery.example/"}]},
      "verrin": {"sites": [{"rank": 7, "link": "http://www.my-bakery.example/bread"}]}
    }
  }
})";

class InstalledTree : public ::testing::Test {
  protected:
    void SetUp() override {
        // A prefix with a blank in its name: nothing may depend on where the tree lies.
        prefix_ = dir_.path() / "my prefix";
        const Outcome install =
            RunProgram({CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", prefix_.string()});
        ASSERT_EQ(install.status, 0) << install.out << install.err;
    }
    fs::path Bin(const std::string& program) const { return prefix_ / BIN_INSTALL_DIR / program; }

    ScratchDir dir_;
    fs::path prefix_;
};

TEST_F(InstalledTree, HoldsTheProgramsThePluginsAndTheHostHeader) {
    for (const fs::path& file :
         {Bin("rankcheck"), Bin("engine-sim"), prefix_ / PLUGIN_INSTALL_DIR / "libquillon.so",
          prefix_ / PLUGIN_INSTALL_DIR / "libverrin.so",
          prefix_ / INCLUDE_INSTALL_DIR / "host_list_control.h"}) {
        EXPECT_TRUE(fs::is_regular_file(file)) << file << " was not installed";
    }
    // Only what a user runs or builds against: no static library, test or benchmark.
    for (const auto& entry : fs::recursive_directory_iterator(prefix_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(entry.path().extension() == ".a" || name.find("test") != std::string::npos ||
                     name.find("bench") != std::string::npos)
            << entry.path() << " should not be installed";
    }
}

// The installed rankcheck, moved with its whole tree after installing, checks a keyword on both
// engines against the installed engine-sim.
TEST_F(InstalledTree, RankcheckFindsTheInstalledPluginsWithNoOption) {
    const fs::path moved = dir_.path() / "moved";
    fs::rename(prefix_, moved);
    prefix_ = moved;

    WriteFile("scenario.json", kScenario);
    ChildProcess sim({Bin("engine-sim").string(), "--port", "0", "--scenario", "scenario.json"});
    ASSERT_TRUE(sim.ReadUntilContains("\n", 10000)) << sim.Err();
    const int port = std::stoi(sim.Out());

    fs::create_directory("job");
    WriteLines("job/keywords.lst", {"fresh bread"});
    WriteLines("job/urls.lst", {"www.my-bakery.example"});
    WriteLines("job/proxy.def", {"1", "0", "127.0.0.1", std::to_string(port)});
    const Outcome run = RunProgram({Bin("rankcheck").string(), "run", "all", "--dir", "job"});
    sim.Signal(SIGTERM);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Finished search on Quillon\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Finished search on Verrin\n"), std::string::npos) << run.out;
    // Every link the scenario serves, with the placed site at its rank.
    const std::vector<std::string> quillon = ReadLines("job/jobs/run/Quillon-0.urls");
    const std::vector<std::string> verrin = ReadLines("job/jobs/run/Verrin-0.urls");
    ASSERT_EQ(quillon.size(), 25u);
    ASSERT_EQ(verrin.size(), 25u);
    EXPECT_NE(quillon[3].find("www.my-bakery.example"), std::string::npos) << quillon[3];
    EXPECT_NE(verrin[6].find("www.my-bakery.example/bread"), std::string::npos) << verrin[6];

    const Outcome report =
        RunProgram({Bin("rankcheck").string(), "report", "--dir", "job", "--format", "csv"});
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find("fresh bread,www.my-bakery.example,Quillon,4,ranked"),
              std::string::npos)
        << report.out;
    EXPECT_NE(report.out.find("fresh bread,www.my-bakery.example,Verrin,7,ranked"),
              std::string::npos)
        << report.out;
}

// An engine that is not installed: the installed plug-in folder is named with what it holds.
TEST_F(InstalledTree, AnUnknownEngineNamesTheInstalledPlugins) {
    const Outcome r = RunProgram({Bin("rankcheck").string(), "run", "google"});
    EXPECT_EQ(r.status, 2);
    const std::string plugins = (prefix_ / PLUGIN_INSTALL_DIR).string();
    EXPECT_NE(r.err.find("rankcheck: no plug-in \"google\" (libgoogle.so) in the plug-in folders\n"
                         "looked in: " +
                         Bin("").parent_path().string() + ", " + plugins + ", "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nplug-ins found: quillon, verrin in " + plugins + "\n"),
              std::string::npos)
        << r.err;
}

}  // namespace
