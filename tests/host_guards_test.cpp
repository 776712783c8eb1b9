// rankcheck's guards around a run, without the plug-ins: the folder lock between processes, the
// working folder entered while a plug-in runs, the job folder's inputs written whole, and the
// warnings about the input files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <stdexcept>

#include "host/run/folder_lock.h"
#include "host/run/input_checks.h"
#include "host/run/new_file.h"
#include "hostkit/working_directory.h"
#include "tests/test_support.h"

namespace {

using namespace rankcheck;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(WorkingFolder, EnteredForTheScopeAndLeftAlsoOnAnException) {
    testsupport::ScratchDir dir;
    fs::create_directories("job/deeper");
    const fs::path home = fs::current_path();
    try {
        hostkit::ScopedWorkingDirectory inJob("job");
        EXPECT_EQ(fs::current_path(), home / "job");
        {
            hostkit::ScopedWorkingDirectory nested("deeper");  // relative to where it stands
            EXPECT_EQ(fs::current_path(), home / "job" / "deeper");
        }
        EXPECT_EQ(fs::current_path(), home / "job");
        throw std::runtime_error("a failure inside the run");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(fs::current_path(), home);
    // A folder that cannot be entered is named, and nothing changes.
    try {
        hostkit::ScopedWorkingDirectory missing("no-such-folder");
        ADD_FAILURE() << "entered a missing folder";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.path1(), "no-such-folder");
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    }
    EXPECT_EQ(fs::current_path(), home);
}

TEST(FolderLockTest, ASecondHolderIsRefusedWithTheFirstOnesPidUntilItEnds) {
    testsupport::ScratchDir dir;
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The first run: takes the lock, says so, and holds it until told to go.
        const auto lock = FolderLock::Acquire(".");
        char c = 'l';
        if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(1);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    EXPECT_EQ(FolderLock::HolderPid("."), child);
    try {
        FolderLock::Acquire(".");
        ADD_FAILURE() << "a second lock was granted";
    } catch (const LockError& e) {
        EXPECT_NE(std::string(e.what()).find("(PID " + std::to_string(child) + ")"),
                  std::string::npos)
            << e.what();
    }
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    // Released with the process: the next run gets it, and nobody is named as holder.
    EXPECT_EQ(FolderLock::HolderPid("."), 0);
    const auto mine = FolderLock::Acquire(".");
    EXPECT_EQ(FolderLock::HolderPid("."), getpid());
    EXPECT_THROW(FolderLock::Acquire("no-such-folder"), LockError);
}

TEST(FolderLockTest, APlantedLinkIsRefusedAndNothingIsWrittenThroughIt) {
    testsupport::ScratchDir dir;
    testsupport::WriteFile("victim.txt", "precious\n");
    fs::create_directory("a");
    fs::create_symlink("../victim.txt", "a/rankcheck.lock");
    fs::create_directory("b");
    fs::create_hard_link("victim.txt", "b/rankcheck.lock");
    fs::create_directory("c");
    fs::create_symlink("../nowhere.txt", "c/rankcheck.lock");  // a dangling link is not created
    for (const char* folder : {"a", "b", "c"}) {
        try {
            FolderLock::Acquire(folder);
            ADD_FAILURE() << folder << ": locked through a link";
        } catch (const LockError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string(folder) + "/rankcheck.lock "),
                      std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("remove it"), std::string::npos) << e.what();
        }
        EXPECT_EQ(FolderLock::HolderPid(folder), 0);
    }
    EXPECT_EQ(testsupport::ReadFile("victim.txt"), "precious\n");
    EXPECT_FALSE(fs::exists("nowhere.txt"));
    // A plain file left by an earlier holder with a longer PID holds exactly this one's after.
    testsupport::WriteFile("rankcheck.lock", "4194304999\n");
    const auto lock = FolderLock::Acquire(".");
    EXPECT_EQ(testsupport::ReadFile("rankcheck.lock"), std::to_string(getpid()) + "\n");
}

// The inputs of a job folder: a file or a planted link under the name is replaced in one step
// (the link's target untouched), the mode is the one asked for, a folder is refused by name and
// no temporary file is left in any case.
TEST(ReplaceWholeFileTest, ReplacesAFileOrALinkWholeAndRefusesAFolder) {
    testsupport::ScratchDir dir;
    testsupport::WriteFile("victim.txt", "precious\n");
    testsupport::WriteFile("keywords.lst", "old\n");
    fs::create_symlink("victim.txt", "proxy.def");
    ReplaceWholeFile("keywords.lst", "fresh bread\n", 0666);
    ReplaceWholeFile("proxy.def", "1\n", 0600);
    EXPECT_EQ(testsupport::ReadFile("keywords.lst"), "fresh bread\n");
    EXPECT_EQ(testsupport::ReadFile("proxy.def"), "1\n");
    EXPECT_FALSE(fs::is_symlink("proxy.def"));
    EXPECT_EQ(testsupport::ReadFile("victim.txt"), "precious\n");
    EXPECT_EQ(fs::status("proxy.def").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory("urls.lst");
    try {
        ReplaceWholeFile("urls.lst", "x\n", 0666);
        ADD_FAILURE() << "a folder was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("urls.lst: cannot be replaced"), std::string::npos)
            << e.what();
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("."))
        ++entries;
    EXPECT_EQ(entries, 4u);  // victim.txt, keywords.lst, proxy.def, urls.lst
}

TEST(InputWarnings, KeywordsBlankAndRepeated) {
    EXPECT_TRUE(KeywordWarnings({"a", "b"}).empty());
    EXPECT_EQ(KeywordWarnings({"a", "", "b"}),
              V{"keywords.lst line 2 is blank: searched as an empty keyword (delete it to skip)"});
    // Repeats are named once each, with every line; blank lines are not repeats of each other.
    EXPECT_EQ(KeywordWarnings({"x", "y", "x", "y", "x", " ", "\t"}),
              (V{"keywords.lst lines 6 and 7 are blank: searched as empty keywords (delete them "
                 "to skip)",
                 "keywords.lst lines 1, 3 and 5 hold the same keyword \"x\": it is searched 3 "
                 "times",
                 "keywords.lst lines 2 and 4 hold the same keyword \"y\": it is searched 2 "
                 "times"}));
    // Keywords differing in case or blanks are different searches.
    EXPECT_TRUE(KeywordWarnings({"x", "X", "x "}).empty());
}

TEST(InputWarnings, UrlsEmptyAndEqualOnceNormalised) {
    ASSERT_EQ(UrlWarnings({}).size(), 1u);
    EXPECT_NE(UrlWarnings({})[0].find("urls.lst holds no URL"), std::string::npos);
    EXPECT_TRUE(UrlWarnings({"www.a.example", "www.b.example"}).empty());
    EXPECT_EQ(UrlWarnings({"https://www.a.example/", "www.b.example", " WWW.A.example "}).size(),
              1u);
    EXPECT_NE(UrlWarnings({"https://www.a.example/", " WWW.A.example "})[0].find(
                  "urls.lst lines 1 and 2 are the same URL \"www.a.example\""),
              std::string::npos);
    // www. is part of the URL; a blank line is the plug-in's to refuse.
    EXPECT_TRUE(UrlWarnings({"www.a.example", "a.example", "", "  "}).empty());
}

TEST(InputWarnings, NumberList) {
    EXPECT_EQ(NumberList({}), "");
    EXPECT_EQ(NumberList({3}), "3");
    EXPECT_EQ(NumberList({3, 7}), "3 and 7");
    EXPECT_EQ(NumberList({3, 7, 9}), "3, 7 and 9");
}

}  // namespace
