// The SQL the Ledger reads checks with, and how a row becomes a value. Internal to the ledger.
//
// Free functions and constants; the connection's thread.
#pragma once

#include <optional>
#include <string>

#include "ledger/ledger_types.h"
#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

// A check's row with its keyword counts; the WHERE clause that follows selects the check ids.
inline constexpr const char* kCheckColumns = R"sql(
SELECT c.id, c.engine, c.started_at, c.ended_at, c.state, c.imported, c.max_results,
       c.stop_when_all_found, c.exact_match, c.keywords_hash, c.reason, c.folder,
       COUNT(k.idx), COALESCE(SUM(k.state = 'done'), 0), COALESCE(SUM(k.state = 'given_up'), 0),
       COALESCE(SUM(k.state = 'partial'), 0),
       COALESCE(SUM(k.positions_examined < c.max_results AND k.recorded_at IS NOT NULL), 0)
FROM checks c LEFT JOIN check_keywords k ON k.check_id = c.id
)sql";

// The keywords of one check recorded short of its requested positions (bound: the check, its
// requested positions), by state; whether they have no position at all; whether their last
// trusted check is not worked out; and whether they fell short of it. Cheaper apart: most checks
// have none, and the check list's pass over every keyword then compares no state names.
inline constexpr const char* kShortKeywords = R"sql(
SELECT state, positions_examined = 0, trusted_check IS NULL,
       COALESCE(trusted_check > 0 AND positions_examined < trusted_examined, 0), COUNT(*)
FROM check_keywords
WHERE check_id = ?1 AND positions_examined < ?2 AND recorded_at IS NOT NULL
GROUP BY 1, 2, 3, 4
)sql";

// A check as read, before the counts of keywords recorded short of their positions are added.
struct CheckRow {
    CheckInfo info;
    int recordedShort = 0;  // keywords recorded short of the requested positions
    int needHistory = 0;    // of those, done with some positions and no trust worked out
};

inline CheckRow ReadCheck(const SqliteStatement& s) {
    CheckRow row;
    CheckInfo& info = row.info;
    info.id = s.Int(0);
    info.engine = s.String(1);
    info.startedAt = s.String(2);
    if (!s.IsNull(3)) info.endedAt = s.String(3);
    info.state = CheckStateNamed(s.Bytes(4)).value_or(CheckState::Failed);
    info.imported = s.Int(5) != 0;
    info.options.maxResults = static_cast<int>(s.Int(6));
    info.options.stopWhenAllFound = s.Int(7) != 0;
    info.options.exactMatch = s.Int(8) != 0;
    info.keywordsHash = s.String(9);
    if (!s.IsNull(10)) info.reason = s.String(10);
    if (!s.IsNull(11)) info.folder = s.String(11);
    info.keywordsTotal = static_cast<int>(s.Int(12));
    info.keywordsDone = static_cast<int>(s.Int(13));
    info.keywordsGivenUp = static_cast<int>(s.Int(14));
    info.keywordsPartial = static_cast<int>(s.Int(15));
    row.recordedShort = static_cast<int>(s.Int(16));
    return row;
}

inline std::optional<int> RankIn(const SqliteStatement& s, int containsColumn, RankMode mode) {
    const auto value = s.OptionalInt(mode == RankMode::Exact ? containsColumn + 1 : containsColumn);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

inline KeywordState KeywordStateAt(const SqliteStatement& s, int column) {
    // The schema's CHECK constraint admits the four names only.
    return KeywordStateNamed(s.Bytes(column)).value_or(KeywordState::NotReached);
}

}  // namespace rankcheck::ledger
