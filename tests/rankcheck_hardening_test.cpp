// rankcheck tried as an attacker and as an unlucky user would, through the real binary against
// engine-sim: a planted lock link, the proxy password (shown nowhere, readable by others at no
// moment), a read-only folder and ledger, and hostile keywords on a terminal, in a spreadsheet
// and in the files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kUser = "demo";
const std::string kPassword = "Pw-q7Z3xK9m";
const std::string kPasswordBase64 = "ZGVtbzpQdy1xN1ozeEs5bQ==";  // demo:Pw-q7Z3xK9m
const char kBakery[] = "www.my-bakery.example";

// Every file below `dir` with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        files[entry.path().string()] = {
            entry.is_regular_file() ? ReadFile(entry.path().string()) : "",
            fs::symlink_status(entry.path()).type() == fs::file_type::symlink
                ? fs::file_time_type{}
                : entry.last_write_time()};
    }
    return files;
}

// The names of the files that differ between two snapshots, or "" when none does.
std::string Changed(
    const std::map<std::string, std::pair<std::string, fs::file_time_type>>& before,
    const std::map<std::string, std::pair<std::string, fs::file_time_type>>& after) {
    std::string names;
    for (const auto& [name, file] : after) {
        const auto was = before.find(name);
        if (was == before.end()) {
            names += name + " (new)\n";
        } else if (was->second != file) {
            names += name + " (changed)\n";
        }
    }
    for (const auto& [name, file] : before) {
        if (after.count(name) == 0) names += name + " (gone)\n";
    }
    return names;
}

// A loopback port where nothing listens: bound once, then closed.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

// Where `text` shows the password, plain or as Basic credentials; empty when nowhere.
std::string PasswordIn(const std::string& text, const std::string& where) {
    for (const std::string& secret : {kPassword, kPasswordBase64}) {
        if (text.find(secret) != std::string::npos) return where + " holds the password\n";
    }
    return "";
}

// Text a terminal would act on: an escape byte or a bell, once the display's own line erase
// ("\r\033[K") is set aside.
bool ReachesTheTerminalRaw(std::string text) {
    for (size_t at; (at = text.find("\r\033[K")) != std::string::npos;)
        text.erase(at, 4);
    return text.find_first_of("\x1b\x07") != std::string::npos;
}

class Hardening : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path().string();
        WriteLines("urls.lst", {kBakery});
        WriteLines("keywords.lst", {"fresh bread", "rye flour"});
    }
    // engine-sim with `scenario` (JSON), and proxy.def pointing at it.
    void StartSim(const json& scenario, bool credentials = false) {
        sim_.reset();
        WriteFile("scenario.json", scenario.dump());
        sim_ = std::make_unique<EngineSimProcess>("scenario.json");
        if (credentials) {
            WriteLines("proxy.def",
                       {"1", "1", "127.0.0.1", std::to_string(sim_->Port()), kUser, kPassword});
        } else {
            WriteLines("proxy.def", {"1", "0", "127.0.0.1", std::to_string(sim_->Port())});
        }
    }
    Result Run(const std::string& engine, V extra = {}) {
        V args{"run", engine, "--dir", folder_, "--max-results", "10"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Rankcheck(args);
    }

    ScratchDir dir_;
    std::string folder_;
    std::unique_ptr<EngineSimProcess> sim_;
};

TEST_F(Hardening, APlantedLockLinkLeavesItsTargetAloneAndTheRunRefusesNamingIt) {
    WriteLines("proxy.def", {"0"});
    WriteFile("victim.txt", "the victim's own text\n");
    fs::create_symlink("victim.txt", "rankcheck.lock");
    const auto before = Snapshot(folder_);
    const Result r = Run("quillon", {"--no-preflight"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(folder_ + "/rankcheck.lock is a symbolic link"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");  // no plug-in ran
    EXPECT_EQ(Changed(before, Snapshot(folder_)), "");
    EXPECT_EQ(ReadFile("victim.txt"), "the victim's own text\n");
}

TEST_F(Hardening, ThePasswordShowsInNoOutputFileOrLedger) {
    json scenario = {{"defaultResults", 12},
                     {"proxyAuth", {{"user", kUser}, {"password", kPassword}}}};
    StartSim(scenario, true);
    std::string found;
    // A run through the proxy with the password (both engines reach the simulator with it).
    const Result run = Run("all");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    found += PasswordIn(run.out, "run's output") + PasswordIn(run.err, "run's messages");
    for (const char* command : {"report", "history", "checks"}) {
        for (const char* format : {"table", "csv", "json"}) {
            const Result r = Rankcheck({command, "--dir", folder_, "--format", format});
            EXPECT_EQ(r.status, 0) << command << " " << format << ": " << r.err;
            found += PasswordIn(r.out + r.err, std::string(command) + " --format " + format);
        }
    }
    // A preflight that fails, with the password in proxy.def and with it before the host.
    const std::string closed = std::to_string(ClosedPort());
    WriteLines("proxy.def", {"1", "1", "127.0.0.1", closed, kUser, kPassword});
    Result refused = Run("quillon");
    EXPECT_EQ(refused.status, 2) << refused.err;
    found += PasswordIn(refused.out + refused.err, "the preflight's message");
    WriteLines("proxy.def", {"1", "0", kUser + ":" + kPassword + "@127.0.0.1", closed});
    refused = Run("quillon");
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("(user and password hidden)@127.0.0.1:" + closed), std::string::npos)
        << refused.err;
    found += PasswordIn(refused.out + refused.err, "the preflight's message (user:pass@host)");
    fs::remove("proxy.def");
    fs::remove("scenario.json");
    // Every file the run left, the ledger among them.
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
        if (entry.is_regular_file()) {
            found += PasswordIn(ReadFile(entry.path().string()), entry.path().string());
        }
    }
    // init refuses a password inside --proxy, or after a --proxy-password it does not have, and
    // does not repeat it.
    for (const V& args :
         {V{"--proxy", kUser + ":" + kPassword + "@proxy.example:3128"},
          V{"--proxy", "proxy.example:3128", "--proxy-user", kUser, "--proxy-password", kPassword},
          V{"--proxy", "proxy.example:3128", "--proxy-password=" + kPassword}}) {
        V argv{"init", "--dir", "new"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Result init = Rankcheck(argv);
        EXPECT_EQ(init.status, 2);
        EXPECT_NE(init.err.find("--proxy-password-file"), std::string::npos) << init.err;
        found += PasswordIn(init.out + init.err, "init's messages");
    }
    EXPECT_FALSE(fs::exists("new/proxy.def"));
    EXPECT_EQ(found, "");
}

// A scenario of 30 results per keyword where the bakery stands at `rank` on Quillon for the
// keyword `keyword`.
json RankedAt(const std::string& keyword, int rank) {
    return {
        {"defaultResults", 30},
        {"keywords",
         {{keyword,
           {{"quillon",
             {{"results", 30},
              {"sites",
               json::array({{{"rank", rank}, {"link", "http://www.my-bakery.example/"}}})}}}}}}}};
}

TEST_F(Hardening, HostileKeywordsAreShownSafeOnATerminalAndInASpreadsheetAndKeptWholeInFiles) {
    const std::string formula = "=cmd|'/Ccalc'!A0";
    const std::string title = "\x1b]0;title\x07";
    const std::string red = "\x1b[41mred";
    const std::string huge(1 << 20, 'k');
    WriteLines("keywords.lst", {formula, title, red, huge});
    // Two checks: the bakery goes from 2 to 4 for the formula keyword, a change of -2.
    StartSim(RankedAt(formula, 2));
    const Result first = Run("quillon");
    ASSERT_EQ(first.status, 3) << first.err;  // the huge keyword is given up
    StartSim(RankedAt(formula, 4));
    ChildProcess second({kRankcheck, "run", "quillon", "--dir", folder_, "--max-results", "10"},
                        ChildProcess::Output::Terminal);
    ASSERT_EQ(second.Wait(60000), 3) << second.Err();

    // On a terminal: the status lines, the progress line, the summary, the table, the history.
    std::map<std::string, std::string> shown{{"run (pipe)", first.out + first.err},
                                             {"run (terminal)", second.Out() + second.Err()}};
    for (const char* command : {"report", "history", "checks"}) {
        const Result r = Rankcheck({command, "--dir", folder_});
        EXPECT_EQ(r.status, 0) << r.err;
        shown[command] = r.out + r.err;
    }
    for (const auto& [what, text] : shown) {
        EXPECT_FALSE(ReachesTheTerminalRaw(text)) << what;
        EXPECT_LT(text.size(), 64u * 1024) << what;  // a 1 MB keyword is cut, not printed
    }
    for (const char* what : {"run (pipe)", "run (terminal)", "report", "history"}) {
        EXPECT_NE(shown[what].find("\\x1b]0;title\\x07"), std::string::npos) << what;
        EXPECT_NE(shown[what].find("\\x1b[41mred"), std::string::npos) << what;
        EXPECT_NE(shown[what].find("\u2026(1048576 bytes)"), std::string::npos) << what;
    }

    // In a spreadsheet: the formula is text, the change of -2 a number; every value whole.
    const Result csv = Rankcheck({"report", "--dir", folder_, "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    std::map<std::string, V> rows;  // keyword -> Quillon's record
    for (const V& record : ParseCsv(csv.out)) {
        if (record.size() > 2 && record[2] == "Quillon") rows[record[0]] = record;
    }
    ASSERT_EQ(rows.count("'" + formula), 1u) << csv.out.substr(0, 400);
    EXPECT_EQ(rows["'" + formula][3], "4");
    EXPECT_EQ(rows["'" + formula][6], "-2");
    EXPECT_EQ(rows.count(title), 1u);
    EXPECT_EQ(rows.count(red), 1u);
    EXPECT_EQ(rows.count(huge), 1u);
    const Result history = Rankcheck({"history", "--dir", folder_, "--format", "csv"});
    EXPECT_NE(history.out.find(",'" + formula + ","), std::string::npos);
    // JSON and the result files keep the values exactly.
    const Result doc = Rankcheck({"report", "--dir", folder_, "--format", "json"});
    ASSERT_EQ(doc.status, 0) << doc.err;
    const json parsed = json::parse(doc.out);
    std::set<std::string> keywords;
    for (const json& row : parsed["rows"])
        keywords.insert(row["keyword"].get<std::string>());
    // Compared as a whole, never printed: the huge keyword would flood the failure message.
    EXPECT_TRUE(keywords == (std::set<std::string>{formula, title, red, huge}))
        << keywords.size() << " keywords";
}

// rankcheck as a user whose file modes apply: as root, which reads and writes whatever the modes
// say (and runs CI), through setpriv as the user nobody; else as this user. Empty when there is
// no way (root without setpriv).
const char kSetpriv[] = "/usr/bin/setpriv";
constexpr uid_t kNobody = 65534;

std::optional<Result> AsModesApply(const V& args) {
    V argv;
    if (::geteuid() == 0) {
        if (::access(kSetpriv, X_OK) != 0) return std::nullopt;
        argv = {kSetpriv, "--reuid=" + std::to_string(kNobody),
                "--regid=" + std::to_string(kNobody), "--clear-groups", "--"};
    }
    argv.push_back(kRankcheck);
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv);
    const int status = child.Wait(60000);
    return Result{status, child.Out(), child.Err()};
}

TEST_F(Hardening, AReadOnlyFolderOrLedgerIsReadAndARunRefusesBeforeAnythingChanges) {
    StartSim(RankedAt("fresh bread", 3));
    ASSERT_EQ(Run("quillon").status, 0);
    if (::geteuid() == 0) {
        if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "root ignores file modes, no setpriv";
        // The folder becomes nobody's, as a project is its owner's; nobody runs rankcheck.
        ASSERT_EQ(::chown(folder_.c_str(), kNobody, kNobody), 0);
        for (const auto& entry : fs::recursive_directory_iterator(folder_))
            ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
    }
    const auto readersRead = [&](const std::string& when) {
        for (const char* command : {"report", "history", "checks"}) {
            const auto r = AsModesApply({command, "--dir", folder_});
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, 0) << when << ", " << command << ": " << r->err;
            EXPECT_NE(r->out.find(command == std::string("checks") ? "complete" : "fresh bread"),
                      std::string::npos)
                << when << ", " << command << ":\n"
                << r->out;
        }
    };
    const auto runRefused = [&](const std::string& when, const std::string& named) {
        const auto r = AsModesApply({"run", "quillon", "--dir", folder_});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 2) << when << ": " << r->out << r->err;
        EXPECT_NE(r->err.find(named), std::string::npos) << when << ": " << r->err;
        EXPECT_EQ(r->out, "") << when;  // no plug-in ran
    };

    // A ledger of mode 0444 in a folder that may be written.
    ASSERT_EQ(::chmod("rankcheck.db", 0444), 0);
    auto before = Snapshot(folder_);
    readersRead("ledger 0444");
    runRefused("ledger 0444", folder_ + "/rankcheck.db");
    EXPECT_EQ(Changed(before, Snapshot(folder_)), "") << "ledger 0444";

    // An archived project: the folder of mode 0555.
    ASSERT_EQ(::chmod("rankcheck.db", 0644), 0);
    ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
    before = Snapshot(folder_);
    readersRead("folder 0555");
    runRefused("folder 0555", folder_ + ": the folder cannot be written");
    EXPECT_EQ(Changed(before, Snapshot(folder_)), "") << "folder 0555";
    ::chmod(folder_.c_str(), 0700);
}

// Watches a folder on a thread of its own, as another user polling it would: whenever a file
// there may be read by group or others, it is opened, as that user could open it then, and kept
// open; what such a file holds is read once the watch stops (an open file stays readable through
// a later chmod or rename, as it would for that user). Also counts the looks at which a file
// held the password, to show that the watch does see the folder.
class PasswordWatch {
  public:
    explicit PasswordWatch(const fs::path& dir)
        : dir_(dir), thread_([this] {
              while (!stop_)
                  Look();
              Look();
          }) {}
    ~PasswordWatch() {
        Stop();
        for (const auto& [inode, open] : exposed_)
            ::close(open.first);
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int Seen() const { return seen_; }
    // "proxy.def.tmp (mode 0644)" for every file that group or others could open while it held,
    // or went on to hold, the password.
    std::string Exposed() const {
        std::string text;
        for (const auto& [inode, open] : exposed_) {
            std::string bytes(4096, '\0');
            const ssize_t n = ::pread(open.first, bytes.data(), bytes.size(), 0);
            if (n > 0 && bytes.substr(0, n).find(kPassword) != std::string::npos)
                text += open.second + "\n";
        }
        return text;
    }

  private:
    void Look() {
        DIR* d = ::opendir(dir_.c_str());
        if (d == nullptr) return;
        while (const dirent* e = ::readdir(d)) {
            const fs::path file = dir_ / e->d_name;
            const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            struct stat st {};
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                ::close(fd);
                continue;
            }
            if ((st.st_mode & 077) != 0 && exposed_.count(st.st_ino) == 0) {
                char mode[8];
                std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
                exposed_[st.st_ino] = {fd, file.filename().string() + " (mode " + mode + ")"};
                continue;
            }
            std::string bytes(4096, '\0');
            const ssize_t n = ::read(fd, bytes.data(), bytes.size());
            ::close(fd);
            if (n > 0 && bytes.substr(0, n).find(kPassword) != std::string::npos) ++seen_;
        }
        ::closedir(d);
    }

    fs::path dir_;
    std::atomic<bool> stop_{false};
    int seen_ = 0;
    std::map<ino_t, std::pair<int, std::string>> exposed_;  // inode -> open file, name and mode
    std::thread thread_;
};

TEST_F(Hardening, InitNeverLeavesThePasswordReadableByOthers) {
    WriteFile("password.txt", kPassword + "\n");
    ::chmod("password.txt", 0600);
    const mode_t umask = ::umask(022);  // the usual one, which lets others read a new file
    std::string exposed;
    int seen = 0;
    // The moment is short: eighty inits catch a file written before its mode is set nearly always.
    for (int i = 0; i < 80; ++i) {
        const std::string project = "p" + std::to_string(i);
        fs::create_directory(project);
        PasswordWatch watch(project);
        const Result init =
            Rankcheck({"init", "--dir", project, "--proxy", "proxy.example:3128", "--proxy-user",
                       kUser, "--proxy-password-file", "password.txt"});
        watch.Stop();
        ASSERT_EQ(init.status, 0) << init.err;
        EXPECT_EQ(PasswordIn(init.out + init.err, "init's output"), "");
        exposed += watch.Exposed();
        seen += watch.Seen();
        EXPECT_EQ(fs::status(project + "/proxy.def").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        // Nothing but the three files is left behind.
        EXPECT_EQ(DirectoryEntries(project), (V{"keywords.lst", "proxy.def", "urls.lst"}));
    }
    ::umask(umask);
    EXPECT_EQ(exposed, "");
    EXPECT_GE(seen, 80);  // the watch did read the password where it was kept
}

}  // namespace
