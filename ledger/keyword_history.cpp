#include "ledger/keyword_history.h"

#include <algorithm>

namespace rankcheck::ledger {

namespace {

// The first entries read: the latest check usually answers everything. A question it does not
// answer (a keyword whose results end early on every check, a walk past shallow checks) reads
// the rest at once, which costs less than reading it piece by piece.
constexpr int64_t kFirstChunk = 2;
constexpr int64_t kTheRest = -1;  // SQLite's LIMIT -1: no limit

KeywordState StateAt(const SqliteStatement& s, int column) {
    // The schema's CHECK constraint admits the four names only.
    return KeywordStateNamed(s.Bytes(column)).value_or(KeywordState::NotReached);
}

}  // namespace

std::optional<StoredTrust> StoredTrustAt(const SqliteStatement& s, int checkColumn) {
    if (s.IsNull(checkColumn)) return std::nullopt;
    StoredTrust trust{s.Int(checkColumn), 0};
    if (trust.check > 0) trust.examined = static_cast<int>(s.Int(checkColumn + 1));
    return trust;
}

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
        SELECT ck.check_id, c.max_results, ck.state, ck.positions_examined, ck.idx,
               ck.trusted_check, ck.trusted_examined
        FROM check_keywords ck JOIN checks c ON c.id = ck.check_id
        WHERE ck.keyword_id = ?1 AND ck.check_id < ?2 AND c.engine = ?3 AND )sql" +
                       InFolder(4) + R"sql(
        ORDER BY ck.check_id DESC, ck.idx LIMIT ?5)sql"),
      ranks_(db, R"sql(
        SELECT cu.url_key, r.rank_contains, r.rank_exact FROM check_urls cu
        LEFT JOIN ranks r ON r.check_id = cu.check_id AND r.keyword_idx = ?2 AND r.url_idx = cu.idx
        WHERE cu.check_id = ?1 ORDER BY cu.idx)sql"),
      start_(db, "SELECT started_at FROM checks WHERE id = ?1"),
      engine_(engine),
      folder_(folder),
      mode_(mode),
      top_(top) {}

const std::string& KeywordHistory::Reader::StartOf(int64_t check) {
    auto [at, fresh] = starts_.try_emplace(check);
    if (fresh) {
        start_.Reset();
        start_.BindInt(1, check);
        if (start_.Step()) at->second = start_.String(0);
        start_.Reset();
    }
    return at->second;
}

std::optional<TrustedCheck> KeywordHistory::Reader::TrustedOf(const StoredTrust& trust) {
    if (trust.check <= 0) return std::nullopt;
    return TrustedCheck{trust.check, StartOf(trust.check), trust.examined};
}

KeywordHistory::KeywordHistory(Reader& reader, int64_t keywordId, int64_t beforeCheck)
    : reader_(reader), keywordId_(keywordId), before_(beforeCheck) {}

void KeywordHistory::Seed(const KeywordEntry& entry, int keywordIndex,
                          std::optional<StoredTrust> trust, UrlRanks ranks) {
    if (!items_.empty()) return;
    reader_.starts_.try_emplace(entry.check, entry.checkedAt);
    Item item;
    item.check = entry.check;
    item.state = entry.state;
    item.examined = entry.examined;
    item.maxResults = entry.maxResults;
    item.keywordIndex = keywordIndex;
    item.before = trust;
    item.ranks = std::move(ranks);
    items_.push_back(std::move(item));
}

bool KeywordHistory::LoadMore() {
    if (complete_) return false;
    const int64_t limit = items_.empty() ? kFirstChunk : kTheRest;
    const int64_t before = items_.empty() ? before_ : items_.back().check;
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
        if (!items_.empty() && items_.back().check == check) continue;
        Item& item = items_.emplace_back();
        item.check = check;
        item.maxResults = static_cast<int>(s.Int(1));
        item.state = StateAt(s, 2);
        item.examined = static_cast<int>(s.Int(3));
        item.keywordIndex = static_cast<int>(s.Int(4));
        item.before = StoredTrustAt(s, 5);
    }
    s.Reset();
    if (limit == kTheRest || rows < limit) complete_ = true;
    return items_.size() > had;
}

bool KeywordHistory::Has(size_t i) {
    while (i >= items_.size()) {
        if (!LoadMore()) return false;
    }
    return true;
}

KeywordEntry KeywordHistory::Entry(size_t i) {
    Has(i);
    const Item& item = items_.at(i);
    return {item.check, reader_.StartOf(item.check), item.state, item.examined, item.maxResults};
}

void KeywordHistory::WorkOutBefore(size_t i) {
    if (items_.at(i).before) return;
    // Back to an entry whose trust is known or that stands on its own figures, or past the
    // oldest; then forward to entry i, each entry held against the last trusted one before it.
    // Without `top`: what is kept of a keyword's trust never depends on how it is reported.
    size_t from = i + 1;
    StoredTrust trusted;  // check 0: none
    for (; Has(from); ++from) {
        const Item& item = items_[from];
        if (item.before) {
            trusted = AtOrBefore(from);
            break;
        }
        if (TrustedOnItsOwn({item.check, {}, item.state, item.examined, item.maxResults})) {
            trusted = {item.check, item.examined};
            break;
        }
    }
    for (size_t k = from; k-- > i;) {
        Item& item = items_[k];
        item.before = trusted;
        trusted = AtOrBefore(k);
    }
}

StoredTrust KeywordHistory::AtOrBefore(size_t i) {
    WorkOutBefore(i);
    const Item& item = items_[i];
    const std::optional<int> examined =
        item.before->check > 0 ? std::optional<int>(item.before->examined) : std::nullopt;
    if (KindOf(item.state, item.examined, item.maxResults, examined).Trusted()) {
        return {item.check, item.examined};
    }
    return *item.before;
}

OutcomeKind KeywordHistory::Outcome(size_t i) {
    Has(i);
    WorkOutBefore(i);
    const Item& item = items_.at(i);
    const std::optional<int> examined =
        item.before->check > 0 ? std::optional<int>(item.before->examined) : std::nullopt;
    return KindOf(item.state, item.examined, item.maxResults, examined, reader_.top_);
}

std::optional<TrustedCheck> KeywordHistory::LastTrusted() {
    return reader_.TrustedOf(LastTrustedStored());
}

StoredTrust KeywordHistory::LastTrustedStored() {
    if (!Has(0)) return {};
    return AtOrBefore(0);
}

std::optional<std::optional<int>> KeywordHistory::Rank(size_t i, const std::string& urlKey) {
    Has(i);
    Item& item = items_.at(i);
    if (!item.ranks) {
        SqliteStatement& s = reader_.ranks_;
        s.Reset();
        s.BindInt(1, item.check).BindInt(2, item.keywordIndex);
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

void HistoryOutcomes(SqliteDb& db, const std::string& engine, const std::string& folder,
                     const std::vector<int64_t>& keywordIds,
                     const std::function<void(int64_t, int, const KeywordOutcome&)>& line) {
    SqliteStatement s(db, R"sql(
        SELECT c.engine, ck.check_id, ck.idx, c.max_results, ck.state, ck.positions_examined,
               c.started_at
        FROM check_keywords ck JOIN checks c ON c.id = ck.check_id
        WHERE ck.keyword_id = ?1 AND (?2 = '' OR c.engine = ?2) AND )sql" +
                              InFolder(3) + R"sql(
        ORDER BY c.engine, ck.check_id, ck.idx)sql");
    for (const int64_t keyword : keywordIds) {
        s.Reset();
        s.BindInt(1, keyword).BindText(2, engine).BindBlob(3, folder);
        std::string lastEngine;
        int64_t lastCheck = -1;
        // The last trusted check before the check under way, and after it (its first line's).
        std::optional<TrustedCheck> trusted;
        std::optional<TrustedCheck> next;
        while (s.Step()) {
            const int64_t check = s.Int(1);
            const bool newEngine = s.Bytes(0) != lastEngine;
            const bool firstLine = newEngine || check != lastCheck;
            if (newEngine) {
                lastEngine = s.String(0);
                trusted.reset();
                next.reset();
            } else if (firstLine) {
                trusted = next;
            }
            lastCheck = check;
            const int maxResults = static_cast<int>(s.Int(3));
            const KeywordState state = StateAt(s, 4);
            const int examined = static_cast<int>(s.Int(5));
            const std::optional<int> trustedExamined =
                trusted ? std::optional<int>(trusted->examined) : std::nullopt;
            const OutcomeKind kind = KindOf(state, examined, maxResults, trustedExamined);
            if (firstLine) {
                next = trusted;
                if (kind.Trusted()) next = TrustedCheck{check, s.String(6), examined};
            }
            const KeywordEntry entry{check, {}, state, examined, maxResults};
            if (NeedsHistory(entry)) {
                line(check, static_cast<int>(s.Int(2)), OutcomeOf(entry, trusted));
            }
        }
        s.Reset();
    }
}

}  // namespace rankcheck::ledger
