// Fuzz target: ScanQuillonLinks on any page text. Checks that every link is a clean single line
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
using fuzzsupport::StartsWith;

const AnsiString kMarker = "&nbsp<span class=\"resURL\">";

// A page in the engine's layout holding `links`: each one after the marker and a 7-character
// entity, with a scheme prefix and a trailing slash that the scanner removes again.
AnsiString PageOf(const std::vector<AnsiString>& links) {
    AnsiString page = "<ol>\n";
    for (const AnsiString& link : links)
        page += "<li>" + kMarker + "&#8226;http://" + link + "/ </span></li>\n";
    return page + "</ol>\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString page = fuzzsupport::Bytes(data, size);
    const std::vector<AnsiString> links = ScanQuillonLinks(page);

    FUZZ_CHECK(links.size() <= fuzzsupport::CountOccurrences(page, kMarker),
               "at most one link per result marker");
    for (const AnsiString& link : links) {
        FUZZ_CHECK(link.find_first_of(" \r\n") == AnsiString::npos,
                   "a link holds no blank, CR or LF (one link per result file line)");
        FUZZ_CHECK(Contains(page, link), "a link is a piece of the page");
        // One leading "http://" is removed; a link keeps one only when the page had it twice.
        if (StartsWith(link, "http://")) {
            FUZZ_CHECK(Contains(page, "http://" + link), "the scheme prefix is removed");
        }
    }

    // A page cut short (a broken connection) yields the links of the whole page that end before
    // the cut, unchanged and in the same order.
    const std::vector<AnsiString> head = ScanQuillonLinks(page.substr(0, page.size() / 2));
    FUZZ_CHECK(head.size() <= links.size() && std::equal(head.begin(), head.end(), links.begin()),
               "the links of a truncated page are a prefix of the links of the whole page");

    FUZZ_CHECK(ScanQuillonLinks(PageOf(links)) == links,
               "links written into a page of their own scan to themselves");
    return 0;
}
