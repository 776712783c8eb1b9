// The engine table: what rankcheck and the plug-ins know of each search engine, in one row per
// engine. The engine adapters take their display name, host and page size from it; rankcheck
// takes from it the command-line words, the plug-in file to load, the host the preflight reaches
// for a direct connection and the engines whose result files a folder may hold. A further engine
// is one more row (and its adapter and plug-in).
//
// Rows are written with designated initializers, so that a field added later with a default
// (the texts by which an engine's captcha or consent page is recognised, say) leaves the rows
// that do not need it unchanged.
//
// Constant data and pure functions; any thread, also at compile time.
#pragma once

#include <cstddef>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jobfiles {

struct EngineInfo {
    const char* name = "";        // display name: job file names, status lines, exports (Quillon)
    const char* id = "";          // the word on rankcheck's command line (quillon)
    const char* host = "";        // the search host every request goes to
    const char* resultPath = "";  // path of a keyword's first result page on that host
    int resultsPerPage = 0;       // links on a full result page
    const char* pluginFile = "";  // the plug-in library (libquillon.so)
};

inline constexpr EngineInfo kEngineTable[] = {
    {.name = "Quillon",
     .id = "quillon",
     .host = "search.quillon.example",
     .resultPath = "/search",
     .resultsPerPage = 10,
     .pluginFile = "libquillon.so"},
    {.name = "Verrin",
     .id = "verrin",
     .host = "search.verrin.example",
     .resultPath = "/results.asp",
     .resultsPerPage = 15,
     .pluginFile = "libverrin.so"},
};

namespace engine_table_detail {
constexpr char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}
}  // namespace engine_table_detail

// The place in the table of the engine whose display name or command-line word is `word`, in
// any case ("VERRIN"); kNoEngine when the table has no such engine. An index rather than a
// pointer, so that it stays a constant expression in builds that check pointers (UBSan).
inline constexpr size_t kNoEngine = static_cast<size_t>(-1);
constexpr size_t EngineIndex(std::string_view word) {
    for (size_t i = 0; i < std::size(kEngineTable); ++i) {
        if (engine_table_detail::SameIgnoringCase(word, kEngineTable[i].name) ||
            engine_table_detail::SameIgnoringCase(word, kEngineTable[i].id)) {
            return i;
        }
    }
    return kNoEngine;
}

// The row of `word` as EngineIndex finds it; null when the table has no such engine.
constexpr const EngineInfo* FindEngine(std::string_view word) {
    const size_t i = EngineIndex(word);
    return i == kNoEngine ? nullptr : &kEngineTable[i];
}

// The row of an engine the code names itself (the adapters): a name that is not in the table
// does not compile where it is used in a constant expression.
constexpr const EngineInfo& Engine(std::string_view word) {
    const size_t i = EngineIndex(word);
    if (i == kNoEngine) throw "no such engine in the engine table";
    return kEngineTable[i];
}

inline std::span<const EngineInfo> Engines() {
    return kEngineTable;
}

// The display names in table order: {"Quillon", "Verrin"}.
std::vector<std::string> EngineNames();

// The display name of an engine word: the table's name for a known engine in any case
// ("QUILLON": "Quillon"), else the word with a capital first letter ("zeta": "Zeta"), as the
// plug-in of a lib<word>.so spells its files and exports.
std::string EngineDisplayName(std::string_view word);

}  // namespace jobfiles
