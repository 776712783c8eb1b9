// rankcheck as a person sees it on a terminal, through the real binaries: the example project
// (with a CJK keyword) pointed at engine-sim by `init --proxy`, checked twice, the second time
// with a keyword given up so that error cells show; every table and the run's summary read at
// 80 columns through a pseudo-terminal; --quiet; picking checks per engine and by date.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/rankcheck_support.h"
#include "tests/test_support.h"

namespace {

using namespace testsupport;
using nlohmann::json;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kCjk = "\u30D1\u30F3\u5C4B";  // パン屋

// Display columns of a line as a terminal draws it: CJK and fullwidth characters take two.
size_t Columns(const std::string& line, size_t upTo = std::string::npos) {
    size_t columns = 0;
    for (size_t i = 0; i < line.size() && i < upTo;) {
        const auto lead = static_cast<unsigned char>(line[i]);
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length && i + k < line.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3F);
        i += length;
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xFF00 && c <= 0xFF60);
        columns += wide ? 2 : 1;
    }
    return columns;
}

V Lines(const std::string& text) {
    V lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Every line fits 80 columns, but a command line for the user to copy (the binary's long path).
void ExpectEightyColumns(const std::string& what, const std::string& text) {
    for (const std::string& line : Lines(text)) {
        if (line.find(kRankcheck) != std::string::npos) continue;
        EXPECT_LE(Columns(line), 80u) << what << ":\n" << line;
    }
}

// `rankcheck args` as seen on an 80-column terminal.
Result OnTerminal(const V& args) {
    V argv{kRankcheck};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, ChildProcess::Output::Terminal, "", 80);
    const int status = child.Wait(60000);
    return {status, child.Out(), child.Err()};
}

class TerminalE2E : public ::testing::Test {
  protected:
    // One project checked twice for every test: the example, then with "fresh bread" given up
    // on Quillon.
    static void SetUpTestSuite() {
        ::unsetenv("COLUMNS");
        scratch_ = std::make_unique<ScratchDir>();
        const fs::path examples = EXAMPLES_DIR;
        json scenario = json::parse(ReadFile((examples / "scenario.json").string()));
        EngineSimProcess first((examples / "scenario.json").string());
        ASSERT_EQ(Rankcheck({"init", "--dir", "p", "--proxy", Proxy(first)}).status, 0);
        WriteFile("p/keywords.lst", ReadFile((examples / "keywords.lst").string()) + kCjk + "\r\n");
        fs::copy_file(examples / "urls.lst", "p/urls.lst", fs::copy_options::overwrite_existing);
        quiet_ = new Result(Rankcheck({"run", "all", "--dir", "p", "--quiet"}));

        scenario["keywords"]["fresh bread"]["quillon"]["faults"] =
            json::parse(R"([{"kind": "status", "status": 500}])");
        WriteFile("failing.json", scenario.dump());
        EngineSimProcess second("failing.json");
        ASSERT_EQ(Rankcheck({"init", "--dir", "p", "--proxy", Proxy(second)}).status, 0);
        logged_ = new Result(Rankcheck({"run", "all", "--dir", "p"}));
        for (const auto& check :
             json::parse(Rankcheck({"checks", "--dir", "p", "--format", "json"}).out))
            ids_[check["engine"].get<std::string>()].push_back(check["check_id"].get<int64_t>());
        day_ = json::parse(
                   Rankcheck({"checks", "--dir", "p", "--format", "json"}).out)[0]["started_at"]
                   .get<std::string>()
                   .substr(0, 10);
    }
    static void TearDownTestSuite() {
        delete quiet_;
        delete logged_;
        scratch_.reset();
    }
    static std::string Proxy(const EngineSimProcess& sim) {
        return "127.0.0.1:" + std::to_string(sim.Port());
    }
    // The check ids of `engine`'s report in a JSON report.
    static std::pair<json, json> Shown(const json& report, size_t engine) {
        const json& e = report["engines"][engine];
        return {e["check"].is_null() ? json() : e["check"]["check_id"],
                e["compared"].is_null() ? json() : e["compared"]["check_id"]};
    }

    static inline std::unique_ptr<ScratchDir> scratch_;
    static inline Result* quiet_ = nullptr;
    static inline Result* logged_ = nullptr;
    static inline std::map<std::string, std::vector<int64_t>> ids_;  // by engine, oldest first
    static inline std::string day_;
};

TEST_F(TerminalE2E, QuietLeavesOnlyTheSummaryAndAPipeGetsTheLogAndTheSummary) {
    ASSERT_EQ(quiet_->status, 0) << quiet_->err;
    EXPECT_EQ(quiet_->out, "");
    EXPECT_NE(quiet_->err.find("rankcheck: Quillon (check "), std::string::npos) << quiet_->err;
    EXPECT_NE(quiet_->err.find("  13 of 13 keywords trusted"), std::string::npos) << quiet_->err;

    EXPECT_EQ(logged_->status, 3) << logged_->err;  // complete, with a keyword given up
    EXPECT_NE(logged_->out.find("fresh bread"), std::string::npos);  // the status lines
    EXPECT_NE(logged_->err.find("given up: \"fresh bread\""), std::string::npos) << logged_->err;
    ExpectEightyColumns("run summary", quiet_->err);
    ExpectEightyColumns("run summary", logged_->err);
    // The counts of an upstream stay on one line with their unit, under the upstream when the
    // line with it would pass 80 columns.
    size_t counted = 0;
    for (const std::string& line : Lines(quiet_->err)) {
        if (line.find(" requests, ") == std::string::npos) continue;
        ++counted;
        EXPECT_TRUE(line.find("median ") != std::string::npos && line.ends_with(" ms")) << line;
    }
    EXPECT_EQ(counted, 2u) << quiet_->err;  // one upstream for each engine
}

TEST_F(TerminalE2E, ReportChecksAndHistoryFitEightyColumnsWithErrorCellsAndACjkKeyword) {
    const Result report = OnTerminal({"report", "--dir", "p"});
    ASSERT_EQ(report.status, 0) << report.err;
    ExpectEightyColumns("report", report.out);
    EXPECT_NE(report.out.find("err (3, " + day_.substr(5) + ")"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find("err: error"), std::string::npos) << "the legend says it";
    // The CJK keyword's URL starts in the URL column of the header.
    const V lines = Lines(report.out);
    size_t header = 0, cjk = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("Keyword", 0) == 0) header = i;
        if (lines[i].rfind(kCjk, 0) == 0) cjk = i;
    }
    ASSERT_GT(cjk, header) << report.out;
    EXPECT_EQ(Columns(lines[cjk], lines[cjk].find("www.")),
              Columns(lines[header], lines[header].find("URL")))
        << lines[header] << "\n"
        << lines[cjk];

    const Result checks = OnTerminal({"checks", "--dir", "p"});
    ASSERT_EQ(checks.status, 0) << checks.err;
    ExpectEightyColumns("checks", checks.out);
    EXPECT_NE(checks.out.find("1 given up"), std::string::npos) << checks.out;

    const Result history = OnTerminal({"history", "--dir", "p"});
    ASSERT_EQ(history.status, 0) << history.err;
    ExpectEightyColumns("history", history.out);
    // URLs as the report shows them, not as urls.lst holds them.
    EXPECT_NE(history.out.find("www.sourdough-corner.example"), std::string::npos);
    EXPECT_EQ(history.out.find("http://www.sourdough-corner.example/"), std::string::npos);

    // A wider terminal gets longer lines: the legend is not wrapped as narrowly.
    ::setenv("COLUMNS", "200", 1);
    const Result wide = OnTerminal({"report", "--dir", "p"});
    ::unsetenv("COLUMNS");
    size_t widest = 0;
    for (const std::string& line : Lines(wide.out))
        widest = std::max(widest, Columns(line));
    EXPECT_GT(widest, 80u) << wide.out;
}

TEST_F(TerminalE2E, ChecksArePickedPerEngineAndByDate) {
    ASSERT_EQ(ids_["Quillon"].size(), 2u);
    ASSERT_EQ(ids_["Verrin"].size(), 2u);
    const int64_t q1 = ids_["Quillon"][0], q2 = ids_["Quillon"][1];
    const int64_t v1 = ids_["Verrin"][0], v2 = ids_["Verrin"][1];
    auto report = [](const V& args) {
        V argv{"report", "--dir", "p", "--format", "json"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Result r = Rankcheck(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? json::parse(r.out) : json();
    };
    json doc = report(
        {"--check", "quillon=" + std::to_string(q1), "--check", "verrin=" + std::to_string(v2)});
    EXPECT_EQ(Shown(doc, 0).first, q1);
    EXPECT_EQ(Shown(doc, 1).first, v2);
    // A bare id still shows its engine alone; --compare per engine and bare for both engines.
    doc = report({"--check", std::to_string(v1)});
    EXPECT_EQ(doc["engines"].size(), 1u);
    EXPECT_EQ(Shown(doc, 0).first, v1);
    doc = report({"--compare", std::to_string(q1), "--compare", "verrin=" + std::to_string(v1)});
    EXPECT_EQ(Shown(doc, 0), std::make_pair(json(q2), json(q1)));
    EXPECT_EQ(Shown(doc, 1), std::make_pair(json(v2), json(v1)));
    // --at: each engine's latest by that day; none before the first.
    doc = report({"--at", day_});
    EXPECT_EQ(Shown(doc, 0).first, q2);
    EXPECT_EQ(Shown(doc, 1).first, v2);
    doc = report({"--at", "2000-01-01", "--check", "verrin=" + std::to_string(v1)});
    EXPECT_TRUE(Shown(doc, 0).first.is_null());
    EXPECT_EQ(Shown(doc, 1).first, v1);
    const Result none = Rankcheck({"report", "--dir", "p", "--at", "2000-01-01"});
    EXPECT_NE(none.out.find("Quillon: no check on or before 2000-01-01"), std::string::npos);
    EXPECT_EQ(Rankcheck({"history", "--dir", "p", "--at", "2000-01-01"}).out,
              "(no check matches)\n");

    for (const auto& [args, said] : std::vector<std::pair<V, std::string>>{
             {{"--check", "quillon=x"}, "--check quillon=x: give a check id"},
             {{"--check", "quillon=" + std::to_string(v1)},
              "check " + std::to_string(v1) + " is Verrin's, not Quillon's"},
             {{"--check", "999"}, "999"},
             {{"--compare", "=3"}, "--compare =3"},
             {{"--at", "2026-02-30"}, "--at 2026-02-30: give a day as YYYY-MM-DD"},
         }) {
        V argv{"report", "--dir", "p"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Result bad = Rankcheck(argv);
        EXPECT_EQ(bad.status, 2) << args[1];
        EXPECT_NE(bad.err.find(said), std::string::npos) << bad.err;
    }
}

}  // namespace

// Every command's help on an 80-column terminal: each line fits (a word longer than the text
// column aside), descriptions start in one column, types read as typed.
TEST(TerminalHelp, EveryCommandsHelpFitsEightyColumnsInTwoColumns) {
    ::unsetenv("COLUMNS");
    for (const char* command : {"", "init", "run", "report", "history", "checks", "gateway"}) {
        SCOPED_TRACE(command);
        const Result help = OnTerminal(*command ? V{command, "--help"} : V{"--help"});
        ASSERT_EQ(help.status, 0) << help.err;
        ExpectEightyColumns(command, help.out);
        for (const std::string& line : Lines(help.out)) {
            // An option's line: its description in the text column, or on the lines below.
            if (line.rfind("  -", 0) != 0 || line.find("  ", 2) == std::string::npos) continue;
            EXPECT_EQ(line.find_first_not_of(' ', line.find("  ", 2)), 28u) << line;
        }
    }
    const Result run = OnTerminal({"run", "--help"});
    EXPECT_NE(run.out.find("--max-results INT=100 "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--resume (not with --recheck)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("{false}"), std::string::npos) << run.out;
}
