// Fuzz target: the line rules of the job files module. The input is read as a result file and as
// a urls.lst. A result file's lines sort into links and error marker lines, none lost and the
// links in their order; every marker written for a page number is recognised as one. Every URL
// line normalises without any error but the one for an empty or blank line, loses at most its
// characters at its ends, and a normalised URL that a link holds whole also matches it
// exactly when the two are equal.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "jobfiles/job_files.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "platform/string_list.h"
#include "platform/sysutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace jobfiles;
    const AnsiString text = fuzzsupport::Bytes(data, size);
    TStringList lines;
    lines.SetText(text);

    const ResultLines sorted = ResultLines::From(lines.Lines());
    size_t markers = 0, next = 0;
    for (const AnsiString& line : lines.Lines()) {
        if (IsErrorMarker(line)) {
            ++markers;
        } else {
            FUZZ_CHECK(next < sorted.links.size() && sorted.links[next] == line,
                       "every line that is not a marker is a link, in file order");
            ++next;
        }
    }
    FUZZ_CHECK(next == sorted.links.size() && sorted.givenUp == (markers > 0),
               "links and markers together are the file's lines");
    FUZZ_CHECK(sorted.positionsBeforeGiveUp <= static_cast<int>(sorted.links.size()),
               "the links before a give-up are among the links");

    for (const AnsiString& line : lines.Lines()) {
        AnsiString url;
        try {
            url = NormaliseUrl(line);
        } catch (const ERangeError&) {
            FUZZ_CHECK(line.find_first_not_of(' ') == AnsiString::npos,
                       "only an empty or blank line has no normal form");
            continue;
        }
        FUZZ_CHECK(line.find(url) != AnsiString::npos,
                   "normalising only drops characters at the ends of the line");
        FUZZ_CHECK(url.rfind("http://", 0) != 0 || line.find("http://http://") != AnsiString::npos ||
                       line.find("https://http://") != AnsiString::npos,
                   "a leading scheme is dropped");
        for (const AnsiString& link : sorted.links) {
            if (LinkMatchesUrl(link, url, true)) {
                FUZZ_CHECK(url.empty() || LinkMatchesUrl(link, url, false),
                           "a link equal to the URL also holds it");
            }
        }
    }
    int page = 0;
    if (size >= 4) {
        page = static_cast<int>(static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                                static_cast<uint32_t>(data[2]) << 16 |
                                static_cast<uint32_t>(data[3]) << 24);
    }
    FUZZ_CHECK(IsErrorMarker(ErrorMarker(page)), "a marker written is recognised");
    FUZZ_CHECK(!IsErrorMarker(ErrorMarker(page) + "x") && !IsErrorMarker("x" + ErrorMarker(page)),
               "nothing may stand before or after a marker");
    return 0;
}
