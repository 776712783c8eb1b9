// Text made safe for an HTML page: the five characters that could end an element, an attribute
// or a character reference written as references, and keyword or URL bytes from the ANSI code
// page converted to UTF-8 first. Used by every part of the HTML report, inside elements and
// inside double-quoted attributes alike.
//
// Free functions without state; any thread.
#pragma once

#include <string>

namespace rankcheck {

// `text` (UTF-8) with & < > " ' as character references.
std::string HtmlEscape(const std::string& text);
// A keyword or URL as stored (ANSI code page) converted to UTF-8, then escaped.
std::string HtmlText(const std::string& ansi);
// A link or URL as stored, converted and escaped, with a line-break opportunity (<wbr>) after
// each "/", "." and "?" so that a long one wraps at its parts on a narrow screen.
std::string HtmlUrl(const std::string& ansi);
// A check's start (ISO 8601 UTC) as "<date> <hour> UTC" that may wrap between the date and the
// hour, never inside either; the <time> element carries the full UTC time for machines.
std::string TimeHtml(const std::string& iso);

}  // namespace rankcheck
