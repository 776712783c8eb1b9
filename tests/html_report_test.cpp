// The HTML report's page builder on a ledger of three days: the history behind the charts, the
// summary figures, the check states, the sparklines and trend charts, the top 10 and the
// competitors, and a page that stays self-contained and well formed whatever the keywords, URLs
// and links hold.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

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
    static const std::set<std::string> kVoid{"meta", "wbr", "br", "img", "hr", "!doctype"};
    std::vector<std::string> open;
    const std::regex tag(R"(<(/?)([!a-zA-Z][a-zA-Z0-9]*)[^>]*?(/?)>)");
    const std::string body =
        html.substr(0, html.find("<style>")) + html.substr(html.find("</style>") + 8);
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
    request.check = 2;
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
    EXPECT_EQ(q.top3, 2);    // kScript 3, kQuoted 2
    EXPECT_EQ(q.top10, 3);   // and the other URL at 9
    EXPECT_EQ(q.top100, 3);
    EXPECT_EQ(q.improved, 1);  // kScript 5 -> 3
    EXPECT_EQ(q.fresh, 2);     // the other URL at 9, kQuoted at 2
    EXPECT_EQ(q.declined, 0);
    EXPECT_EQ(q.lost, 0);
    EXPECT_EQ(v.keywords, 3);
    EXPECT_EQ(v.declined, 1);  // 8 -> 10
    EXPECT_EQ(v.top10, 1);

    EXPECT_EQ(CheckStateText(*view.Engines()[0].check),
              "partial (1 of 3 keywords given up or cut short)");
    EXPECT_EQ(CheckStateText(*view.Engines()[1].check), "stopped (2 of 3 keywords searched)");
    EXPECT_EQ(CheckStateText(Ledger().Check(1)), "complete");
}

TEST_F(HtmlPage, ChartsDrawPositionOneAtTheTopWithGapsWhereNotRanked) {
    using P = ReportHistory::Point;
    const std::vector<ledger::CheckInfo> checks{Ledger().Check(1), Ledger().Check(2),
                                                Ledger().Check(3)};
    const std::vector<P> points{{0, RankStatus::Ranked, 1}, {1, RankStatus::NotFound, {}},
                                {2, RankStatus::Ranked, 10}};
    const std::string chart =
        TrendChart("a <b>", {{"Quillon", 0, &points, &checks}}, {Day(0), Day(1), Day(2)}, 20);
    EXPECT_NE(chart.find("<title>a &lt;b&gt;</title>"), std::string::npos);
    EXPECT_NE(chart.find("<desc>Quillon: 12-01 1 12-02 - 12-03 10</desc>"), std::string::npos);
    // The line breaks at the check that did not find it: two moves, no line drawn.
    std::smatch path;
    ASSERT_TRUE(std::regex_search(chart, path, std::regex(R"re(<path d="([^"]*)" fill="none")re")));
    EXPECT_EQ(Count(path[1], "M"), 2u);
    EXPECT_EQ(Count(path[1], "L"), 0u);
    // Markers: rank 1 above rank 10; the first check at the left, the last at the right.
    std::vector<std::pair<double, double>> marks;
    const std::regex circle(R"re(<circle cx="([0-9.]+)" cy="([0-9.]+)" r="3.9" fill="#)re");
    for (std::sregex_iterator it(chart.begin(), chart.end(), circle), end; it != end; ++it)
        marks.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_LT(marks[0].second, marks[1].second);
    EXPECT_LT(marks[0].first, marks[1].first);
    // The not-found check is a hollow marker in the strip, below every position.
    std::smatch hollow;
    ASSERT_TRUE(std::regex_search(chart, hollow,
                                  std::regex(R"re(<circle cx="[0-9.]+" cy="([0-9.]+)" r="3.3" fill="#fff")re")));
    EXPECT_GT(std::stod(hollow[1]), marks[1].second);
    // The position axis ends at the page's scale.
    EXPECT_NE(chart.find("text-anchor=\"end\">20</text>"), std::string::npos);
    EXPECT_EQ(chart.find(">30</text>"), std::string::npos);

    // Engines differ in more than colour.
    EXPECT_STRNE(StyleOf(0).marker, StyleOf(1).marker);
    EXPECT_STRNE(StyleOf(0).dash, StyleOf(1).dash);
    const std::string legend = EngineLegend({"Quillon", "Verrin"});
    EXPECT_NE(legend.find("Quillon (solid, circles)"), std::string::npos);
    EXPECT_NE(legend.find("Verrin (dashed, squares)"), std::string::npos);

    // A sparkline on its own scale says its points in words; nothing to draw without a rank.
    const std::string spark = Sparkline(points, 1);
    EXPECT_NE(spark.find("<title>last 3 checks: 1, -, 10 (1 at the top, 10 at the bottom)</title>"),
              std::string::npos);
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
    // No script, nothing fetched: no src, no link out of the page, no style sheet reference.
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(<script|<link|<img|@import|url\(|src\s*=)",
                                                    std::regex::icase)));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(href\s*=\s*"[^#])", std::regex::icase)));
    // Every link within the page has its target.
    const std::regex href(R"re(href="#([^"]+)")re");
    size_t links = 0;
    for (std::sregex_iterator it(page.begin(), page.end(), href), end; it != end; ++it, ++links)
        EXPECT_NE(page.find("id=\"" + (*it)[1].str() + "\""), std::string::npos) << (*it)[1];
    EXPECT_EQ(links, 3u);
    // The hostile texts, escaped (the Latin-1 byte as UTF-8) wherever they appear.
    EXPECT_GE(Count(page, "fresh &lt;script&gt;alert(1)&lt;/script&gt; bread"), 2u);
    EXPECT_GE(Count(page, "caf\xC3\xA9 &quot;quoted&quot; &amp; &#39;single&#39;"), 2u);
    EXPECT_EQ(page.find("caf\xE9"), std::string::npos);
    EXPECT_NE(page.find("/srv/r\xC3\xA9ports &lt;&amp;&gt; &quot;x&quot;"), std::string::npos);
    EXPECT_NE(page.find("www.<wbr>other.<wbr>example/<wbr>&lt;b&gt;&amp;&quot;x&quot;"),
              std::string::npos);
    EXPECT_NE(page.find("https:/<wbr>/<wbr>Rival.<wbr>example/<wbr>a?<wbr>x=1&amp;y=&lt;2&gt;"),
              std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
}

TEST_F(HtmlPage, PageShowsChecksFiguresCellsChartsAndLists) {
    const std::string page = Page();
    // Header: each engine's check with its date and state, and the compared check.
    const std::string dec2 =
        "<time datetime=\"2026-12-02T04:00:00Z\"><span>2026-12-02</span> <span>04:00 UTC</span></time>";
    const std::string dec3 =
        "<time datetime=\"2026-12-03T04:00:00Z\"><span>2026-12-03</span> <span>04:00 UTC</span></time>";
    EXPECT_NE(page.find("<td>check 3, " + dec3 + "</td><td class=\"state\">partial (1 of 3 keywords "
                        "given up or cut short)</td><td>check 2, " + dec2 + "</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>check 5, " + dec3 + "</td><td class=\"state\">stopped (2 of 3 keywords "
                        "searched)</td><td>check 4,"),
              std::string::npos);
    // Summary rows: Quillon, then Verrin.
    EXPECT_NE(page.find("<tr><th scope=\"row\">URLs in the top 3</th><td>2</td><td>0</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><th scope=\"row\">New</th><td>2</td><td>0</td></tr>"),
              std::string::npos);
    // Cells: band, position, change, sparkline of the last checks.
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
    // Per keyword and URL a trend chart, both engines in it where both searched.
    EXPECT_EQ(Count(page, "<svg class=\"trend\""), 6u);
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
    EXPECT_NE(page.find("<p class=\"more\">and 9 more sites</p>"), std::string::npos);
    EXPECT_NE(page.find("No result list: the check did not search this keyword."),
              std::string::npos);
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
    EXPECT_EQ(page.find("<section class=\"keywords\">"), std::string::npos);
}

}  // namespace
