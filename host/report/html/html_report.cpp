#include "host/report/html/html_report.h"

#include "host/report/html/html_overview.h"
#include "host/report/html/html_text.h"
#include "host/report/html/svg_charts.h"

namespace rankcheck {

namespace {

// Nothing is fetched: no source of any kind but the page's own style sheet and script.
const char kPolicy[] = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'";

// Bands keep a text contrast of at least 4.5:1; the position itself says the band, so colour is
// never the only sign. Print keeps the colours and lets no chart or list break across pages.
const char kStyle[] = R"(
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, sans-serif; color: #1d1d1d; margin: 1.5em 2em; max-width: 84em; }
h1 { font-size: 1.6em; margin: 0 0 0.2em; }
h2 { font-size: 1.25em; margin: 1.8em 0 0.5em; border-bottom: 2px solid #ddd; }
h3 { font-size: 1.05em; margin: 0.4em 0 0.4em; }
h4 { font-size: 1em; margin: 0 0 0.3em; }
p.meta { color: #444; margin: 0 0 0.4em; overflow-wrap: anywhere; }
nav a { margin-right: 1em; }
p.note { color: #444; font-size: 0.9em; }
time > span, .when { white-space: nowrap; }
table { border-collapse: collapse; }
th, td { border: 1px solid #c8c8c8; padding: 0.3em 0.6em; text-align: left; vertical-align: top; }
thead th { background: #eee; }
table.figures td { text-align: right; font-variant-numeric: tabular-nums; min-width: 4em; }
td.rank { text-align: center; min-width: 5.5em; font-variant-numeric: tabular-nums; white-space: nowrap; }
th.kw { font-weight: 600; background: #fafafa; }
th.kw a { color: inherit; }
th.kw, td.url { overflow-wrap: anywhere; }
table.ranks tbody { border-top: 2px solid #b0b0b0; }
.chg { font-size: 0.85em; margin-left: 0.35em; white-space: nowrap; }
svg.spark { display: inline-block; vertical-align: middle; margin-left: 0.45em; background: #fff; border-radius: 2px; }
svg.defs { position: absolute; width: 0; height: 0; overflow: hidden; }
.intro { display: flex; flex-wrap: wrap; gap: 0 3em; align-items: flex-start; }
.intro h2 { margin-top: 0.6em; }
.intro > section { min-width: 0; max-width: 100%; }
.summary p.note { max-width: 32em; }
.movelists { display: flex; flex-wrap: wrap; gap: 0.5em 2.5em; align-items: flex-start; }
.movelist { flex: 0 1 auto; min-width: 0; max-width: 100%; }
td.before { text-align: right; white-space: nowrap; }
td.before .when { color: #555; font-size: 0.85em; }
ul.last { margin: 0; padding-left: 1.1em; }
ul.last li { overflow-wrap: anywhere; }
.b1 { background: #1b7a3a; color: #fff; font-weight: 700; }
.b2 { background: #8fd19e; }
.b3 { background: #e9e57a; }
.b4 { background: #f4bd78; }
.b5 { background: #f5dccf; }
.nf { background: #e6e6e6; color: #444; }
.pa { background: #fdf2d0; color: #5e4800; font-style: italic; }
.err { background: #b5322a; color: #fff; font-weight: 700; }
.ns { background: #fff; color: #666; font-style: italic; }
.legend span { display: inline-block; padding: 0.1em 0.6em; margin: 0 0.4em 0.3em 0; border: 1px solid #bbb; }
div.filters { display: flex; flex-wrap: wrap; gap: 0.5em 1.5em; align-items: center; margin: 0.6em 0; }
div.filters input, div.filters select { font: inherit; }
div.filters output { color: #444; }
p.engines { display: flex; flex-wrap: wrap; gap: 0.4em 1.4em; align-items: center; }
p.engines svg { vertical-align: middle; }
details.keyword { border-top: 1px solid #ddd; padding: 0.35em 0; }
details.keyword[open] { padding-bottom: 1em; }
details.keyword > summary { cursor: pointer; overflow-wrap: anywhere; }
summary .kwname { font-weight: 600; }
summary .brief { color: #444; margin-left: 0.6em; }
.trends { display: flex; flex-wrap: wrap; gap: 1em 1.5em; margin-top: 0.6em; }
figure.trend { margin: 0; flex: 0 1 360px; min-width: 0; }
figure.trend figcaption { font-weight: 600; overflow-wrap: anywhere; }
svg.trend { width: 100%; max-width: 360px; height: auto; }
svg text { font: 11px system-ui, sans-serif; fill: #333; }
.lists { display: flex; flex-wrap: wrap; gap: 1em 2em; margin-top: 0.8em; }
.toplist { flex: 1 1 22em; min-width: 0; }
.toplist .when { font-weight: normal; color: #555; }
ol.top10, ol.competitors { margin: 0.2em 0 0.4em; padding-left: 2.2em; }
ol.top10 li, ol.competitors li { overflow-wrap: anywhere; }
li.mine { background: #fff3a8; font-weight: 700; outline: 1px solid #c9b400; }
strong.yours { font-size: 0.8em; text-transform: uppercase; letter-spacing: 0.04em; }
p.above { margin: 0.4em 0 0; font-style: italic; overflow-wrap: anywhere; }
@media (max-width: 600px) {
  body { margin: 0.6em; font-size: 14px; }
  th, td { padding: 0.2em 0.3em; }
  table.ranks, table.moves, table.unchecked { width: 100%; }
  td.rank { min-width: 0; white-space: normal; }
  svg.spark { display: block; margin: 0.15em auto 0; }
  .toplist { flex-basis: 100%; }
}
@media print {
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  body { margin: 0; font-size: 10pt; max-width: none; }
  nav, div.filters { display: none; }
  th.kw a { text-decoration: none; }
  tr, figure.trend, .toplist { break-inside: avoid; }
  h2, h3, h4, figcaption { break-after: avoid; }
}
)";

// The table's search, band filter and order (the form stays hidden without the script), a
// keyword's folded section opened when a link leads to it, and every section opened for print.
const char kScript[] = R"(
(function () {
  var form = document.getElementById('filters');
  var table = document.querySelector('table.ranks');
  if (form && table) {
    var groups = Array.prototype.slice.call(table.tBodies);
    var text = document.getElementById('f-text'), band = document.getElementById('f-band');
    var order = document.getElementById('f-order'), count = document.getElementById('f-count');
    var name = function (g) { return g.rows[0].cells[0].textContent; };
    var larger = function (key) {
      return function (x, y) { return (+y.getAttribute(key) || 0) - (+x.getAttribute(key) || 0); };
    };
    var sortedBy = '';
    var apply = function () {
      var q = text.value.trim().toLowerCase(), b = band.value, shown = 0;
      groups.forEach(function (g) {
        var ok = (!q || name(g).toLowerCase().indexOf(q) >= 0) &&
                 (!b || (' ' + g.getAttribute('data-bands') + ' ').indexOf(' ' + b + ' ') >= 0);
        if (g.hidden === ok) g.hidden = !ok;
        if (ok) shown++;
      });
      if (order.value !== sortedBy) {
        sortedBy = order.value;
        var sorted = groups.slice();
        if (sortedBy === 'az') sorted.sort(function (x, y) { return name(x).localeCompare(name(y)); });
        if (sortedBy === 'rise') sorted.sort(larger('data-rise'));
        if (sortedBy === 'drop') sorted.sort(larger('data-drop'));
        sorted.forEach(function (g) { table.appendChild(g); });
      }
      count.textContent = shown + ' of ' + groups.length + ' keywords shown';
    };
    form.addEventListener('input', apply);
    form.hidden = false;
    count.textContent = groups.length + ' keywords';
  }
  var open = function (id) {
    var target = id && document.getElementById(id);
    if (target && target.tagName === 'DETAILS') target.open = true;
  };
  var reveal = function () { open(decodeURIComponent(location.hash.slice(1))); };
  window.addEventListener('hashchange', reveal);
  document.addEventListener('click', function (e) {
    var link = e.target.closest && e.target.closest('a[href^="#"]');
    if (link) open(link.getAttribute('href').slice(1));
  });
  reveal();
  var closed = [];
  window.addEventListener('beforeprint', function () {
    closed = Array.prototype.filter.call(document.querySelectorAll('details'),
                                         function (d) { return !d.open; });
    closed.forEach(function (d) { d.open = true; });
  });
  window.addEventListener('afterprint', function () {
    closed.forEach(function (d) { d.open = false; });
  });
})();
)";

}  // namespace

void WriteHtml(const RankView& view, const ReportHistory& history, std::ostream& out,
               const std::string& folder, bool folderLockFree) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        << "<meta http-equiv=\"Content-Security-Policy\" content=\"" << kPolicy << "\">\n"
        << "<title>Rank report: " << HtmlEscape(folder) << "</title>\n<style>" << kStyle
        << ChartStyleSheet() << "</style>\n</head>\n<body>\n";
    WriteBanner(view, folder, out);
    out << "<main>\n<div class=\"intro\">\n";
    WriteChecksSection(view, folderLockFree, out);
    WriteSummarySection(view, out);
    out << "</div>\n";
    WriteMovesSection(view, history, out);
    WriteUncheckedSection(view, out);
    WriteRankTable(view, history, out);
    WriteKeywordSections(view, history, out);
    out << "</main>\n<script>" << kScript << "</script>\n</body>\n</html>\n";
}

}  // namespace rankcheck
