// The HTML report's page builder on a ledger of three days: the history behind the charts, the
// summary figures, the check states, the sparklines and trend charts, the top 10 and the
// competitors, the overview (biggest moves, what could not be checked), and a page that stays
// self-contained and well formed whatever the keywords, URLs and links hold; and on a project
// of 500 keywords a month long: the size bound, the folded sections and the moves by size.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include "host/report/html/html_overview.h"
#include "host/report/html/html_sections.h"
#include "host/report/html/svg_charts.h"
#include "tests/html_fixture.h"

namespace {

using namespace htmlfixture;
using ledger::RankStatus;

std::vector<std::string> Texts(const std::vector<ReportHistory::Point>& points) {
    std::vector<std::string> texts;
    for (const auto& point : points)
        texts.push_back(PointText(point));
    return texts;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Every element of `html` that is not void is closed, in order (SVG's "/>" closes its own).
std::string FirstUnbalancedTag(const std::string& html) {
    static const std::set<std::string> kVoid{"meta", "wbr", "br", "img", "hr", "input", "!doctype"};
    std::vector<std::string> open;
    const std::regex tag(R"(<(/?)([!a-zA-Z][a-zA-Z0-9]*)[^>]*?(/?)>)");
    std::string body =
        html.substr(0, html.find("<style>")) + html.substr(html.find("</style>") + 8);
    if (body.find("<script>") != std::string::npos)
        body = body.substr(0, body.find("<script>")) + body.substr(body.find("</script>") + 9);
    for (std::sregex_iterator it(body.begin(), body.end(), tag), end; it != end; ++it) {
        std::string name = (*it)[2];
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (kVoid.count(name) || (*it)[3] == "/") continue;
        if ((*it)[1] == "") {
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            return "</" + name + "> closes " + (open.empty() ? "nothing" : "<" + open.back() + ">");
        } else {
            open.pop_back();
        }
    }
    return open.empty() ? "" : "<" + open.back() + "> never closed";
}

class HtmlPage : public ::testing::Test, public ThreeDays {};

TEST_F(HtmlPage, HistoryHoldsEveryCheckOfEachKeywordAndUrlOldestFirst) {
    const RankView view = View();
    const ReportHistory history = History(view);
    ASSERT_EQ(history.Engines().size(), 2u);
    EXPECT_EQ(history.Engines()[0].checks.size(), 3u);
    EXPECT_EQ(history.Engines()[1].checks.size(), 2u);
    const std::string mine = LedgerUrls({kMine})[0].Key(), other = LedgerUrls({kOther})[0].Key();
    EXPECT_EQ(Texts(history.Series(0, kScript, mine)), (V{"7", "5", "3"}));
    EXPECT_EQ(Texts(history.Series(0, kScript, other)), (V{"-", "-", "9"}));
    EXPECT_EQ(Texts(history.Series(0, kQuoted, mine)), (V{"12", "-", "2"}));
    EXPECT_EQ(Texts(history.Series(0, kRye, mine)), (V{"5", "4", "error"}));
    EXPECT_EQ(Texts(history.Series(1, kScript, mine)), (V{"8", "10"}));
    EXPECT_EQ(Texts(history.Series(1, kRye, mine)), (V{"-", "not searched"}));
    EXPECT_TRUE(history.Series(0, "no such keyword", mine).empty());
    EXPECT_TRUE(history.Series(7, kScript, mine).empty());
    // One scale for the page: the largest rank drawn is 12.
    EXPECT_EQ(history.AxisTop(), 20);
    EXPECT_EQ(history.Timeline(), (V{Day(0), Day(1), Day(2)}));

    // Only the last checks: the series keep their length and their order.
    const ReportHistory last = History(view, 2);
    EXPECT_EQ(Texts(last.Series(0, kScript, mine)), (V{"5", "3"}));
    EXPECT_EQ(last.Engines()[0].checks.front().startedAt, Day(1));

    // --check shows an earlier check: nothing after it is drawn.
    RankViewRequest request;
    request.checks = {{"", 2}};
    const RankView earlier = RankView::Build(Ledger(), request);
    EXPECT_EQ(Texts(History(earlier).Series(0, kScript, mine)), (V{"7", "5"}));

    // --top 4: position 5 and beyond count as not found, in the history as in the table.
    request = {};
    request.top = 4;
    const RankView top4 = RankView::Build(Ledger(), request);
    EXPECT_EQ(Texts(History(top4).Series(0, kScript, mine)), (V{"-", "-", "3"}));
    EXPECT_EQ(History(top4).AxisTop(), 10);
}

TEST_F(HtmlPage, TopListsMarkTheUsersLinksAndNameTheSitesAbove) {
    const ReportHistory history = History(View());
    const ReportHistory::TopList* top = history.Top(0, kScript);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->check, 3);
    ASSERT_EQ(top->links.size(), 10u);
    EXPECT_EQ(top->links[2], "http://mine.example/page");
    EXPECT_EQ(top->mine, (std::vector<bool>{false, false, true, false, false, false, false, false,
                                            true, false}));
    EXPECT_EQ(top->best, 3);
    EXPECT_EQ(top->bestUrl, kMine);
    // Positions 1 and 2 are one site, named once at its best position.
    ASSERT_EQ(top->above.size(), 1u);
    EXPECT_EQ(top->above[0].site, "rival.example");
    EXPECT_EQ(top->above[0].position, 1);

    // Not found: every site of the list ranks above.
    const ReportHistory::TopList* quoted = history.Top(1, kQuoted);
    ASSERT_NE(quoted, nullptr);
    EXPECT_FALSE(quoted->best);
    EXPECT_EQ(quoted->above.size(), 29u);  // rival.example once, site3 ... site30
    // Given up after three links; not searched at all.
    const ReportHistory::TopList* rye = history.Top(0, kRye);
    ASSERT_NE(rye, nullptr);
    EXPECT_EQ(rye->state, ledger::KeywordState::GivenUp);
    EXPECT_EQ(rye->links.size(), 3u);
    ASSERT_NE(history.Top(1, kRye), nullptr);
    EXPECT_TRUE(history.Top(1, kRye)->links.empty());

    EXPECT_EQ(SiteOf("HTTPS://Www.A.example:8080/x?y"), "www.a.example:8080");
    EXPECT_EQ(SiteOf("b.example?q=1"), "b.example");
    EXPECT_EQ(SiteOf(""), "");
}

TEST_F(HtmlPage, SummaryCountsPositionsAndChangesPerEngine) {
    const RankView view = View();
    const EngineSummary q = Summarise(view, 0), v = Summarise(view, 1);
    EXPECT_EQ(q.keywords, 3);
    EXPECT_EQ(q.top3, 2);   // kScript 3, kQuoted 2
    EXPECT_EQ(q.top10, 3);  // and the other URL at 9
    EXPECT_EQ(q.top100, 3);
    EXPECT_EQ(q.improved, 1);  // kScript 5 -> 3
    EXPECT_EQ(q.fresh, 2);     // the other URL at 9, kQuoted at 2
    EXPECT_EQ(q.declined, 0);
    EXPECT_EQ(q.lost, 0);       // kRye given up: neither a drop nor a loss
    EXPECT_EQ(q.unchecked, 2);  // kRye's two URLs
    EXPECT_EQ(v.keywords, 3);
    EXPECT_EQ(v.declined, 1);  // 8 -> 10
    EXPECT_EQ(v.top10, 1);
    EXPECT_EQ(v.unchecked, 0);  // kRye not searched: not a failure of the check

    // Moves between two ranks only, largest first.
    const Moves moves = BiggestMoves(view, 10);
    ASSERT_EQ(moves.rises.size(), 1u);
    EXPECT_EQ(moves.rises[0].row->keyword, kScript);
    EXPECT_EQ(moves.rises[0].change, 2);
    ASSERT_EQ(moves.drops.size(), 1u);
    EXPECT_EQ(moves.drops[0].engine, 1u);
    EXPECT_EQ(moves.drops[0].change, -2);
    EXPECT_TRUE(BiggestMoves(view, 0).rises.empty());
}

TEST_F(HtmlPage, CheckStatesAreWordedAsEveryOutputWordsThem) {
    std::string page = Page();
    EXPECT_NE(page.find("<td class=\"state\">complete with 1 failed (1 given up)</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"state\">stopped after 2 of 3 keywords</td>"),
              std::string::npos);

    // A check left running: running while the folder is held, interrupted once it is free.
    ledger::CheckStart start;
    start.engine = "Verrin";
    start.startedAt = Day(3);
    start.keywordsHash = "h";
    start.keywords = {kScript, kQuoted, kRye};
    start.urls = LedgerUrls({kMine, kOther});
    const int64_t id = Ledger().BeginCheck(start);
    ledger::KeywordResult result;
    result.links = Links(30, 4);
    result.positionsExamined = 30;
    result.ranks = RanksOf(result.links, start.urls);
    result.recordedAt = Day(3);
    Ledger().RecordKeyword(id, result);
    const RankView view = View();
    for (const bool lockFree : {false, true}) {
        std::ostringstream out;
        WriteHtml(view, History(view), out, "/f", lockFree);
        EXPECT_NE(out.str().find(lockFree ? ">interrupted after 1 of 3 keywords<"
                                          : ">running: 1 of 3 keywords so far<"),
                  std::string::npos)
            << lockFree;
    }
}

TEST_F(HtmlPage, ChartsDrawPositionOneAtTheTopWithGapsWhereNotRanked) {
    using P = ReportHistory::Point;
    const std::vector<ledger::CheckInfo> checks{Ledger().Check(1), Ledger().Check(2),
                                                Ledger().Check(3)};
    const std::vector<P> points{
        {0, RankStatus::Ranked, 1}, {1, RankStatus::NotFound, {}}, {2, RankStatus::Ranked, 10}};
    const V timeline{Day(0), Day(1), Day(2)};
    const std::string chart = TrendChart("a <b>", {{"Quillon", 0, &points, &checks}}, timeline, 20);
    EXPECT_NE(chart.find("<title>a &lt;b&gt;</title>"), std::string::npos);
    EXPECT_NE(chart.find("<desc>Quillon: 12-01 1 12-02 - 12-03 10</desc>"), std::string::npos);
    EXPECT_NE(chart.find("<use href=\"#trend-frame\"/>"), std::string::npos);
    // The line breaks at the check that did not find it: two moves, no line drawn; its vertices
    // are the markers: rank 1 above rank 10, the first check at the left, the last at the right.
    std::smatch path;
    ASSERT_TRUE(std::regex_search(chart, path, std::regex(R"re(<path class="l0" d="([^"]*)")re")));
    const std::string line = path[1];
    EXPECT_EQ(Count(line, "M"), 2u);
    EXPECT_EQ(Count(line, "L"), 0u);
    std::vector<std::pair<int, int>> marks;
    const std::regex vertex(R"re([ML](-?\d+) (-?\d+))re");
    for (std::sregex_iterator it(line.begin(), line.end(), vertex), end; it != end; ++it)
        marks.emplace_back(std::stoi((*it)[1]), std::stoi((*it)[2]));
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_LT(marks[0].second, marks[1].second);
    EXPECT_LT(marks[0].first, marks[1].first);
    // The not-found check is a hollow marker in the strip, below every position.
    std::smatch hollow;
    ASSERT_TRUE(
        std::regex_search(chart, hollow, std::regex(R"re(<path class="h0" d="M\d+ (\d+)"/>)re")));
    EXPECT_GT(std::stoi(hollow[1]), marks[1].second);

    // What every chart shares is drawn once: the position axis ends at the page's scale, and
    // every marker and frame the style sheet and the charts refer to is there.
    const std::string defs = ChartDefs(timeline, 20);
    EXPECT_NE(defs.find("text-anchor=\"end\">20</text>"), std::string::npos);
    EXPECT_EQ(defs.find(">30</text>"), std::string::npos);
    EXPECT_NE(defs.find("aria-hidden=\"true\""), std::string::npos);
    const std::string sheet = ChartStyleSheet();
    const std::regex reference(R"re(url\(#([\w-]+)\)|href="#([\w-]+)")re");
    const std::string users = sheet + chart;
    size_t references = 0;
    for (std::sregex_iterator it(users.begin(), users.end(), reference), end; it != end; ++it) {
        const std::string id = (*it)[1].matched ? (*it)[1] : (*it)[2];
        EXPECT_NE(defs.find("id=\"" + id + "\""), std::string::npos) << id;
        ++references;
    }
    EXPECT_GT(references, 12u);  // 3 markers for each of 4 styles, and the frame

    // Engines differ in more than colour.
    EXPECT_STRNE(StyleOf(0).marker, StyleOf(1).marker);
    EXPECT_STRNE(StyleOf(0).dash, StyleOf(1).dash);
    EXPECT_NE(
        sheet.find(".l1 { fill: none; stroke: #b3420b; stroke-width: 2; stroke-dasharray: 6 3;"),
        std::string::npos);
    const std::string legend = EngineLegend({"Quillon", "Verrin"});
    EXPECT_NE(legend.find("Quillon (solid, circles)"), std::string::npos);
    EXPECT_NE(legend.find("Verrin (dashed, squares)"), std::string::npos);

    // A sparkline on its own scale says its points in words; nothing to draw without a rank.
    const std::string spark = Sparkline(points, 1);
    EXPECT_NE(spark.find("<title>last 3 checks: 1, -, 10 (1 at the top, 10 at the bottom)</title>"),
              std::string::npos);
    EXPECT_NE(spark.find("<path class=\"s1 end\""), std::string::npos);  // ends ranked: a dot
    EXPECT_NE(spark.find("<path class=\"snf\""), std::string::npos);
    EXPECT_EQ(Sparkline({{0, RankStatus::NotFound, {}}}, 0), "");
    EXPECT_EQ(Sparkline({}, 0), "");

    EXPECT_EQ(EpochOf(Day(0)), 1796097600);
    EXPECT_FALSE(EpochOf("yesterday"));
    EXPECT_EQ(NextRoundStep(10), 20);
    EXPECT_EQ(NextRoundStep(20), 50);
    EXPECT_EQ(NextRoundStep(50), 100);
}

TEST_F(HtmlPage, HostileTextIsEscapedEverywhereAndThePageIsSelfContained) {
    const std::string page = Page();
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(FirstUnbalancedTag(page), "");
    // One script, the page's own; nothing fetched: no src, no link out of the page, no style
    // sheet reference, and a policy that forbids any other source.
    EXPECT_EQ(Count(page, "<script"), 1u);
    EXPECT_FALSE(std::regex_search(
        page, std::regex(R"(<link|<img|@import|url\((?!#)|src\s*=)", std::regex::icase)));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(href\s*=\s*"[^#])", std::regex::icase)));
    EXPECT_NE(page.find("content=\"default-src 'none'; style-src 'unsafe-inline'; script-src "
                        "'unsafe-inline'\""),
              std::string::npos);
    // Every link within the page has its target: the banner's 3 sections, the table's 3
    // keywords, the 2 moves, the keyword that could not be checked and the frame of 4 charts.
    const std::regex href(R"re(href="#([^"]+)")re");
    size_t links = 0;
    for (std::sregex_iterator it(page.begin(), page.end(), href), end; it != end; ++it, ++links)
        EXPECT_NE(page.find("id=\"" + (*it)[1].str() + "\""), std::string::npos) << (*it)[1];
    EXPECT_EQ(links, 13u);
    // The hostile texts, escaped (the Latin-1 byte as UTF-8) wherever they appear.
    EXPECT_GE(Count(page, "fresh &lt;script&gt;alert(1)&lt;/script&gt; bread"), 2u);
    EXPECT_GE(Count(page, "caf\xC3\xA9 &quot;quoted&quot; &amp; &#39;single&#39;"), 2u);
    EXPECT_EQ(page.find("caf\xE9"), std::string::npos);
    EXPECT_NE(page.find("/srv/r\xC3\xA9ports &lt;&amp;&gt; &quot;x&quot;"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"url\">www.other.example/&lt;b&gt;&amp;&quot;x&quot;</td>"),
              std::string::npos);
    EXPECT_NE(page.find("www.<wbr>other.<wbr>example/<wbr>&lt;b&gt;&amp;&quot;x&quot;"),
              std::string::npos);  // in the list of what could not be checked
    EXPECT_NE(page.find("<li>https://Rival.example/a?x=1&amp;y=&lt;2&gt;</li>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
}

// The position of each of `marks` in `page`, which must hold them in that order.
void ExpectInOrder(const std::string& page, const V& marks) {
    size_t from = 0;
    for (const std::string& mark : marks) {
        const size_t at = page.find(mark, from);
        ASSERT_NE(at, std::string::npos) << mark << " missing, or not after the one before";
        from = at + mark.size();
    }
}

TEST_F(HtmlPage, PageShowsChecksFiguresCellsChartsAndLists) {
    const std::string page = Page();
    // The overview first, in landmarks: the checks and the summary, the biggest moves, what could
    // not be checked; then the table and the folded keywords.
    ExpectInOrder(page,
                  {"<header class=\"banner\">", "</header>", "<main>", "<h2 id=\"checks-h\">",
                   "<h2 id=\"summary-h\">", "<h2 id=\"moves-h\">Biggest moves</h2>",
                   "<h2 id=\"unchecked-h\">Could not be checked</h2>",
                   "<h2 id=\"ranks-h\">All keywords</h2>", "<h2 id=\"keywords-h\">", "</main>"});
    // Checks: each engine's check with its date and state, and the compared check.
    const std::string dec2 =
        "<time datetime=\"2026-12-02T04:00:00Z\"><span>2026-12-02</span> <span>04:00 "
        "UTC</span></time>";
    const std::string dec3 =
        "<time datetime=\"2026-12-03T04:00:00Z\"><span>2026-12-03</span> <span>04:00 "
        "UTC</span></time>";
    EXPECT_NE(page.find("<td>check 3, " + dec3 +
                        "</td><td class=\"state\">complete with 1 failed "
                        "(1 given up)</td><td>check 2, " +
                        dec2 + "</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>check 5, " + dec3 +
                        "</td><td class=\"state\">stopped after 2 of 3 "
                        "keywords</td><td>check 4,"),
              std::string::npos);
    // Summary rows: Quillon, then Verrin; every header cell says what it heads.
    EXPECT_NE(page.find("<tr><th scope=\"row\">URLs in the top 3</th><td>2</td><td>0</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><th scope=\"row\">New</th><td>2</td><td>0</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><th scope=\"row\">Could not be checked</th><td>2</td><td>0</td></tr>"),
              std::string::npos);
    EXPECT_FALSE(
        std::regex_search(page, std::regex("<th(?=[ >])(?![^>]*scope=\"(row|col)\")[^>]*>")));
    EXPECT_EQ(page.find("<th scope=\"col\"></th>"), std::string::npos);
    // Biggest moves: the rise on Quillon, the drop on Verrin, each with its sparkline.
    const std::string moves =
        page.substr(page.find("<h2 id=\"moves-h\">"),
                    page.find("<h2 id=\"unchecked-h\">") - page.find("<h2 id=\"moves-h\">"));
    ExpectInOrder(moves, {"<h3>Rises</h3>", "fresh &lt;script&gt;", "mine.<wbr>example", "Quillon",
                          "3<span class=\"chg up\">\u25B22</span><svg class=\"spark\"",
                          "<td class=\"before\">5</td>", "<h3>Drops</h3>", "Verrin",
                          "10<span class=\"chg down\">\u25BC2</span><svg class=\"spark\"",
                          "<td class=\"before\">8</td>"});
    // Could not be checked: the given-up keyword with each URL's last trusted rank (never a
    // drop), and the keyword a stopped check did not reach.
    const std::string unchecked =
        page.substr(page.find("<h2 id=\"unchecked-h\">"),
                    page.find("<h2 id=\"ranks-h\">") - page.find("<h2 id=\"unchecked-h\">"));
    ExpectInOrder(unchecked,
                  {"<th scope=\"row\" class=\"kw\"><a href=\"#kw-3\">rye</a></th>",
                   "<td>Quillon</td><td class=\"rank err\">error</td>",
                   "<td>the engine gave it up after 3 of 30 positions</td>",
                   "mine.<wbr>example: 4 on 2026-12-02 (check 2)", ": - on 2026-12-02 (check 2)",
                   "Verrin: 1 keyword not searched by check 5: <span class=\"kwname\">rye</span>"});
    EXPECT_EQ(Count(unchecked, "<tr>"), 2u);  // the heading and rye on Quillon
    // Cells: band, position, change, sparkline of the last checks; the keyword heads its rows.
    EXPECT_NE(page.find("<tbody data-bands=\"b1 b2 nf\" data-rise=\"2\" data-drop=\"2\">\n<tr><th "
                        "scope=\"row\" class=\"kw\" rowspan=\"2\"><a href=\"#kw-1\">fresh &lt;"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"rank b1\">3<span class=\"chg up\">\u25B22</span><svg "
                        "class=\"spark\""),
              std::string::npos);
    EXPECT_NE(page.find("<title>last 3 checks: 7, 5, 3 (1 at the top, 10 at the bottom)</title>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"rank b2\">10<span class=\"chg down\">\u25BC2</span>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"rank b1\">2<span class=\"chg new\">new</span>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"rank err\">error (last 4 on 2026-12-02)"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"rank ns\">not searched</td>"), std::string::npos);
    // Per keyword, folded: a trend chart per URL any check ranked, both engines in it where both
    // searched; words for the URLs never ranked.
    EXPECT_EQ(Count(page, "<details class=\"keyword\" id=\"kw-"), 3u);
    EXPECT_EQ(Count(page,
                    "<details class=\"keyword\" id=\"kw-1\">\n<summary><span class=\"kwname\">"
                    "fresh &lt;script&gt;alert(1)&lt;/script&gt; bread</span> <span "
                    "class=\"brief\">Quillon 3 \u00b7 Verrin 10</span></summary>"),
              1u);
    EXPECT_EQ(Count(page, "<svg class=\"trend\""), 4u);
    EXPECT_EQ(Count(page, "Not among the positions examined in any check shown."), 2u);
    EXPECT_NE(page.find("<desc>Quillon: 12-01 7 12-02 5 12-03 3; Verrin: 12-01 8 12-03 10</desc>"),
              std::string::npos);
    EXPECT_NE(page.find("<desc>Quillon: 12-01 5 12-02 4 12-03 error; Verrin: 12-01 - 12-03 not "
                        "searched</desc>"),
              std::string::npos);
    // Top lists: the user's links marked, the competitors, the lists that are missing.
    EXPECT_EQ(Count(page, "<ol class=\"top10\">"), 5u);
    EXPECT_EQ(Count(page, "<li class=\"mine\">"), 4u);  // 3 and 9 in Quillon's kScript, 2 in
                                                        // kQuoted, 10 in Verrin's kScript
    EXPECT_NE(page.find("Sites above your best URL, mine.example at position 3:</p>\n"
                        "<ol class=\"competitors\"><li value=\"1\">rival.example</li></ol>"),
              std::string::npos);
    EXPECT_NE(page.find("None of your URLs was found among the 30 positions examined; every site "
                        "there ranks above them:</p>\n<ol class=\"competitors\">"),
              std::string::npos);
    EXPECT_NE(page.find("<p class=\"more\">and 9 more sites</p>"), std::string::npos);
    EXPECT_NE(page.find("No result list: the check did not search this keyword.</p>\n</div>"),
              std::string::npos);  // and nothing said of the user's URLs
}

// The page of 12 daily checks of 500 keywords and 3 URLs: under 3 MB, the overview
// before the table, every keyword's charts and lists folded, the biggest moves in order of size.
TEST(HtmlPageOf500Keywords, StaysSmallFoldsItsKeywordsAndOrdersTheMovesBySize) {
    BigProject project;
    const std::string page = project.Page();
    EXPECT_LE(page.size(), 3'000'000u);
    EXPECT_GT(page.size(), 500'000u);  // it does hold the charts and lists
    EXPECT_EQ(FirstUnbalancedTag(page), "");

    const size_t folded = page.find("<section class=\"keywords\"");
    ASSERT_NE(folded, std::string::npos);
    EXPECT_LT(page.find("<h2 id=\"moves-h\">"), page.find("<table class=\"ranks\">"));
    EXPECT_EQ(Count(page, "<details class=\"keyword\" id=\"kw-"), 500u);
    EXPECT_EQ(Count(page, "<details class=\"keyword\" id=\"kw-1\" open"), 0u);
    EXPECT_EQ(Count(page, "</details>"), 500u);
    EXPECT_EQ(page.substr(0, folded).find("<svg class=\"trend\""), std::string::npos);
    EXPECT_EQ(page.substr(0, folded).find("<ol class=\"top10\">"), std::string::npos);
    EXPECT_EQ(Count(page, "<ol class=\"top10\">"), 500u - 2);  // but the two that failed
    // Each chart inside its keyword's folded section.
    EXPECT_FALSE(
        std::regex_search(page.substr(folded), std::regex("</details>\n(?!<details|</section>)")));

    // The moves shown are the largest of all, in order of size, each with its sparkline.
    const RankView view = RankView::Build(project.Ledger(), {});
    std::vector<int> rises, drops;
    for (const RankView::Row& row : view.Rows())
        for (const auto& cell : row.cells)
            if (cell && cell->previousStatus == RankStatus::Ranked && cell->rank &&
                cell->previousRank && *cell->previousRank != *cell->rank)
                (*cell->previousRank > *cell->rank ? rises : drops)
                    .push_back(std::abs(*cell->previousRank - *cell->rank));
    std::sort(rises.rbegin(), rises.rend());
    std::sort(drops.rbegin(), drops.rend());
    ASSERT_GE(rises.size(), kMovesShown);
    ASSERT_GE(drops.size(), kMovesShown);
    rises.resize(kMovesShown);
    drops.resize(kMovesShown);
    const size_t rise = page.find("<h3>Rises</h3>"), drop = page.find("<h3>Drops</h3>");
    const size_t end = page.find("<h2 id=\"unchecked-h\">");
    std::vector<int> shownRises, shownDrops;
    const std::regex mark(
        "<span class=\"chg (up|down)\">(\u25B2|\u25BC)(\\d+)</span><svg class=\"spark\"");
    for (auto [from, to, into] : {std::tuple{rise, drop, &shownRises}, {drop, end, &shownDrops}}) {
        const std::string part = page.substr(from, to - from);
        for (std::sregex_iterator it(part.begin(), part.end(), mark), last; it != last; ++it)
            into->push_back(std::stoi((*it)[3]));
    }
    EXPECT_EQ(shownRises, rises);
    EXPECT_EQ(shownDrops, drops);
    EXPECT_EQ(shownRises.front(), 23);  // keyword 22, from 30 to 7
    EXPECT_EQ(shownDrops.front(), 24);  // keyword 23, from 5 to 29

    // The two keywords that failed on the last day, on each engine, with their last rank.
    const std::string unchecked = page.substr(end, page.find("<h2 id=\"ranks-h\">") - end);
    EXPECT_EQ(Count(unchecked,
                    "<td class=\"rank err\">error</td><td>the engine gave it up after 0 of 30 "
                    "positions</td>"),
              1u);
    EXPECT_EQ(Count(unchecked, "<td class=\"rank err\">suspect</td><td>no results on page 1</td>"),
              1u);
    // Their lists say there was nothing, never "none of your URLs among the 0 positions".
    EXPECT_EQ(page.find("among the 0 positions"), std::string::npos);
}

TEST(HtmlPageWithoutChecks, SaysSoAndStaysWellFormed) {
    testsupport::ScratchDir dir;
    ledger::Ledger empty("rankcheck.db");
    const RankView view = RankView::Build(empty, {});
    const ReportHistory history = ReportHistory::Build(empty, view);
    EXPECT_EQ(history.AxisTop(), 10);
    EXPECT_TRUE(history.Timeline().empty());
    std::ostringstream out;
    WriteHtml(view, history, out, "/f");
    const std::string page = out.str();
    EXPECT_EQ(FirstUnbalancedTag(page), "");
    EXPECT_EQ(Count(page, "<td colspan=\"3\">no check yet</td>"), 2u);
    EXPECT_EQ(page.find("<section class=\"keywords\""), std::string::npos);
    EXPECT_NE(page.find("Nothing to compare with yet"), std::string::npos);
}

}  // namespace
