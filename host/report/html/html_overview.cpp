#include "host/report/html/html_overview.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "host/report/html/html_sections.h"
#include "host/report/html/html_text.h"
#include "ledger/check_state_words.h"
#include "ledger/keyword_outcome.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;

// The most keywords not searched that are named per engine; the rest are counted.
constexpr size_t kMaxNamed = 20;

bool CannotTell(RankStatus status) {
    return status == RankStatus::Suspect || status == RankStatus::Error ||
           status == RankStatus::Partial;
}

// Ordinal of each keyword text in the page (its anchor), in row order.
std::map<std::string, size_t> KeywordOrdinals(const RankView& view) {
    std::map<std::string, size_t> ordinals;
    const std::vector<KeywordGroup> groups = KeywordGroups(view);
    for (size_t k = 0; k < groups.size(); ++k)
        ordinals.emplace(groups[k].keyword, k);
    return ordinals;
}

std::string KeywordHeader(const std::string& keyword, size_t ordinal) {
    return "<th scope=\"row\" class=\"kw\"><a href=\"#" + KeywordAnchor(ordinal) + "\">" +
           HtmlText(keyword) + "</a></th>";
}

void WriteMovesTable(const RankView& view, const ReportHistory& history,
                     const std::vector<Move>& moves, const char* none, std::ostream& out) {
    if (moves.empty()) {
        out << "<p class=\"none\">" << none << "</p>\n";
        return;
    }
    const auto ordinals = KeywordOrdinals(view);
    out << "<table class=\"moves\">\n<thead><tr><th scope=\"col\">Keyword</th>"
           "<th scope=\"col\">URL</th><th scope=\"col\">Engine</th><th scope=\"col\">Now</th>"
           "<th scope=\"col\">Before</th></tr></thead>\n<tbody>\n";
    for (const Move& move : moves) {
        const RankView::Row& row = *move.row;
        const auto& cell = row.cells[move.engine];
        out << "<tr>" << KeywordHeader(row.keyword, ordinals.at(row.keyword))
            << "<td class=\"url\">" << HtmlUrl(row.url) << "</td><td>"
            << HtmlEscape(view.Engines()[move.engine].name) << "</td><td class=\"rank "
            << RankBand(cell) << "\">" << RankCellHtml(view, history, row, move.engine)
            << "</td><td class=\"before\">" << cell->previousRank.value_or(0);
        // The date where the row was compared with another check than the one the page names.
        const auto& compared = view.Engines()[move.engine].compared;
        if (cell->comparedAt && (!compared || cell->comparedCheck != compared->id))
            out << " <span class=\"when\">on " << HtmlEscape(ledger::DateOf(*cell->comparedAt))
                << "</span>";
        out << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n";
}

// What a keyword's failed outcome was, and why, in words.
std::pair<std::string, std::string> OutcomeWords(const ledger::ReportRow& cell, int maxResults) {
    const std::string examined =
        std::to_string(cell.positionsExamined) + " of " + std::to_string(maxResults);
    switch (cell.status) {
        case RankStatus::Error:
            return {"error", "the engine gave it up after " + examined + " positions"};
        case RankStatus::Suspect:
            return {"suspect", cell.note.empty() ? "the results ended early" : cell.note};
        case RankStatus::Partial:
            return {"partial (" + examined + ")", "the run stopped while it was under way"};
        default:
            return {StatusWords(cell.status, cell.rank), ""};
    }
}

// One URL's line in the list of last trusted ranks of a keyword that could not be checked.
std::string LastTrustedText(const ledger::ReportRow& cell) {
    if (!CannotTell(cell.status)) return StatusWords(cell.status, cell.rank) + " in this check";
    if (!cell.lastKnownCheck) return "no trusted check before";
    return (cell.lastKnownRank ? std::to_string(*cell.lastKnownRank) : std::string("-")) + " on " +
           ledger::DateOf(cell.lastKnownAt.value_or("")) + " (check " +
           std::to_string(*cell.lastKnownCheck) + ")";
}

void WriteFailedRow(const RankView& view, const KeywordGroup& group, size_t ordinal, size_t e,
                    const ledger::ReportRow& failed, std::ostream& out) {
    const RankView::Engine& engine = view.Engines()[e];
    const auto [outcome, why] =
        OutcomeWords(failed, engine.check ? engine.check->options.maxResults : 0);
    out << "<tr>" << KeywordHeader(group.keyword, ordinal) << "<td>" << HtmlEscape(engine.name)
        << "</td><td class=\"rank " << RankBand(failed) << "\">" << HtmlEscape(outcome)
        << "</td><td>" << HtmlEscape(why) << "</td><td><ul class=\"last\">";
    for (const RankView::Row* row : group.rows) {
        if (!row->cells[e]) continue;
        out << "<li>" << HtmlUrl(row->url) << ": " << HtmlEscape(LastTrustedText(*row->cells[e]))
            << "</li>";
    }
    out << "</ul></td></tr>\n";
}

// The keywords an engine's check did not reach, named (up to kMaxNamed) and counted.
void WriteNotSearched(const RankView& view, const std::vector<KeywordGroup>& groups,
                      std::ostream& out) {
    for (size_t e = 0; e < view.Engines().size(); ++e) {
        const RankView::Engine& engine = view.Engines()[e];
        if (!engine.check) {
            out << "<p>" << HtmlEscape(engine.name) << ": no check yet.</p>\n";
            continue;
        }
        std::vector<std::string> missed;
        for (const KeywordGroup& group : groups) {
            const auto& cell = group.rows.front()->cells[e];
            if (cell && cell->status == RankStatus::NotSearched) missed.push_back(group.keyword);
        }
        if (missed.empty()) continue;
        out << "<p>" << HtmlEscape(engine.name) << ": " << missed.size()
            << (missed.size() == 1 ? " keyword" : " keywords") << " not searched by check "
            << engine.check->id << ": ";
        for (size_t i = 0; i < missed.size() && i < kMaxNamed; ++i)
            out << (i == 0 ? "" : ", ") << "<span class=\"kwname\">" << HtmlText(missed[i])
                << "</span>";
        if (missed.size() > kMaxNamed) out << " and " << missed.size() - kMaxNamed << " more";
        out << ".</p>\n";
    }
}

}  // namespace

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
        summary.unchecked += CannotTell(cell->status);
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

Moves BiggestMoves(const RankView& view, size_t count) {
    Moves moves;
    for (const RankView::Row& row : view.Rows()) {
        for (size_t e = 0; e < row.cells.size(); ++e) {
            const auto& cell = row.cells[e];
            if (!cell || cell->status != RankStatus::Ranked || !cell->rank || !cell->previousRank ||
                cell->previousStatus != RankStatus::Ranked)
                continue;
            const int change = *cell->previousRank - *cell->rank;
            if (change > 0) moves.rises.push_back({&row, e, change});
            if (change < 0) moves.drops.push_back({&row, e, change});
        }
    }
    std::stable_sort(moves.rises.begin(), moves.rises.end(),
                     [](const Move& a, const Move& b) { return a.change > b.change; });
    std::stable_sort(moves.drops.begin(), moves.drops.end(),
                     [](const Move& a, const Move& b) { return a.change < b.change; });
    if (moves.rises.size() > count) moves.rises.resize(count);
    if (moves.drops.size() > count) moves.drops.resize(count);
    return moves;
}

void WriteBanner(const RankView& view, const std::string& folder, std::ostream& out) {
    const RankViewRequest& request = view.Request();
    out << "<header class=\"banner\">\n<h1>Rank report</h1>\n<p class=\"meta\">"
           "<span class=\"folder\">"
        << HtmlEscape(folder) << "</span> &middot; "
        << (request.exactMatch ? "whole-link match" : "URL inside the link") << ", ignoring case";
    if (request.top > 0) out << " &middot; positions up to " << request.top;
    out << "</p>\n<nav aria-label=\"Sections\"><a href=\"#moves\">Biggest moves</a> "
           "<a href=\"#unchecked\">Could not be checked</a> <a href=\"#ranks\">All keywords</a>"
           "</nav>\n</header>\n";
}

void WriteChecksSection(const RankView& view, bool folderLockFree, std::ostream& out) {
    out << "<section class=\"checks\" aria-labelledby=\"checks-h\">\n<h2 id=\"checks-h\">Checks"
           "</h2>\n<table class=\"checks\">\n<thead><tr><th scope=\"col\">Engine</th>"
           "<th scope=\"col\">Check shown</th><th scope=\"col\">State</th>"
           "<th scope=\"col\">Compared with</th></tr></thead>\n<tbody>\n";
    for (const RankView::Engine& engine : view.Engines()) {
        out << "<tr><th scope=\"row\">" << HtmlEscape(engine.name) << "</th>";
        if (!engine.check) {
            out << "<td colspan=\"3\">no check yet</td></tr>\n";
            continue;
        }
        const ledger::CheckInfo& check = *engine.check;
        out << "<td>check " << check.id << ", " << TimeHtml(check.startedAt);
        if (check.imported) out << " (imported from the result files)";
        out << "</td><td class=\"state\">"
            << HtmlEscape(ledger::StateWords(check, folderLockFree).text) << "</td><td>";
        if (engine.compared) {
            out << "check " << engine.compared->id << ", " << TimeHtml(engine.compared->startedAt);
        } else {
            out << "nothing to compare with (no earlier complete check)";
        }
        out << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n</section>\n";
}

void WriteSummarySection(const RankView& view, std::ostream& out) {
    std::vector<EngineSummary> summaries;
    for (size_t e = 0; e < view.Engines().size(); ++e)
        summaries.push_back(Summarise(view, e));
    out << "<section class=\"summary\" aria-labelledby=\"summary-h\">\n<h2 id=\"summary-h\">"
           "Summary</h2>\n<table class=\"figures\">\n<thead><tr><th scope=\"col\">Figure</th>";
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
        {"Could not be checked", &EngineSummary::unchecked},
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
           "since the compared check. A pair that could not be checked is never counted as a "
           "decline or a loss.</p>\n</section>\n";
}

void WriteMovesSection(const RankView& view, const ReportHistory& history, std::ostream& out) {
    out << "<section class=\"moves\" id=\"moves\" aria-labelledby=\"moves-h\">\n"
           "<h2 id=\"moves-h\">Biggest moves</h2>\n";
    const bool compared = std::any_of(view.Engines().begin(), view.Engines().end(),
                                      [](const RankView::Engine& e) { return e.compared; });
    if (!compared) {
        out << "<p class=\"none\">Nothing to compare with yet: no engine has an earlier complete "
               "check.</p>\n</section>\n";
        return;
    }
    const Moves moves = BiggestMoves(view, kMovesShown);
    out << "<p class=\"note\">The largest changes of position since the compared check, at most "
        << kMovesShown
        << " each, largest first; new and lost URLs are counted in the summary.</p>\n"
        << "<div class=\"movelists\">\n<div class=\"movelist\">\n<h3>Rises</h3>\n";
    WriteMovesTable(view, history, moves.rises, "No URL rose.", out);
    out << "</div>\n<div class=\"movelist\">\n<h3>Drops</h3>\n";
    WriteMovesTable(view, history, moves.drops, "No URL dropped.", out);
    out << "</div>\n</div>\n</section>\n";
}

void WriteUncheckedSection(const RankView& view, std::ostream& out) {
    out << "<section class=\"unchecked\" id=\"unchecked\" aria-labelledby=\"unchecked-h\">\n"
           "<h2 id=\"unchecked-h\">Could not be checked</h2>\n";
    const std::vector<KeywordGroup> groups = KeywordGroups(view);
    std::ostringstream rows;
    for (size_t k = 0; k < groups.size(); ++k) {
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            for (const RankView::Row* row : groups[k].rows) {
                const auto& cell = row->cells[e];
                if (!cell || !CannotTell(cell->status)) continue;
                WriteFailedRow(view, groups[k], k, e, *cell, rows);
                break;
            }
        }
    }
    if (rows.str().empty()) {
        out << "<p class=\"none\">Every keyword searched had a trusted outcome.</p>\n";
    } else {
        out << "<p class=\"note\">Keywords the engine gave up, whose results ended early "
               "(suspect) or that a stop cut short: this check cannot tell where they stand, so "
               "they are neither drops nor losses. Each URL with its last trusted rank.</p>\n"
               "<table class=\"unchecked\">\n<thead><tr><th scope=\"col\">Keyword</th>"
               "<th scope=\"col\">Engine</th><th scope=\"col\">Outcome</th>"
               "<th scope=\"col\">Why</th><th scope=\"col\">Last trusted rank</th></tr></thead>\n"
               "<tbody>\n"
            << rows.str() << "</tbody>\n</table>\n";
    }
    WriteNotSearched(view, groups, out);
    out << "</section>\n";
}

}  // namespace rankcheck
