#include "host/report/html/html_sections.h"

#include <climits>
#include <map>
#include <set>
#include <vector>

#include "host/report/html/html_text.h"
#include "host/report/html/svg_charts.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;

// The most competitors a keyword lists per engine; the rest are counted.
constexpr size_t kMaxCompetitors = 20;

// A check's start as "<date> <hour> UTC" that may wrap between the date and the hour, never
// inside either; the element carries the full UTC time for machines.
std::string TimeHtml(const std::string& iso) {
    const std::string shown = ShortTime(iso);
    const size_t space = shown.find(' ');
    if (space == std::string::npos) return "<time><span>" + HtmlEscape(shown) + "</span></time>";
    return "<time datetime=\"" + HtmlEscape(iso) + "\"><span>" +
           HtmlEscape(shown.substr(0, space)) + "</span> <span>" +
           HtmlEscape(shown.substr(space + 1)) + "</span></time>";
}

int MaxResults(const RankView::Engine& engine) {
    return engine.check ? engine.check->options.maxResults : 0;
}

// The keywords of the view in row order, each with its rows.
std::vector<std::pair<std::string, std::vector<const RankView::Row*>>> Keywords(
    const RankView& view) {
    std::vector<std::pair<std::string, std::vector<const RankView::Row*>>> keywords;
    for (const RankView::Row& row : view.Rows()) {
        if (keywords.empty() || keywords.back().first != row.keyword)
            keywords.push_back({row.keyword, {}});
        keywords.back().second.push_back(&row);
    }
    return keywords;
}

const char* ChangeClass(const std::string& change) {
    if (change == "new") return "new";
    if (change == "lost") return "lost";
    if (change == "0") return "same";
    return change[0] == '-' ? "down" : "up";
}

// "Above your best URL ..." and the list of sites, for one engine's top list.
void WriteCompetitors(const ReportHistory::TopList& top, std::ostream& out) {
    if (top.best && *top.best == 1) {
        out << "<p class=\"above\">Your URL " << HtmlText(top.bestUrl)
            << " is first: no site ranks above it.</p>\n";
        return;
    }
    if (top.best) {
        out << "<p class=\"above\">Sites above your best URL, " << HtmlText(top.bestUrl)
            << " at position " << *top.best << ":</p>\n";
    } else {
        out << "<p class=\"above\">None of your URLs among the " << top.positionsExamined
            << " positions examined; every site there ranks above them:</p>\n";
    }
    if (top.above.empty()) return;
    out << "<ol class=\"competitors\">";
    for (size_t i = 0; i < top.above.size() && i < kMaxCompetitors; ++i)
        out << "<li value=\"" << top.above[i].position << "\">" << HtmlText(top.above[i].site)
            << "</li>";
    out << "</ol>\n";
    if (top.above.size() > kMaxCompetitors)
        out << "<p class=\"more\">and " << top.above.size() - kMaxCompetitors
            << " more sites</p>\n";
}

void WriteTopList(const RankView::Engine& engine, const ReportHistory::TopList& top,
                  std::ostream& out) {
    out << "<div class=\"toplist\">\n<h4>" << HtmlEscape(engine.name) << ": top "
        << ReportHistory::kTopLinks << " <span class=\"when\">check " << top.check;
    if (engine.check) out << ", " << HtmlEscape(ShortTime(engine.check->startedAt));
    out << "</span></h4>\n";
    if (top.links.empty()) {
        out << "<p class=\"none\">No result list: "
            << (top.state == ledger::KeywordState::NotReached
                    ? "the check did not search this keyword"
                : top.state == ledger::KeywordState::GivenUp ? "the engine gave the keyword up"
                                                             : "no links")
            << ".</p>\n";
    } else {
        out << "<ol class=\"top10\">";
        for (size_t i = 0; i < top.links.size(); ++i) {
            out << "<li" << (top.mine[i] ? " class=\"mine\"" : "") << "><span class=\"link\">"
                << HtmlUrl(top.links[i]) << "</span>";
            if (top.mine[i]) out << " <strong class=\"yours\">your URL</strong>";
            out << "</li>";
        }
        out << "</ol>\n";
    }
    WriteCompetitors(top, out);
    out << "</div>\n";
}

}  // namespace

const char* RankBand(const std::optional<ledger::ReportRow>& cell) {
    if (!cell) return "ns";
    switch (cell->status) {
        case RankStatus::Ranked:
        {
            const int rank = cell->rank.value_or(INT_MAX);
            return rank <= 3 ? "b1" : rank <= 10 ? "b2" : rank <= 20 ? "b3" : rank <= 50 ? "b4" : "b5";
        }
        case RankStatus::NotFound:
            return "nf";
        case RankStatus::Beyond:
        case RankStatus::Partial:
            return "pa";
        case RankStatus::Suspect:
        case RankStatus::Error:
            return "err";
        case RankStatus::NotSearched:
            break;
    }
    return "ns";
}

std::string CheckStateText(const ledger::CheckInfo& check) {
    const int cutShort = check.keywordsGivenUp + check.keywordsPartial;
    if (check.state == ledger::CheckState::Complete) {
        if (cutShort == 0) return "complete";
        return "partial (" + std::to_string(cutShort) + " of " +
               std::to_string(check.keywordsTotal) + " keywords given up or cut short)";
    }
    const int reached = check.keywordsDone + cutShort;
    return std::string(ledger::Name(check.state)) + " (" + std::to_string(reached) + " of " +
           std::to_string(check.keywordsTotal) + " keywords searched)";
}

EngineSummary Summarise(const RankView& view, size_t engine) {
    EngineSummary summary;
    std::set<std::string> keywords;
    for (const RankView::Row& row : view.Rows()) {
        const auto& cell = row.cells.at(engine);
        if (!cell) continue;
        keywords.insert(row.keyword);
        if (cell->status == RankStatus::Ranked && cell->rank) {
            summary.top3 += *cell->rank <= 3;
            summary.top10 += *cell->rank <= 10;
            summary.top100 += *cell->rank <= 100;
        }
        const std::string& change = cell->change;
        if (change == "new") {
            ++summary.fresh;
        } else if (change == "lost") {
            ++summary.lost;
        } else if (!change.empty() && change != "0") {
            ++(change[0] == '-' ? summary.declined : summary.improved);
        }
    }
    summary.keywords = static_cast<int>(keywords.size());
    return summary;
}

std::string KeywordAnchor(size_t ordinal) {
    return "kw-" + std::to_string(ordinal + 1);
}

void WriteHeaderSection(const RankView& view, const std::string& folder, std::ostream& out) {
    const RankViewRequest& request = view.Request();
    out << "<header>\n<h1>Rank report</h1>\n<p class=\"meta\"><span class=\"folder\">"
        << HtmlEscape(folder) << "</span> &middot; "
        << (request.exactMatch ? "whole-link match" : "URL inside the link") << ", ignoring case";
    if (request.top > 0) out << " &middot; positions up to " << request.top;
    out << "</p>\n<table class=\"checks\">\n<thead><tr><th>Engine</th><th>Check shown</th>"
           "<th>State</th><th>Compared with</th></tr></thead>\n<tbody>\n";
    for (const RankView::Engine& engine : view.Engines()) {
        out << "<tr><th scope=\"row\">" << HtmlEscape(engine.name) << "</th>";
        if (!engine.check) {
            out << "<td colspan=\"3\">no check yet</td></tr>\n";
            continue;
        }
        const ledger::CheckInfo& check = *engine.check;
        out << "<td>check " << check.id << ", " << TimeHtml(check.startedAt);
        if (check.imported) out << " (imported from the result files)";
        out << "</td><td class=\"state\">" << HtmlEscape(CheckStateText(check)) << "</td><td>";
        if (engine.compared) {
            out << "check " << engine.compared->id << ", " << TimeHtml(engine.compared->startedAt);
        } else {
            out << "nothing to compare with (no earlier complete check)";
        }
        out << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n</header>\n";
}

void WriteSummarySection(const RankView& view, std::ostream& out) {
    std::vector<EngineSummary> summaries;
    for (size_t e = 0; e < view.Engines().size(); ++e)
        summaries.push_back(Summarise(view, e));
    out << "<section class=\"summary\">\n<h2>Summary</h2>\n<table class=\"figures\">\n"
           "<thead><tr><th></th>";
    for (const RankView::Engine& engine : view.Engines())
        out << "<th scope=\"col\">" << HtmlEscape(engine.name) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    const std::pair<const char*, int EngineSummary::*> figures[] = {
        {"Keywords tracked", &EngineSummary::keywords},
        {"URLs in the top 3", &EngineSummary::top3},
        {"URLs in the top 10", &EngineSummary::top10},
        {"URLs in the top 100", &EngineSummary::top100},
        {"Improved", &EngineSummary::improved},
        {"Declined", &EngineSummary::declined},
        {"New", &EngineSummary::fresh},
        {"Lost", &EngineSummary::lost},
    };
    for (const auto& [label, field] : figures) {
        out << "<tr><th scope=\"row\">" << label << "</th>";
        for (size_t e = 0; e < summaries.size(); ++e) {
            out << "<td>";
            if (view.Engines()[e].check) {
                out << summaries[e].*field;
            } else {
                out << "&ndash;";
            }
            out << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n<p class=\"note\">Counts are of keyword and URL pairs; changes are "
           "since the compared check.</p>\n</section>\n";
}

void WriteRankTable(const RankView& view, const ReportHistory& history, std::ostream& out) {
    out << "<section class=\"table\">\n<h2>Ranks</h2>\n"
           "<p class=\"legend\"><span class=\"b1\">1&ndash;3</span><span class=\"b2\">4&ndash;10"
           "</span><span class=\"b3\">11&ndash;20</span><span class=\"b4\">21&ndash;50</span>"
           "<span class=\"b5\">51+</span><span class=\"nf\">- not found</span>"
           "<span class=\"pa\">partial: stopped before the end</span>"
           "<span class=\"err\">error: keyword given up</span>"
           "<span class=\"ns\">not searched</span></p>\n"
           "<p class=\"note\">Each cell: the position, its change since the compared check "
           "(\u25B2 up, \u25BC down, = same, new, lost) and the last checks as a line, "
           "position 1 at the top.</p>\n";
    out << "<table class=\"ranks\">\n<thead><tr><th>Keyword</th><th>URL</th>";
    for (const RankView::Engine& engine : view.Engines())
        out << "<th>" << HtmlEscape(engine.name) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    const auto keywords = Keywords(view);
    for (size_t k = 0; k < keywords.size(); ++k) {
        const auto& rows = keywords[k].second;
        for (size_t r = 0; r < rows.size(); ++r) {
            const RankView::Row& row = *rows[r];
            out << "<tr>";
            if (r == 0)
                out << "<td class=\"kw\" rowspan=\"" << rows.size() << "\"><a href=\"#"
                    << KeywordAnchor(k) << "\">" << HtmlText(row.keyword) << "</a></td>";
            out << "<td class=\"url\">" << HtmlUrl(row.url) << "</td>";
            for (size_t e = 0; e < view.Engines().size(); ++e) {
                const auto& cell = row.cells[e];
                out << "<td class=\"rank " << RankBand(cell) << "\">"
                    << HtmlEscape(CellText(cell, MaxResults(view.Engines()[e])));
                const std::string mark = ChangeMark(cell);
                if (!mark.empty())
                    out << "<span class=\"chg " << ChangeClass(cell->change) << "\">"
                        << HtmlEscape(mark) << "</span>";
                out << Sparkline(history.Series(e, row.keyword, row.urlKey), e) << "</td>";
            }
            out << "</tr>\n";
        }
    }
    out << "</tbody>\n</table>\n</section>\n";
}

void WriteKeywordSections(const RankView& view, const ReportHistory& history, std::ostream& out) {
    const auto keywords = Keywords(view);
    if (keywords.empty()) return;
    std::vector<std::string> names;
    for (const RankView::Engine& engine : view.Engines())
        names.push_back(engine.name);
    const std::vector<std::string>& timeline = history.Timeline();
    out << "<section class=\"keywords\">\n<h2>Per keyword: trends and the top "
        << ReportHistory::kTopLinks << "</h2>\n<p class=\"note\">Position over the checks";
    if (!timeline.empty())
        out << " from " << HtmlEscape(ShortTime(timeline.front())) << " to "
            << HtmlEscape(ShortTime(timeline.back()));
    out << " (at most the last " << ReportHistory::kMaxChecks << " checks of each engine), "
        << "one scale for every chart: 1 at the top, " << history.AxisTop()
        << " at the bottom.</p>\n"
        << EngineLegend(names);
    for (size_t k = 0; k < keywords.size(); ++k) {
        const std::string& keyword = keywords[k].first;
        out << "<section class=\"keyword\" id=\"" << KeywordAnchor(k) << "\">\n<h3>"
            << HtmlText(keyword) << "</h3>\n<div class=\"trends\">\n";
        for (const RankView::Row* row : keywords[k].second) {
            std::vector<TrendLine> lines;
            bool searched = false;
            for (size_t e = 0; e < view.Engines().size(); ++e) {
                const auto& points = history.Series(e, keyword, row->urlKey);
                if (points.empty()) continue;
                for (const ReportHistory::Point& point : points)
                    searched = searched || point.status != RankStatus::NotSearched;
                lines.push_back({view.Engines()[e].name, e, &points, &history.Engines()[e].checks});
            }
            out << "<figure class=\"trend\">\n<figcaption>" << HtmlUrl(row->url)
                << "</figcaption>\n";
            if (searched) {
                out << TrendChart("Positions of " + AnsiToUtf8(row->url) + " for \u201C" +
                                      AnsiToUtf8(keyword) + "\u201D over the checks",
                                  lines, timeline, history.AxisTop());
            } else {
                out << "<p class=\"none\">Not searched in any check shown.</p>\n";
            }
            out << "</figure>\n";
        }
        out << "</div>\n<div class=\"lists\">\n";
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            const ReportHistory::TopList* top = history.Top(e, keyword);
            if (top) WriteTopList(view.Engines()[e], *top, out);
        }
        out << "</div>\n</section>\n";
    }
    out << "</section>\n";
}

}  // namespace rankcheck
