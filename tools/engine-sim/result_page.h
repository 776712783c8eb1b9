// The HTML of the simulated engines' pages. A result page carries its results in the engine's
// own markup, with the usual markup of a results page around them (head, style, search form,
// ads, related searches, pager, footer), so that a scanner meets noise, including near misses of
// the result and next-page markers. That noise never holds a marker itself:
//   Quillon: each result is `&nbsp<span class="resURL">`, 7 characters (`&#8226;`), the link
//            text, a blank.
//   Verrin:  each result is `<span class="u">`, the link text, `</span>`. `href="results.aspx`
//            stands twice on a page that has a next page (a navigation link in the header, then
//            the next-page link, written with `&amp;` as real pages write it) and once on the
//            last page of a keyword (the navigation link only).
// The keyword is shown HTML-escaped, so that no keyword can bring a marker into a page.
//
// Pure functions without state: any thread may call them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/engine-sim/scenario.h"

namespace enginesim {

// What one result page shows.
struct PageContent {
    Engine engine = Engine::Quillon;
    std::string keyword;   // as the user wrote it
    std::string rawQuery;  // the q value as it arrived (percent-encoded), for the page's links
    int firstRank = 1;     // rank of the first result on the page
    int totalResults = 0;  // the keyword's result count, shown in the page's statistics line
    std::vector<std::string> links;  // link texts, in page order
    bool nextLink = false;           // Verrin: the page links to the page after it
    bool dense = false;  // results written back to back, without the markup around each one
};

struct RenderedPage {
    std::string html;
    std::vector<size_t> linkOffsets;  // where each link text starts in html
};

RenderedPage RenderPage(const PageContent& page);

// An engine's front page ("/"): a search form and no results.
std::string RenderFrontPage(Engine engine);

// What an engine shows a client it no longer trusts: its captcha page (Quillon's holds
// `<form id="captcha-form"`, Verrin's `<div id="verrin-challenge"`), and its consent page at
// "/consent" (`<form id="consent-form"`, `<div id="verrin-consent"`). Neither holds a result
// marker.
std::string RenderCaptchaPage(Engine engine);
std::string RenderConsentPage(Engine engine);

// The page with filler markup inserted before "</body>" until it holds at least `bytes` bytes.
std::string PadPage(const std::string& html, size_t bytes);

// `bytes` bytes of noise, the same for the same seed; never '<', '&' or '"', so no marker.
std::string Garbage(size_t bytes, uint32_t seed);

// Text with &, <, > and " written as character references.
std::string HtmlEscape(const std::string& text);

}  // namespace enginesim
