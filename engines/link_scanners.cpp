#include "engines/link_scanners.h"

namespace {

const AnsiString kQuillonMarker = "&nbsp<span class=\"resURL\">";
constexpr size_t kQuillonCut = 33;  // the marker and the 7 characters after it
const AnsiString kVerrinMarker = "<span class=\"u\">";
const AnsiString kVerrinNextMarker = "href=\"results.aspx";
constexpr size_t kHrefQuote = 6;  // href="

// Collects links that start `cut` characters after each `marker` and end before the first of
// `terminators`; `trim` normalises each one.
template <typename Trim>
std::vector<AnsiString> Scan(const AnsiString& text, const AnsiString& marker, size_t cut,
                             const char* terminators, Trim trim) {
    std::vector<AnsiString> links;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(marker, from);
        if (at == AnsiString::npos) break;
        const size_t start = at + cut;
        if (start >= text.size()) break;  // nothing after the marker: not a link
        const size_t end = text.find_first_of(terminators, start);
        if (end == AnsiString::npos) break;  // unterminated: dropped
        AnsiString link = text.substr(start, end - start);
        trim(link);
        links.push_back(std::move(link));
        from = start;
    }
    return links;
}

void DropTrailingSlash(AnsiString& link) {
    if (!link.empty() && link.back() == '/') link.pop_back();
}

}  // namespace

std::vector<AnsiString> ScanQuillonLinks(const AnsiString& pageText) {
    return Scan(pageText, kQuillonMarker, kQuillonCut, " \r\n", [](AnsiString& link) {
        DropTrailingSlash(link);
        if (link.compare(0, 7, "http://") == 0) link.erase(0, 7);
    });
}

std::vector<AnsiString> ScanVerrinLinks(const AnsiString& pageText) {
    return Scan(pageText, kVerrinMarker, kVerrinMarker.size(), "<\r\n", DropTrailingSlash);
}

AnsiString ExtractVerrinNextPage(const AnsiString& pageText) {
    const size_t first = pageText.find(kVerrinNextMarker);
    if (first == AnsiString::npos) return "";
    const size_t second = pageText.find(kVerrinNextMarker, first + 1);
    if (second == AnsiString::npos) return "";
    const size_t start = second + kHrefQuote;
    const size_t end = pageText.find('"', start);
    return pageText.substr(start, end == AnsiString::npos ? AnsiString::npos : end - start);
}
