// How rankcheck's output looks on a terminal and on a pipe, without a plug-in. (How it reads the
// status lines: status_lines_test.cpp.)
#include <gtest/gtest.h>

#include <chrono>

#include <thread>

#include <regex>

#include <sstream>

#include "host/report/safe_text.h"
#include "host/report/text_table.h"
#include "host/run/progress_display.h"

namespace {

using rankcheck::ProgressDisplay;

TEST(TextTable, UtfEightCellsAlignByTheirCharacters) {
    using rankcheck::AlignedTable;
    EXPECT_EQ(rankcheck::DisplayWidth("b\u00e4ckerei \u25B23"), 11u);
    EXPECT_EQ(rankcheck::FitColumns("\u00e4\u00f6\u00fc", 2),
              "\u00e4\u00f6");  // never half a character
    EXPECT_EQ(rankcheck::FitColumns("abc", 5), "abc");
    // Columns as wide as their widest cell, two blanks apart, no blanks at the end of a line.
    EXPECT_EQ(AlignedTable({"Keyword", "Rank"}, {{"b\u00e4cker", "3 \u25B22"}, {"x", ""}}),
              "Keyword  Rank\n"
              "-------  ----\n"
              "b\u00e4cker   3 \u25B22\n"
              "x\n");
}

TEST(TextTable, WideCharactersTakeTwoColumnsAndLongTextWrapsAtWords) {
    using rankcheck::WrapText;
    EXPECT_EQ(rankcheck::DisplayWidth("\u30D1\u30F3\u5C4B"), 6u);
    EXPECT_EQ(rankcheck::DisplayWidth("e\u0301"), 1u);  // a combining accent
    EXPECT_EQ(rankcheck::FitColumns("\u30D1\u30F3\u5C4B", 5), "\u30D1\u30F3");
    EXPECT_EQ(WrapText("one two three four", 9, 2), "one two\n  three\n  four");
    // A word wider than the line (a URL, a command) stays whole.
    EXPECT_EQ(WrapText("see www.long-host.example now", 10, 2),
              "see\n  www.long-host.example\n  now");
    EXPECT_EQ(WrapText("a b\n  c d", 3, 4), "a b\n  c\n    d");
    EXPECT_EQ(WrapText("kk\u2026(123 bytes) x", 5), "kk\u2026(123 bytes)\nx");  // a cut value
    // Too wide for its columns: the wrapping column continues on further lines.
    EXPECT_EQ(rankcheck::AlignedTable({"K", "V"}, {{"gluten free bread", "x"}}, {12, {0}}),
              "K          V\n"
              "---------  -\n"
              "gluten     x\n"
              "free\n"
              "bread\n");
}

TEST(TextTable, CsvQuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(rankcheck::CsvField("plain text"), "plain text");
    EXPECT_EQ(rankcheck::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(rankcheck::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(rankcheck::CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(rankcheck::CsvTable({"k", "v"}, {{"a,b", "1"}, {"", ""}}),
              "k,v\r\n\"a,b\",1\r\n,\r\n");
}

TEST(SafeText, TerminalTextEscapesWhatActsOnATerminalAndKeepsCharacters) {
    using rankcheck::TerminalText;
    // Title, colour and bell; tab, DEL; C1 CSI and a right-to-left override; bytes not UTF-8.
    EXPECT_EQ(TerminalText("\x1b]0;pwned\x07\x1b[41mred"), "\\x1b]0;pwned\\x07\\x1b[41mred");
    EXPECT_EQ(TerminalText("a\tb\x7f"), "a\\x09b\\x7f");
    EXPECT_EQ(TerminalText("\xc2\x9b"
                           "2J \u202e"
                           "gpj.exe"),
              "\\u009b2J \\u202egpj.exe");
    EXPECT_EQ(TerminalText("caf\xe9 \xc3\x28 \xed\xa0\x80"), "caf\\xe9 \\xc3( \\xed\\xa0\\x80");
    // Valid characters of any length stay as they are.
    EXPECT_EQ(TerminalText("b\u00e4ckerei \u25B23 \U0001F35E \u65e5\u672c"),
              "b\u00e4ckerei \u25B23 \U0001F35E \u65e5\u672c");
}

TEST(SafeText, LongValuesAreCutToTheirColumnsWithTheLengthSaid) {
    using rankcheck::TerminalText;
    const std::string megabyte(1 << 20, 'k');
    const std::string cut = TerminalText(megabyte);
    EXPECT_EQ(rankcheck::DisplayWidth(cut), size_t(rankcheck::kValueColumns));
    EXPECT_EQ(cut.substr(cut.size() - 18), "\u2026(1048576 bytes)");
    // Never half a character or half an escape; the cut text fits, and cutting again keeps it.
    const std::string mixed = TerminalText(std::string(30, '\x1b') + "\u00e4\u00e4\u00e4", 20);
    EXPECT_EQ(mixed, "\\x1b\\x1b\u2026(36 bytes)");
    EXPECT_EQ(TerminalText(mixed, 20), mixed);
    EXPECT_EQ(TerminalText("\u00e4\u00e4\u00e4", 3), "\u00e4\u00e4\u00e4");  // fits exactly
    // A message keeps its line ends but escapes the rest, and is never cut.
    EXPECT_EQ(rankcheck::TerminalMessage("one\n  \x1b[2J" + megabyte),
              "one\n  \\x1b[2J" + megabyte);
}

TEST(SafeText, SpreadsheetFormulasBecomeTextAndNumbersStayNumbers) {
    using rankcheck::CsvField;
    for (const char* formula :
         {"=cmd|'/Ccalc'!A0", "+1+1", "-2+3", "@SUM(A1)", "\tx", "\rx", "-"}) {
        EXPECT_EQ(rankcheck::SpreadsheetText(formula), std::string("'") + formula) << formula;
    }
    for (const char* plain : {"-2", "+3", "-0.5", "12", "fresh bread", "a=b", ""}) {
        EXPECT_EQ(rankcheck::SpreadsheetText(plain), plain) << plain;
    }
    // Guarded first, then quoted as CSV needs.
    EXPECT_EQ(CsvField("=HYPERLINK(\"http://x\",\"y\")"),
              "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
    EXPECT_EQ(CsvField("-2"), "-2");
}

TEST(TextTable, CellsAreShownSafeAndStillAlign) {
    EXPECT_EQ(rankcheck::AlignedTable({"Keyword", "Rank"}, {{"\x1b[41mred", "1"}, {"x", "2"}}),
              "Keyword      Rank\n"
              "-----------  ----\n"
              "\\x1b[41mred  1\n"
              "x            2\n");
}

class Display : public ::testing::Test {
  protected:
    std::ostringstream log_;
    std::ostringstream notes_;
};

TEST_F(Display, OnAPipeOnlyThePlainLines) {
    ProgressDisplay display(log_, notes_, false);
    display.BeginRun("Quillon", {"a", "b"}, 0);
    display.Line("Start Quillon search for keyword \"a\"");
    display.Tick();
    display.Line("10 pos. on Quillon for \"a\"");
    display.Note("rankcheck: a note");
    display.EndRun();
    EXPECT_EQ(log_.str(), "Start Quillon search for keyword \"a\"\n10 pos. on Quillon for \"a\"\n");
    EXPECT_EQ(notes_.str(), "rankcheck: a note\n");
}

TEST_F(Display, OnATerminalTheProgressLineIsErasedBeforeEveryLogLine) {
    ProgressDisplay display(log_, log_, true, [] { return 60; });
    display.BeginRun("Quillon", {"red shoes", "blue"}, 0);
    display.Line("Start Quillon search for keyword \"red shoes\"");
    display.Line("10 pos. on Quillon for \"red shoes\"");
    display.Note("rankcheck: a note");
    display.EndRun();
    const std::string out = log_.str();
    const std::string erase = "\r\033[K";

    // Take the progress drawings out: what is left is exactly the log, line by line.
    std::string plain;
    size_t at = 0;
    while (at < out.size()) {
        const size_t next = out.find(erase, at);
        const std::string piece =
            out.substr(at, next == std::string::npos ? std::string::npos : next - at);
        // Between two erasures either a progress drawing (no newline) or log text (ends in one).
        if (!piece.empty() && piece.back() == '\n') {
            plain += piece;
        } else {
            EXPECT_EQ(piece.find('\n'), std::string::npos) << piece;
            EXPECT_TRUE(piece.empty() || piece.rfind("Quillon: keyword ", 0) == 0) << piece;
            EXPECT_LE(piece.size(), 59u);
        }
        if (next == std::string::npos) break;
        at = next + erase.size();
    }
    EXPECT_EQ(plain,
              "Start Quillon search for keyword \"red shoes\"\n10 pos. on Quillon for \"red "
              "shoes\"\nrankcheck: a note\n");
    // After the run the display is gone: the output ends with an erasure, not a drawing.
    EXPECT_EQ(out.substr(out.size() - erase.size()), erase);
    EXPECT_TRUE(std::regex_search(
        out,
        std::regex(
            "Quillon: keyword 1 of 2 \"red shoes\", 10 pos\\., about \\d+:\\d\\d")))  // cut at 59
                                                                                      // columns
        << out;
}

TEST_F(Display, TwoRunsAtOnceShareTheLineAndNameTheirEngine) {
    ProgressDisplay display(log_, notes_, false);
    display.BeginRun("Quillon", {"a", "b"}, 0, 20);
    display.BeginRun("Verrin", {"a", "b", "c"}, 1, 30);
    display.Line("Verrin", "Start Verrin search for keyword \"c\"");
    display.Line("Quillon", "10 pos. on Quillon for \"a\"");
    display.Line("Verrin", "a line without its engine");
    EXPECT_EQ(display.KeywordIndex("Quillon"), 0);
    EXPECT_EQ(display.Positions("Quillon"), 10);
    EXPECT_EQ(display.KeywordIndex("Verrin"), 2);
    // Quillon is a quarter through (half of keyword 1 of 2); Verrin has one of two keywords done.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string text = display.ProgressText();
    EXPECT_TRUE(std::regex_match(
        text, std::regex("Quillon: keyword 1 of 2, 10 pos\\., about 0:00 left \\| "
                         "Verrin: keyword 3 of 3, 0 pos\\., about 0:00 left, 0:00")))
        << text;
    // On an 80-column terminal the two parts take their short form and keep their times left.
    const std::string narrow = display.ProgressText(79);
    EXPECT_TRUE(std::regex_match(narrow, std::regex("Quillon 1/2, 10 pos\\., 0:00 left \\| "
                                                    "Verrin 3/3, 0 pos\\., 0:00 left, 0:00")))
        << narrow;
    EXPECT_EQ(display.ProgressText(200), text);
    display.EndRun("Quillon");
    EXPECT_EQ(display.ProgressText().rfind("Verrin: keyword 3 of 3 \"c\"", 0), 0u);
    display.Line("Verrin", "another line");  // one run left: printed as it is
    EXPECT_EQ(log_.str(),
              "Start Verrin search for keyword \"c\"\n10 pos. on Quillon for \"a\"\n"
              "Verrin: a line without its engine\nanother line\n");
}

TEST_F(Display, NarrowTerminalsGetAShortenedLine) {
    ProgressDisplay display(log_, log_, true, [] { return 20; });
    display.BeginRun("Quillon", {"a very long keyword indeed"}, 0);
    display.EndRun();
    const std::string out = log_.str();
    const size_t start = std::string("\r\033[K").size();
    EXPECT_EQ(out.substr(start, out.find('\r', start) - start), "Quillon: keyword 1 ");
}

TEST_F(Display, TextInTheAnsiCodePageIsShownAsUtf8) {
    ProgressDisplay display(log_, notes_, false);
    display.BeginRun("Quillon", {"tea", "caf\xE9"}, 0);
    display.Line("Start Quillon search for keyword \"caf\xE9\"");
    // The keyword is still recognised by its bytes in keywords.lst.
    EXPECT_EQ(display.KeywordIndex(), 1);
    EXPECT_NE(display.ProgressText().find("\"caf\xC3\xA9\""), std::string::npos);
    EXPECT_EQ(log_.str(), "Start Quillon search for keyword \"caf\xC3\xA9\"\n");
}

TEST_F(Display, StatusLinesKeywordsAndNotesReachTheTerminalEscaped) {
    ProgressDisplay display(log_, notes_, true);
    const std::string hostile = "\x1b]0;title\x07\x1b[41m";
    display.BeginRun("Quillon", {hostile + std::string(1 << 20, 'k')}, 0);
    display.Line("Start Quillon search for keyword \"" + hostile + std::string(1 << 20, 'k') +
                 "\"");
    display.Note("rankcheck: given up: \"" + hostile + "\"\n  next line");
    display.EndRun();
    // The display's own erase sequence is the only escape that reaches the terminal.
    std::string shown = log_.str();
    for (size_t at; (at = shown.find("\r\033[K")) != std::string::npos;)
        shown.erase(at, 4);
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    EXPECT_NE(shown.find("keyword \"\\x1b]0;title\\x07\\x1b[41mkkk"), std::string::npos);
    EXPECT_LT(log_.str().size(), 2000u);  // a 1 MB keyword is cut, with its length said
    EXPECT_NE(shown.find("\u2026(1048626 bytes)\n"), std::string::npos) << shown.substr(0, 600);
    EXPECT_EQ(notes_.str(), "rankcheck: given up: \"\\x1b]0;title\\x07\\x1b[41m\"\n  next line\n");
}

TEST_F(Display, FollowsTheKeywordThroughRetriesRepeatsAndResumes) {
    ProgressDisplay display(log_, notes_, false);
    display.BeginRun("Quillon", {"a", "b", "a", "c"}, 0);
    display.Line("Start Quillon search for keyword \"a\"");
    display.Line("Can't connect to Quillon. Trying again");
    display.Line("Start Quillon search for keyword \"a\"");  // the same keyword asked again
    EXPECT_EQ(display.KeywordIndex(), 0);
    display.Line("10 pos. on Quillon for \"a\"");
    display.Line("14 pos. on Quillon for \"a\"");
    EXPECT_EQ(display.Positions(), 14);
    display.Line("Start Quillon search for keyword \"b\"");
    EXPECT_EQ(display.KeywordIndex(), 1);
    EXPECT_EQ(display.Positions(), 0);
    // b is given up without a position; the next start line is the second "a".
    display.Line("Can't connect to Quillon. Page skipped");
    display.Line("Start Quillon search for keyword \"a\"");
    EXPECT_EQ(display.KeywordIndex(), 2);
    display.Line("3 pos. on Quillon for \"a\"");
    display.Line("Start Quillon search for keyword \"c\"");
    EXPECT_EQ(display.KeywordIndex(), 3);
    EXPECT_NE(display.ProgressText().find("keyword 4 of 4 \"c\""), std::string::npos);

    // A resumed run starts on its saved keyword, which may go on without a start line.
    display.BeginRun("Verrin", {"a", "b", "c"}, 1);
    display.Line("30 pos. on Verrin for \"b\"");
    EXPECT_EQ(display.KeywordIndex(), 1);
    EXPECT_EQ(display.Positions(), 30);
    display.Line("Start Verrin search for keyword \"c\"");
    EXPECT_EQ(display.KeywordIndex(), 2);
}

}  // namespace
