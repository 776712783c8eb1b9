// Text tables for the terminal and for programs: the display width of UTF-8 text, an aligned
// table under a header and a rule, and CSV (RFC 4180, lines ending in CR LF), each made safe for
// where it goes (safe_text.h). The rank report, the history, the list of checks and the run's
// progress line all measure and lay out text here.
//
// Free functions without state; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rankcheck {

using TextRow = std::vector<std::string>;

// Characters on screen of a UTF-8 text: every byte that does not continue a sequence.
size_t DisplayWidth(std::string_view utf8);
// At most `columns` characters of a UTF-8 text, never cutting a character in two.
std::string FitColumns(const std::string& utf8, int columns);

// `header`, a rule of dashes under each column, then `rows`; columns two blanks apart, each as
// wide as its widest cell, blanks at the end of a line left out. Every row has header.size()
// cells. A table is for a terminal: every cell is shown as TerminalText (safe_text.h) shows it,
// control characters escaped and a value wider than kValueColumns cut.
std::string AlignedTable(const TextRow& header, const std::vector<TextRow>& rows);

// One CSV field: quoted when it holds a comma, a quote or a line end (quotes doubled); a text
// that a spreadsheet would evaluate gets a leading apostrophe first (SpreadsheetText), a number
// stays a number.
std::string CsvField(const std::string& cell);
// `header`, then `rows`, one line each.
std::string CsvTable(const TextRow& header, const std::vector<TextRow>& rows);

}  // namespace rankcheck
