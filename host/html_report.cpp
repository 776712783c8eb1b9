#include "host/html_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "host/report_formats.h"
#include "platform/sysutils.h"

namespace rankcheck {

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Html(const AnsiString& text) {
    return Escape(AnsiToUtf8(text));
}

// At most `max` characters of a UTF-8 text, with an ellipsis when cut.
std::string Shorten(const std::string& text, size_t max) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == max) return text.substr(0, i) + "\u2026";
    }
    return text;
}

const char* const kEngineColours[] = {"#1f6fb4", "#d9601a", "#2a9d5b", "#8e44ad"};

const char kStyle[] = R"(
body { font: 14px/1.4 system-ui, sans-serif; color: #222; margin: 2em; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.15em; margin-top: 2em; }
p.meta { color: #555; margin-top: 0; }
table.ranks { border-collapse: collapse; margin: 1em 0; }
table.ranks th, table.ranks td { border: 1px solid #ccc; padding: 0.25em 0.7em; text-align: left; }
table.ranks th { background: #f0f0f0; }
table.ranks td.rank { text-align: center; min-width: 5em; font-variant-numeric: tabular-nums; }
td.kw { font-weight: 600; vertical-align: top; }
.b1 { background: #1b7a3a; color: #fff; }
.b2 { background: #7cc68d; }
.b3 { background: #e7e36a; }
.b4 { background: #f2b05e; }
.b5 { background: #f3d6c9; }
.nf { background: #e4e4e4; color: #666; }
.err { background: #c0392b; color: #fff; }
.pa { background: #fdf2d0; color: #6b5200; }
.chg { font-size: 0.85em; margin-left: 0.4em; }
.ns { background: #fff; color: #999; font-style: italic; }
.legend span { display: inline-block; padding: 0.1em 0.6em; margin-right: 0.4em; border: 1px solid #ccc; }
.charts { display: flex; flex-wrap: wrap; gap: 1.5em; }
figure { margin: 0; }
figcaption { font-weight: 600; margin-bottom: 0.3em; }
svg text { font: 11px system-ui, sans-serif; fill: #444; }
@media (max-width: 600px) {
  body { margin: 0.5em; }
  table.ranks th, table.ranks td { padding: 0.2em 0.3em; }
  table.ranks td.rank { min-width: 2.5em; }
  table.ranks td { overflow-wrap: anywhere; }
}
)";

// The step after `n` in the series 1, 2, 5, 10, 20, 50, ...
int NextRound(int n) {
    int scale = 1;
    while (n >= scale * 10)
        scale *= 10;
    return n / scale == 1 ? 2 * scale : n / scale == 2 ? 5 * scale : 10 * scale;
}

// Ticks of the position axis: 1, 3, 10, then 20, 50, 100, ... up to `top`.
std::vector<int> Ticks(int top) {
    std::vector<int> ticks{1, 3};
    for (int t = 10; t <= top; t = NextRound(t))
        ticks.push_back(t);
    return ticks;
}

// The positions of the URL of `rows` (one row per keyword) across keywords and engines.
void WriteChart(const RankView& view, const std::vector<const RankView::Row*>& rows,
                std::ostream& out) {
    const size_t keywords = rows.size();
    const size_t engines = view.Engines().size();
    int largest = 1;
    for (const RankView::Row* row : rows) {
        for (const auto& cell : row->cells) {
            if (cell && cell->rank) largest = std::max(largest, *cell->rank);
        }
    }
    if (view.Request().top > 0) largest = std::max(largest, view.Request().top);
    int axisTop = 10;
    while (axisTop < largest)
        axisTop = NextRound(axisTop);

    constexpr int kLeft = 64, kTop = 12, kPlot = 160, kStrip = 26, kColumn = 34, kLabels = 92;
    const int width = kLeft + static_cast<int>(std::max<size_t>(keywords, 1)) * kColumn + 12;
    const int height = kTop + kPlot + kStrip + kLabels;
    // Position 1 at the top, axisTop at the bottom of the plot, on a log scale so that the top
    // ranks, which matter most, are spread out.
    auto y = [&](int position) {
        return kTop + kPlot * std::log(static_cast<double>(position)) /
                          std::log(static_cast<double>(axisTop));
    };
    const int stripY = kTop + kPlot + kStrip / 2 + 2;

    out << "<svg role=\"img\" width=\"" << width << "\" height=\"" << height << "\" viewBox=\"0 0 "
        << width << ' ' << height << "\">\n";
    out << "<title>Positions of " << Html(rows.front()->url) << "</title>\n";
    for (int tick : Ticks(axisTop)) {
        const double ty = y(tick);
        out << "<line x1=\"" << kLeft << "\" x2=\"" << width - 8 << "\" y1=\"" << ty << "\" y2=\""
            << ty << "\" stroke=\"#e2e2e2\"/>"
            << "<text x=\"" << kLeft - 6 << "\" y=\"" << ty + 4 << "\" text-anchor=\"end\">" << tick
            << "</text>\n";
    }
    out << "<rect x=\"" << kLeft << "\" y=\"" << kTop + kPlot + 6 << "\" width=\""
        << width - 8 - kLeft << "\" height=\"" << kStrip - 8 << "\" fill=\"#f3f3f3\"/>"
        << "<text x=\"" << kLeft - 6 << "\" y=\"" << stripY + 4
        << "\" text-anchor=\"end\">not found</text>\n";

    for (size_t k = 0; k < keywords; ++k) {
        const int cx = kLeft + static_cast<int>(k) * kColumn + kColumn / 2;
        const std::string keyword = AnsiToUtf8(rows[k]->keyword);
        for (size_t e = 0; e < engines; ++e) {
            const auto& cell = rows[k]->cells[e];
            const RankView::Engine& engine = view.Engines()[e];
            const int maxResults = engine.check ? engine.check->options.maxResults : 0;
            const char* colour = kEngineColours[e % std::size(kEngineColours)];
            const double x = cx + (static_cast<double>(e) - (engines - 1) / 2.0) * 9;
            const std::string tip = "<title>" + Escape(engine.name) + ", \"" + Escape(keyword) +
                                    "\": " + Escape(CellText(cell, maxResults)) + "</title>";
            if (!cell) continue;
            switch (cell->status) {
                case ledger::RankStatus::Ranked:
                    out << "<circle cx=\"" << x << "\" cy=\"" << y(*cell->rank)
                        << "\" r=\"4.5\" fill=\"" << colour << "\">" << tip << "</circle>\n";
                    break;
                case ledger::RankStatus::NotFound:
                case ledger::RankStatus::Partial:
                    out << "<circle cx=\"" << x << "\" cy=\"" << stripY
                        << "\" r=\"3.5\" fill=\"none\" stroke=\"" << colour << "\">" << tip
                        << "</circle>\n";
                    break;
                case ledger::RankStatus::Error:
                    out << "<text x=\"" << x << "\" y=\"" << stripY + 4
                        << "\" text-anchor=\"middle\" style=\"fill:" << colour
                        << ";font-weight:700\">\u00d7" << tip << "</text>\n";
                    break;
                case ledger::RankStatus::NotSearched:
                    break;
            }
        }
        const int ly = kTop + kPlot + kStrip + 8;
        out << "<text x=\"" << cx << "\" y=\"" << ly
            << "\" text-anchor=\"end\" transform=\"rotate(-40 " << cx << ' ' << ly << ")\">"
            << Escape(Shorten(keyword, 16)) << "</text>\n";
    }
    out << "</svg>\n";
}

}  // namespace

const char* RankBand(const std::optional<ledger::ReportRow>& cell) {
    if (!cell) return "ns";
    switch (cell->status) {
        case ledger::RankStatus::Ranked:
            if (*cell->rank <= 3) return "b1";
            if (*cell->rank <= 10) return "b2";
            if (*cell->rank <= 20) return "b3";
            if (*cell->rank <= 50) return "b4";
            return "b5";
        case ledger::RankStatus::NotFound:
            return "nf";
        case ledger::RankStatus::Partial:
            return "pa";
        case ledger::RankStatus::Error:
            return "err";
        case ledger::RankStatus::NotSearched:
            break;
    }
    return "ns";
}

void WriteHtml(const RankView& view, std::ostream& out, const std::string& folder) {
    const RankViewRequest& request = view.Request();
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>Rank report: " << Escape(folder) << "</title>\n<style>" << kStyle
        << "</style>\n</head>\n<body>\n";
    out << "<h1>Rank report</h1>\n<p class=\"meta\">" << Escape(folder) << " &middot; "
        << (request.exactMatch ? "whole-link match" : "URL inside the link") << ", ignoring case";
    if (request.top > 0) out << " &middot; positions up to " << request.top;
    out << "</p>\n<ul class=\"checks\">\n";
    for (const RankView::Engine& engine : view.Engines())
        out << "<li>" << Escape(CheckLine(engine)) << "</li>\n";
    out << "</ul>\n";

    out << "<p class=\"legend\"><span class=\"b1\">1&ndash;3</span><span class=\"b2\">4&ndash;10"
           "</span><span class=\"b3\">11&ndash;20</span><span class=\"b4\">21&ndash;50</span>"
           "<span class=\"b5\">51+</span><span class=\"nf\">- not found</span>"
           "<span class=\"pa\">partial</span><span class=\"err\">error: keyword given up</span>"
           "<span class=\"ns\">not searched</span></p>\n";

    out << "<table class=\"ranks\">\n<thead><tr><th>Keyword</th><th>URL</th>";
    for (const RankView::Engine& engine : view.Engines())
        out << "<th>" << Escape(engine.name) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    const auto& rows = view.Rows();
    for (size_t r = 0; r < rows.size(); ++r) {
        out << "<tr>";
        if (r == 0 || rows[r - 1].keyword != rows[r].keyword) {
            size_t span = 1;
            while (r + span < rows.size() && rows[r + span].keyword == rows[r].keyword)
                ++span;
            out << "<td class=\"kw\" rowspan=\"" << span << "\">" << Html(rows[r].keyword) << "</td>";
        }
        out << "<td>" << Html(rows[r].url) << "</td>";
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            const auto& cell = rows[r].cells[e];
            const RankView::Engine& engine = view.Engines()[e];
            out << "<td class=\"rank " << RankBand(cell) << "\">"
                << Escape(CellText(cell, engine.check ? engine.check->options.maxResults : 0));
            const std::string mark = ChangeMark(cell);
            if (!mark.empty()) out << "<span class=\"chg\">" << Escape(mark) << "</span>";
            out << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";

    // One chart per URL key, over the keywords in row order.
    std::vector<std::string> keys;
    for (const RankView::Row& row : rows) {
        if (std::find(keys.begin(), keys.end(), row.urlKey) == keys.end()) keys.push_back(row.urlKey);
    }
    if (!keys.empty()) {
        out << "<h2>Positions per URL</h2>\n<p class=\"legend\">";
        for (size_t e = 0; e < view.Engines().size(); ++e) {
            out << "<span style=\"border-color:" << kEngineColours[e % std::size(kEngineColours)]
                << ";color:" << kEngineColours[e % std::size(kEngineColours)] << "\">&#9679; "
                << Escape(view.Engines()[e].name) << "</span>";
        }
        out << " filled: position (log scale) &middot; hollow: not found &middot; &times;: "
               "given up</p>\n<div class=\"charts\">\n";
        for (const std::string& key : keys) {
            std::vector<const RankView::Row*> ofUrl;
            for (const RankView::Row& row : rows) {
                if (row.urlKey == key) ofUrl.push_back(&row);
            }
            out << "<figure>\n<figcaption>" << Html(ofUrl.front()->url) << "</figcaption>\n";
            WriteChart(view, ofUrl, out);
            out << "</figure>\n";
        }
        out << "</div>\n";
    }
    out << "</body>\n</html>\n";
}

}  // namespace rankcheck
