#include "platform/string_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/exceptions.h"

namespace fs = std::filesystem;

namespace {

class StringListFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("sl-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> Load(const std::string& bytes) {
        Write("in.txt", bytes);
        TStringList list;
        list.LoadFromFile(Path("in.txt"));
        return list.Lines();
    }

    fs::path dir_;
};

using V = std::vector<std::string>;

TEST_F(StringListFiles, LineEndRules) {
    EXPECT_EQ(Load(""), V{});
    EXPECT_EQ(Load("a"), V{"a"});
    EXPECT_EQ(Load("a\r\n"), V{"a"});
    EXPECT_EQ(Load("a\r\nb"), (V{"a", "b"}));
    EXPECT_EQ(Load("a\rb\nc\r\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(Load("\r\n"), V{""});
    EXPECT_EQ(Load("\n\n"), (V{"", ""}));
    EXPECT_EQ(Load("a\n\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(Load("a\r\r\n"), (V{"a", ""}));  // lone CR, then CR LF
    EXPECT_EQ(Load("x\r"), V{"x"});
    EXPECT_EQ(Load(" a \t\r\n"), V{" a \t"});                              // no trimming
    EXPECT_EQ(Load(std::string("a\0b\n", 4)), V{std::string("a\0b", 3)});  // any byte
}

TEST_F(StringListFiles, SaveEndsEveryLineWithCrLfAndRoundTrips) {
    TStringList list;
    list.SaveToFile(Path("out.txt"));
    EXPECT_EQ(Read("out.txt"), "");
    list.Add("one");
    list.Add("");
    list.Add("\xC3\xA9t\xE9");
    list.SaveToFile(Path("out.txt"));
    EXPECT_EQ(Read("out.txt"), "one\r\n\r\n\xC3\xA9t\xE9\r\n");
    TStringList back;
    back.LoadFromFile(Path("out.txt"));
    EXPECT_EQ(back.Lines(), list.Lines());
}

TEST_F(StringListFiles, SaveReplacesAtomicallyAndLeavesNoTemporaryFiles) {
    Write("f.txt", "old\r\n");
    TStringList list;
    list.Add("new");
    list.SaveToFile(Path("f.txt"));
    EXPECT_EQ(Read("f.txt"), "new\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(StringListFiles, FailedSaveKeepsTheOldContent) {
    Write("f.txt", "old\r\n");
    fs::create_directory(dir_ / "sub");
    TStringList list;
    list.Add("new");
    // The target is a directory: the rename fails, the temporary file is removed.
    EXPECT_THROW(list.SaveToFile(Path("sub")), EFCreateError);
    // A directory that cannot be written to: the temporary file cannot be created.
    if (::geteuid() != 0) {
        ::chmod(dir_.c_str(), 0555);
        EXPECT_THROW(list.SaveToFile(Path("f.txt")), EFCreateError);
        ::chmod(dir_.c_str(), 0755);
    }
    EXPECT_EQ(Read("f.txt"), "old\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 2);
    try {
        list.SaveToFile(Path("missing/f.txt"));
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/f.txt"), std::string::npos) << e.what();
    }
}

TEST_F(StringListFiles, MissingFileNamesTheFileAndKeepsTheList) {
    TStringList list;
    list.Add("kept");
    try {
        list.LoadFromFile(Path("nope.lst"));
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("nope.lst\": No such file or directory"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(list.Lines(), V{"kept"});
}

TEST(StringList, CheckedIndexAccessAndEditing) {
    TStringList list;
    EXPECT_THROW(list[0], EStringListError);
    list.Add("b");
    list.Insert(0, "a");
    list.Insert(2, "c");
    EXPECT_EQ(list.Lines(), (V{"a", "b", "c"}));
    EXPECT_THROW(list.Insert(4, "x"), EStringListError);
    EXPECT_THROW(list[-1], EStringListError);
    EXPECT_THROW(list[3], EStringListError);
    list.Delete(1);
    EXPECT_EQ(list.Lines(), (V{"a", "c"}));
    EXPECT_THROW(list.Delete(2), EStringListError);
    EXPECT_EQ(list.Count(), 2);
}

}  // namespace
