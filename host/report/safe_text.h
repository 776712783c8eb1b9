// Text that leaves rankcheck, made safe for where it goes. Keywords, URLs, result links and the
// plug-ins' status lines are the user's or an engine's bytes, and may hold anything:
//
//   a terminal     control characters (an escape sequence retitles the window, recolours or
//                  clears the screen) are shown escaped instead: C0 controls, DEL and bytes that
//                  are not UTF-8 as \x1b, C1 controls and the bidirectional overrides and
//                  isolates (which reorder what is shown) as \u009b; valid characters, multibyte
//                  ones included, stay as they are; a value wider than its limit is cut, with
//                  its full length said: "…(1048576 bytes)"
//   a spreadsheet  a CSV text cell that starts with =, +, -, @, a tab or a carriage return would
//                  be evaluated as a formula; it is written with a leading apostrophe, which
//                  spreadsheets take as "text" and do not show. A number ("-2") is a number and
//                  stays as it is.
//
// Files that are read by programs keep every value whole and exact (JSON escapes on its own;
// HTML escapes its markup). The results are valid UTF-8 and measured as text_table.h measures:
// an escape is as many columns as it has characters.
//
// Free functions without state; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rankcheck {

// Columns a keyword, URL or link may take on a terminal: a table cell, a value in a message.
inline constexpr int kValueColumns = 200;
// Columns a status line of a plug-in may take on a terminal (it quotes a keyword).
inline constexpr int kLineColumns = 300;

// `text` for a terminal: control characters and invalid bytes escaped, then cut to `maxColumns`
// (the cut text and its "…(N bytes)" fit in them; N is the size of `text`). With `maxColumns` of
// 30 or more (room for the "…(N bytes)" of any size), applied twice it gives the same text.
std::string TerminalText(std::string_view text, int maxColumns = kValueColumns);
// A message of rankcheck's own for a terminal, which may hold values: escaped as TerminalText,
// but its line ends kept and nothing cut.
std::string TerminalMessage(std::string_view text);

// Whether a spreadsheet would evaluate `cell` as a formula: it starts with =, +, -, @, a tab or a
// carriage return and is not a number (an optional sign, digits, an optional fraction).
bool SpreadsheetWouldEvaluate(std::string_view cell);
// `cell` with a leading apostrophe when a spreadsheet would evaluate it; else as it is.
std::string SpreadsheetText(std::string_view cell);

}  // namespace rankcheck
