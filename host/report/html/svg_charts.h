// The inline SVG pictures of the HTML report: the sparkline in a rank table cell, the trend
// chart of one keyword and URL over the checks, and the legend that tells the engines apart.
// Every trend chart puts position 1 at the top on one shared logarithmic scale (ReportHistory::
// AxisTop) over one shared timeline, so that two charts can be compared at a glance; what they
// share is drawn once per page (ChartDefs: the grid, the axes, the dates and the markers), and
// each chart refers to it, so that a page of 1500 charts stays small. Engines differ in line
// pattern and marker shape as well as in colour (ChartStyleSheet); each picture carries a
// <title> (and a trend chart a <desc>) that says in words what it shows.
//
// Free functions without state; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/report/rank_view.h"
#include "host/report/report_history.h"

namespace rankcheck {

// How the engine at `index` of the page is drawn.
struct EngineStyle {
    const char* colour;
    const char* dash;     // stroke-dasharray; empty: solid
    const char* marker;   // "circle", "square", "triangle" or "diamond"
    const char* pattern;  // the line in words: "solid", "dashed", "dotted", "dash-dot"
};
EngineStyle StyleOf(size_t index);

// What one point says in words (StatusWords): "4", "-" (not found), "partial", "error",
// "not searched".
std::string PointText(const ReportHistory::Point& point);

// Seconds since the epoch of an ISO 8601 UTC time ("2026-12-08T04:21:16Z"); none for other text.
std::optional<long long> EpochOf(const std::string& iso);

// The style sheet rules of the chart classes every picture uses, one set per engine style:
// the line and its markers ("l0"; "l0 bare" without them), a lone marker ("p0"), not found in
// the strip ("h0"), given up ("x0"), and the sparkline ("s0", its last point "s0 end", not found
// "snf").
std::string ChartStyleSheet();

// The hidden picture that holds what the charts of a page share: each engine style's markers
// ("m0" ranked, "h0" hollow, "d0" the sparkline's last point) and the trend charts' frame
// ("trend-frame": the position grid from 1 to `axisTop`, the strip for not found and the dates
// of `timeline`). Written once, before any chart.
std::string ChartDefs(const std::vector<std::string>& timeline, int axisTop);

// The last `count` points of one series as a 64 x 20 picture on its own scale (1 at the top, the
// round step at or past its largest rank at the bottom; not found marked along the bottom);
// empty text when none of them is ranked.
std::string Sparkline(const std::vector<ReportHistory::Point>& points, size_t engine,
                      size_t count = 10);

// One line of a trend chart: an engine's points with the checks they belong to.
struct TrendLine {
    std::string engine;
    size_t style = 0;  // StyleOf index
    const std::vector<ReportHistory::Point>* points = nullptr;
    const std::vector<ledger::CheckInfo>* checks = nullptr;
};

// The positions of one URL for one keyword over the checks: dates along the x axis (from the
// first to the last time of `timeline`), a line per engine broken where the URL was not found,
// the keyword was given up or not searched; not found and given up are marked in a strip below
// the plot. `title` names what is drawn (escaped here). Draws on the frame of ChartDefs with the
// same timeline and axisTop.
std::string TrendChart(const std::string& title, const std::vector<TrendLine>& lines,
                       const std::vector<std::string>& timeline, int axisTop);

// A short sample of each engine's line and marker with its name.
std::string EngineLegend(const std::vector<std::string>& engines);

}  // namespace rankcheck
