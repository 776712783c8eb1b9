// The values the check ledger takes and gives: check and keyword states, what a check starts
// with, what is recorded per keyword, and what the queries answer. Also the rules every report
// applies to a stored rank (its status without history, the change against an earlier check) and
// the timestamp form the ledger keeps (ISO 8601 UTC, "2026-12-08T04:21:16Z"), so that all callers
// show the same. The full rule of a keyword's outcome, which reads the keyword's history, is in
// keyword_outcome.h.
//
// Plain values; any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rankcheck::ledger {

enum class CheckState { Running, Complete, Stopped, Failed };

enum class KeywordState {
    NotReached,  // the check has not searched it (yet)
    Done,        // the engine ran through it: every requested position, or all it had
    GivenUp,     // the engine gave it up (an error marker line ended its result file)
    Partial,     // the run stopped while it was under way
};

// Which of the two precomputed best positions a query answers with.
enum class RankMode {
    Contains,  // the URL occurs inside the link
    Exact,     // the URL is the whole link
};

// What a report says of one keyword and URL in one check. Only Ranked and NotFound are trusted:
// they say where the URL stands (NotFound: among none of the positions the engine had). Every
// other status says that the check cannot tell, and a report never counts it as a change.
enum class RankStatus {
    Ranked,       // the URL was at `rank`: a rank within the positions examined is always true
    NotFound,     // not among the positions examined, and every requested position was examined,
                  // or the engine's results ended no earlier than on the last trusted check
    Beyond,       // not among the N positions examined, and the check it is compared with
                  // examined the keyword deeper: the URL is "beyond N", not lost
    Suspect,      // the engine's results ended early (a first page without a result link, or
                  // fewer positions than requested and than the last trusted check examined):
                  // the shape of a block, captcha or consent page, not of an answer
    Error,        // the engine gave the keyword up before every requested position
    Partial,      // the run stopped while the keyword was under way, short of its positions
    NotSearched,  // the check did not reach the keyword
};

// The names stored in the database and shown in reports: "running", "complete", "stopped",
// "failed"; "not_reached", "done", "given_up", "partial"; "ranked", "not_found", "beyond",
// "suspect", "error", "partial", "not_searched".
const char* Name(CheckState state);
const char* Name(KeywordState state);
const char* Name(RankStatus status);
// The state of a stored name; nullopt for any other text.
std::optional<CheckState> CheckStateNamed(std::string_view name);
std::optional<KeywordState> KeywordStateNamed(std::string_view name);
std::optional<RankStatus> RankStatusNamed(std::string_view name);

struct CheckOptions {
    int maxResults = 100;  // positions requested per keyword
    bool stopWhenAllFound = false;
    bool exactMatch = false;
};

// One line of urls.lst. `text` is the line as written; `key` is what identifies the URL across
// checks (the caller's normalised form, so that "http://www.a.example/" and "www.a.example" keep
// one history); an empty key means the text itself.
struct UserUrl {
    std::string text;
    std::string key;
    const std::string& Key() const { return key.empty() ? text : key; }
};

// Everything a check starts with. The ledger is never given a proxy password and never stores one.
struct CheckStart {
    std::string engine;     // the engine's file base name: "Quillon", "Verrin"
    std::string startedAt;  // ISO 8601 UTC
    CheckOptions options;
    std::string keywordsHash;           // of keywords.lst, as the caller computes it
    std::vector<std::string> keywords;  // the lines of keywords.lst, in file order, byte-exact
    std::vector<UserUrl> urls;          // the lines of urls.lst, in file order
    bool imported = false;              // made from result files found without a ledger
};

// The best position of one URL in one keyword's result list, for both matching modes; nullopt:
// not among the links.
struct UrlRank {
    std::optional<int> contains;
    std::optional<int> exact;
    std::optional<int> In(RankMode mode) const {
        return mode == RankMode::Exact ? exact : contains;
    }
    bool operator==(const UrlRank&) const = default;
};

// What a check found for one keyword, as RecordKeyword stores it.
struct KeywordResult {
    int index = 0;  // the keyword's line in keywords.lst, from 0
    KeywordState state = KeywordState::Done;
    int positionsExamined = 0;
    std::vector<std::string>
        links;                   // the result list in position order: links[n - 1] is position n
    std::vector<UrlRank> ranks;  // one per URL of the check, in urls.lst order
    std::string recordedAt;      // ISO 8601 UTC
};

// What one upstream of the gateway carried for a check.
struct UpstreamCounts {
    std::string upstream;  // its label ("10.0.0.5:3128", "direct")
    int requests = 0;
    int pages = 0;
    int blocks = 0;
    int failures = 0;
    double medianMs = 0;
};

struct CheckInfo {
    int64_t id = 0;
    std::string engine;
    std::string startedAt;
    std::optional<std::string> endedAt;
    CheckState state = CheckState::Running;
    // Why a stopped or failed check ended, as the run gave it ("3 keywords in a row failed: the
    // engine or the proxy is not answering"); empty when it gave none.
    std::string reason;
    // The project folder the check belongs to (canonical absolute path); nullopt for a check
    // recorded before the ledger kept folders (see Ledger).
    std::optional<std::string> folder;
    bool imported = false;
    CheckOptions options;
    std::string keywordsHash;

    // Keywords by recorded state; every keyword is in one of them or not reached.
    int keywordsTotal = 0;
    int keywordsDone = 0;
    int keywordsGivenUp = 0;
    int keywordsPartial = 0;
    // Keywords by outcome where it differs from the state (keyword_outcome.h): done but suspect;
    // given up before every requested position (error); partial short of them. A keyword given
    // up or stopped only after every requested position is a trusted one.
    int keywordsSuspect = 0;
    int keywordsError = 0;
    int keywordsCutShort = 0;

    int KeywordsNotReached() const {
        return keywordsTotal - keywordsDone - keywordsGivenUp - keywordsPartial;
    }
    // Searched, but without a trusted outcome: what "complete with N failed" counts.
    int KeywordsFailed() const { return keywordsSuspect + keywordsError + keywordsCutShort; }
    // Searched with a trusted outcome.
    int KeywordsTrusted() const { return keywordsTotal - KeywordsNotReached() - KeywordsFailed(); }
};

// One keyword of a stored check.
struct CheckedKeyword {
    int index = 0;
    std::string text;
    KeywordState state = KeywordState::NotReached;
    int positionsExamined = 0;
    std::optional<std::string> recordedAt;
    std::vector<UrlRank> ranks;  // one per URL of the check; all nullopt while not reached
};

struct CheckDetail {
    CheckInfo info;
    std::vector<CheckedKeyword> keywords;  // in index order
    std::vector<UserUrl> urls;             // in index order
};

// What a report is asked for.
struct ReportOptions {
    RankMode mode = RankMode::Contains;
    // > 0: positions beyond `top` count as not examined, in this check and in every check it is
    // compared with (a rank beyond it is no rank; a keyword examined to `top` is examined fully).
    int top = 0;
    // Compare every row with this check (of the same engine) instead of like with like.
    std::optional<int64_t> compareWith;
};

// One keyword and URL of a check, with what a report needs to show it.
struct ReportRow {
    int keywordIndex = 0;
    std::string keyword;
    int urlIndex = 0;
    std::string url;  // as written in this check's urls.lst
    KeywordState keywordState = KeywordState::NotReached;
    int positionsExamined = 0;  // as recorded
    std::optional<int> rank;    // within `top`
    RankStatus status = RankStatus::NotSearched;
    // Why a Suspect row is suspect: "no results on page 1", "results ended at 10, 64 on
    // 2026-12-06" (the positions examined, and those of the last trusted check with its date);
    // empty otherwise.
    std::string note;

    // The side this row is compared with. Like with like: the latest earlier check of the engine,
    // in the check's folder, whose outcome for this keyword text and URL key was trusted (Ranked
    // or NotFound) and that examined the keyword at least as deep as this check; or the check
    // ReportOptions::compareWith names. previousStatus is that check's status (Ranked or
    // NotFound; against a named check any status, Beyond where it examined less deep);
    // NotSearched where no earlier check searched this keyword and URL at all; nullopt where there
    // is nothing to compare with (no earlier check, or none trusted at this depth).
    std::optional<int64_t> comparedCheck;
    std::optional<std::string> comparedAt;  // that check's start
    std::optional<RankStatus> previousStatus;
    std::optional<int> previousRank;
    std::string change;  // ChangeText(status, rank, previousStatus, previousRank)

    // For a row that is not Ranked or NotFound: the last trusted rank, that is the latest earlier
    // check of the engine (in the folder) where this URL ranked for the keyword or the keyword's
    // outcome was trusted, at any depth.
    std::optional<int64_t> lastKnownCheck;
    std::optional<std::string> lastKnownAt;  // that check's start
    std::optional<int> lastKnownRank;        // nullopt: not found there
};

struct CheckReport {
    CheckInfo check;
    // The check most rows are compared with (the latest of those that tie); nullopt when no row
    // is compared with any. Rows whose comparedCheck differs were compared with another check,
    // mostly an older one where the latest was shallower or could not be trusted.
    std::optional<CheckInfo> compared;
    std::vector<ReportRow> rows;  // by keyword index, then URL index
};

struct HistoryFilter {
    std::optional<std::string> engine;   // exact engine name
    std::optional<std::string> keyword;  // exact keyword text (bytes)
    std::optional<std::string> url;      // a URL key (UserUrl::Key)
    RankMode mode = RankMode::Contains;
};

// One keyword and URL in one check.
struct HistoryRow {
    std::string engine;
    int64_t checkId = 0;
    std::string checkedAt;  // the check's start
    std::string keyword;
    std::string url;  // as written in that check's urls.lst
    std::optional<int> rank;
    KeywordState keywordState = KeywordState::NotReached;
    RankStatus status = RankStatus::NotSearched;  // never Beyond: history compares nothing
    std::string note;                             // as ReportRow::note
};

// The status of a stored rank from one check's own figures, without the keyword's history:
// Ranked whenever there is a rank (a URL found before a stop or a give-up counts); otherwise by
// the keyword's state, where a keyword that was stopped or given up only after every requested
// position counts as fully examined, and one done with no position at all is Suspect. A keyword
// done short of its requested positions is NotFound here; only its history can tell whether it
// is Suspect (Ledger::Report, History and Outcomes apply the full rule of keyword_outcome.h).
RankStatus StatusOf(KeywordState state, int positionsExamined, int maxResults,
                    std::optional<int> rank);

// The change column: previous − current ("3": moved up three places, "0", "-2") when both ranked;
// "new" when it ranks now and the compared side examined the keyword without finding it
// (NotFound), or no earlier check searched this keyword and URL at all (NotSearched); "lost" when
// it ranked there and is not found now (NotFound); empty otherwise: nothing to compare with
// (`previous` nullopt), or either side untrusted (Beyond, Suspect, Error, Partial, NotSearched
// now). A suspect or given-up keyword is never a drop, a loss or a "new".
std::string ChangeText(RankStatus now, std::optional<int> rank,
                       const std::optional<RankStatus>& previous, std::optional<int> previousRank);

// "2026-12-08T04:21:16Z" for a time in seconds since the epoch.
std::string UtcTimestamp(std::time_t time);
// Whether `text` has exactly that form (and a plausible date and time).
bool IsUtcTimestamp(std::string_view text);

}  // namespace rankcheck::ledger
