// KeywordHistory: one keyword text in the checks of one engine in one folder begun before a
// given check, newest first, with each check's outcome for it and its URLs' ranks. It reads the
// database only as far back as the questions asked of it need: usually the latest check
// answers them all (it examined every requested position, so its outcome needs nothing older).
//
// An entry's outcome needs the last trusted entry before it only when it was done short of its
// requested positions; then the history is read back to an entry trusted on its own figures
// (or the oldest), and the outcomes are worked out forward from there (keyword_outcome.h).
//
// HistoryOutcomes gives the same outcomes in one pass from the oldest check on, for queries
// that cover many checks (the check list's counts, History).
//
// Internal to the ledger; lives within one read transaction on the connection's thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ledger/keyword_outcome.h"
#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

class KeywordHistory {
  public:
    // The statements the histories of one question read with, and what they keep to.
    class Reader {
      public:
        Reader(SqliteDb& db, const std::string& engine, const std::string& folder, RankMode mode,
               int top);

      private:
        friend class KeywordHistory;
        SqliteStatement entries_;
        SqliteStatement ranks_;
        std::string engine_;
        std::string folder_;
        RankMode mode_;
        int top_;
    };

    // A URL key and its rank in one entry, within `top` (nullopt: not among the links).
    using UrlRanks = std::vector<std::pair<std::string, std::optional<int>>>;

    KeywordHistory(Reader& reader, int64_t keywordId, int64_t beforeCheck);

    // Gives entry 0 as the caller has already read it: the latest check before `beforeCheck`
    // that has the keyword, its first line, and the ranks of its URLs (first line of each key).
    // Only before anything is read.
    void Seed(const KeywordEntry& entry, int keywordIndex, UrlRanks ranks);

    // Whether there is an entry `i` (0: the latest check before `beforeCheck` with the keyword).
    bool Has(size_t i);
    const KeywordEntry& Entry(size_t i);
    // Entry i's outcome, within the reader's `top`.
    const KeywordOutcome& Outcome(size_t i);
    // The latest entry whose outcome was trusted: what a check after them all is held against.
    std::optional<TrustedCheck> LastTrusted();
    // The rank of the URL key in entry i, within `top`: nullopt when that check did not list the
    // URL; a URL listed twice counts by its first line.
    std::optional<std::optional<int>> Rank(size_t i, const std::string& urlKey);

  private:
    struct Item {
        KeywordEntry entry;
        int keywordIndex = 0;
        std::optional<KeywordOutcome> outcome;
        std::optional<TrustedCheck> trustedSince;  // the latest trusted entry at or before it
        std::optional<UrlRanks> ranks;
    };

    // Reads older entries; false when there are none.
    bool LoadMore();

    Reader& reader_;
    int64_t keywordId_;
    int64_t before_;  // entries are of checks before this one
    bool complete_ = false;
    std::vector<Item> items_;
};

// The outcome of every line of the keywords `keywordIds` in every check of `engine` (every
// engine: empty) in `folder`, each held against the keyword's history in its engine, keyed by
// (check, keyword index). Only lines whose outcome needs history are given; the others stand on
// their own figures.
std::map<std::pair<int64_t, int>, KeywordOutcome> HistoryOutcomes(
    SqliteDb& db, const std::string& engine, const std::string& folder,
    const std::vector<int64_t>& keywordIds);

// The SQL condition that a check `c` belongs to the folder bound as parameter `parameter`: its
// own, or none recorded.
std::string InFolder(int parameter);

}  // namespace rankcheck::ledger
