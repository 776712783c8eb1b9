// KeywordHistory: one keyword text in the checks of one engine in one folder begun before a
// given check, newest first, with each check's outcome for it and its URLs' ranks. It reads the
// database only as far back as the questions asked of it need: usually the latest check
// answers them all (it examined every requested position, so its outcome needs nothing older).
//
// An entry's outcome needs the last trusted entry before it only when it was done short of its
// requested positions. The ledger keeps that with every entry (StoredTrust); for an entry of a
// version-1 check, which lacks it, the history is read back to an entry that has it or is
// trusted on its own figures (or past the oldest), and worked out forward from there.
//
// HistoryOutcomes works the same out in one pass from the oldest check on, for queries that
// cover many version-1 checks (the check list's counts, History).
//
// Internal to the ledger; lives within one read transaction on the connection's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ledger/keyword_outcome.h"
#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

// What the ledger keeps of a keyword's last trusted check before a check (schema version 2):
// check 0 when there is none. Read as nullopt where it was not worked out (version 1).
struct StoredTrust {
    int64_t check = 0;
    int examined = 0;
};
std::optional<StoredTrust> StoredTrustAt(const SqliteStatement& s, int checkColumn);

class KeywordHistory {
  public:
    // The statements the histories of one question read with, what they keep to, and the start
    // times of the checks they have met.
    class Reader {
      public:
        Reader(SqliteDb& db, const std::string& engine, const std::string& folder, RankMode mode,
               int top);

        // "2026-12-06T04:00:00Z" of a check the histories have met (or of any check).
        const std::string& StartOf(int64_t check);
        // A stored trust as the rule takes it.
        std::optional<TrustedCheck> TrustedOf(const StoredTrust& trust);

      private:
        friend class KeywordHistory;

        SqliteStatement entries_;
        SqliteStatement ranks_;
        SqliteStatement start_;
        std::string engine_;
        std::string folder_;
        RankMode mode_;
        int top_;
        std::map<int64_t, std::string> starts_;
    };

    // A URL key and its rank in one entry, within `top` (nullopt: not among the links).
    using UrlRanks = std::vector<std::pair<std::string, std::optional<int>>>;

    KeywordHistory(Reader& reader, int64_t keywordId, int64_t beforeCheck);

    // Gives entry 0 as the caller has already read it: the latest check before `beforeCheck`
    // that has the keyword, its first line, what it stores of its last trusted check, and the
    // ranks of its URLs (first line of each key). Only before anything is read.
    void Seed(const KeywordEntry& entry, int keywordIndex, std::optional<StoredTrust> trust,
              UrlRanks ranks);

    // Whether there is an entry `i` (0: the latest check before `beforeCheck` with the keyword).
    bool Has(size_t i);
    KeywordEntry Entry(size_t i);
    // Entry i's outcome on its figures, within the reader's `top`.
    OutcomeKind Outcome(size_t i);
    // The latest entry whose outcome was trusted: what a check after them all is held against.
    std::optional<TrustedCheck> LastTrusted();
    // The same as the ledger keeps it (check 0: none).
    StoredTrust LastTrustedStored();
    // The rank of the URL key in entry i, within `top`: nullopt when that check did not list the
    // URL; a URL listed twice counts by its first line.
    std::optional<std::optional<int>> Rank(size_t i, const std::string& urlKey);

  private:
    // Small, since a history without the trust worked out is walked through whole.
    struct Item {
        int64_t check = 0;
        KeywordState state = KeywordState::NotReached;
        int examined = 0;
        int maxResults = 0;
        int keywordIndex = 0;
        // The last trusted check before it (without any `top`): stored, or worked out here.
        std::optional<StoredTrust> before;
        std::optional<UrlRanks> ranks;
    };

    // Reads older entries; false when there are none.
    bool LoadMore();
    // Works out `before` of item i where it is not stored.
    void WorkOutBefore(size_t i);
    // The last trusted check at or before item i (its own check when its outcome is trusted).
    StoredTrust AtOrBefore(size_t i);

    Reader& reader_;
    int64_t keywordId_;
    int64_t before_;  // entries are of checks before this one
    bool complete_ = false;
    std::vector<Item> items_;
};

// The outcome of every line of the keywords `keywordIds` in every check of `engine` (every
// engine: empty) in `folder`, each held against the keyword's history in its engine, in one
// pass from the oldest check: `line` is called with (check, keyword index, outcome) for the lines
// whose outcome needs history (NeedsHistory); the others stand on their own figures.
void HistoryOutcomes(SqliteDb& db, const std::string& engine, const std::string& folder,
                     const std::vector<int64_t>& keywordIds,
                     const std::function<void(int64_t, int, const KeywordOutcome&)>& line);

// The SQL condition that a check `c` belongs to the folder bound as parameter `parameter`: its
// own, or none recorded.
std::string InFolder(int parameter);

}  // namespace rankcheck::ledger
