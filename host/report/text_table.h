// Text tables for the terminal and for programs: the display width of UTF-8 text, text wrapped
// to a terminal's columns, an aligned table under a header and a rule, and CSV (RFC 4180, lines
// ending in CR LF), each made safe for where it goes (safe_text.h). The rank report, the
// history, the list of checks, the run's summary and its progress line all measure and lay out
// text here.
//
// Free functions without state; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rankcheck {

using TextRow = std::vector<std::string>;

// The columns an output gets when nothing says otherwise.
inline constexpr int kDefaultColumns = 80;

// Columns on screen of a UTF-8 text: two for a wide character (CJK ideographs, kana, Hangul,
// fullwidth forms, most emoji), none for a combining mark, one for any other character.
size_t DisplayWidth(std::string_view utf8);
// At most `columns` columns of a UTF-8 text, never cutting a character in two.
std::string FitColumns(const std::string& utf8, int columns);
// `text` broken at blanks into lines of at most `columns` columns, every line but the first
// indented by `hanging` blanks; a word wider than a line stays whole on a line of its own (a
// URL or a command a user copies is never cut). Line ends in `text` are kept, each line wrapped
// on its own with its own indent. The result has no final line end.
std::string WrapText(const std::string& text, int columns, int hanging = 0);
// The columns of the terminal behind `fd`: COLUMNS when it holds a number, else the terminal's
// width (TIOCGWINSZ) when `fd` is one, else kDefaultColumns.
int OutputColumns(int fd);

// How AlignedTable lays out a table that is wider than its columns.
struct TableLayout {
    int columns = 0;               // > 0: the width to fit; 0: as wide as its cells
    std::vector<size_t> wrapping;  // the columns whose cells may wrap at blanks, to fit
};

// `header`, a rule of dashes under each column, then `rows`; columns two blanks apart, each as
// wide as its widest cell, blanks at the end of a line left out. Every row has header.size()
// cells. When the table is wider than `layout.columns`, the widest of the wrapping columns is
// narrowed (never below its widest word, nor below 8 columns) until it fits, and its cells
// continue on further lines. A table is for a terminal: every cell is shown as TerminalText
// (safe_text.h) shows it, control characters escaped and a value wider than kValueColumns cut.
std::string AlignedTable(const TextRow& header, const std::vector<TextRow>& rows,
                         const TableLayout& layout = {});

// One CSV field: quoted when it holds a comma, a quote or a line end (quotes doubled); a text
// that a spreadsheet would evaluate gets a leading apostrophe first (SpreadsheetText), a number
// stays a number.
std::string CsvField(const std::string& cell);
// `header`, then `rows`, one line each.
std::string CsvTable(const TextRow& header, const std::vector<TextRow>& rows);

}  // namespace rankcheck
