// The job files of a working folder: what they are called, the progress record and the error
// marker line, each written down once. The search job writes and reads them; rankcheck, the
// ledger import and the fuzz targets read them through the same functions, so that a reader
// never applies a rule of its own.
//
//   proxy.def             the proxy settings (read by the job)
//   keywords.lst          the keywords, one per line; line i + 1 is keyword index i
//   urls.lst              the user's URLs, one per line
//   <Engine>.set          the progress record (four lines, ProgressRecord)
//   <Engine>-<i>.urls     the result links of keyword i: line n is position n, except error
//                         marker lines ("3#Error found#"), which are not positions
//   <Engine>.start        the first-page request URL of each keyword
//
// <Engine> is the engine's display name ("Quillon", "Verrin"). Every name is relative and
// resolves against the current directory at the moment of each open.
//
// Free functions and plain values without state; any thread.
#pragma once

#include <optional>
#include <vector>

#include "platform/ansi_string.h"
#include "platform/string_list.h"

namespace jobfiles {

inline constexpr char kProxyFile[] = "proxy.def";
inline constexpr char kKeywordFile[] = "keywords.lst";
inline constexpr char kUrlFile[] = "urls.lst";

AnsiString ProgressFileName(const AnsiString& engine);             // "Quillon.set"
AnsiString ResultFileName(const AnsiString& engine, int keyword);  // "Quillon-3.urls"
AnsiString FirstPageFileName(const AnsiString& engine);            // "Quillon.start"

// What a result file's name says: "Quillon-3.urls" is keyword 3 of the engine Quillon.
struct ResultFileRef {
    AnsiString engine;
    int keyword = 0;
};
// The reverse of ResultFileName: <engine>-<decimal digits>.urls with a non-empty engine; none for
// any other name (no digits, a sign, another ending, an index beyond int).
std::optional<ResultFileRef> ParseResultFileName(const AnsiString& name);

// The progress file: where a resumed run goes on. Line 1 the number of the next result page to
// request for the current keyword (1 = its first page), line 2 the links counted so far for it,
// line 3 the keyword's 0-based index, line 4 the URL of the next result page. It always describes
// the keyword whose page was recorded last, as that page left it.
struct ProgressRecord {
    int pageNumber = 1;
    int position = 0;
    int keywordIndex = 0;
    AnsiString nextPageUrl;

    // The file's lines; `fileName` is named in errors. Raises EStringListError when there are
    // fewer than four lines and EConvertError ("Quillon.set line 2: ...") when line 1, 2 or 3 is
    // not an integer. Lines beyond the fourth are ignored.
    static ProgressRecord Parse(const TStringList& lines, const AnsiString& fileName);
    // Reads `fileName`; raises as Parse does, or EFOpenError when it cannot be read.
    static ProgressRecord Load(const AnsiString& fileName);
    // The four lines, numbers in decimal.
    TStringList Lines() const;
};

// The proxy file: line 1 exactly "0" for a direct connection, any other text for a proxy; then
// line 2 exactly "1" when the proxy wants a user name and password, line 3 the proxy's host,
// line 4 its port, and with "1" line 5 the user name and line 6 the password. Only the lines that
// line 1 and 2 call for are read.
struct ProxySettings {
    bool useProxy = false;
    bool credentials = false;  // a user name and password are sent
    AnsiString host;
    int port = 0;
    AnsiString user;
    AnsiString password;

    // Raises EStringListError when the file is empty or lacks a line it calls for, EConvertError
    // ("proxy.def line 4: ...") when the port is not an integer.
    static ProxySettings Parse(const TStringList& lines);
    // Reads proxy.def; raises as Parse does, or EFOpenError when it cannot be read.
    static ProxySettings Load();
    // The file's lines: "0" alone for a direct connection.
    TStringList Lines() const;
};

// The line appended to a keyword's results when the engine gave the keyword up at `pageNumber`:
// the page number in decimal immediately followed by "#Error found#".
AnsiString ErrorMarker(int pageNumber);
// Whether `line` is such a line: an optional "-", one or more decimal digits and "#Error found#",
// nothing before or after. A result link that merely contains the text is a link.
bool IsErrorMarker(const AnsiString& line);

// The lines of a result file sorted into what they mean.
struct ResultLines {
    std::vector<AnsiString> links;  // the positions in order: links[n - 1] is position n
    bool givenUp = false;           // an error marker line is among the lines
    int positionsBeforeGiveUp = 0;  // links before the first error marker line
    bool endsWithGiveUp = false;    // the last line is an error marker line

    static ResultLines From(const std::vector<AnsiString>& lines);
};

}  // namespace jobfiles
