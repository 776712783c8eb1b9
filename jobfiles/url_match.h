// The user's URLs and how a result link is matched against one: the one rule that the search
// job's completion test and rankcheck's rank report share.
//
// A URL of urls.lst is normalised once when it is read: blanks (the space character) are trimmed
// at both ends, then one trailing "/" is dropped, then a leading "http://" or "https://"
// (compared case-sensitively). The result links themselves are never rewritten.
//
// A link matches a normalised URL when, both upper-cased with AnsiUpperCase, the URL occurs
// anywhere inside the link (an empty URL occurs nowhere), or with exact matching when the two are
// equal.
//
// Free functions without state; any thread.
#pragma once

#include "platform/ansi_string.h"

namespace jobfiles {

// Raises ERangeError on a text that is empty or all blanks (there is nothing to look at).
AnsiString NormaliseUrl(const AnsiString& url);

// `normalisedUrl` has been through NormaliseUrl.
bool LinkMatchesUrl(const AnsiString& link, const AnsiString& normalisedUrl, bool exactMatch);
// The same rule on texts that are both upper-cased with AnsiUpperCase already, for a caller that
// compares many links with the same URLs.
bool UpperLinkMatchesUpperUrl(const AnsiString& upperLink, const AnsiString& upperUrl,
                              bool exactMatch);

// `link` without a leading "http://" or "https://" (case-sensitive), so that a report can match
// a user URL against links shown with or without a scheme. Nothing else is dropped.
AnsiString WithoutScheme(const AnsiString& link);

}  // namespace jobfiles
