// The job files module: names, the progress record, the proxy file, the error marker, the user's
// URLs and the match rule, each as a table of cases.
#include <gtest/gtest.h>

#include "jobfiles/job_files.h"
#include "jobfiles/url_match.h"
#include "platform/exceptions.h"
#include "tests/test_support.h"

namespace {

using namespace jobfiles;
using V = std::vector<std::string>;

TStringList ListOf(const V& lines) {
    TStringList list;
    for (const auto& line : lines)
        list.Add(line);
    return list;
}

// The message of the Exception that `f` raises, or "(none)".
template <typename F>
std::string Failure(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(none)";
}

TEST(JobFileNames, EngineNameAndDecimalIndex) {
    EXPECT_EQ(ProgressFileName("Quillon"), "Quillon.set");
    EXPECT_EQ(ResultFileName("Quillon", 0), "Quillon-0.urls");
    EXPECT_EQ(ResultFileName("Verrin", 10), "Verrin-10.urls");
    EXPECT_EQ(FirstPageFileName("Verrin"), "Verrin.start");
}

TEST(ProgressRecordFile, ParseFormatAndErrors) {
    const ProgressRecord parsed =
        ProgressRecord::Parse(ListOf({"3", "20", "1", "http://next/?o=20", "ignored"}), "E.set");
    EXPECT_EQ(parsed.pageNumber, 3);
    EXPECT_EQ(parsed.position, 20);
    EXPECT_EQ(parsed.keywordIndex, 1);
    EXPECT_EQ(parsed.nextPageUrl, "http://next/?o=20");
    EXPECT_EQ(ProgressRecord({1000, 10000, 4, ""}).Lines().Lines(), (V{"1000", "10000", "4", ""}));
    EXPECT_EQ(ProgressRecord({-2, 0, 0, "u"}).Lines().Text(), "-2\r\n0\r\n0\r\nu\r\n");

    const struct {
        V lines;
        std::string message;
    } broken[] = {
        {{}, "E.set has 0 lines; a progress file needs at least 4"},
        {{"1", "0", "0"}, "E.set has 3 lines; a progress file needs at least 4"},
        {{"x", "0", "0", ""}, "E.set line 1: \"x\" is not an integer"},
        {{"1", " 2", "0", ""}, "E.set line 2: \" 2\" is not an integer"},
        {{"1", "2", "99999999999", ""}, "E.set line 3: \"99999999999\" is not an integer"},
    };
    for (const auto& c : broken) {
        EXPECT_EQ(Failure([&] { ProgressRecord::Parse(ListOf(c.lines), "E.set"); }), c.message);
    }
}

TEST(ProxyFile, DirectProxyAndCredentials) {
    const ProxySettings direct = ProxySettings::Parse(ListOf({"0"}));
    EXPECT_FALSE(direct.useProxy);
    EXPECT_EQ(direct.host, "");
    EXPECT_EQ(direct.port, 0);
    const ProxySettings plain = ProxySettings::Parse(ListOf({"yes", "no", "proxy.lan", "8080"}));
    EXPECT_TRUE(plain.useProxy);
    EXPECT_FALSE(plain.credentials);
    EXPECT_EQ(plain.host, "proxy.lan");
    EXPECT_EQ(plain.port, 8080);
    EXPECT_EQ(plain.user, "");
    const ProxySettings withUser =
        ProxySettings::Parse(ListOf({"", "1", "10.0.0.1", "3128", "user", "pass word"}));
    EXPECT_TRUE(withUser.credentials);
    EXPECT_EQ(withUser.user, "user");
    EXPECT_EQ(withUser.password, "pass word");
    // The lines written read back as the same settings.
    const ProxySettings again = ProxySettings::Parse(withUser.Lines());
    EXPECT_EQ(again.host, "10.0.0.1");
    EXPECT_EQ(again.port, 3128);
    EXPECT_EQ(again.password, "pass word");
    EXPECT_EQ(direct.Lines().Lines(), V{"0"});

    const struct {
        V lines;
        std::string message;
    } broken[] = {
        {{"0 ", "0"}, "proxy.def has 2 lines; a proxy needs at least 4"},
        {{"1", "0", "h", "x80"}, "proxy.def line 4: \"x80\" is not an integer"},
        {{"1", "1", "h", "80", "user"},
         "proxy.def has 5 lines; a proxy with a user name and password needs at least 6"},
    };
    for (const auto& c : broken) {
        EXPECT_EQ(Failure([&] { ProxySettings::Parse(ListOf(c.lines)); }), c.message);
    }
    EXPECT_NE(Failure([] { ProxySettings::Parse(ListOf({})); }).find("proxy.def is empty"),
              std::string::npos);
}

TEST(ErrorMarkerLine, OneRuleForWritingAndRecognising) {
    EXPECT_EQ(ErrorMarker(3), "3#Error found#");
    EXPECT_EQ(ErrorMarker(1000), "1000#Error found#");
    const struct {
        std::string line;
        bool marker;
    } cases[] = {
        {"3#Error found#", true},
        {"1000#Error found#", true},
        {"-1#Error found#", true},
        {"#Error found#", false},
        {"-#Error found#", false},
        {"3#Error found#x", false},
        {"www.site.example/3#Error found#", false},
        {"3#error found#", false},
        {" 3#Error found#", false},
        {"3 #Error found#", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsErrorMarker(c.line), c.marker) << c.line;
    for (int page : {1, 2, 999, 1000, -5})
        EXPECT_TRUE(IsErrorMarker(ErrorMarker(page)));
}

TEST(ResultFileLines, MarkersAreNotPositions) {
    const ResultLines lines =
        ResultLines::From({"a.example", "b.example", "2#Error found#", "c.example"});
    EXPECT_EQ(lines.links, (V{"a.example", "b.example", "c.example"}));
    EXPECT_TRUE(lines.givenUp);
    EXPECT_EQ(lines.positionsBeforeGiveUp, 2);
    EXPECT_FALSE(lines.endsWithGiveUp);
    EXPECT_TRUE(ResultLines::From({"a", "1#Error found#"}).endsWithGiveUp);
    const ResultLines none = ResultLines::From({});
    EXPECT_FALSE(none.givenUp);
    EXPECT_FALSE(none.endsWithGiveUp);
    EXPECT_TRUE(none.links.empty());
}

TEST(UserUrl, Normalised) {
    const struct {
        std::string written, normalised;
    } cases[] = {
        {"  http://site/page/  ", "site/page"},
        {"http://site//", "site/"},
        {"https://site/page/", "site/page"},
        {"https://www.site", "www.site"},
        {"HTTP://site", "HTTP://site"},  // the scheme is compared case-sensitively
        {"HTTPS://site", "HTTPS://site"},
        {"www.site", "www.site"},  // www. stays
        {"/", ""},
        {"\tsite", "\tsite"},  // tabs are not blanks
        {"http://", "http:/"},
        {"a http://b/", "a http://b"},
        {"ftp://site", "ftp://site"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseUrl(c.written), c.normalised) << c.written;
    EXPECT_THROW(NormaliseUrl(""), ERangeError);
    EXPECT_THROW(NormaliseUrl("   "), ERangeError);
}

TEST(UrlMatch, InsideOrWholeLinkIgnoringCase) {
    const struct {
        std::string link, url;
        bool exact, matches;
    } cases[] = {
        {"www.site.example/page/index", "site.example/page", false, true},
        {"www.site.example/page/index", "site.example/page", true, false},
        {"WWW.SITE.EXAMPLE/Page", "www.site.example/pAGE", true, true},
        {"www.site.example/page", "WWW.Site.Example", false, true},
        {"www.site.example", "www.site.example/page", false, false},
        // Letters beyond ASCII are upper-cased too (UTF-8 as well as Windows-1252 text).
        {"www.caf\xC3\xA9.example", "CAF\xC3\x89", false, true},
        {"www.caf\xE9.example", "CAF\xC9", false, true},
        // An empty URL occurs nowhere, but equals an empty link.
        {"www.site.example", "", false, false},
        {"", "", false, false},
        {"", "", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinkMatchesUrl(c.link, c.url, c.exact), c.matches)
            << c.link << " / " << c.url << (c.exact ? " exact" : "");
    }
}

TEST(UrlMatch, WithoutScheme) {
    EXPECT_EQ(WithoutScheme("http://www.site/x"), "www.site/x");
    EXPECT_EQ(WithoutScheme("https://www.site/x"), "www.site/x");
    EXPECT_EQ(WithoutScheme("www.site/x"), "www.site/x");
    EXPECT_EQ(WithoutScheme("HTTP://www.site"), "HTTP://www.site");
    EXPECT_EQ(WithoutScheme("site/http://x"), "site/http://x");
}

}  // namespace
