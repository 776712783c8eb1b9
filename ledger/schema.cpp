#include "ledger/schema.h"

#include <string>

namespace rankcheck::ledger {

namespace {

// Version 1.
//
// Texts from the job files (keywords, links, URLs) are blobs: their bytes exactly as the files
// have them, compared byte by byte. Names, states and timestamps are ASCII text.
//
// The result lists are the bulk of the data (100 links for each of 500 keywords per check):
// every distinct link text is kept once in `links`, and the list of a keyword in a check is one
// blob of link ids, each an unsigned LEB128 varint, in position order (see id_list.h).
//
// `ranks` holds the best position of each user URL in each recorded keyword, as the caller
// worked it out with the plug-ins' matching rule, for both matching modes; a row exists for
// every URL of a recorded keyword, and NULL means not among the links.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE checks(
  id INTEGER PRIMARY KEY,
  engine TEXT NOT NULL,
  started_at TEXT NOT NULL,
  ended_at TEXT,
  state TEXT NOT NULL CHECK(state IN ('running', 'complete', 'stopped', 'failed')),
  imported INTEGER NOT NULL DEFAULT 0 CHECK(imported IN (0, 1)),
  max_results INTEGER NOT NULL,
  stop_when_all_found INTEGER NOT NULL CHECK(stop_when_all_found IN (0, 1)),
  exact_match INTEGER NOT NULL CHECK(exact_match IN (0, 1)),
  keywords_hash TEXT NOT NULL
);
CREATE INDEX checks_by_engine ON checks(engine, state, id);

CREATE TABLE keywords(
  id INTEGER PRIMARY KEY,
  text BLOB NOT NULL UNIQUE
);

CREATE TABLE check_keywords(
  check_id INTEGER NOT NULL REFERENCES checks(id) ON DELETE CASCADE,
  idx INTEGER NOT NULL CHECK(idx >= 0),
  keyword_id INTEGER NOT NULL REFERENCES keywords(id),
  state TEXT NOT NULL CHECK(state IN ('not_reached', 'done', 'given_up', 'partial')),
  positions_examined INTEGER NOT NULL DEFAULT 0 CHECK(positions_examined >= 0),
  recorded_at TEXT,
  PRIMARY KEY(check_id, idx)
) WITHOUT ROWID;
CREATE INDEX check_keywords_by_keyword ON check_keywords(keyword_id, check_id);

CREATE TABLE check_urls(
  check_id INTEGER NOT NULL REFERENCES checks(id) ON DELETE CASCADE,
  idx INTEGER NOT NULL CHECK(idx >= 0),
  url BLOB NOT NULL,
  url_key BLOB NOT NULL,
  PRIMARY KEY(check_id, idx)
) WITHOUT ROWID;
CREATE INDEX check_urls_by_key ON check_urls(url_key, check_id);

CREATE TABLE links(
  id INTEGER PRIMARY KEY,
  text BLOB NOT NULL UNIQUE
);

CREATE TABLE result_lists(
  check_id INTEGER NOT NULL,
  keyword_idx INTEGER NOT NULL,
  link_ids BLOB NOT NULL,
  PRIMARY KEY(check_id, keyword_idx),
  FOREIGN KEY(check_id, keyword_idx) REFERENCES check_keywords(check_id, idx) ON DELETE CASCADE
) WITHOUT ROWID;

CREATE TABLE ranks(
  check_id INTEGER NOT NULL,
  keyword_idx INTEGER NOT NULL,
  url_idx INTEGER NOT NULL,
  rank_contains INTEGER CHECK(rank_contains >= 1),
  rank_exact INTEGER CHECK(rank_exact >= 1),
  PRIMARY KEY(check_id, keyword_idx, url_idx),
  FOREIGN KEY(check_id, keyword_idx) REFERENCES check_keywords(check_id, idx) ON DELETE CASCADE,
  FOREIGN KEY(check_id, url_idx) REFERENCES check_urls(check_id, idx) ON DELETE CASCADE
) WITHOUT ROWID;
)sql";

// Version 2: a check belongs to its project folder, a stopped or failed check says why, and
// each keyword of a check points at the last check before it whose outcome for the keyword was
// trusted.
//
// `folder` is the canonical absolute path of the folder the check was made in (bytes, as the
// file system has them). Checks from version 1 get NULL: they were made before folders were
// kept; the ledger counts them as the folder's that reads them, until a run in some folder
// records into the ledger and claims them (see Ledger). `reason` is the run's own words.
//
// `trusted_check` and `trusted_examined` are what the outcome rule holds a keyword against
// (keyword_outcome.h): the id of the latest earlier check of the engine, in the folder, whose
// outcome for the keyword text was trusted (0: there is none), and how many positions it
// examined. They are worked out from the history when a check begins, which only a later check
// could change and a later check never does (only the latest check is reopened), so that no
// query has to read a keyword's whole history. NULL: not worked out (keywords of version 1);
// the ledger then works it out from the history whenever it is asked.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE checks ADD COLUMN folder BLOB;
ALTER TABLE checks ADD COLUMN reason TEXT;
CREATE INDEX checks_by_folder ON checks(engine, folder, id);
ALTER TABLE check_keywords ADD COLUMN trusted_check INTEGER CHECK(trusted_check >= 0);
ALTER TABLE check_keywords ADD COLUMN trusted_examined INTEGER;
)sql";

// Version 3: what each upstream of the gateway carried for a check (its requests, the pages
// passed on, the blocks that suspended it, the other failures, and the median time of a request
// in microseconds), one row per upstream label. A resumed check adds its runs' counts; the
// median is its latest run's.
constexpr const char* kVersion3 = R"sql(
CREATE TABLE check_upstreams(
  check_id INTEGER NOT NULL REFERENCES checks(id),
  upstream TEXT NOT NULL,
  requests INTEGER NOT NULL CHECK(requests >= 0),
  pages INTEGER NOT NULL CHECK(pages >= 0),
  blocks INTEGER NOT NULL CHECK(blocks >= 0),
  failures INTEGER NOT NULL CHECK(failures >= 0),
  median_us INTEGER NOT NULL CHECK(median_us >= 0),
  PRIMARY KEY(check_id, upstream)
);
)sql";

constexpr SchemaStep kSteps[] = {
    {1, kVersion1},
    {2, kVersion2},
    {3, kVersion3},
};

}  // namespace

std::span<const SchemaStep> SchemaSteps() {
    return kSteps;
}

int SchemaVersion(SqliteDb& db) {
    SqliteStatement version(db, "PRAGMA user_version");
    return version.Step() ? static_cast<int>(version.Int(0)) : 0;
}

int MigrateSchema(SqliteDb& db, std::span<const SchemaStep> steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].version != static_cast<int>(i) + 1) {
            db.Fail("schema step " + std::to_string(i + 1) + " is numbered " +
                    std::to_string(steps[i].version));
        }
    }
    const int latest = static_cast<int>(steps.size());
    const auto refuseNewer = [&](int version) {
        if (version > latest) {
            db.Fail("the ledger has schema version " + std::to_string(version) +
                    ", newer than this program knows (" + std::to_string(latest) +
                    "); it was written by a newer rankcheck");
        }
    };
    // Readers find the file up to date and take no write lock.
    int version = SchemaVersion(db);
    refuseNewer(version);
    if (version == latest) return version;

    SqliteTransaction transaction(db, SqliteTransaction::Kind::Write);
    // Another process may have migrated the file meanwhile.
    version = SchemaVersion(db);
    refuseNewer(version);
    for (; version < latest; ++version) {
        db.Exec(steps[static_cast<size_t>(version)].sql);
    }
    db.Exec(("PRAGMA user_version = " + std::to_string(latest)).c_str());
    transaction.Commit();
    return latest;
}

}  // namespace rankcheck::ledger
