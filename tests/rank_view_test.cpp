// What rankcheck makes of the ledger without processes: the URL match rule and the URL keys,
// recording a run from its status lines and job files, importing a folder that had no ledger,
// the rank view (ranks by keyword text across edited keyword lists, --top, --compare) and what
// each format shows of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/report/change_report.h"
#include "host/report/html/html_report.h"
#include "host/report/rank_view.h"
#include "host/report/report_formats.h"
#include "host/report/text_table.h"
#include "host/run/check_recorder.h"
#include "host/run/ledger_import.h"
#include "jobfiles/job_files.h"
#include "ledger/change_alerts.h"
#include "tests/test_support.h"

namespace {

using namespace rankcheck;
using ledger::CheckState;
using ledger::KeywordState;
using ledger::RankStatus;
using testsupport::WriteLines;
using V = std::vector<std::string>;

RankViewRequest Engines(const V& engines) {
    RankViewRequest request;
    request.engines = engines;
    return request;
}

std::string Day(int day) {  // 2026-12-01 plus `day` days, at 04:00 UTC
    return ledger::UtcTimestamp(1796097600 + static_cast<std::time_t>(day) * 86400);
}

TEST(UrlMatch, FirstMatchWithOrWithoutSchemeInBothModes) {
    const auto urls =
        LedgerUrls({"https://www.mine.example/", "mine.example/shop", "HTTP://x.example", "   "});
    // Keys: normalised and upper-cased; "HTTP://" is not a scheme the rule drops (case-sensitive).
    EXPECT_EQ(urls[0].Key(), "WWW.MINE.EXAMPLE");
    EXPECT_EQ(urls[1].Key(), "MINE.EXAMPLE/SHOP");
    EXPECT_EQ(urls[2].Key(), "HTTP://X.EXAMPLE");
    EXPECT_EQ(urls[3].Key(), "   ");  // a blank line keeps its own text

    const V links{"http://a.example/", "https://www.mine.example/shop", "www.mine.example",
                  "mine.example/shop"};
    const auto ranks = RanksOf(links, urls);
    ASSERT_EQ(ranks.size(), 4u);
    EXPECT_EQ(ranks[0].contains, 2);  // https:// in the URL, https:// in the link
    EXPECT_EQ(ranks[0].exact, 3);     // the whole link, shown without a scheme
    EXPECT_EQ(ranks[1].contains, 2);  // www. is not dropped, but the URL lies inside the link
    EXPECT_EQ(ranks[1].exact, 4);
    EXPECT_EQ(ranks[2], ledger::UrlRank{});
    EXPECT_EQ(ranks[3], ledger::UrlRank{});
    // Matching ignores case.
    EXPECT_EQ(RanksOf({"WWW.Mine.Example/Page"}, LedgerUrls({"www.mine.example"}))[0].contains, 1);
}

// A ledger in a scratch folder, with checks made in code.
class LedgerFixture : public ::testing::Test {
  protected:
    ledger::CheckStart Start(const V& keywords, const V& urls, int day,
                             const std::string& engine = "Quillon", int maxResults = 100) {
        ledger::CheckStart start;
        start.engine = engine;
        start.startedAt = Day(day);
        start.options.maxResults = maxResults;
        start.keywordsHash = "h";
        start.keywords = keywords;
        start.urls = LedgerUrls(urls);
        return start;
    }
    // A complete check where keyword k has 100 links with "mine.example/" at ranks[k] (0: absent).
    int64_t Made(const V& keywords, const std::vector<int>& ranks, int day,
                 const std::string& engine = "Quillon", CheckState end = CheckState::Complete) {
        const auto start = Start(keywords, {"http://mine.example/"}, day, engine);
        const int64_t id = ledger_.BeginCheck(start);
        for (size_t k = 0; k < keywords.size(); ++k)
            Record(id, start, static_cast<int>(k), KeywordState::Done, Links(100, ranks[k]));
        ledger_.EndCheck(id, end, Day(day));
        return id;
    }
    static V Links(int count, int mineAt) {
        V links;
        for (int i = 1; i <= count; ++i)
            links.push_back(i == mineAt ? "mine.example/"
                                        : "site" + std::to_string(i) + ".example/");
        return links;
    }
    void Record(int64_t id, const ledger::CheckStart& start, int index, KeywordState state,
                const V& links) {
        ledger::KeywordResult result;
        result.index = index;
        result.state = state;
        result.positionsExamined = static_cast<int>(links.size());
        result.links = links;
        result.ranks = RanksOf(links, start.urls);
        result.recordedAt = start.startedAt;
        ledger_.RecordKeyword(id, result);
    }
    RankView View(RankViewRequest request = {}) { return RankView::Build(ledger_, request); }
    static const RankView::Row& RowOf(const RankView& view, const std::string& keyword) {
        for (const RankView::Row& row : view.Rows())
            if (row.keyword == keyword) return row;
        throw std::runtime_error("no row " + keyword);
    }

    testsupport::ScratchDir dir_;
    ledger::Ledger ledger_{"rankcheck.db"};
};

TEST_F(LedgerFixture, RanksStayWithTheirKeywordWhenTheListIsEdited) {
    Made({"sourdough starter", "fresh bread", "rye"}, {7, 12, 0}, 0);
    // The first keyword deleted, a new one inserted at the top: every line moved.
    Made({"croissant", "fresh bread", "rye", "sourdough"}, {1, 9, 30, 0}, 1);
    const RankView view = View(Engines({"Quillon"}));
    ASSERT_EQ(view.Rows().size(), 4u);
    EXPECT_EQ(view.Rows()[0].keyword, "croissant");
    const auto& bread = *RowOf(view, "fresh bread").cells[0];
    EXPECT_EQ(bread.rank, 9);
    EXPECT_EQ(bread.previousRank, 12);
    EXPECT_EQ(ChangeMark(bread), "\u25B23");
    EXPECT_EQ(ChangeMark(*RowOf(view, "rye").cells[0]), "new");  // fully searched before, absent
    EXPECT_EQ(ChangeMark(*RowOf(view, "croissant").cells[0]), "new");  // not in the older check
    // "sourdough" is not "sourdough starter": no history of its own, no change.
    EXPECT_EQ(RowOf(view, "sourdough").cells[0]->status, RankStatus::NotFound);
    EXPECT_EQ(ChangeMark(*RowOf(view, "sourdough").cells[0]), "");

    // --compare picks the check to compare with; a check of the other engine is refused.
    const int64_t verrin = Made({"fresh bread"}, {2}, 1, "Verrin");
    RankViewRequest request = Engines({"Quillon"});
    request.checks = {{"", 2}};
    request.compare = {{"", 2}};
    EXPECT_EQ(ChangeMark(*RowOf(View(request), "fresh bread").cells[0]), "=");
    request.compare = {{"", verrin}};
    EXPECT_THROW(View(request), ledger::LedgerError);
    request.compare = {{"", 99}};
    EXPECT_THROW(View(request), ledger::LedgerError);
}

TEST_F(LedgerFixture, TopCountsLaterPositionsAsNotFound) {
    Made({"kw", "other"}, {15, 25}, 0);
    Made({"kw", "other"}, {25, 15}, 1);
    RankViewRequest request = Engines({"Quillon"});
    request.top = 20;
    const RankView view = View(request);
    const auto& kw = *RowOf(view, "kw").cells[0];
    EXPECT_EQ(kw.status, RankStatus::NotFound);
    EXPECT_EQ(kw.change, "lost");
    const auto& other = *RowOf(view, "other").cells[0];
    EXPECT_EQ(other.rank, 15);
    EXPECT_EQ(other.change, "new");
}

TEST_F(LedgerFixture, PartialErrorAndNotSearchedCells) {
    Made({"a", "b", "c"}, {4, 8, 0}, 0);
    const auto start = Start({"a", "b", "c"}, {"http://mine.example/"}, 1);
    const int64_t id = ledger_.BeginCheck(start);
    Record(id, start, 0, KeywordState::Partial, Links(30, 0));
    Record(id, start, 1, KeywordState::GivenUp, Links(0, 0));
    ledger_.EndCheck(id, CheckState::Stopped, Day(1));
    const RankView view = View(Engines({"Quillon", "Verrin"}));
    EXPECT_EQ(view.Engines()[0].check->id, id);
    EXPECT_EQ(view.Engines()[0].compared->id, 1);
    EXPECT_FALSE(view.Engines()[1].check);

    const auto& a = RowOf(view, "a").cells;
    EXPECT_EQ(CellText(a[0], 100), "partial (30 of 100)");
    EXPECT_EQ(ChangeMark(a[0]), "");  // an unknown side has no change
    EXPECT_EQ(CellText(a[1], 0), "not searched");
    EXPECT_EQ(CellText(RowOf(view, "b").cells[0], 100), "error (last 8 on 2026-12-01)");
    EXPECT_EQ(CellText(RowOf(view, "c").cells[0], 100), "not searched");
    // The same words without their detail, as the charts show them.
    EXPECT_EQ(StatusWords(RankStatus::Partial, std::nullopt), "partial");
    EXPECT_EQ(StatusWords(RankStatus::Error, 7), "error");
    EXPECT_EQ(StatusWords(RankStatus::NotFound, std::nullopt), "-");
    EXPECT_EQ(StatusWords(RankStatus::Ranked, 12), "12");
    EXPECT_EQ(CheckLine(view.Engines()[0]),
              "Quillon: check 2, 2026-12-02 04:00 UTC, stopped after 2 of 3 keywords; compared "
              "with check 1 of 2026-12-01 04:00 UTC");
    EXPECT_EQ(CheckLine(view.Engines()[1]), "Verrin: no check yet");
}

// The day after a rank, a page without results (a block looks so): suspect with its reason in
// every format and in the change list, the last trusted rank beside it, never a loss; the
// table's notes and legend fit an 80-column terminal.
TEST_F(LedgerFixture, ASuspectKeywordSaysWhyAndIsNeverALoss) {
    Made({"a", "b"}, {3, 5}, 0);
    const auto start = Start({"a", "b"}, {"http://mine.example/"}, 1);
    const int64_t id = ledger_.BeginCheck(start);
    Record(id, start, 0, KeywordState::Done, {});
    Record(id, start, 1, KeywordState::Done, Links(100, 2));
    ledger_.EndCheck(id, CheckState::Complete, Day(1));
    const RankView view = View(Engines({"Quillon"}));
    const auto& a = *RowOf(view, "a").cells[0];
    EXPECT_EQ(a.status, RankStatus::Suspect);
    EXPECT_EQ(CellText(a, 100), "suspect (last 3 on 2026-12-01)");
    EXPECT_EQ(ChangeMark(a), "");

    std::ostringstream csv, js, table;
    WriteCsv(view, csv);
    EXPECT_NE(csv.str().find("a,mine.example,Quillon,,suspect,3,,2," + Day(1) +
                             ",no results on page 1\r\n"),
              std::string::npos)
        << csv.str();
    WriteJson(view, js);
    const auto doc = nlohmann::json::parse(js.str());
    EXPECT_EQ(doc["rows"][0]["note"], "no results on page 1");
    EXPECT_TRUE(doc["rows"][0]["change"].is_null());
    EXPECT_EQ(doc["rows"][1]["change"], 3);
    EXPECT_EQ(doc["engines"][0]["check"]["state_text"], "complete with 1 failed (1 suspect)");
    WriteTable(view, table);
    EXPECT_NE(table.str().find("\n  Quillon, \"a\": no results on page 1\n"), std::string::npos)
        << table.str();
    std::istringstream lines(table.str().substr(table.str().find("\nNumbers are")));
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(DisplayWidth(line), 80u) << line;

    ledger::ReportOptions options;
    const std::string changes =
        ChangesText({{view.Engines()[0], ledger::ChangesOf(ledger_.Report(id, options))}});
    EXPECT_NE(changes.find("\u25B23"), std::string::npos) << changes;  // b: 5 -> 2
    EXPECT_NE(changes.find("suspect: no results on page 1  3 on 2026-12-01"), std::string::npos)
        << changes;
    EXPECT_EQ(changes.find("lost"), std::string::npos) << changes;
    // The same again the next day against a trusted check: nothing to tell.
    Made({"a", "b"}, {3, 2}, 2);
    const int64_t same = Made({"a", "b"}, {3, 2}, 3);
    EXPECT_EQ(ChangesText({{View(Engines({"Quillon"})).Engines()[0],
                            ledger::ChangesOf(ledger_.Report(same, options))}}),
              "");
}

// Two keywords, two URLs, two engines: every kind of cell, hostile text included.
class FormatFixture : public LedgerFixture {
  protected:
    void SetUp() override {
        const V keywords{"fresh, \"hot\" bread", "caf\xE9 <b>&"};
        const V urls{"mine.example", "other.example"};
        for (int day = 0; day < 2; ++day) {
            const auto start = Start(keywords, urls, day);
            const int64_t id = ledger_.BeginCheck(start);
            Record(id, start, 0, KeywordState::Done,
                   {"a.example", "b.example", day == 0 ? "c.example" : "mine.example"});
            Record(id, start, 1, KeywordState::GivenUp, {});
            ledger_.EndCheck(id, CheckState::Complete, Day(day));
        }
        const auto start = Start(keywords, urls, 1, "Verrin");
        const int64_t id = ledger_.BeginCheck(start);
        Record(id, start, 0, KeywordState::Done, {"other.example/x"});
        ledger_.EndCheck(id, CheckState::Stopped, Day(1));
    }
};

TEST_F(FormatFixture, CsvHasExactlyTheDocumentedColumns) {
    std::ostringstream out;
    WriteCsv(View(), out);
    const std::string q = ",2," + Day(1) + ",\r\n", v = ",3," + Day(1) + ",\r\n";
    EXPECT_EQ(out.str(),
              "keyword,url,engine,rank,status,previous_rank,change,check_id,checked_at,note\r\n"
              "\"fresh, \"\"hot\"\" bread\",mine.example,Quillon,3,ranked,,new" +
                  q + "\"fresh, \"\"hot\"\" bread\",mine.example,Verrin,,not_found,," + v +
                  "\"fresh, \"\"hot\"\" bread\",other.example,Quillon,,not_found,," + q +
                  "\"fresh, \"\"hot\"\" bread\",other.example,Verrin,1,ranked,," + v +
                  "caf\xC3\xA9 <b>&,mine.example,Quillon,,error,," + q +
                  "caf\xC3\xA9 <b>&,mine.example,Verrin,,not_searched,," + v +
                  "caf\xC3\xA9 <b>&,other.example,Quillon,,error,," + q +
                  "caf\xC3\xA9 <b>&,other.example,Verrin,,not_searched,," + v);
}

TEST_F(FormatFixture, JsonCarriesTheSameFieldsAndTheChecks) {
    std::ostringstream out;
    WriteJson(View(), out);
    const auto doc = nlohmann::json::parse(out.str());
    EXPECT_EQ(doc["engines"][0]["check"]["state"], "complete");
    EXPECT_EQ(doc["engines"][0]["compared"]["check_id"], 1);
    EXPECT_EQ(doc["engines"][1]["check"]["state"], "stopped");
    ASSERT_EQ(doc["rows"].size(), 8u);
    const auto& first = doc["rows"][0];
    EXPECT_EQ(first["keyword"], "fresh, \"hot\" bread");
    EXPECT_EQ(first["engine"], "Quillon");
    EXPECT_EQ(first["rank"], 3);
    EXPECT_EQ(first["status"], "ranked");
    EXPECT_TRUE(first["previous_rank"].is_null());
    EXPECT_TRUE(first["change"].is_null());
    EXPECT_EQ(first["change_text"], "new");
    EXPECT_TRUE(doc["rows"][1]["change"].is_null());  // nothing to compare with
    EXPECT_EQ(first["check_id"], 2);
    EXPECT_EQ(first["checked_at"], Day(1));
    EXPECT_EQ(first["positions_examined"], 3);
    const auto& error = doc["rows"][4];
    EXPECT_EQ(error["keyword"], "caf\xC3\xA9 <b>&");  // Windows-1252 text comes out as UTF-8
    EXPECT_EQ(error["status"], "error");
    EXPECT_TRUE(error["rank"].is_null());
}

TEST_F(FormatFixture, TableColumnsLineUpUnderTheCheckLines) {
    std::ostringstream out;
    WriteTable(View(), out, 200);  // a wide terminal: each check on one line
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Quillon: check 2, 2026-12-02 04:00 UTC, complete with 1 failed (1 given "
                         "up); compared with check 1",
                         0),
              0u)
        << line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Verrin: check 3, 2026-12-02 04:00 UTC, stopped after 1 of 2 keywords", 0),
              0u)
        << line;
    std::getline(lines, line);
    std::string header, rule;
    std::getline(lines, header);
    std::getline(lines, rule);
    const size_t column = header.find("Quillon");
    ASSERT_NE(column, std::string::npos);
    EXPECT_EQ(rule[column], '-');
    EXPECT_EQ(rule[column - 1], ' ');
    // Every row's cell starts under its heading (counting characters, not UTF-8 bytes).
    V cells;
    while (std::getline(lines, line) && !line.empty()) {
        size_t chars = 0, at = 0;
        for (; at < line.size() && chars < column; ++at) {
            if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80) ++chars;
        }
        while (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80)
            ++at;
        const size_t end = line.find("  ", at);
        cells.push_back(line.substr(at, end == std::string::npos ? end : end - at));
    }
    EXPECT_EQ(cells, (V{"3 new", "-", "error", "error"}));
}

TEST_F(FormatFixture, HtmlIsSelfContainedEscapedAndBanded) {
    auto band = [](std::optional<int> rank, RankStatus status) {
        ledger::ReportRow row;
        row.rank = rank;
        row.status = status;
        return std::string(RankBand(row));
    };
    EXPECT_EQ(band(3, RankStatus::Ranked), "b1");
    EXPECT_EQ(band(4, RankStatus::Ranked), "b2");
    EXPECT_EQ(band(10, RankStatus::Ranked), "b2");
    EXPECT_EQ(band(11, RankStatus::Ranked), "b3");
    EXPECT_EQ(band(20, RankStatus::Ranked), "b3");
    EXPECT_EQ(band(21, RankStatus::Ranked), "b4");
    EXPECT_EQ(band(50, RankStatus::Ranked), "b4");
    EXPECT_EQ(band(51, RankStatus::Ranked), "b5");
    EXPECT_EQ(band({}, RankStatus::NotFound), "nf");
    EXPECT_EQ(band({}, RankStatus::Partial), "pa");
    EXPECT_EQ(band({}, RankStatus::Error), "err");
    EXPECT_EQ(std::string(RankBand(std::nullopt)), "ns");

    std::ostringstream out;
    const RankView view = View();
    WriteHtml(view, ReportHistory::Build(ledger_, view), out, "/tmp/job <1>");
    const std::string html = out.str();
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    // Links only within the page.
    EXPECT_FALSE(
        std::regex_search(html, std::regex(R"(src\s*=|href\s*=\s*"[^#])", std::regex::icase)));
    // Nothing from elsewhere: no style sheet or script file; the one script is the page's own.
    EXPECT_FALSE(std::regex_search(html, std::regex(R"(<link|<script[^>]|@import|url\((?!#))")));
    EXPECT_EQ(html.find("<script>"), html.rfind("<script>"));
    EXPECT_EQ(html.find("<b>&"), std::string::npos);
    EXPECT_NE(html.find("caf\xC3\xA9 &lt;b&gt;&amp;"), std::string::npos);
    EXPECT_NE(html.find("fresh, &quot;hot&quot; bread"), std::string::npos);
    EXPECT_NE(html.find("/tmp/job &lt;1&gt;"), std::string::npos);
    EXPECT_NE(html.find("2026-12-02 04:00 UTC"), std::string::npos);
    EXPECT_TRUE(std::regex_search(html, std::regex(R"(<td class="rank b1"[^>]*>3\b)")));
    EXPECT_TRUE(std::regex_search(html, std::regex(R"(<td class="rank err"[^>]*>error)")));
}

TEST_F(LedgerFixture, RecorderFollowsTheRunThroughItsStatusLinesAndFiles) {
    WriteLines("keywords.lst", {"a", "b", "c", "d"});
    const auto start = Start({"a", "b", "c", "d"}, {"mine.example"}, 0, "Quillon", 100);
    const ledger::CheckInfo check = ledger_.Check(ledger_.BeginCheck(start));
    CheckRecorder recorder(ledger_, check, {"."}, start.urls, [] { return Day(0); });
    std::vector<std::pair<int, RankStatus>> outcomes;  // as the breaker is told them
    recorder.OnRecorded = [&](int index, const ledger::KeywordOutcome& outcome) {
        outcomes.emplace_back(index, outcome.status);
    };
    auto progress = [](int keyword, int page, int position) {
        jobfiles::ProgressRecord record{page, position, keyword, ""};
        record.Lines().SaveToFile("Quillon.set");
    };
    auto states = [&] {
        std::vector<KeywordState> result;
        for (const auto& keyword : ledger_.LoadCheck(check.id).keywords)
            result.push_back(keyword.state);
        return result;
    };
    using KS = KeywordState;
    auto line = [&](const std::string& text) {
        recorder.OnStatusLine(jobfiles::StatusLine::Parse(text));
    };

    // A progress file from an older run is never taken for this run's before its first page.
    progress(2, 3, 20);
    line("Start Quillon search for keyword \"a\"");
    EXPECT_EQ(states(),
              (std::vector<KS>{KS::NotReached, KS::NotReached, KS::NotReached, KS::NotReached}));

    V links = Links(100, 4);
    links[3] = "www.mine.example/";
    WriteLines("Quillon-0.urls", links);
    progress(0, 11, 100);
    line("100 pos. on Quillon for \"a\"");
    line("Start Quillon search for keyword \"b\"");
    EXPECT_EQ(states()[0], KS::Done);
    EXPECT_EQ(ledger_.LoadCheck(check.id).keywords[0].ranks[0].contains, 4);

    // A failed first page repeats the keyword: b is not complete yet.
    progress(1, 1, 0);
    line("Can't connect to Quillon. Trying again");
    line("Start Quillon search for keyword \"b\"");
    EXPECT_EQ(states()[1], KS::NotReached);

    WriteLines("Quillon-1.urls", {"x.example", "1#Error found#"});
    progress(1, 1000, 10000);
    line("Can't connect to Quillon. Page skipped");
    line("Start Quillon search for keyword \"c\"");
    EXPECT_EQ(states()[1], KS::GivenUp);
    EXPECT_EQ(outcomes, (std::vector<std::pair<int, RankStatus>>{{0, RankStatus::NotFound},
                                                                 {1, RankStatus::Error}}));

    // Stopped during c after 30 positions: partial, and d not reached.
    WriteLines("Quillon-2.urls", Links(30, 0));
    progress(2, 4, 30);
    line("30 pos. on Quillon for \"c\"");
    recorder.Finish(false, CheckState::Stopped, "Ctrl-C");
    EXPECT_EQ(states(), (std::vector<KS>{KS::Done, KS::GivenUp, KS::Partial, KS::NotReached}));
    EXPECT_EQ(ledger_.Check(check.id).state, CheckState::Stopped);
    EXPECT_EQ(ledger_.Check(check.id).reason, "Ctrl-C");
    EXPECT_EQ(outcomes.size(), 2u);  // a partial keyword is not an outcome of the run
    EXPECT_EQ(ledger_.LoadCheck(check.id).keywords[2].positionsExamined, 30);

    // Resumed: the same check goes on, c is recorded again (replacing), d completes the run.
    ledger_.ReopenCheck(check.id);
    CheckRecorder resumed(ledger_, ledger_.Check(check.id), {"."}, start.urls,
                          [] { return Day(0); });
    WriteLines("Quillon-2.urls", Links(100, 77));
    WriteLines("Quillon-3.urls", Links(5, 0));
    progress(3, 1, 5);
    resumed.OnStatusLine(jobfiles::StatusLine::Parse("5 pos. on Quillon for \"d\""));
    resumed.Finish(true, CheckState::Complete);
    EXPECT_EQ(states(), (std::vector<KS>{KS::Done, KS::GivenUp, KS::Done, KS::Done}));
    EXPECT_EQ(ledger_.LoadCheck(check.id).keywords[2].ranks[0].contains, 77);
    EXPECT_EQ(ledger_.Check(check.id).state, CheckState::Complete);
    EXPECT_EQ(ledger_.ResultList(check.id, 2).size(), 100u);
}

// A recheck searches some keywords of a check in a folder of its own: the job's keyword i is the
// check's keyword checkIndexes[i]; a keyword stopped before its first page stays not searched.
TEST_F(LedgerFixture, RecorderMapsARecheckJobOntoTheCheck) {
    namespace fs = std::filesystem;
    const auto start = Start({"a", "b", "c", "d"}, {"mine.example"}, 0, "Quillon", 100);
    const ledger::CheckInfo check = ledger_.Check(ledger_.BeginCheck(start));
    CheckRecorder first(ledger_, check, {"."}, start.urls, [] { return Day(0); });
    for (int k = 0; k < 4; ++k)
        WriteLines("Quillon-" + std::to_string(k) + ".urls",
                   k % 2 ? V{"0#Error found#"} : Links(100, 0));
    first.CatchUp(4);
    first.Finish(true, CheckState::Complete);
    ASSERT_EQ(ledger_.KeywordsToRecheck(check.id).size(), 2u);  // b and d given up

    fs::create_directories("jobs/recheck-quillon");
    WriteLines("jobs/recheck-quillon/Quillon-0.urls", Links(100, 7));
    WriteLines("jobs/recheck-quillon/Quillon-1.urls", {});
    jobfiles::ProgressRecord{1, 0, 1, ""}.Lines().SaveToFile("jobs/recheck-quillon/Quillon.set");
    ledger_.ReopenCheck(check.id, ledger::Reopen::Recheck);
    CheckRecorder recheck(ledger_, ledger_.Check(check.id), {"jobs/recheck-quillon", {1, 3}},
                          start.urls, [] { return Day(1); });
    recheck.OnStatusLine(jobfiles::StatusLine::Parse("100 pos. on Quillon for \"b\""));
    recheck.OnStatusLine(jobfiles::StatusLine::Parse("Start Quillon search for keyword \"d\""));
    recheck.Finish(false, CheckState::Complete);
    const auto detail = ledger_.LoadCheck(check.id);
    EXPECT_EQ(detail.keywords[1].state, KeywordState::Done);
    EXPECT_EQ(detail.keywords[1].ranks[0].contains, 7);
    EXPECT_EQ(detail.keywords[3].state, KeywordState::GivenUp);  // its recheck brought nothing
    EXPECT_EQ(detail.keywords[0].recordedAt, Day(0));
    EXPECT_EQ(ledger_.Check(check.id).state, CheckState::Complete);
    EXPECT_EQ(ledger_.KeywordsToRecheck(check.id).size(), 1u);
}

TEST_F(LedgerFixture, AFolderWithoutLedgerIsImportedOnceByItsFileDates) {
    namespace fs = std::filesystem;
    WriteLines("keywords.lst", {"a", "b", "c"});
    WriteLines("urls.lst", {"mine.example"});
    WriteLines("Quillon-0.urls", {"x.example", "mine.example/"});
    WriteLines("Quillon-1.urls", {"y.example", "2#Error found#"});
    const auto at = [](int day) {
        return fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(
            std::chrono::seconds(1796097600 + static_cast<std::int64_t>(day) * 86400)));
    };
    fs::last_write_time("Quillon-0.urls", at(0));
    fs::last_write_time("Quillon-1.urls", at(2));

    const auto ids = ImportFolderOnce(ledger_, ".", FolderInputs::Read("."), {"Quillon", "Verrin"});
    ASSERT_EQ(ids.size(), 1u);  // no Verrin files: no Verrin check
    const ledger::CheckInfo check = ledger_.Check(ids[0]);
    EXPECT_TRUE(check.imported);
    EXPECT_EQ(check.state, CheckState::Stopped);  // keyword c has no file
    EXPECT_EQ(check.startedAt, Day(0));
    EXPECT_EQ(check.endedAt, Day(2));
    const auto detail = ledger_.LoadCheck(ids[0]);
    EXPECT_EQ(detail.keywords[0].state, KeywordState::Done);
    EXPECT_EQ(detail.keywords[0].ranks[0].contains, 2);
    EXPECT_EQ(detail.keywords[1].state, KeywordState::GivenUp);
    EXPECT_EQ(detail.keywords[2].state, KeywordState::NotReached);
    EXPECT_EQ(TopTenCount(ledger_, ids[0]), 1);
    // Once: a ledger that holds checks is left alone.
    EXPECT_TRUE(ImportFolderOnce(ledger_, ".", FolderInputs::Read("."), {"Quillon"}).empty());
    EXPECT_EQ(ledger_.Checks().size(), 1u);
}

}  // namespace
