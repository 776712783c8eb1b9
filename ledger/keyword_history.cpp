#include "ledger/keyword_history.h"

#include <algorithm>

namespace rankcheck::ledger {

namespace {

// The first chunk of entries read: the latest check usually answers everything.
constexpr int64_t kFirstChunk = 2;
constexpr int64_t kLargestChunk = 256;

KeywordState StateAt(const SqliteStatement& s, int column) {
    // The schema's CHECK constraint admits the four names only.
    return KeywordStateNamed(s.Bytes(column)).value_or(KeywordState::NotReached);
}

}  // namespace

std::string InFolder(int parameter) {
    // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict) on "..." + a temporary.
    std::string condition = "(c.folder = ?";
    condition += std::to_string(parameter);
    condition += " OR c.folder IS NULL)";
    return condition;
}

KeywordHistory::Reader::Reader(SqliteDb& db, const std::string& engine, const std::string& folder,
                               RankMode mode, int top)
    : entries_(db, R"sql(
        SELECT ck.check_id, c.started_at, c.max_results, ck.state, ck.positions_examined, ck.idx
        FROM check_keywords ck JOIN checks c ON c.id = ck.check_id
        WHERE ck.keyword_id = ?1 AND ck.check_id < ?2 AND c.engine = ?3 AND )sql" +
                           InFolder(4) + R"sql(
        ORDER BY ck.check_id DESC, ck.idx LIMIT ?5)sql"),
      ranks_(db, R"sql(
        SELECT cu.url_key, r.rank_contains, r.rank_exact FROM check_urls cu
        LEFT JOIN ranks r ON r.check_id = cu.check_id AND r.keyword_idx = ?2 AND r.url_idx = cu.idx
        WHERE cu.check_id = ?1 ORDER BY cu.idx)sql"),
      engine_(engine),
      folder_(folder),
      mode_(mode),
      top_(top) {}

KeywordHistory::KeywordHistory(Reader& reader, int64_t keywordId, int64_t beforeCheck)
    : reader_(reader), keywordId_(keywordId), before_(beforeCheck) {}

void KeywordHistory::Seed(const KeywordEntry& entry, int keywordIndex, UrlRanks ranks) {
    if (!items_.empty()) return;
    Item item;
    item.entry = entry;
    item.keywordIndex = keywordIndex;
    item.ranks = std::move(ranks);
    items_.push_back(std::move(item));
}

bool KeywordHistory::LoadMore() {
    if (complete_) return false;
    const int64_t limit =
        std::min<int64_t>(kLargestChunk, std::max<int64_t>(kFirstChunk, 2 * items_.size()));
    const int64_t before = items_.empty() ? before_ : items_.back().entry.check;
    SqliteStatement& s = reader_.entries_;
    s.Reset();
    s.BindInt(1, keywordId_)
        .BindInt(2, before)
        .BindText(3, reader_.engine_)
        .BindBlob(4, reader_.folder_)
        .BindInt(5, limit);
    const size_t had = items_.size();
    int64_t rows = 0;
    while (s.Step()) {
        ++rows;
        const int64_t check = s.Int(0);
        // A keyword listed twice in a check counts by its first line, which comes first.
        if (!items_.empty() && items_.back().entry.check == check) continue;
        Item item;
        item.entry = {check, s.String(1), StateAt(s, 3), static_cast<int>(s.Int(4)),
                      static_cast<int>(s.Int(2))};
        item.keywordIndex = static_cast<int>(s.Int(5));
        items_.push_back(std::move(item));
    }
    s.Reset();
    if (rows < limit) complete_ = true;
    return items_.size() > had;
}

bool KeywordHistory::Has(size_t i) {
    while (i >= items_.size()) {
        if (!LoadMore()) return false;
    }
    return true;
}

const KeywordEntry& KeywordHistory::Entry(size_t i) {
    Has(i);
    return items_.at(i).entry;
}

const KeywordOutcome& KeywordHistory::Outcome(size_t i) {
    Has(i);
    if (items_.at(i).outcome) return *items_[i].outcome;
    const int top = reader_.top_;
    // Back to an entry whose outcome is known or stands on its own figures, or past the oldest.
    size_t from = i + 1;
    std::optional<TrustedCheck> trusted;
    for (; Has(from); ++from) {
        Item& item = items_[from];
        if (item.outcome) {
            trusted = item.trustedSince;
            break;
        }
        if (TrustedOnItsOwn(item.entry, top)) {
            item.outcome = OutcomeOf(item.entry, std::nullopt, top);
            trusted = item.trustedSince = AsTrusted(item.entry);
            break;
        }
    }
    // Then forward to entry i, each entry held against the last trusted one before it.
    for (size_t k = from; k-- > i;) {
        Item& item = items_[k];
        item.outcome = OutcomeOf(item.entry, trusted, top);
        if (item.outcome->Trusted()) trusted = AsTrusted(item.entry);
        item.trustedSince = trusted;
    }
    return *items_[i].outcome;
}

std::optional<TrustedCheck> KeywordHistory::LastTrusted() {
    if (!Has(0)) return std::nullopt;
    Outcome(0);
    return items_[0].trustedSince;
}

std::optional<std::optional<int>> KeywordHistory::Rank(size_t i, const std::string& urlKey) {
    Has(i);
    Item& item = items_.at(i);
    if (!item.ranks) {
        SqliteStatement& s = reader_.ranks_;
        s.Reset();
        s.BindInt(1, item.entry.check).BindInt(2, item.keywordIndex);
        item.ranks.emplace();
        while (s.Step()) {
            std::string key = s.String(0);
            const bool seen = std::any_of(item.ranks->begin(), item.ranks->end(),
                                          [&](const auto& r) { return r.first == key; });
            if (seen) continue;
            std::optional<int> rank;
            const int column = reader_.mode_ == RankMode::Exact ? 2 : 1;
            if (!s.IsNull(column)) rank = static_cast<int>(s.Int(column));
            if (rank && reader_.top_ > 0 && *rank > reader_.top_) rank.reset();
            item.ranks->emplace_back(std::move(key), rank);
        }
        s.Reset();
    }
    for (const auto& [key, rank] : *item.ranks) {
        if (key == urlKey) return rank;
    }
    return std::nullopt;
}

std::map<std::pair<int64_t, int>, KeywordOutcome> HistoryOutcomes(
    SqliteDb& db, const std::string& engine, const std::string& folder,
    const std::vector<int64_t>& keywordIds) {
    std::map<std::pair<int64_t, int>, KeywordOutcome> outcomes;
    SqliteStatement s(db, R"sql(
        SELECT c.engine, ck.check_id, ck.idx, c.started_at, c.max_results, ck.state,
               ck.positions_examined
        FROM check_keywords ck JOIN checks c ON c.id = ck.check_id
        WHERE ck.keyword_id = ?1 AND (?2 = '' OR c.engine = ?2) AND )sql" +
                             InFolder(3) + R"sql(
        ORDER BY c.engine, ck.check_id, ck.idx)sql");
    for (const int64_t keyword : keywordIds) {
        s.Reset();
        s.BindInt(1, keyword).BindText(2, engine).BindBlob(3, folder);
        std::string lastEngine;
        int64_t lastCheck = -1;
        std::optional<TrustedCheck> trusted;  // before the check under way
        std::optional<TrustedCheck> next;     // after it: its first line's, when trusted
        while (s.Step()) {
            const std::string rowEngine = s.String(0);
            const int64_t check = s.Int(1);
            const bool firstLine = check != lastCheck || rowEngine != lastEngine;
            if (rowEngine != lastEngine) {
                trusted.reset();
                next.reset();
            } else if (firstLine) {
                trusted = next;
            }
            lastEngine = rowEngine;
            lastCheck = check;
            const KeywordEntry entry{check, s.String(3), StateAt(s, 5), static_cast<int>(s.Int(6)),
                                     static_cast<int>(s.Int(4))};
            const KeywordOutcome outcome = OutcomeOf(entry, trusted);
            if (firstLine) next = outcome.Trusted() ? AsTrusted(entry) : trusted;
            if (NeedsHistory(entry)) {
                outcomes.emplace(std::make_pair(check, static_cast<int>(s.Int(2))), outcome);
            }
        }
        s.Reset();
    }
    return outcomes;
}

}  // namespace rankcheck::ledger
