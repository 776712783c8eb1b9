// The result-link scanners of the two engines: pure functions of the page text (text in, links
// out), so that they can be tested and fuzzed alone. Each is linear in the size of the page.
// Stateless; safe on any thread.
//
// Quillon: a link follows the 26-character marker `&nbsp<span class="resURL">` and 7 further
// characters, and runs up to the next blank; one trailing "/" and a leading "http://" are
// removed. Verrin: a link follows the 16-character marker `<span class="u">` and runs up to the
// next "<"; one trailing "/" is removed and "http://" is kept.
//
// In both, a CR or LF also ends a link (so a result file keeps one link per line), an empty link
// is returned as an empty string (so positions stay aligned with the engine's ranks), and a link
// that is not terminated before the end of the text, including one whose marker stands so close
// to the end that its removed characters run past it, is dropped. The next marker is looked for
// from the start of the link just taken, since a marker may begin inside the link's text.
#pragma once

#include <vector>

#include "platform/ansi_string.h"

std::vector<AnsiString> ScanQuillonLinks(const AnsiString& pageText);
std::vector<AnsiString> ScanVerrinLinks(const AnsiString& pageText);

// The relative next-page link of a Verrin result page: the value of the page's second
// `href="results.aspx` attribute, from "results.aspx" up to the next double quotation mark,
// verbatim (character references such as &amp; are kept). Empty when the page has fewer than two
// such attributes; when no quotation mark follows, everything up to the end of the text.
AnsiString ExtractVerrinNextPage(const AnsiString& pageText);
