// Fuzz target: ExtractVerrinNextPage on any page text. Checks that the result is empty exactly
// when the page has fewer than two next-page markers, that it is otherwise the attribute value
// behind the second one, that a truncated page gives a prefix of the full page's value, and that
// the value put back into a pager scans to itself.
#include <cstddef>
#include <cstdint>

#include "engines/link_scanners.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Contains;
using fuzzsupport::StartsWith;

const AnsiString kMarker = "href=\"results.aspx";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString page = fuzzsupport::Bytes(data, size);
    const AnsiString next = ExtractVerrinNextPage(page);

    const bool twoMarkers = fuzzsupport::CountOccurrences(page, kMarker) >= 2;
    FUZZ_CHECK(next.empty() != twoMarkers, "a next-page link exactly when there are two markers");
    if (!next.empty()) {
        FUZZ_CHECK(StartsWith(next, "results.aspx"), "the link is relative to results.aspx");
        FUZZ_CHECK(next.find('"') == AnsiString::npos, "the link ends before a quotation mark");
        FUZZ_CHECK(Contains(page, "href=\"" + next), "the link is an attribute value of the page");
    }

    const AnsiString head = ExtractVerrinNextPage(page.substr(0, page.size() / 2));
    FUZZ_CHECK(StartsWith(next, head), "a truncated page gives a prefix of the full link");

    if (!next.empty()) {
        const AnsiString pager = "<a href=\"" + next + "\">1</a> <a href=\"" + next + "\">Next</a>";
        FUZZ_CHECK(ExtractVerrinNextPage(pager) == next, "the link put back into a pager");
    }
    return 0;
}
