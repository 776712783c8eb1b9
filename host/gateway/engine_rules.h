// EngineRules: what the gateway knows of an engine, to tell a result page from a block: the
// engine's display name and host, the path prefixes of its result pages and the block patterns,
// texts that only a page standing in for the results holds (a captcha form, a consent wall).
// The host passes them in (the engine table is where they belong); DefaultEngineRules has the
// two engines' own, which match what engine-sim serves.
//
// An answer from an engine is a block when it is
//   - HTTP 403, 429 or 503;
//   - a redirect (3xx) whose Location leaves the engine's result pages: another host, or a path
//     that none of the result-page prefixes begins (a relative Location counts from the root,
//     where the engines' pages stand);
//   - a 200 page that holds one of the engine's block patterns (plain text, case as written).
// For a host that no rules name, only the status counts.
//
// Plain values and a pure function; any thread.
#pragma once

#include <string>
#include <vector>

namespace rankcheck::gateway {

struct BlockPattern {
    std::string what;  // how a cause line names it: "captcha page", "consent wall"
    std::string text;  // a text that such a page holds and a result page never does
};

struct EngineRules {
    std::string name;                      // display name: "Quillon"
    std::string host;                      // "search.quillon.example" (no port; any case)
    std::vector<std::string> resultPaths;  // path prefixes of the result pages: "/search"
    std::vector<BlockPattern> blockPatterns;
};

// Quillon and Verrin: their hosts, result pages ("/search"; "/results.asp", which also begins
// "/results.aspx") and the captcha and consent pages engine-sim plays.
std::vector<EngineRules> DefaultEngineRules();

enum class BlockKind {
    None,
    Status,    // 403, 429 or 503
    Redirect,  // away from the result pages
    Pattern,   // a block page served as 200
};

struct Verdict {
    BlockKind kind = BlockKind::None;
    // For a block, the words of a cause line: "HTTP 429 (too many requests)", "captcha page",
    // "redirect to http://search.quillon.example/consent".
    std::string what;
};

// Whether an answer is a block. `rules` is the engine the request went to, or nullptr;
// `location` the answer's Location header (empty if none), `body` the page as received.
Verdict Classify(const EngineRules* rules, long status, const std::string& location,
                 const std::string& body);

// The words for an HTTP status: "HTTP 404 (not found)".
std::string StatusWords(long status);

// The rules whose host is `host` (ignoring case and a ":port"), or nullptr.
const EngineRules* RulesForHost(const std::vector<EngineRules>& engines, const std::string& host);

}  // namespace rankcheck::gateway
