// The link scanners and the Verrin next-page extraction, on page texts built in the test.
#include "engines/link_scanners.h"

#include <gtest/gtest.h>

namespace {

using V = std::vector<AnsiString>;

const AnsiString kQ = "&nbsp<span class=\"resURL\">&#8226;";  // marker and the 7 characters after
AnsiString Q(const AnsiString& link) {
    return kQ + link + " ";
}
AnsiString W(const AnsiString& link) {
    return "<span class=\"u\">" + link + "</span>";
}

TEST(QuillonScanner, LinkRule) {
    EXPECT_EQ(ScanQuillonLinks(""), V{});
    EXPECT_EQ(ScanQuillonLinks("<html>no results here</html>"), V{});
    EXPECT_EQ(ScanQuillonLinks("<p>" + Q("http://www.a.example/x/") + "<br>" +
                               Q("www.b.example/y//") + Q("http://c.example/?u=http://d") + "</p>"),
              (V{"www.a.example/x", "www.b.example/y/", "c.example/?u=http://d"}));
    // Only the blank ends a link in the page text; "<" and tabs are taken into it.
    EXPECT_EQ(ScanQuillonLinks(kQ + "a<b>\tc " + kQ + "HTTP://Upper "),
              (V{"a<b>\tc", "HTTP://Upper"}));
    // The 7 characters after the marker are skipped whatever they are.
    EXPECT_EQ(ScanQuillonLinks("&nbsp<span class=\"resURL\">1234567link "), V{"link"});
}

TEST(QuillonScanner, Mends) {
    // CR and LF end a link, so a result file keeps one link per line.
    EXPECT_EQ(ScanQuillonLinks(kQ + "a\r\nrest " + kQ + "b\nx "), (V{"a", "b"}));
    // An empty link is kept, so later links keep their positions.
    EXPECT_EQ(ScanQuillonLinks(Q("") + Q("next")), (V{"", "next"}));
    EXPECT_EQ(ScanQuillonLinks(Q("http://")), V{"http:/"});  // the slash goes first
    EXPECT_EQ(ScanQuillonLinks(Q("http:///")), V{""});
    // Unterminated links are dropped; the links before them stand.
    EXPECT_EQ(ScanQuillonLinks(Q("one") + kQ + "cut-off"), V{"one"});
    EXPECT_EQ(ScanQuillonLinks(Q("one") + "&nbsp<span class=\"resURL\">&#82"), V{"one"});
    EXPECT_EQ(ScanQuillonLinks(Q("one") + kQ), V{"one"});
}

TEST(QuillonScanner, MarkerBeginningInsideALink) {
    // The marker holds a blank, so a link can end inside a marker that then still counts.
    EXPECT_EQ(ScanQuillonLinks(kQ + "x&nbsp<span class=\"resURL\">&#8226;y "),
              (V{"x&nbsp<span", "y"}));
}

TEST(VerrinScanner, LinkRule) {
    EXPECT_EQ(ScanVerrinLinks("<div>" + W("http://www.a.example/x/") + W("b.example//") + "</div>"),
              (V{"http://www.a.example/x", "b.example/"}));
    // Markup inside the element ends the link at its "<"; blanks belong to the link.
    EXPECT_EQ(ScanVerrinLinks(W("www.<b>c</b>.example") + W("a b")), (V{"www.", "a b"}));
}

TEST(VerrinScanner, Mends) {
    EXPECT_EQ(ScanVerrinLinks(W("a\r\nb") + W("c\rd")), (V{"a", "c"}));
    EXPECT_EQ(ScanVerrinLinks(W("") + W("x")), (V{"", "x"}));
    EXPECT_EQ(ScanVerrinLinks(W("one") + "<span class=\"u\">no end"), V{"one"});
    EXPECT_EQ(ScanVerrinLinks(W("one") + "<span class=\"u\">"), V{"one"});
}

TEST(VerrinNextPage, SecondMarkerVerbatim) {
    const AnsiString nav = "<a href=\"results.aspx?q=a&amp;first=1\">1</a>";
    const AnsiString next = "<a href=\"results.aspx?q=a&amp;first=16&amp;FORM=PERE\">Next</a>";
    EXPECT_EQ(ExtractVerrinNextPage(nav + next), "results.aspx?q=a&amp;first=16&amp;FORM=PERE");
    EXPECT_EQ(ExtractVerrinNextPage(nav + next + nav),
              "results.aspx?q=a&amp;first=16&amp;FORM=PERE");
    EXPECT_EQ(ExtractVerrinNextPage(nav), "");
    EXPECT_EQ(ExtractVerrinNextPage("no links"), "");
    EXPECT_EQ(ExtractVerrinNextPage(nav + "<a href=\"results.aspx?q=b&amp;fir"),
              "results.aspx?q=b&amp;fir");
    EXPECT_EQ(ExtractVerrinNextPage("href=\"results.aspxhref=\"results.aspx\""), "results.aspx");
}

TEST(Scanners, LinearOnPathologicalPages) {
    // 100,000 markers and a 20 MiB page without a terminator finish at once.
    AnsiString many;
    for (int i = 0; i < 100000; ++i)
        many += Q("l");
    EXPECT_EQ(ScanQuillonLinks(many).size(), 100000u);
    AnsiString manyW;
    for (int i = 0; i < 100000; ++i)
        manyW += W("l");
    EXPECT_EQ(ScanVerrinLinks(manyW).size(), 100000u);
    const AnsiString huge = kQ + AnsiString(20 << 20, 'x');
    EXPECT_TRUE(ScanQuillonLinks(huge).empty());
    EXPECT_TRUE(ScanVerrinLinks("<span class=\"u\">" + AnsiString(20 << 20, 'x')).empty());
}

}  // namespace
