#include "tools/engine-sim/scenario.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

namespace enginesim {

namespace {

using nlohmann::json;

constexpr std::array<std::pair<FaultKind, const char*>, 16> kFaultNames{{
    {FaultKind::Status, "status"},
    {FaultKind::CloseMidBody, "closeMidBody"},
    {FaultKind::NoAnswer, "noAnswer"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Truncate, "truncate"},
    {FaultKind::RepeatPage, "repeatPage"},
    {FaultKind::NoNextLink, "noNextLink"},
    {FaultKind::EmptyLink, "emptyLink"},
    {FaultKind::LineBreakLink, "lineBreakLink"},
    {FaultKind::HugePage, "hugePage"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::Markers, "markers"},
    {FaultKind::Captcha, "captcha"},
    {FaultKind::Consent, "consent"},
    {FaultKind::Drip, "drip"},
    {FaultKind::Drop, "drop"},
}};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument("scenario: " + where + ": " + what);
}

// Rejects keys that the entry does not know, so that a misspelt key is reported.
void CheckKeys(const json& j, std::initializer_list<const char*> known, const std::string& where) {
    if (!j.is_object()) Fail(where, "expected an object");
    for (const auto& [key, value] : j.items()) {
        if (std::find_if(known.begin(), known.end(), [&](const char* k) { return key == k; }) ==
            known.end())
            Fail(where, "unknown key \"" + key + "\"");
    }
}

int IntAt(const json& j, const char* key, int fallback, const std::string& where) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_number_integer()) Fail(where + "." + key, "expected an integer");
    return j[key].get<int>();
}

Fault ParseFault(const json& j, const std::string& where) {
    CheckKeys(j,
              {"kind", "page", "fromRequest", "times", "status", "ms", "result", "count", "bytes",
               "listener", "bytesPerSecond", "contentLength"},
              where);
    if (!j.contains("kind") || !j["kind"].is_string()) Fail(where, "\"kind\" missing");
    Fault fault;
    const auto name = j["kind"].get<std::string>();
    const auto it = std::find_if(kFaultNames.begin(), kFaultNames.end(),
                                 [&](const auto& entry) { return name == entry.second; });
    if (it == kFaultNames.end()) Fail(where, "unknown fault kind \"" + name + "\"");
    fault.kind = it->first;
    fault.page = IntAt(j, "page", 0, where);
    fault.fromRequest = IntAt(j, "fromRequest", 0, where);
    fault.times = IntAt(j, "times", 0, where);
    fault.status = IntAt(j, "status", 500, where);
    fault.ms = IntAt(j, "ms", 0, where);
    fault.result = IntAt(j, "result", 0, where);
    fault.count = IntAt(j, "count", 0, where);
    fault.listener = IntAt(j, "listener", 0, where);
    for (const auto& [key, field] :
         {std::pair{"bytes", &fault.bytes}, std::pair{"contentLength", &fault.contentLength}}) {
        if (!j.contains(key)) continue;
        if (!j[key].is_number_unsigned()) Fail(where + "." + key, "expected a byte count");
        *field = j[key].get<size_t>();
    }
    fault.bytesPerSecond = IntAt(j, "bytesPerSecond", 0, where);
    return fault;
}

std::vector<Fault> ParseFaults(const json& j, const std::string& where) {
    if (!j.is_array()) Fail(where, "expected an array");
    std::vector<Fault> faults;
    for (size_t i = 0; i < j.size(); ++i)
        faults.push_back(ParseFault(j[i], where + "[" + std::to_string(i) + "]"));
    return faults;
}

double SecondsAt(const json& j, const char* key, double fallback, const std::string& where) {
    if (!j.contains(key)) return fallback;
    if (!j[key].is_number()) Fail(where + "." + key, "expected a number of seconds");
    return j[key].get<double>();
}

// {"requests": 5, "seconds": 1, "per": "client"|"port", "answer": "429"|"captcha", "cooldown": 60,
//  "listener": 2}
RateLimit ParseRateLimit(const json& j) {
    CheckKeys(j, {"requests", "seconds", "per", "answer", "cooldown", "listener"}, "rateLimit");
    RateLimit limit;
    limit.requests = IntAt(j, "requests", limit.requests, "rateLimit");
    limit.seconds = SecondsAt(j, "seconds", limit.seconds, "rateLimit");
    limit.cooldown = SecondsAt(j, "cooldown", limit.cooldown, "rateLimit");
    limit.listener = IntAt(j, "listener", limit.listener, "rateLimit");
    const std::string per = j.value("per", std::string("client"));
    const std::string answer = j.value("answer", std::string("429"));
    if (per != "client" && per != "port") Fail("rateLimit.per", "expected \"client\" or \"port\"");
    if (answer != "429" && answer != "captcha")
        Fail("rateLimit.answer", "expected \"429\" or \"captcha\"");
    limit.per = per == "port" ? RateLimit::Per::Port : RateLimit::Per::Client;
    limit.answer =
        answer == "captcha" ? RateLimit::Answer::Captcha : RateLimit::Answer::TooManyRequests;
    return limit;
}

EngineSetup ParseEngine(const json& j, const std::string& where) {
    CheckKeys(j, {"results", "sites", "faults"}, where);
    EngineSetup setup;
    if (j.contains("results")) setup.results = IntAt(j, "results", 0, where);
    if (j.contains("sites")) {
        const json& sites = j["sites"];
        if (!sites.is_array()) Fail(where + ".sites", "expected an array");
        for (size_t i = 0; i < sites.size(); ++i) {
            const std::string at = where + ".sites[" + std::to_string(i) + "]";
            CheckKeys(sites[i], {"rank", "link"}, at);
            if (!sites[i].contains("link") || !sites[i]["link"].is_string())
                Fail(at, "\"link\" missing");
            setup.sites.push_back({IntAt(sites[i], "rank", 1, at), sites[i]["link"]});
        }
    }
    if (j.contains("faults")) setup.faults = ParseFaults(j["faults"], where + ".faults");
    return setup;
}

// The form in which the plug-ins compare a link with a user's URL: no trailing "/", no leading
// "http://", lower-case.
std::string Normalised(std::string link) {
    if (!link.empty() && link.back() == '/') link.pop_back();
    if (link.rfind("http://", 0) == 0) link.erase(0, 7);
    std::transform(link.begin(), link.end(), link.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return link;
}

// FNV-1a with a final mix of all bits: a hash that stays the same on every machine and every
// run, and whose high bits vary as much as its low ones.
uint64_t Hash(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

constexpr std::array<const char*, 40> kWords{
    "oak",     "river",    "stone",   "maple",  "harbor",  "cedar",   "silver",  "meadow",
    "north",   "summit",   "copper",  "valley", "lantern", "orchard", "willow",  "granite",
    "amber",   "falcon",   "prairie", "coral",  "birch",   "canyon",  "ember",   "hollow",
    "juniper", "lakeside", "marble",  "pine",   "quarry",  "ridge",   "sparrow", "timber",
    "violet",  "aspen",    "bramble", "clover", "delta",   "fern",    "glacier", "heron"};
constexpr std::array<const char*, 12> kSections{"news",     "blog", "guide", "shop",
                                                "articles", "wiki", "forum", "reviews",
                                                "recipes",  "help", "docs",  "topics"};

// The keyword as a path segment: ASCII letters and digits, everything else a single "-".
std::string Slug(const std::string& keyword) {
    std::string slug;
    for (unsigned char c : keyword) {
        if (std::isalnum(c) && c < 128)
            slug += static_cast<char>(std::tolower(c));
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
        if (slug.size() >= 40) break;
    }
    while (!slug.empty() && slug.back() == '-')
        slug.pop_back();
    return slug.empty() ? "page" : slug;
}

void CheckFaults(const std::vector<Fault>& faults, const std::string& where) {
    for (size_t i = 0; i < faults.size(); ++i) {
        const Fault& f = faults[i];
        if (f.page < 0 || f.fromRequest < 0 || f.times < 0 || f.ms < 0 || f.result < 0 ||
            f.count < 0 || f.listener < 0 || f.bytesPerSecond < 0)
            Fail(where + "[" + std::to_string(i) + "]", "numbers must not be negative");
    }
}

}  // namespace

const char* EngineName(Engine engine) {
    return engine == Engine::Quillon ? "quillon" : "verrin";
}

int ResultsPerPage(Engine engine) {
    return engine == Engine::Quillon ? 10 : 15;
}

const char* FaultName(FaultKind kind) {
    for (const auto& [k, name] : kFaultNames)
        if (k == kind) return name;
    return "?";
}

const EngineSetup* Scenario::Find(const std::string& keyword, Engine engine) const {
    const auto it = keywords.find(keyword);
    return it == keywords.end() ? nullptr : &it->second.For(engine);
}

int Scenario::ResultCount(const std::string& keyword, Engine engine) const {
    const EngineSetup* setup = Find(keyword, engine);
    return setup && setup->results ? *setup->results : defaultResults;
}

void Scenario::Validate() const {
    if (defaultResults < 0) Fail("defaultResults", "must not be negative");
    if (rateLimit &&
        (rateLimit->requests < 1 || !(rateLimit->seconds > 0) || !(rateLimit->cooldown >= 0) ||
         rateLimit->listener < 0))
        Fail("rateLimit",
             "needs at least 1 request in a positive time, a cool-down of 0 or more and a "
             "listener of 0 or more");
    CheckFaults(faults, "faults");
    for (const auto& [keyword, setup] : keywords) {
        for (Engine engine : {Engine::Quillon, Engine::Verrin}) {
            const std::string where = "keywords.\"" + keyword + "\"." + EngineName(engine);
            const int results = ResultCount(keyword, engine);
            if (results < 0) Fail(where + ".results", "must not be negative");
            CheckFaults(setup.For(engine).faults, where + ".faults");
            std::set<int> ranks;
            for (const PlacedSite& site : setup.For(engine).sites) {
                if (site.rank < 1 || site.rank > results)
                    Fail(where, "site " + site.link + " at rank " + std::to_string(site.rank) +
                                    " lies outside the " + std::to_string(results) + " results");
                if (!ranks.insert(site.rank).second)
                    Fail(where, "two sites at rank " + std::to_string(site.rank));
                if (site.link.empty() || site.link.find_first_of(" <\"") != std::string::npos)
                    Fail(where,
                         "site link \"" + site.link + "\" is empty or holds ' ', '<' or '\"'");
            }
        }
    }
}

Scenario Scenario::FromJson(const std::string& text) {
    Scenario scenario;
    try {
        const json j = json::parse(text);
        CheckKeys(j, {"defaultResults", "keywords", "faults", "proxyAuth", "rateLimit"},
                  "top level");
        scenario.defaultResults = IntAt(j, "defaultResults", scenario.defaultResults, "top level");
        if (j.contains("keywords")) {
            const json& keywords = j["keywords"];
            if (!keywords.is_object()) Fail("keywords", "expected an object");
            for (const auto& [keyword, engines] : keywords.items()) {
                const std::string where = "keywords.\"" + keyword + "\"";
                CheckKeys(engines, {"quillon", "verrin"}, where);
                KeywordSetup& setup = scenario.keywords[keyword];
                if (engines.contains("quillon"))
                    setup.quillon = ParseEngine(engines["quillon"], where + ".quillon");
                if (engines.contains("verrin"))
                    setup.verrin = ParseEngine(engines["verrin"], where + ".verrin");
            }
        }
        if (j.contains("faults")) scenario.faults = ParseFaults(j["faults"], "faults");
        if (j.contains("proxyAuth")) {
            const json& auth = j["proxyAuth"];
            CheckKeys(auth, {"user", "password"}, "proxyAuth");
            scenario.proxyAuth =
                ProxyAuth{auth.value("user", std::string()), auth.value("password", std::string())};
        }
        if (j.contains("rateLimit")) scenario.rateLimit = ParseRateLimit(j["rateLimit"]);
    } catch (const json::exception& e) {
        throw std::invalid_argument(std::string("scenario: ") + e.what());
    }
    scenario.Validate();
    return scenario;
}

Scenario Scenario::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::invalid_argument("scenario: cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return FromJson(text.str());
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(path + ": " + e.what());
    }
}

LinkGenerator::LinkGenerator(const Scenario& scenario) : scenario_(scenario) {
    for (const auto& [keyword, setup] : scenario.keywords)
        for (Engine engine : {Engine::Quillon, Engine::Verrin})
            for (const PlacedSite& site : setup.For(engine).sites)
                if (!Normalised(site.link).empty()) placed_.push_back(Normalised(site.link));
}

std::string LinkGenerator::Link(const std::string& keyword, Engine engine, int rank) const {
    if (const EngineSetup* setup = scenario_.Find(keyword, engine)) {
        for (const PlacedSite& site : setup->sites)
            if (site.rank == rank) return site.link;
    }
    return Generated(keyword, engine, rank);
}

std::vector<std::string> LinkGenerator::Links(const std::string& keyword, Engine engine) const {
    std::vector<std::string> links;
    const int count = scenario_.ResultCount(keyword, engine);
    for (int rank = 1; rank <= count; ++rank)
        links.push_back(Link(keyword, engine, rank));
    return links;
}

std::string LinkGenerator::Generated(const std::string& keyword, Engine engine, int rank) const {
    const std::string seed =
        std::string(EngineName(engine)) + '\n' + keyword + '\n' + std::to_string(rank);
    std::string link;
    // A site so short that every link contains it (say "example") cannot be avoided: after a
    // bounded number of tries the link is kept as it is.
    for (int salt = 0; salt < 64; ++salt) {
        const uint64_t h = Hash(seed + '\n' + std::to_string(salt));
        const std::string host = std::string("www.") + kWords[h % kWords.size()] + "-" +
                                 kWords[(h >> 8) % kWords.size()] + ".example";
        link = host + "/" + kSections[(h >> 16) % kSections.size()] + "/" + Slug(keyword) + "-" +
               std::to_string(rank) + ((h >> 24) % 3 == 0 ? ".html" : "/");
        // Quillon shows links with their scheme, Verrin mostly without.
        if (engine == Engine::Quillon)
            link = ((h >> 32) % 8 == 0 ? "https://" : "http://") + link;
        else if ((h >> 32) % 4 == 0)
            link = "http://" + link;
        const std::string lower = Normalised(link);
        if (std::none_of(placed_.begin(), placed_.end(), [&](const std::string& site) {
                return lower.find(site) != std::string::npos;
            }))
            return link;
    }
    return link;
}

}  // namespace enginesim
