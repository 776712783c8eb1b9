// The status lines as the job writes them and as a host reads them: every line a builder makes
// parses back into its kind and fields, with the exact text the plug-ins have always written;
// and texts that only look like status lines are not interpreted. Also the engine table and
// the parse of a result file's name, the other two pieces of knowledge writer and reader share.
#include <gtest/gtest.h>

#include <functional>

#include "jobfiles/engine_table.h"
#include "jobfiles/job_files.h"
#include "jobfiles/status_lines.h"

namespace {

using jobfiles::StatusLine;
using Kind = StatusLine::Kind;

struct LineCase {
    const char* what;
    AnsiString built;  // by the job's builder
    const char* text;  // the exact text
    Kind kind;
    const char* engine;
    const char* keyword;
    int positions;
    const char* reason;
};

TEST(StatusLines, WrittenByTheJobAndReadByTheHost) {
    using namespace jobfiles;
    const LineCase cases[] = {
        {"start", KeywordStartLine("Quillon", "red shoes"),
         "Start Quillon search for keyword \"red shoes\"", Kind::KeywordStart, "Quillon",
         "red shoes", 0, ""},
        {"start of an empty keyword", KeywordStartLine("Verrin", ""),
         "Start Verrin search for keyword \"\"", Kind::KeywordStart, "Verrin", "", 0, ""},
        {"positions, quotation marks inside the keyword",
         PositionsLine(40, "Verrin", "say \"hi\" for me"),
         "40 pos. on Verrin for \"say \"hi\" for me\"", Kind::Positions, "Verrin",
         "say \"hi\" for me", 40, ""},
        {"positions, a keyword holding the separator", PositionsLine(0, "Quillon", "a for b"),
         "0 pos. on Quillon for \"a for b\"", Kind::Positions, "Quillon", "a for b", 0, ""},
        {"retrying", RetryingLine("Quillon"), "Can't connect to Quillon. Trying again",
         Kind::Retrying, "Quillon", "", 0, ""},
        {"page skipped", PageSkippedLine("Verrin"), "Can't connect to Verrin. Page skipped",
         Kind::PageSkipped, "Verrin", "", 0, ""},
        {"finished", FinishedLine("Verrin"), "Finished search on Verrin", Kind::Finished, "Verrin",
         "", 0, ""},
        {"stopped", StoppedLine("Quillon", "cannot create \"Quillon-0.urls\": Is a dir"),
         "Search on Quillon stopped: cannot create \"Quillon-0.urls\": Is a dir", Kind::Stopped,
         "Quillon", "", 0, "cannot create \"Quillon-0.urls\": Is a dir"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.built, c.text);
        const StatusLine s = StatusLine::Parse(c.built);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_EQ(s.engine, c.engine);
        EXPECT_EQ(s.keyword, c.keyword);
        EXPECT_EQ(s.positions, c.positions);
        EXPECT_EQ(s.reason, c.reason);
    }
}

TEST(StatusLines, LookalikesAreNotInterpreted) {
    for (const char* line :
         {"", "Start Quillon search for keyword red", "pos. on Quillon for \"x\"",
          "4x pos. on Quillon for \"x\"", "40 pos. on Quillon for x", "Finished search on ",
          "Search on Quillon ended", "Can't connect to Quillon",
          "99999999999 pos. on Quillon for \"x\""}) {
        const StatusLine s = StatusLine::Parse(line);
        EXPECT_EQ(s.kind, Kind::Other) << line;
        EXPECT_EQ(s.engine, "") << line;
    }
}

TEST(EngineTable, OneRowPerEngineFoundByNameOrWordInAnyCase) {
    ASSERT_EQ(jobfiles::Engines().size(), 2u);
    EXPECT_EQ(jobfiles::EngineNames(), (std::vector<std::string>{"Quillon", "Verrin"}));
    const jobfiles::EngineInfo* verrin = jobfiles::FindEngine("VERRIN");
    ASSERT_NE(verrin, nullptr);
    EXPECT_STREQ(verrin->name, "Verrin");
    EXPECT_STREQ(verrin->pluginFile, "libverrin.so");
    EXPECT_EQ(verrin->resultsPerPage, 15);
    EXPECT_EQ(jobfiles::FindEngine("Quillon"), &jobfiles::Engine("quillon"));
    EXPECT_EQ(jobfiles::FindEngine("google"), nullptr);
    EXPECT_EQ(jobfiles::FindEngine(""), nullptr);
    EXPECT_EQ(jobfiles::EngineDisplayName("QUILLON"), "Quillon");
    EXPECT_EQ(jobfiles::EngineDisplayName("zeta"), "Zeta");
    static_assert(jobfiles::Engine("Quillon").resultsPerPage == 10);
}

TEST(ResultFileName, ParsedBackAsWritten) {
    for (const auto& [engine, index] :
         {std::pair{"Quillon", 0}, std::pair{"Verrin", 499}, std::pair{"Some-Engine", 12}}) {
        const auto ref = jobfiles::ParseResultFileName(jobfiles::ResultFileName(engine, index));
        ASSERT_TRUE(ref) << engine;
        EXPECT_EQ(ref->engine, engine);
        EXPECT_EQ(ref->keyword, index);
    }
    for (const char* name : {"Quillon.urls", "Quillon-.urls", "-3.urls", "Quillon-3.url",
                             "Quillon-3.urls.tmp", "Quillon-+3.urls", "Quillon- 3.urls",
                             "Quillon-3a.urls", "Quillon-99999999999.urls", "Quillon.set"}) {
        EXPECT_FALSE(jobfiles::ParseResultFileName(name)) << name;
    }
}

}  // namespace
