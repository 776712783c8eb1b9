#include "host/report/html/svg_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "host/report/html/html_text.h"

namespace rankcheck {

namespace {

using ledger::RankStatus;

const EngineStyle kStyles[] = {
    {"#1f5fa8", "", "circle", "solid"},
    {"#b3420b", "6 3", "square", "dashed"},
    {"#2a7d4f", "2 3", "triangle", "dotted"},
    {"#7b3fa0", "8 3 2 3", "diamond", "dash-dot"},
};

std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A coordinate of a line or a mark, to the unit (a pixel at the size drawn): a page of many
// charts stays small.
std::string Int(double value) {
    return std::to_string(std::lround(value));
}

// Position 1 at `top`, axisTop at `top + height`, on a log scale.
double PositionY(int position, int axisTop, double top, double height) {
    const double bottom = std::log(static_cast<double>(std::max(axisTop, 2)));
    const double at = std::log(static_cast<double>(std::clamp(position, 1, std::max(axisTop, 1))));
    return top + height * at / bottom;
}

// A marker of `shape` centred on (x, y); filled, or hollow with the colour as outline.
std::string Marker(const std::string& shape, double x, double y, double size, const char* colour,
                   bool filled, const std::string& inner) {
    const std::string paint = filled ? std::string("fill=\"") + colour + "\" stroke=\"#fff\""
                                     : std::string("fill=\"#fff\" stroke=\"") + colour + "\"";
    std::ostringstream out;
    if (shape == "square") {
        out << "<rect x=\"" << Num(x - size) << "\" y=\"" << Num(y - size) << "\" width=\""
            << Num(2 * size) << "\" height=\"" << Num(2 * size) << "\" " << paint;
    } else if (shape == "triangle") {
        out << "<path d=\"M" << Num(x) << ' ' << Num(y - size * 1.2) << "L" << Num(x + size * 1.2)
            << ' ' << Num(y + size) << "L" << Num(x - size * 1.2) << ' ' << Num(y + size) << "Z\" "
            << paint;
    } else if (shape == "diamond") {
        out << "<path d=\"M" << Num(x) << ' ' << Num(y - size * 1.3) << "L" << Num(x + size * 1.3)
            << ' ' << Num(y) << "L" << Num(x) << ' ' << Num(y + size * 1.3) << "L"
            << Num(x - size * 1.3) << ' ' << Num(y) << "Z\" " << paint;
    } else {
        out << "<circle cx=\"" << Num(x) << "\" cy=\"" << Num(y) << "\" r=\"" << Num(size * 1.1)
            << "\" " << paint;
    }
    out << " stroke-width=\"1.5\">" << inner
        << (shape == "square"   ? "</rect>"
            : shape == "circle" ? "</circle>"
                                : "</path>");
    return out.str();
}

// Ticks of the position axis: 1, 3, 10, 30, 100, ... below axisTop, then axisTop itself, leaving
// out a tick too close to axisTop to be read apart from it.
std::vector<int> PositionTicks(int axisTop) {
    std::vector<int> ticks;
    for (int t = 1; t < axisTop; t *= 10) {
        ticks.push_back(t);
        if (3 * t < axisTop) ticks.push_back(3 * t);
    }
    while (!ticks.empty() && ticks.back() * 3 > axisTop * 2)
        ticks.pop_back();
    ticks.push_back(axisTop);
    return ticks;
}

// "12-08" of an ISO time.
std::string DayOf(const std::string& iso) {
    return iso.size() >= 10 ? iso.substr(5, 5) : iso;
}

// The geometry of a trend chart: the plot with position 1 at the top and `axisTop` at the
// bottom (log scale), the strip below it for not found and given up, and the dates under that;
// times along x from the first to the last of the timeline.
struct TrendFrame {
    static constexpr double kWidth = 360, kLeft = 58, kRight = 18, kTop = 10, kPlot = 140;
    static constexpr double kStripTop = kTop + kPlot + 8, kStrip = 16;
    static constexpr double kDates = kStripTop + kStrip + 16, kHeight = kDates + 8;
    static constexpr double kStripY = kStripTop + kStrip / 2;

    TrendFrame(const std::vector<std::string>& timeline, int axisTop) : axisTop(axisTop) {
        if (!timeline.empty()) {
            t0 = EpochOf(timeline.front()).value_or(0);
            t1 = EpochOf(timeline.back()).value_or(0);
        }
    }
    double X(const std::string& iso) const {
        if (t1 <= t0) return (kLeft + kWidth - kRight) / 2;
        const double share =
            static_cast<double>(EpochOf(iso).value_or(t0) - t0) / static_cast<double>(t1 - t0);
        // Markers keep clear of the axis labels on the left: the first check sits a marker's
        // width inside the plot.
        constexpr double kInset = 8;
        return kLeft + kInset + (kWidth - kLeft - kRight - kInset) * std::clamp(share, 0.0, 1.0);
    }
    double Y(int rank) const { return PositionY(rank, axisTop, kTop, kPlot); }

    int axisTop;
    long long t0 = 0, t1 = 0;
};

// What the chart shows, in words, for those who cannot see it.
void WriteTrendDescription(const std::vector<TrendLine>& lines, std::ostream& out) {
    out << "<desc>";
    for (size_t l = 0; l < lines.size(); ++l) {
        if (l != 0) out << "; ";
        out << HtmlEscape(lines[l].engine) << ':';
        for (const ReportHistory::Point& point : *lines[l].points)
            out << ' ' << HtmlEscape(DayOf((*lines[l].checks)[point.check].startedAt)) << ' '
                << HtmlEscape(PointText(point));
    }
    out << "</desc>";
}

// The position ticks with their grid lines, and the strip for not found. Drawn once per page in
// the shared frame, with presentation attributes of its own (a chart's <use> copy does not take
// the page's selectors).
void WriteTrendAxes(const TrendFrame& f, std::ostream& out) {
    using F = TrendFrame;
    for (int tick : PositionTicks(f.axisTop)) {
        const double ty = f.Y(tick);
        out << "<line x1=\"" << F::kLeft << "\" x2=\"" << F::kWidth - F::kRight << "\" y1=\""
            << Num(ty) << "\" y2=\"" << Num(ty) << "\" stroke=\"#ddd\"/><text x=\"" << F::kLeft - 6
            << "\" y=\"" << Num(ty + 4) << "\" text-anchor=\"end\">" << tick << "</text>\n";
    }
    out << "<rect x=\"" << F::kLeft << "\" y=\"" << F::kStripTop << "\" width=\""
        << F::kWidth - F::kLeft - F::kRight << "\" height=\"" << F::kStrip
        << "\" fill=\"#f2f2f2\"/><text x=\"" << F::kLeft - 6 << "\" y=\"" << Num(F::kStripY + 4)
        << "\" text-anchor=\"end\">not found</text>\n";
}

// Dates: up to five checks of the timeline, spread evenly, each day once.
void WriteTrendDates(const TrendFrame& f, const std::vector<std::string>& timeline,
                     std::ostream& out) {
    using F = TrendFrame;
    const size_t n = timeline.size();
    const size_t labels = std::min<size_t>(n, 5);
    std::string lastDay;
    for (size_t k = 0; k < labels; ++k) {
        const size_t i = labels < 2 ? 0 : (k * (n - 1) + (labels - 1) / 2) / (labels - 1);
        const std::string day = DayOf(timeline[i]);
        if (day == lastDay) continue;
        lastDay = day;
        const char* anchor = labels < 2        ? "middle"
                             : k == 0          ? "start"
                             : k + 1 == labels ? "end"
                                               : "middle";
        const double x = f.X(timeline[i]);
        out << "<line x1=\"" << Num(x) << "\" x2=\"" << Num(x) << "\" y1=\"" << F::kTop
            << "\" y2=\"" << F::kStripTop + F::kStrip << "\" stroke=\"#eee\"/><text x=\"" << Num(x)
            << "\" y=\"" << F::kDates << "\" text-anchor=\"" << anchor << "\">" << HtmlEscape(day)
            << "</text>\n";
    }
}

// One engine's line, broken where the URL was not ranked, with its markers (the line's vertices,
// drawn by the style sheet); not found in the strip as hollow markers, given up as a cross there.
// `shift` moves it sideways so that the engines' markers of one check stand apart.
void WriteTrendLine(const TrendFrame& f, const TrendLine& line, double shift, std::ostream& out) {
    const size_t style = line.style % std::size(kStyles);
    std::string ranked, strip, crosses;
    bool open = false;
    for (const ReportHistory::Point& point : *line.points) {
        const double px = f.X((*line.checks)[point.check].startedAt) + shift;
        open = open && point.status == RankStatus::Ranked;
        switch (point.status) {
            case RankStatus::Ranked:
                // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict) on
                // "L" + a temporary.
                ranked += open ? "L" : "M";
                ranked += Int(px) + ' ' + Int(f.Y(point.rank.value_or(f.axisTop)));
                open = true;
                break;
            case RankStatus::NotFound:
            case RankStatus::Beyond:
            case RankStatus::Partial:
                strip += "M";
                strip += Int(px) + ' ' + Int(TrendFrame::kStripY);
                break;
            case RankStatus::Suspect:
            case RankStatus::Error:
                crosses += "M";
                crosses += Int(px - 4) + ' ' + Int(TrendFrame::kStripY - 4) + "l8 8m0-8l-8 8";
                break;
            case RankStatus::NotSearched:
                break;
        }
    }
    if (!ranked.empty()) out << "<path class=\"l" << style << "\" d=\"" << ranked << "\"/>";
    if (!strip.empty()) out << "<path class=\"h" << style << "\" d=\"" << strip << "\"/>";
    if (!crosses.empty()) out << "<path class=\"x" << style << "\" d=\"" << crosses << "\"/>";
}

// A marker for each style, centred on its own origin: filled (a ranked check), hollow (not found)
// and the sparkline's last point.
void WriteMarkers(std::ostream& out) {
    for (size_t i = 0; i < std::size(kStyles); ++i) {
        const EngineStyle& style = kStyles[i];
        const char* common =
            " viewBox=\"-6 -6 12 12\" markerWidth=\"12\" markerHeight=\"12\" "
            "markerUnits=\"userSpaceOnUse\">";
        out << "<marker id=\"m" << i << '"' << common
            << Marker(style.marker, 0, 0, 3.5, style.colour, true, "") << "</marker><marker id=\"h"
            << i << '"' << common << Marker(style.marker, 0, 0, 3, style.colour, false, "")
            << "</marker><marker id=\"d" << i << '"' << common << "<circle r=\"2.5\" fill=\""
            << style.colour << "\"/></marker>\n";
    }
}

}  // namespace

EngineStyle StyleOf(size_t index) {
    return kStyles[index % std::size(kStyles)];
}

std::string PointText(const ReportHistory::Point& point) {
    return StatusWords(point.status, point.rank);
}

std::optional<long long> EpochOf(const std::string& iso) {
    if (!ledger::IsUtcTimestamp(iso)) return std::nullopt;
    std::tm tm{};
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(timegm(&tm));
}

std::string ChartStyleSheet() {
    std::ostringstream out;
    for (size_t i = 0; i < std::size(kStyles); ++i) {
        const EngineStyle& style = kStyles[i];
        out << ".l" << i << " { fill: none; stroke: " << style.colour << "; stroke-width: 2;";
        if (*style.dash) out << " stroke-dasharray: " << style.dash << ';';
        out << " marker: url(#m" << i << "); }\n"
            << ".h" << i << " { fill: none; stroke: none; marker: url(#h" << i << "); }\n"
            << ".p" << i << " { fill: none; stroke: none; marker: url(#m" << i << "); }\n"
            << ".x" << i << " { fill: none; stroke: " << style.colour << "; stroke-width: 2.2; }\n"
            << ".s" << i << " { fill: none; stroke: " << style.colour << "; stroke-width: 1.5; }\n"
            << ".s" << i << ".end { marker-end: url(#d" << i << "); }\n";
    }
    out << ".bare { marker: none; }\n.snf { fill: none; stroke: #555; stroke-width: 1.5; }\n";
    return out.str();
}

std::string ChartDefs(const std::vector<std::string>& timeline, int axisTop) {
    const TrendFrame frame(timeline, axisTop);
    std::ostringstream out;
    out << "<svg class=\"defs\" aria-hidden=\"true\" width=\"0\" height=\"0\">\n<defs>\n";
    WriteMarkers(out);
    out << "<g id=\"trend-frame\" font-size=\"11\" font-family=\"system-ui, sans-serif\" "
           "fill=\"#333\">\n";
    WriteTrendAxes(frame, out);
    WriteTrendDates(frame, timeline, out);
    out << "</g>\n</defs>\n</svg>\n";
    return out.str();
}

std::string Sparkline(const std::vector<ReportHistory::Point>& points, size_t engine,
                      size_t count) {
    const size_t first = points.size() > count ? points.size() - count : 0;
    // Its own scale, 1 at the top and the round step at or past its largest rank at the bottom,
    // so that a move within the top 10 shows even where another keyword ranks at 200.
    int axisTop = 0;
    for (size_t i = first; i < points.size(); ++i) {
        if (points[i].status == RankStatus::Ranked && points[i].rank)
            axisTop = std::max(axisTop, std::max(*points[i].rank, 10));
    }
    if (axisTop == 0) return "";
    int step = 10;
    while (step < axisTop)
        step = NextRoundStep(step);
    constexpr double kWidth = 64, kPad = 3, kFloor = 18;
    const size_t style = engine % std::size(kStyles);
    const size_t shown = points.size() - first;
    auto x = [&](size_t i) {
        return shown < 2 ? kWidth / 2
                         : kPad + (kWidth - 2 * kPad) * static_cast<double>(i - first) /
                                      static_cast<double>(shown - 1);
    };
    auto y = [&](int rank) { return PositionY(rank, step, kPad, kFloor - 3 - kPad); };

    std::string words;
    for (size_t i = first; i < points.size(); ++i) {
        if (i != first) words += ", ";
        words += PointText(points[i]);
    }
    std::string path, notFound;
    bool open = false;
    for (size_t i = first; i < points.size(); ++i) {
        const ReportHistory::Point& point = points[i];
        if (point.status == RankStatus::Ranked && point.rank) {
            path += open ? "L" : "M";
            path += Int(x(i)) + ' ' + Int(y(*point.rank));
            open = true;
        } else {
            open = false;
            if (point.status == RankStatus::NotFound) {
                notFound += "M";
                notFound += Int(x(i) - 2) + ' ' + Int(kFloor) + "h4";
            }
        }
    }
    const ReportHistory::Point& last = points.back();
    const bool endsRanked = last.status == RankStatus::Ranked && last.rank.has_value();
    std::ostringstream out;
    out << "<svg class=\"spark\" role=\"img\" width=\"64\" height=\"20\" viewBox=\"0 0 64 20\">"
        << "<title>last " << shown << (shown == 1 ? " check: " : " checks: ") << HtmlEscape(words)
        << " (1 at the top, " << step << " at the bottom)</title><path class=\"s" << style
        << (endsRanked ? " end" : "") << "\" d=\"" << path << "\"/>";
    if (!notFound.empty()) out << "<path class=\"snf\" d=\"" << notFound << "\"/>";
    out << "</svg>";
    return out.str();
}

std::string TrendChart(const std::string& title, const std::vector<TrendLine>& lines,
                       const std::vector<std::string>& timeline, int axisTop) {
    const TrendFrame frame(timeline, axisTop);
    std::ostringstream out;
    out << "<svg class=\"trend\" role=\"img\" viewBox=\"0 0 " << TrendFrame::kWidth << ' '
        << TrendFrame::kHeight << "\" width=\"" << TrendFrame::kWidth << "\" height=\""
        << TrendFrame::kHeight << "\"><title>" << HtmlEscape(title) << "</title>";
    WriteTrendDescription(lines, out);
    out << "<use href=\"#trend-frame\"/>";
    for (size_t l = 0; l < lines.size(); ++l) {
        const double shift =
            (static_cast<double>(l) - (static_cast<double>(lines.size()) - 1) / 2) * 3;
        WriteTrendLine(frame, lines[l], shift, out);
    }
    out << "</svg>\n";
    return out.str();
}

std::string EngineLegend(const std::vector<std::string>& engines) {
    std::ostringstream out;
    out << "<p class=\"engines\">";
    for (size_t e = 0; e < engines.size(); ++e) {
        const EngineStyle style = StyleOf(e);
        out << "<span class=\"engine\"><svg role=\"img\" width=\"40\" height=\"14\" viewBox=\"0 0 "
               "40 14\"><title>"
            << HtmlEscape(engines[e]) << " line</title><path class=\"l" << e % std::size(kStyles)
            << " bare\" d=\"M2 7H38\"/><path class=\"p" << e % std::size(kStyles)
            << "\" d=\"M20 7\"/></svg> " << HtmlEscape(engines[e]) << " (" << style.pattern << ", "
            << style.marker << "s)</span>";
    }
    out << "<span class=\"engine\">hollow marker in the grey strip: not found; \u00d7: keyword "
           "given up</span></p>\n";
    return out.str();
}

}  // namespace rankcheck
