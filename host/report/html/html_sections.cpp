#include "host/report/html/html_sections.h"

#include <algorithm>
#include <climits>
#include <set>

#include "host/report/html/html_text.h"
#include "host/report/html/svg_charts.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;

// The most competitors a keyword lists per engine; the rest are counted.
constexpr size_t kMaxCompetitors = 20;

int MaxResults(const RankView::Engine& engine) {
    return engine.check ? engine.check->options.maxResults : 0;
}

// The numeric change of a cell (previous - current: > 0 up); none for "new", "lost", "=" or
// nothing to compare with.
std::optional<int> NumericChange(const std::optional<ledger::ReportRow>& cell) {
    if (!cell || cell->change.empty() || cell->change == "new" || cell->change == "lost")
        return std::nullopt;
    return std::stoi(cell->change);
}

// "Above your best URL ..." and the list of sites, for one engine's top list. Says nothing of
// the user's URLs where the engine gave no result list at all.
void WriteCompetitors(const ReportHistory::TopList& top, std::ostream& out) {
    if (top.best && *top.best == 1) {
        out << "<p class=\"above\">Your URL " << HtmlText(top.bestUrl)
            << " is first: no site ranks above it.</p>\n";
        return;
    }
    if (top.best) {
        out << "<p class=\"above\">Sites above your best URL, " << HtmlText(top.bestUrl)
            << " at position " << *top.best << ":</p>\n";
    } else if (!top.above.empty()) {
        out << "<p class=\"above\">None of your URLs was found among the " << top.positionsExamined
            << " positions examined; every site there ranks above them:</p>\n";
    } else {
        if (!top.links.empty())
            out << "<p class=\"above\">None of your URLs was found, and no other site "
                   "either.</p>\n";
        return;
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
        // Links wrap anywhere by the style sheet: a line-break opportunity at each part would
        // add a tenth to a page of 500 keywords.
        out << "<ol class=\"top10\">";
        for (size_t i = 0; i < top.links.size(); ++i) {
            out << (top.mine[i] ? "<li class=\"mine\">" : "<li>") << HtmlText(top.links[i]);
            if (top.mine[i]) out << " <strong class=\"yours\">your URL</strong>";
            out << "</li>";
        }
        out << "</ol>\n";
    }
    WriteCompetitors(top, out);
    out << "</div>\n";
}

// What the summary line of a folded keyword says per engine: its best URL's cell.
std::string KeywordBrief(const RankView& view, const KeywordGroup& group) {
    std::string brief;
    for (size_t e : EnginesWithCheck(view)) {
        const RankView::Row* best = group.rows.front();
        for (const RankView::Row* row : group.rows) {
            const auto& cell = row->cells[e];
            const auto& held = best->cells[e];
            const bool ranked = cell && cell->status == RankStatus::Ranked && cell->rank;
            const bool heldRanked = held && held->status == RankStatus::Ranked && held->rank;
            if (ranked && (!heldRanked || *cell->rank < *held->rank)) best = row;
        }
        if (!brief.empty()) brief += " \u00b7 ";
        brief +=
            view.Engines()[e].name + " " + CellText(best->cells[e], MaxResults(view.Engines()[e]));
    }
    return brief;
}

// One URL's trend figure of a keyword: the chart where any engine ranked it in a check drawn,
// else what the checks found in words.
void WriteTrendFigure(const RankView& view, const ReportHistory& history,
                      const std::string& keyword, const RankView::Row& row, std::ostream& out) {
    std::vector<TrendLine> lines;
    bool searched = false, ranked = false;
    for (size_t e = 0; e < view.Engines().size(); ++e) {
        const auto& points = history.Series(e, keyword, row.urlKey);
        if (points.empty()) continue;
        for (const ReportHistory::Point& point : points) {
            searched = searched || point.status != RankStatus::NotSearched;
            ranked = ranked || point.status == RankStatus::Ranked;
        }
        lines.push_back({view.Engines()[e].name, e, &points, &history.Engines()[e].checks});
    }
    out << "<figure class=\"trend\">\n<figcaption>" << HtmlText(row.url) << "</figcaption>\n";
    if (ranked) {
        out << TrendChart("Positions of " + AnsiToUtf8(row.url) + " for \u201C" +
                              AnsiToUtf8(keyword) + "\u201D over the checks",
                          lines, history.Timeline(), history.AxisTop());
    } else if (searched) {
        out << "<p class=\"none\">Not among the positions examined in any check shown.</p>\n";
    } else {
        out << "<p class=\"none\">Not searched in any check shown.</p>\n";
    }
    out << "</figure>\n";
}

// The search box, the band filter and the order of the rank table; hidden until the page's
// script shows them, so that a page read without the script has no controls that do nothing.
void WriteTableControls(std::ostream& out) {
    out << "<div class=\"filters\" id=\"filters\" role=\"search\" hidden>\n"
           "<label>Keyword <input type=\"search\" id=\"f-text\"></label>\n"
           "<label>Band <select id=\"f-band\"><option value=\"\">any</option>"
           "<option value=\"b1\">1&ndash;3</option><option value=\"b2\">4&ndash;10</option>"
           "<option value=\"b3\">11&ndash;20</option><option value=\"b4\">21&ndash;50</option>"
           "<option value=\"b5\">51+</option><option value=\"nf\">not found</option>"
           "<option value=\"pa\">partial or beyond</option>"
           "<option value=\"err\">error or suspect</option>"
           "<option value=\"ns\">not searched</option></select></label>\n"
           "<label>Order <select id=\"f-order\"><option value=\"\">report order</option>"
           "<option value=\"az\">keyword A&ndash;Z</option>"
           "<option value=\"rise\">largest rise first</option>"
           "<option value=\"drop\">largest drop first</option></select></label>\n"
           "<output id=\"f-count\" for=\"f-text f-band f-order\"></output>\n</div>\n";
}

// One keyword's rows of the rank table, as one group: the keyword heads them, and the group
// says which bands its cells are in and its largest rise and drop, for the script.
void WriteKeywordRows(const RankView& view, const ReportHistory& history, const KeywordGroup& group,
                      size_t ordinal, std::ostream& out) {
    std::set<std::string> bands;
    int rise = 0, drop = 0;
    const std::vector<size_t> engines = EnginesWithCheck(view);
    for (const RankView::Row* row : group.rows) {
        for (size_t e : engines) {
            const auto& cell = row->cells[e];
            bands.insert(RankBand(cell));
            const std::optional<int> change = NumericChange(cell);
            if (change) rise = std::max(rise, *change), drop = std::max(drop, -*change);
        }
    }
    std::string bandList;
    for (const std::string& band : bands)
        bandList += (bandList.empty() ? "" : " ") + band;
    out << "<tbody data-bands=\"" << bandList << '"';
    if (rise > 0) out << " data-rise=\"" << rise << '"';
    if (drop > 0) out << " data-drop=\"" << drop << '"';
    out << ">\n";
    for (size_t r = 0; r < group.rows.size(); ++r) {
        const RankView::Row& row = *group.rows[r];
        out << "<tr>";
        if (r == 0) {
            out << "<th scope=\"row\" class=\"kw\"";
            if (group.rows.size() > 1) out << " rowspan=\"" << group.rows.size() << '"';
            out << "><a href=\"#" << KeywordAnchor(ordinal) << "\">" << HtmlText(row.keyword)
                << "</a></th>";
        }
        out << "<td class=\"url\">" << HtmlText(row.url) << "</td>";
        for (size_t e : engines)
            out << "<td class=\"rank " << RankBand(row.cells[e]) << "\">"
                << RankCellHtml(view, history, row, e) << "</td>";
        out << "</tr>\n";
    }
    out << "</tbody>\n";
}

}  // namespace

const char* RankBand(const std::optional<ledger::ReportRow>& cell) {
    if (!cell) return "ns";
    switch (cell->status) {
        case RankStatus::Ranked: {
            const int rank = cell->rank.value_or(INT_MAX);
            return rank <= 3    ? "b1"
                   : rank <= 10 ? "b2"
                   : rank <= 20 ? "b3"
                   : rank <= 50 ? "b4"
                                : "b5";
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

std::vector<size_t> EnginesWithCheck(const RankView& view) {
    std::vector<size_t> engines;
    for (size_t e = 0; e < view.Engines().size(); ++e)
        if (view.Engines()[e].check) engines.push_back(e);
    return engines;
}

std::string KeywordAnchor(size_t ordinal) {
    return "kw-" + std::to_string(ordinal + 1);
}

std::vector<KeywordGroup> KeywordGroups(const RankView& view) {
    std::vector<KeywordGroup> groups;
    for (const RankView::Row& row : view.Rows()) {
        if (groups.empty() || groups.back().keyword != row.keyword)
            groups.push_back({row.keyword, {}});
        groups.back().rows.push_back(&row);
    }
    return groups;
}

const char* ChangeClass(const std::string& change) {
    if (change == "new") return "new";
    if (change == "lost") return "lost";
    if (change == "0") return "same";
    return change[0] == '-' ? "down" : "up";
}

std::string RankCellHtml(const RankView& view, const ReportHistory& history,
                         const RankView::Row& row, size_t engine) {
    const auto& cell = row.cells[engine];
    std::string html = HtmlEscape(CellText(cell, MaxResults(view.Engines()[engine])));
    const std::string mark = ChangeMark(cell);
    if (!mark.empty())
        html += std::string("<span class=\"chg ") + ChangeClass(cell->change) + "\">" +
                HtmlEscape(mark) + "</span>";
    return html + Sparkline(history.Series(engine, row.keyword, row.urlKey), engine);
}

void WriteRankTable(const RankView& view, const ReportHistory& history, std::ostream& out) {
    out << "<section class=\"table\" id=\"ranks\" aria-labelledby=\"ranks-h\">\n"
           "<h2 id=\"ranks-h\">All keywords</h2>\n"
           "<p class=\"legend\"><span class=\"b1\">1&ndash;3</span><span class=\"b2\">4&ndash;10"
           "</span><span class=\"b3\">11&ndash;20</span><span class=\"b4\">21&ndash;50</span>"
           "<span class=\"b5\">51+</span><span class=\"nf\">- not found</span>"
           "<span class=\"pa\">partial: stopped before the end; beyond: not as deep as the "
           "compared check</span>"
           "<span class=\"err\">error: keyword given up; suspect: results ended early</span>"
           "<span class=\"ns\">not searched</span></p>\n"
           "<p class=\"note\">Each cell: the position, its change since the compared check "
           "(\u25B2 up, \u25BC down, = same, new, lost) and the last checks as a line, "
           "position 1 at the top. A keyword leads to its trends and top 10 below.</p>\n";
    WriteTableControls(out);
    out << "<table class=\"ranks\">\n<thead><tr><th scope=\"col\">Keyword</th>"
           "<th scope=\"col\">URL</th>";
    for (size_t e : EnginesWithCheck(view))
        out << "<th scope=\"col\">" << HtmlEscape(view.Engines()[e].name) << "</th>";
    out << "</tr></thead>\n";
    const std::vector<KeywordGroup> groups = KeywordGroups(view);
    for (size_t k = 0; k < groups.size(); ++k)
        WriteKeywordRows(view, history, groups[k], k, out);
    out << "</table>\n</section>\n";
}

void WriteKeywordSections(const RankView& view, const ReportHistory& history, std::ostream& out) {
    const std::vector<KeywordGroup> groups = KeywordGroups(view);
    if (groups.empty()) return;
    std::vector<std::string> names;
    for (const RankView::Engine& engine : view.Engines())
        names.push_back(engine.name);
    const std::vector<std::string>& timeline = history.Timeline();
    out << "<section class=\"keywords\" aria-labelledby=\"keywords-h\">\n<h2 id=\"keywords-h\">"
           "Per keyword: trends and the top "
        << ReportHistory::kTopLinks
        << "</h2>\n<p class=\"note\">Open a keyword to see its positions over the checks";
    if (!timeline.empty())
        out << " from " << HtmlEscape(ShortTime(timeline.front())) << " to "
            << HtmlEscape(ShortTime(timeline.back()));
    out << " (at most the last " << ReportHistory::kMaxChecks << " checks of each engine), "
        << "one scale for every chart: 1 at the top, " << history.AxisTop()
        << " at the bottom.</p>\n"
        << EngineLegend(names) << ChartDefs(timeline, history.AxisTop());
    for (size_t k = 0; k < groups.size(); ++k) {
        const std::string& keyword = groups[k].keyword;
        out << "<details class=\"keyword\" id=\"" << KeywordAnchor(k) << "\">\n<summary>"
            << "<span class=\"kwname\">" << HtmlText(keyword) << "</span> <span class=\"brief\">"
            << HtmlEscape(KeywordBrief(view, groups[k])) << "</span></summary>\n"
            << "<div class=\"trends\">\n";
        for (const RankView::Row* row : groups[k].rows)
            WriteTrendFigure(view, history, keyword, *row, out);
        out << "</div>\n<div class=\"lists\">\n";
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            const ReportHistory::TopList* top = history.Top(e, keyword);
            if (top) WriteTopList(view.Engines()[e], *top, out);
        }
        out << "</div>\n</details>\n";
    }
    out << "</section>\n";
}

}  // namespace rankcheck
