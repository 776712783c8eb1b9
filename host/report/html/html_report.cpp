#include "host/report/html/html_report.h"

#include "host/report/html/html_text.h"

namespace rankcheck {

namespace {

// Bands keep a text contrast of at least 4.5:1; the position itself says the band, so colour is
// never the only sign. Print keeps the colours and lets no chart or list break across pages.
const char kStyle[] = R"(
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, sans-serif; color: #1d1d1d; margin: 1.5em 2em; max-width: 84em; }
h1 { font-size: 1.6em; margin: 0 0 0.2em; }
h2 { font-size: 1.25em; margin: 1.8em 0 0.5em; border-bottom: 2px solid #ddd; }
h3 { font-size: 1.1em; margin: 0 0 0.5em; overflow-wrap: anywhere; }
h4 { font-size: 1em; margin: 0 0 0.3em; }
p.meta { color: #444; margin: 0 0 0.6em; overflow-wrap: anywhere; }
p.note { color: #444; font-size: 0.9em; }
time > span { white-space: nowrap; }
table { border-collapse: collapse; }
th, td { border: 1px solid #c8c8c8; padding: 0.3em 0.6em; text-align: left; vertical-align: top; }
thead th { background: #eee; }
table.figures td { text-align: right; font-variant-numeric: tabular-nums; min-width: 4em; }
table.ranks td.rank { text-align: center; min-width: 5.5em; font-variant-numeric: tabular-nums; }
td.kw { font-weight: 600; }
td.kw a { color: inherit; }
td.kw, td.url { overflow-wrap: break-word; }
.chg { font-size: 0.85em; margin-left: 0.35em; white-space: nowrap; }
svg.spark { display: inline-block; vertical-align: middle; margin-left: 0.45em; background: #fff; border-radius: 2px; }
table.ranks td.rank { white-space: nowrap; }
.intro { display: flex; flex-wrap: wrap; gap: 0 3em; align-items: flex-start; }
.intro h2 { margin-top: 0.6em; }
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
p.engines { display: flex; flex-wrap: wrap; gap: 0.4em 1.4em; align-items: center; }
p.engines svg { vertical-align: middle; }
section.keyword { border-top: 1px solid #ddd; padding: 1em 0; }
.trends { display: flex; flex-wrap: wrap; gap: 1em 1.5em; }
figure.trend { margin: 0; flex: 0 1 360px; min-width: 0; }
figure.trend figcaption { font-weight: 600; overflow-wrap: break-word; }
svg.trend { width: 100%; max-width: 360px; height: auto; }
svg text { font: 11px system-ui, sans-serif; fill: #333; }
svg text.gaveup { font-size: 14px; font-weight: 700; }
.lists { display: flex; flex-wrap: wrap; gap: 1em 2em; margin-top: 0.8em; }
.toplist { flex: 1 1 22em; min-width: 0; }
.toplist .when { font-weight: normal; color: #555; }
ol.top10, ol.competitors { margin: 0.2em 0 0.4em; padding-left: 2.2em; }
ol.top10 li, ol.competitors li { overflow-wrap: break-word; }
li.mine { background: #fff3a8; font-weight: 700; outline: 1px solid #c9b400; }
strong.yours { font-size: 0.8em; text-transform: uppercase; letter-spacing: 0.04em; }
p.above { margin: 0.4em 0 0; font-style: italic; overflow-wrap: anywhere; }
@media (max-width: 600px) {
  body { margin: 0.6em; font-size: 14px; }
  th, td { padding: 0.2em 0.3em; }
  table.ranks { width: 100%; }
  table.ranks td.rank { min-width: 0; white-space: normal; }
  .intro > * { min-width: 0; max-width: 100%; }
  svg.spark { display: block; margin: 0.15em auto 0; }
  .toplist { flex-basis: 100%; }
}
@media print {
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  body { margin: 0; font-size: 10pt; max-width: none; }
  td.kw a { text-decoration: none; }
  tr, figure.trend, .toplist { break-inside: avoid; }
  h2, h3, h4, figcaption { break-after: avoid; }
}
)";

}  // namespace

void WriteHtml(const RankView& view, const ReportHistory& history, std::ostream& out,
               const std::string& folder) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        << "<title>Rank report: " << HtmlEscape(folder) << "</title>\n<style>" << kStyle
        << "</style>\n</head>\n<body>\n";
    out << "<div class=\"intro\">\n";
    WriteHeaderSection(view, folder, out);
    WriteSummarySection(view, out);
    out << "</div>\n";
    WriteRankTable(view, history, out);
    WriteKeywordSections(view, history, out);
    out << "</body>\n</html>\n";
}

}  // namespace rankcheck
