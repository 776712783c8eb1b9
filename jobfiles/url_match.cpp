#include "jobfiles/url_match.h"

#include "platform/sysutils.h"

namespace jobfiles {

namespace {

bool StartsWith(const AnsiString& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

AnsiString NormaliseUrl(const AnsiString& url) {
    AnsiString s = url;
    // An empty or all-blank text has no first character to look at.
    while (CharAt(s, 1) == ' ')
        s.erase(0, 1);
    while (CharAt(s, static_cast<long long>(s.size())) == ' ')
        s.pop_back();
    if (s.back() == '/') s.pop_back();
    // The trailing slash goes first, so that "http://site/" becomes "site" and a URL pasted
    // with https:// is matched like one written without a scheme.
    return WithoutScheme(s);
}

AnsiString WithoutScheme(const AnsiString& link) {
    if (StartsWith(link, "http://")) return link.substr(7);
    if (StartsWith(link, "https://")) return link.substr(8);
    return link;
}

bool UpperLinkMatchesUpperUrl(const AnsiString& upperLink, const AnsiString& upperUrl,
                              bool exactMatch) {
    if (exactMatch) return upperLink == upperUrl;
    return !upperUrl.empty() && upperLink.find(upperUrl) != AnsiString::npos;
}

bool LinkMatchesUrl(const AnsiString& link, const AnsiString& normalisedUrl, bool exactMatch) {
    return UpperLinkMatchesUpperUrl(AnsiUpperCase(link), AnsiUpperCase(normalisedUrl), exactMatch);
}

}  // namespace jobfiles
