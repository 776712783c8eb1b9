// Fuzz target: ScanVerrinLinks on any page text. Checks that every link is a clean single line
// cut out of the page, that links found on a truncated page are never changed by the rest of the
// page, and that the links, written back into a page of their own, scan to themselves.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engines/link_scanners.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Contains;

const AnsiString kMarker = "<span class=\"u\">";

// A page in the engine's layout holding `links`, each with a trailing slash that the scanner
// removes again.
AnsiString PageOf(const std::vector<AnsiString>& links) {
    AnsiString page = "<ul id=\"results\">\n";
    for (const AnsiString& link : links)
        page += "<li><cite>" + kMarker + link + "/</span></cite></li>\n";
    return page + "</ul>\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString page = fuzzsupport::Bytes(data, size);
    const std::vector<AnsiString> links = ScanVerrinLinks(page);

    FUZZ_CHECK(links.size() <= fuzzsupport::CountOccurrences(page, kMarker),
               "at most one link per result marker");
    for (const AnsiString& link : links) {
        FUZZ_CHECK(link.find_first_of("<\r\n") == AnsiString::npos,
                   "a link holds no \"<\", CR or LF (one link per result file line)");
        FUZZ_CHECK(Contains(page, kMarker + link), "a link is the text right after a marker");
    }

    const std::vector<AnsiString> head = ScanVerrinLinks(page.substr(0, page.size() / 2));
    FUZZ_CHECK(head.size() <= links.size() && std::equal(head.begin(), head.end(), links.begin()),
               "the links of a truncated page are a prefix of the links of the whole page");

    FUZZ_CHECK(ScanVerrinLinks(PageOf(links)) == links,
               "links written into a page of their own scan to themselves");
    return 0;
}
