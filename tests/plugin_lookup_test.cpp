// Where rankcheck finds its plug-ins: the folders in order, the plug-ins found in them, the
// engine word or library path resolved, and the error of an engine that is not there, both on
// the lookup functions over scratch folders and through the real rankcheck binary.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostkit/plugin_lookup.h"
#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using hostkit::PluginError;
using hostkit::PluginRef;
namespace fs = std::filesystem;

const fs::path kBuiltPlugins = fs::path(QUILLON_LIB).parent_path();
// The installed plug-in folder as seen from the folder of the binary.
const char kInstalledFromBin[] = PLUGIN_DIR_FROM_BIN;

class PluginLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        // a holds quillon and zeta and things that are no plug-ins; b holds quillon and verrin;
        // c does not exist.
        fs::create_directories(a_);
        fs::create_directories(b_);
        for (const char* name : {"libquillon.so", "libzeta.so", "libquillon.so.1", "libfoo.a",
                                 "notes.txt", "lib.so", "quillon.so"}) {
            WriteFile((a_ / name).string(), "");
        }
        fs::create_directory(a_ / "libdir.so");
        WriteFile((b_ / "libverrin.so").string(), "");
        WriteFile((b_ / "libquillon.so").string(), "");
    }
    std::string ErrorOf(const std::string& argument) const {
        try {
            hostkit::ResolvePlugin(argument, {a_, b_, c_});
        } catch (const PluginError& e) {
            return e.what();
        }
        return "(resolved)";
    }

    ScratchDir dir_;
    const fs::path a_ = dir_.path() / "a", b_ = dir_.path() / "b", c_ = dir_.path() / "c";
};

TEST_F(PluginLookup, FindsLibWordSoFilesAndAnEarlierFolderHidesALaterOne) {
    const hostkit::PluginSearch search = hostkit::FindPlugins({a_, b_, c_});
    EXPECT_EQ(search.folders, (std::vector<fs::path>{a_, b_, c_}));
    std::vector<std::pair<std::string, fs::path>> found;
    for (const PluginRef& plugin : search.found)
        found.emplace_back(plugin.engine, plugin.library);
    EXPECT_EQ(found,
              (std::vector<std::pair<std::string, fs::path>>{{"quillon", a_ / "libquillon.so"},
                                                             {"zeta", a_ / "libzeta.so"},
                                                             {"verrin", b_ / "libverrin.so"}}));
    EXPECT_EQ(hostkit::DescribeSearch(search),
              "looked in: " + a_.string() + ", " + b_.string() + ", " + c_.string() +
                  " (no such folder)\nplug-ins found: quillon, zeta in " + a_.string() +
                  "; verrin in " + b_.string());
    EXPECT_EQ(hostkit::DescribeSearch(hostkit::FindPlugins({c_})),
              "looked in: " + c_.string() +
                  " (no such folder)\nplug-ins found: none; give their folder with --plugin-dir");
}

TEST_F(PluginLookup, AWordNamesTheFirstFolderHoldingItAndAPathNamesItsFile) {
    const std::vector<fs::path> folders{a_, b_, c_};
    const PluginRef quillon = hostkit::ResolvePlugin("quillon", folders);
    EXPECT_EQ(quillon.library, a_ / "libquillon.so");
    EXPECT_EQ(quillon.engine, "Quillon");
    const PluginRef verrin = hostkit::ResolvePlugin("VERRIN", folders);
    EXPECT_EQ(verrin.library, b_ / "libverrin.so");
    EXPECT_EQ(verrin.engine, "Verrin");
    EXPECT_EQ(hostkit::ResolvePlugin("Zeta", folders).engine, "Zeta");
    // A path is taken as it is, wherever the folders are.
    const PluginRef path = hostkit::ResolvePlugin((b_ / "libverrin.so").string(), {c_});
    EXPECT_EQ(path.library, b_ / "libverrin.so");
    EXPECT_EQ(path.engine, "Verrin");
    EXPECT_EQ(hostkit::ResolvePlugin("b/libverrin.so", {}).engine, "Verrin");
}

TEST_F(PluginLookup, AnEngineThatIsNotThereNamesTheFoldersAndThePluginsFound) {
    const std::string where = "\nlooked in: " + a_.string() + ", " + b_.string() + ", " +
                              c_.string() + " (no such folder)\nplug-ins found: quillon, zeta in " +
                              a_.string() + "; verrin in " + b_.string();
    EXPECT_EQ(ErrorOf("google"),
              "no plug-in \"google\" (libgoogle.so) in the plug-in folders" + where);
    EXPECT_EQ(ErrorOf("dir"), "no plug-in \"dir\" (libdir.so) in the plug-in folders" + where);
    const std::string missing = (dir_.path() / "elsewhere/libgoogle.so").string();
    EXPECT_EQ(ErrorOf(missing), missing + ": no such plug-in library" + where);
    EXPECT_EQ(ErrorOf(a_.string() + "/lib.so"),
              a_.string() + "/lib.so: not a plug-in library name; expected lib<engine>.so");
}

TEST(PluginFolders, BesideTheBinaryThenInstalledThenBuildTreeOrTheOneGiven) {
    const fs::path here = fs::read_symlink("/proc/self/exe").parent_path();
    const std::vector<fs::path> folders = hostkit::PluginFolders("", kInstalledFromBin);
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], here);
    EXPECT_EQ(folders[1], (here / kInstalledFromBin).lexically_normal());
    EXPECT_EQ(folders[2], (here.parent_path() / "plugin").lexically_normal());
    EXPECT_EQ(hostkit::PluginFolders("some/where/..", kInstalledFromBin),
              std::vector<fs::path>{fs::current_path() / "some"});
    EXPECT_EQ(hostkit::PluginFolders("plugins/", kInstalledFromBin),
              std::vector<fs::path>{fs::current_path() / "plugins"});
    EXPECT_EQ(hostkit::PluginFolders("/", kInstalledFromBin), std::vector<fs::path>{"/"});
}

// Through the binary: exit status 2, the whole message on standard error, nothing else done.
class RankcheckPluginLookup : public ::testing::Test {
  protected:
    ScratchDir dir_;
    const std::string folder_ = dir_.path().string();
};

TEST_F(RankcheckPluginLookup, AnUnknownEngineNamesTheBuiltPluginsAndTheFoldersLookedIn) {
    const fs::path bin = fs::path(kRankcheck).parent_path();
    const Result r = Rankcheck({"run", "google", "--dir", folder_});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const fs::path installed = (bin / kInstalledFromBin).lexically_normal();
    EXPECT_EQ(r.err,
              "rankcheck: no plug-in \"google\" (libgoogle.so) in the plug-in folders\n"
              "looked in: " +
                  bin.string() + ", " + installed.string() +
                  (fs::is_directory(installed) ? "" : " (no such folder)") + ", " +
                  kBuiltPlugins.string() + "\nplug-ins found: quillon, verrin in " +
                  kBuiltPlugins.string() + "\n");
    EXPECT_TRUE(fs::is_empty(folder_)) << "a refused run must leave the folder alone";
}

TEST_F(RankcheckPluginLookup, APluginDirIsTheOnlyFolderAndAnyWordInItIsAnEngine) {
    fs::create_directory("plugins");
    fs::copy_file(VERRIN_LIB, "plugins/libverrin.so");
    fs::copy_file(VERRIN_LIB, "plugins/libother.so");
    const std::string plugins = (dir_.path() / "plugins").string();

    // `all` needs quillon, which this folder lacks.
    Result r = Rankcheck({"run", "all", "--plugin-dir", "plugins", "--dir", "plugins"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "rankcheck: no plug-in \"quillon\" (libquillon.so) in the plug-in folders\n"
              "looked in: " +
                  plugins + "\nplug-ins found: other, verrin in " + plugins + "\n");
    // "other" is found by its file name; being a copy of verrin, it lacks Other's exports.
    WriteLines("keywords.lst", {"fresh bread"});
    WriteLines("urls.lst", {"www.my-bakery.example"});
    WriteLines("proxy.def", {"0"});
    r = Rankcheck({"run", "OTHER", "--plugin-dir", plugins, "--dir", folder_, "--no-preflight"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(plugins + "/libother.so: has no export _OtherStartSearch"),
              std::string::npos)
        << r.err;
}

}  // namespace
