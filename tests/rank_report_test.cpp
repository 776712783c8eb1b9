// The rank report without processes: the matching rule, best positions, error marker lines,
// --top, reading a job folder, and what each format makes of the cells.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/html_report.h"
#include "host/rank_report.h"
#include "host/report_formats.h"
#include "tests/test_support.h"

namespace {

using namespace rankcheck;
using testsupport::WriteLines;
using Status = RankCell::Status;
using V = std::vector<std::string>;

TEST(BestPosition, FirstMatchAndMarkerLinesAreNotPositions) {
    const KeywordResults results(
        V{"a.example", "mine.example/x", "b.example", "2#Error found#", "mine.example/y"});
    EXPECT_TRUE(results.Searched());
    EXPECT_EQ(results.Links().size(), 4u);
    EXPECT_TRUE(results.GaveUp());
    EXPECT_EQ(results.PositionsBeforeGiveUp(), 3);

    // The first of two matching links counts.
    RankCell cell = results.Best("mine.example", false, 0);
    EXPECT_EQ(cell.status, Status::Found);
    EXPECT_EQ(cell.position, 2);
    // A link after the marker is position 4, not 5.
    cell = results.Best("mine.example/y", true, 0);
    EXPECT_EQ(cell.status, Status::Found);
    EXPECT_EQ(cell.position, 4);
    // Not found in a keyword that was given up: the give-up is why.
    EXPECT_EQ(results.Best("other.example", false, 0).status, Status::GivenUp);
}

TEST(BestPosition, NotFoundAndNotSearched) {
    EXPECT_EQ(KeywordResults(V{"a.example", "b.example"}).Best("c.example", false, 0).status,
              Status::NotFound);
    // An empty result file: searched, nothing found.
    EXPECT_EQ(KeywordResults(V{}).Best("c.example", false, 0).status, Status::NotFound);
    EXPECT_EQ(KeywordResults().Best("c.example", false, 0).status, Status::NotSearched);
}

TEST(BestPosition, TopCountsLaterPositionsAsNotFound) {
    V links;
    for (int i = 1; i <= 30; ++i)
        links.push_back("site" + std::to_string(i) + ".example");
    const KeywordResults full(links);
    EXPECT_EQ(full.Best("site15.example", true, 20).position, 15);
    EXPECT_EQ(full.Best("site20.example", true, 20).position, 20);
    EXPECT_EQ(full.Best("site21.example", true, 20).status, Status::NotFound);
    // A substring match just past the limit does not count either.
    EXPECT_EQ(KeywordResults(V{"x.example", "mine.example"}).Best("mine", false, 1).status,
              Status::NotFound);

    // Given up after 30 positions: with --top 20 every position looked at was there, so the
    // URL is simply not found; given up after 5 positions, the give-up is still the reason.
    V gaveUpLate = links;
    gaveUpLate.push_back("4#Error found#");
    EXPECT_EQ(KeywordResults(gaveUpLate).Best("elsewhere", false, 20).status, Status::NotFound);
    EXPECT_EQ(KeywordResults(gaveUpLate).Best("elsewhere", false, 0).status, Status::GivenUp);
    V gaveUpEarly(links.begin(), links.begin() + 5);
    gaveUpEarly.push_back("1#Error found#");
    EXPECT_EQ(KeywordResults(gaveUpEarly).Best("elsewhere", false, 20).status, Status::GivenUp);
}

TEST(RankCellText, TheWordsEveryFormatShows) {
    EXPECT_EQ((RankCell{Status::Found, 7}).Text(), "7");
    EXPECT_EQ((RankCell{Status::NotFound, 0}).Text(), "-");
    EXPECT_EQ((RankCell{Status::GivenUp, 0}).Text(), "error");
    EXPECT_EQ((RankCell{Status::NotSearched, 0}).Text(), "not searched");
}

class ReportFolder : public ::testing::Test {
  protected:
    testsupport::ScratchDir dir_;
};

TEST_F(ReportFolder, LoadsKeywordsNormalisedUrlsAndResultFiles) {
    WriteLines("keywords.lst", {"red shoes", "blue", "green"});
    WriteLines("urls.lst", {"  http://www.mine.example/  ", "HTTP://Other.example/a/"});
    WriteLines("Quillon-0.urls", {"x.example", "www.mine.example/shop"});
    WriteLines("Quillon-1.urls", {"1#Error found#"});
    WriteLines("Verrin-0.urls", {"http://www.other.example/a", "http://www.mine.example"});
    const RankReport report = RankReport::Load(".", ReportOptions{});

    EXPECT_EQ(report.Keywords(), (V{"red shoes", "blue", "green"}));
    // Blanks, one trailing slash and a lower-case "http://" go; "HTTP://" stays.
    EXPECT_EQ(report.Urls(), (V{"www.mine.example", "HTTP://Other.example/a"}));

    EXPECT_EQ(report.Cell(0, 0, 0).position, 2);
    EXPECT_EQ(report.Cell(0, 0, 1).position, 2);
    EXPECT_EQ(report.Cell(0, 1, 0).status, Status::NotFound);
    EXPECT_EQ(report.Cell(0, 1, 1).status, Status::NotFound);  // "HTTP://" is not in the link
    EXPECT_EQ(report.Cell(1, 0, 0).status, Status::GivenUp);
    EXPECT_EQ(report.Cell(1, 0, 1).status, Status::NotSearched);
    EXPECT_EQ(report.Cell(2, 0, 0).status, Status::NotSearched);
}

TEST_F(ReportFolder, ExactMatchAndTopFromTheOptions) {
    WriteLines("keywords.lst", {"kw"});
    WriteLines("urls.lst", {"mine.example"});
    WriteLines("Quillon-0.urls", {"www.mine.example", "a.example", "mine.example"});
    ReportOptions options;
    options.engines = {"Quillon"};
    EXPECT_EQ(RankReport::Load(".", options).Cell(0, 0, 0).position, 1);
    options.exactMatch = true;
    EXPECT_EQ(RankReport::Load(".", options).Cell(0, 0, 0).position, 3);
    options.top = 2;
    EXPECT_EQ(RankReport::Load(".", options).Cell(0, 0, 0).status, Status::NotFound);
}

TEST_F(ReportFolder, UnreadableInputsNameTheFileAndLine) {
    auto message = [](const ReportOptions& options = {}) {
        try {
            RankReport::Load(".", options);
        } catch (const ReportError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    WriteLines("urls.lst", {"mine.example"});
    EXPECT_NE(message().find("keywords.lst"), std::string::npos) << message();
    WriteLines("keywords.lst", {"kw"});
    WriteLines("urls.lst", {"mine.example", "   ", "other.example"});
    EXPECT_NE(message().find("urls.lst line 2 is empty or blank"), std::string::npos) << message();
    std::remove("urls.lst");
    EXPECT_NE(message().find("urls.lst"), std::string::npos) << message();
    EXPECT_THROW(RankReport::Load("no-such-folder", {}), ReportError);
}

// A report of two keywords, two URLs and two engines covering every kind of cell.
RankReport SampleReport() {
    std::vector<std::vector<KeywordResults>> results(2);                   // [engine][keyword]
    results[0].emplace_back(V{"a.example", "b.example", "mine.example"});  // Quillon: mine 3
    results[0].emplace_back(V{"1#Error found#"});                          // Quillon: given up
    results[1].emplace_back(V{"other.example/x"});                         // Verrin: other 1
    results[1].emplace_back();                                             // not searched
    return RankReport({"fresh, \"hot\" bread", "caf\xE9 <b>&"}, {"mine.example", "other.example"},
                      std::move(results), ReportOptions{});
}

TEST(ReportFormats, CsvQuotesFieldsAndHoldsEveryCell) {
    std::ostringstream out;
    WriteCsv(SampleReport(), out);
    EXPECT_EQ(out.str(),
              "keyword,url,Quillon,Verrin\r\n"
              "\"fresh, \"\"hot\"\" bread\",mine.example,3,-\r\n"
              "\"fresh, \"\"hot\"\" bread\",other.example,-,1\r\n"
              "caf\xC3\xA9 <b>&,mine.example,error,not searched\r\n"
              "caf\xC3\xA9 <b>&,other.example,error,not searched\r\n");
}

TEST(ReportFormats, JsonStatusesPositionsAndWhatWasExamined) {
    std::ostringstream out;
    WriteJson(SampleReport(), out);
    const auto doc = nlohmann::json::parse(out.str());
    EXPECT_EQ(doc["engines"], nlohmann::json::array({"Quillon", "Verrin"}));
    EXPECT_TRUE(doc["top"].is_null());
    const auto& first = doc["keywords"][0];
    EXPECT_EQ(first["keyword"], "fresh, \"hot\" bread");
    EXPECT_EQ(first["engines"]["Quillon"]["positionsExamined"], 3);
    EXPECT_EQ(first["engines"]["Verrin"]["gaveUp"], false);
    EXPECT_EQ(first["ranks"][0]["url"], "mine.example");
    EXPECT_EQ(first["ranks"][0]["Quillon"]["status"], "found");
    EXPECT_EQ(first["ranks"][0]["Quillon"]["position"], 3);
    EXPECT_EQ(first["ranks"][1]["Quillon"]["status"], "notFound");
    EXPECT_FALSE(first["ranks"][1]["Quillon"].contains("position"));
    const auto& second = doc["keywords"][1];
    EXPECT_EQ(second["keyword"], "caf\xC3\xA9 <b>&");  // Windows-1252 text comes out as UTF-8
    EXPECT_EQ(second["engines"]["Quillon"]["gaveUp"], true);
    EXPECT_EQ(second["ranks"][0]["Quillon"]["status"], "error");
    EXPECT_EQ(second["ranks"][0]["Verrin"]["status"], "notSearched");
}

TEST(ReportFormats, TableColumnsLineUp) {
    std::ostringstream out;
    WriteTable(SampleReport(), out);
    std::istringstream lines(out.str());
    std::string header, rule, row;
    std::getline(lines, header);
    std::getline(lines, rule);
    const size_t quillonColumn = header.find("Quillon");
    ASSERT_NE(quillonColumn, std::string::npos);
    EXPECT_EQ(rule[quillonColumn], '-');
    EXPECT_EQ(rule[quillonColumn - 1], ' ');
    // Every row's cell starts under its heading (counting characters, not UTF-8 bytes).
    std::vector<std::string> quillonCells;
    while (std::getline(lines, row) && !row.empty()) {
        size_t chars = 0, at = 0;
        for (; at < row.size() && chars < quillonColumn; ++at) {
            if ((static_cast<unsigned char>(row[at]) & 0xC0) != 0x80) ++chars;
        }
        while (at < row.size() && (static_cast<unsigned char>(row[at]) & 0xC0) == 0x80)
            ++at;
        quillonCells.push_back(row.substr(at, row.find(' ', at) - at));
    }
    EXPECT_EQ(quillonCells, (V{"3", "-", "error", "error"}));
    EXPECT_NE(out.str().find("not searched"), std::string::npos);
}

TEST(HtmlReport, BandsAtTheirBoundaries) {
    auto band = [](int position) { return std::string(RankBand({Status::Found, position})); };
    EXPECT_EQ(band(1), "b1");
    EXPECT_EQ(band(3), "b1");
    EXPECT_EQ(band(4), "b2");
    EXPECT_EQ(band(10), "b2");
    EXPECT_EQ(band(11), "b3");
    EXPECT_EQ(band(20), "b3");
    EXPECT_EQ(band(21), "b4");
    EXPECT_EQ(band(50), "b4");
    EXPECT_EQ(band(51), "b5");
    EXPECT_EQ(std::string(RankBand({Status::NotFound, 0})), "nf");
    EXPECT_EQ(std::string(RankBand({Status::GivenUp, 0})), "err");
    EXPECT_EQ(std::string(RankBand({Status::NotSearched, 0})), "ns");
}

TEST(HtmlReport, SelfContainedEscapedAndColoured) {
    std::ostringstream out;
    WriteHtml(SampleReport(), out, "/tmp/job <1>");
    const std::string html = out.str();
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    // Nothing is fetched from elsewhere.
    EXPECT_FALSE(std::regex_search(html, std::regex(R"((src|href)\s*=)", std::regex::icase)));
    EXPECT_FALSE(
        std::regex_search(html, std::regex(R"(<link|<script|@import|url\()", std::regex::icase)));
    // User text is escaped, never markup.
    EXPECT_EQ(html.find("<b>&"), std::string::npos);
    EXPECT_NE(html.find("caf\xC3\xA9 &lt;b&gt;&amp;"), std::string::npos);
    EXPECT_NE(html.find("/tmp/job &lt;1&gt;"), std::string::npos);
    // The cells carry their bands; one chart per URL.
    EXPECT_NE(html.find("<td class=\"rank b1\">3</td>"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"rank err\">error</td>"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"rank ns\">not searched</td>"), std::string::npos);
    size_t charts = 0;
    for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1))
        ++charts;
    EXPECT_EQ(charts, 2u);
}

}  // namespace
