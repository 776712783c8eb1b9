// Tests of engine-sim, the local search-engine simulator. The simulator is reached as the
// plug-ins reach it: through THttpClient with the simulator as proxy. Pages are scanned here by
// the plug-ins' own rules, independently of how the simulator writes them.
#include "tools/engine-sim/engine_sim.h"
#include "tools/engine-sim/result_page.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/exceptions.h"
#include "platform/http_client.h"
#include "urlcodec/url_codec.h"

extern char** environ;

namespace {

using namespace enginesim;

const std::string kQuillonMarker = "&nbsp<span class=\"resURL\">";
const std::string kVerrinMarker = "<span class=\"u\">";
const std::string kNextMarker = "href=\"results.aspx";

// A client set up as a plug-in sets up its own, with the simulator as its proxy.
void UseSimulator(THttpClient& client, const EngineSim& sim) {
    client.UserAgent = "Mozilla/3.0 (compatible;)";
    client.AcceptLanguage = "en-us";
    client.ProxyBasicAuthentication = true;
    client.ProxyServer = "127.0.0.1";
    client.ProxyPort = sim.Port();
}

std::string Failure(THttpClient& client, const std::string& url) {
    try {
        client.Get(url);
    } catch (const EHttpError& e) {
        return e.what();
    }
    return "";
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct Scan {
    std::vector<std::string> links;  // as found, before any trimming
    bool cut = false;                // a marker whose link has no end before the page ends
};

// Quillon: the marker and 7 more characters, then the link up to the next blank.
Scan ScanQuillon(const std::string& page) {
    Scan scan;
    for (size_t at = page.find(kQuillonMarker); at != std::string::npos;
         at = page.find(kQuillonMarker, at + 1)) {
        const size_t start = at + kQuillonMarker.size() + 7;
        const size_t end = start > page.size() ? std::string::npos : page.find(' ', start);
        if (end == std::string::npos) {
            scan.cut = true;
            break;
        }
        scan.links.push_back(page.substr(start, end - start));
    }
    return scan;
}

// Verrin: the marker, then the link up to the next "<".
Scan ScanVerrin(const std::string& page) {
    Scan scan;
    for (size_t at = page.find(kVerrinMarker); at != std::string::npos;
         at = page.find(kVerrinMarker, at + 1)) {
        const size_t start = at + kVerrinMarker.size();
        const size_t end = page.find('<', start);
        if (end == std::string::npos) {
            scan.cut = true;
            break;
        }
        scan.links.push_back(page.substr(start, end - start));
    }
    return scan;
}

// Verrin's next page: the value of the page's second href="results.aspx, or "" without one.
std::string NextLink(const std::string& page) {
    const size_t first = page.find(kNextMarker);
    if (first == std::string::npos) return "";
    const size_t second = page.find(kNextMarker, first + 1);
    if (second == std::string::npos) return "";
    const size_t start = second + 6;
    return page.substr(start, page.find('"', start) - start);
}

std::string WithoutSlash(std::string link) {
    if (!link.empty() && link.back() == '/') link.pop_back();
    return link;
}

std::string QuillonTrimmed(const std::string& link) {
    std::string out = WithoutSlash(link);
    return out.rfind("http://", 0) == 0 ? out.substr(7) : out;
}

std::string Encoded(const std::string& keyword) {
    return TUrlCodec().URLEncode(keyword);
}

std::string QuillonUrl(const std::string& keyword, int page) {
    if (page == 1)
        return "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=" + Encoded(keyword);
    return "http://search.quillon.example/search?q=" + Encoded(keyword) +
           "&c=web&cs=utf-8&o=" + std::to_string((page - 1) * 10) + "&l=any";
}

std::string VerrinUrl(const std::string& keyword) {
    return "http://search.verrin.example/results.asp?q=" + Encoded(keyword) +
           "&origq=&RS=CHECKED&FORM=SMCRT&v=1&cfg=SMCINITIAL&nosp=0&thr=";
}

TEST(EngineSim, QuillonOffsetsWalkEveryResultOnceWithSitesAtTheirRanks) {
    Scenario scenario;
    scenario.Setup("fresh bread", Engine::Quillon) = {
        .results = 42,
        .sites = {{3, "http://www.my-bakery.example/"},
                  {17, "http://www.My-Bakery.example/rolls/"}}};
    scenario.Setup("even", Engine::Quillon).results = 30;
    EngineSim sim(scenario);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    const LinkGenerator model(scenario);

    // "plain" is not in the scenario and gets the default 35 results.
    for (const auto& [keyword, count] : std::vector<std::pair<std::string, int>>{
             {"fresh bread", 42}, {"even", 30}, {"plain", 35}}) {
        SCOPED_TRACE(keyword);
        std::vector<std::string> walked;
        std::vector<size_t> pageSizes;
        for (int page = 1;; ++page) {
            const std::string body = client.Get(QuillonUrl(keyword, page));
            const Scan scan = ScanQuillon(body);
            ASSERT_FALSE(scan.cut);
            for (const std::string& link : scan.links)
                walked.push_back(QuillonTrimmed(link));
            pageSizes.push_back(scan.links.size());
            if (scan.links.size() < 10) break;
        }
        std::vector<std::string> expected;
        for (const std::string& link : model.Links(keyword, Engine::Quillon))
            expected.push_back(QuillonTrimmed(link));
        EXPECT_EQ(walked, expected);
        EXPECT_EQ(walked.size(), static_cast<size_t>(count));
        EXPECT_EQ(std::set<std::string>(walked.begin(), walked.end()).size(), walked.size());
        EXPECT_EQ(pageSizes.back(), static_cast<size_t>(count % 10));
    }
    const std::vector<std::string> links = model.Links("fresh bread", Engine::Quillon);
    EXPECT_EQ(links[2], "http://www.my-bakery.example/");
    EXPECT_EQ(links[16], "http://www.My-Bakery.example/rolls/");
    // No generated link contains a placed site, whatever its case.
    for (size_t i = 0; i < links.size(); ++i)
        if (i != 2 && i != 16) {
            EXPECT_EQ(links[i].find("my-bakery"), std::string::npos) << links[i];
        }
}

TEST(EngineSim, VerrinNextLinksWalkEveryResultOnce) {
    const std::string keyword =
        "cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
        "e";  // UTF-8, as the plug-in sends it
    Scenario scenario;
    scenario.Setup(keyword, Engine::Verrin) = {.results = 47,
                                               .sites = {{16, "www.my-bakery.example/"}}};
    scenario.Setup("thirty", Engine::Verrin).results = 30;
    EngineSim sim(scenario);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);

    for (const auto& [kw, pages] :
         std::vector<std::pair<std::string, int>>{{keyword, 4}, {"thirty", 2}}) {
        SCOPED_TRACE(kw);
        std::vector<std::string> walked;
        std::string url = VerrinUrl(kw);
        for (int page = 1; page <= pages; ++page) {
            const std::string body = client.Get(url);
            const Scan scan = ScanVerrin(body);
            ASSERT_FALSE(scan.cut);
            walked.insert(walked.end(), scan.links.begin(), scan.links.end());
            const bool last = page == pages;
            EXPECT_EQ(Occurrences(body, kNextMarker), last ? 1u : 2u) << "page " << page;
            if (last) break;
            const std::string next = NextLink(body);
            EXPECT_NE(next.find("&amp;first="), std::string::npos) << next;
            url = "http://search.verrin.example/" + next;  // verbatim, "&amp;" and all
        }
        EXPECT_EQ(walked, LinkGenerator(scenario).Links(kw, Engine::Verrin));
        EXPECT_EQ(std::set<std::string>(walked.begin(), walked.end()).size(), walked.size());
    }
    EXPECT_EQ(LinkGenerator(scenario).Link(keyword, Engine::Verrin, 16), "www.my-bakery.example/");
    // After a full last page the plug-in asks for the bare host: a page without results.
    const std::string front = client.Get("http://search.verrin.example/");
    EXPECT_TRUE(ScanVerrin(front).links.empty());
    EXPECT_EQ(sim.Requests().back().status, 200);
}

TEST(EngineSim, FailuresFailTheirNumberOfTimesThenThePageIsServed) {
    Scenario scenario;
    scenario.Setup("flaky", Engine::Quillon).faults = {
        {.kind = FaultKind::Delay, .page = 1, .times = 1, .ms = 300},
        {.kind = FaultKind::Status, .page = 2, .times = 2},
        {.kind = FaultKind::CloseMidBody, .page = 3, .times = 1},
        {.kind = FaultKind::NoAnswer, .page = 4, .times = 2, .ms = 1500}};
    scenario.faults = {{.kind = FaultKind::Status, .fromRequest = 10, .times = 1, .status = 503}};
    EngineSim sim(scenario);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    client.ReadTimeout = 400;
    using Clock = std::chrono::steady_clock;

    auto t0 = Clock::now();
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("flaky", 1))).links.size(), 10u);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(300));
    t0 = Clock::now();
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("flaky", 1))).links.size(), 10u);  // once only
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(300));

    EXPECT_NE(Failure(client, QuillonUrl("flaky", 2)).find("HTTP status 500"), std::string::npos);
    EXPECT_NE(Failure(client, QuillonUrl("flaky", 2)).find("HTTP status 500"), std::string::npos);
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("flaky", 2))).links.size(), 10u);

    EXPECT_NE(Failure(client, QuillonUrl("flaky", 3)), "");
    EXPECT_EQ(sim.Requests().back().faults, "closeMidBody");
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("flaky", 3))).links.size(), 10u);

    // No answer: an impatient client times out; a patient one still gets no page.
    t0 = Clock::now();
    const std::string timedOut = Failure(client, QuillonUrl("flaky", 4));
    EXPECT_NE(timedOut.find("nothing received for 400 ms"), std::string::npos) << timedOut;
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1400));
    THttpClient patient;
    UseSimulator(patient, sim);
    t0 = Clock::now();
    EXPECT_NE(Failure(patient, QuillonUrl("flaky", 4)), "");
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(1500));

    // Request 10 meets the scenario-wide fault, request 11 no longer.
    EXPECT_EQ(sim.Requests().back().number, 9);
    EXPECT_NE(Failure(client, QuillonUrl("flaky", 4)).find("HTTP status 503"), std::string::npos);
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("flaky", 4))).links.size(), 5u);
}

TEST(EngineSim, PageFaultsChangeThePageAsNamed) {
    Scenario scenario;
    scenario.Setup("cut", Engine::Quillon).faults = {{.kind = FaultKind::Truncate}};
    scenario.Setup("again", Engine::Verrin).faults = {
        {.kind = FaultKind::RepeatPage, .page = 2, .times = 1}};
    scenario.Setup("dead end", Engine::Verrin).faults = {{.kind = FaultKind::NoNextLink}};
    scenario.Setup("empty", Engine::Quillon).faults = {{.kind = FaultKind::EmptyLink, .result = 3}};
    scenario.Setup("broken", Engine::Verrin).faults = {{.kind = FaultKind::LineBreakLink}};
    scenario.Setup("thirteen", Engine::Quillon).faults = {
        {.kind = FaultKind::Markers, .count = 13}};
    scenario.Setup("noise", Engine::Verrin).faults = {{.kind = FaultKind::Garbage}};
    scenario.Setup("huge", Engine::Quillon).faults = {{.kind = FaultKind::HugePage}};
    EngineSim sim(scenario);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    const LinkGenerator model(scenario);

    // The page ends halfway through its tenth link.
    std::string body = client.Get(QuillonUrl("cut", 1));
    Scan scan = ScanQuillon(body);
    EXPECT_TRUE(scan.cut);
    EXPECT_EQ(scan.links.size(), 9u);
    const std::string tenth = model.Link("cut", Engine::Quillon, 10);
    EXPECT_EQ(body.substr(body.size() - (tenth.size() + 1) / 2),
              tenth.substr(0, (tenth.size() + 1) / 2));

    // Page 2 first comes back as page 1, then as itself; its next link leads to page 2 again.
    const std::string page1 = client.Get(VerrinUrl("again"));
    const std::string next = "http://search.verrin.example/" + NextLink(page1);
    const std::string repeated = client.Get(next);
    EXPECT_EQ(ScanVerrin(repeated).links, ScanVerrin(page1).links);
    EXPECT_EQ(NextLink(repeated), NextLink(page1));
    EXPECT_EQ(ScanVerrin(client.Get(next)).links[0], model.Link("again", Engine::Verrin, 16));

    body = client.Get(VerrinUrl("dead end"));
    EXPECT_EQ(ScanVerrin(body).links.size(), 15u);
    EXPECT_EQ(Occurrences(body, kNextMarker), 1u);

    scan = ScanQuillon(client.Get(QuillonUrl("empty", 1)));
    ASSERT_EQ(scan.links.size(), 10u);
    EXPECT_EQ(scan.links[2], "");
    EXPECT_NE(scan.links[1], "");

    scan = ScanVerrin(client.Get(VerrinUrl("broken")));
    ASSERT_EQ(scan.links.size(), 15u);
    EXPECT_NE(scan.links[14].find('\n'), std::string::npos);
    EXPECT_EQ(scan.links[13].find('\n'), std::string::npos);

    scan = ScanQuillon(client.Get(QuillonUrl("thirteen", 1)));
    ASSERT_EQ(scan.links.size(), 13u);
    EXPECT_EQ(scan.links[12], model.Link("thirteen", Engine::Quillon, 13));

    body = client.Get(VerrinUrl("noise"));
    EXPECT_EQ(body.size(), 64u * 1024);
    EXPECT_NE(body.find('\0'), std::string::npos);
    EXPECT_EQ(body.find('<'), std::string::npos);

    // 20 MiB: over the plug-ins' client limit; a plain client gets it whole, results and all.
    EXPECT_NE(Failure(client, QuillonUrl("huge", 1)).find("exceeds"), std::string::npos);
    httplib::Client raw("127.0.0.1", sim.Port());
    const auto res = raw.Get(QuillonUrl("huge", 1).c_str());
    ASSERT_TRUE(res);
    EXPECT_GE(res->body.size(), 20u * 1024 * 1024);
    EXPECT_EQ(ScanQuillon(res->body).links.size(), 10u);
    EXPECT_EQ(res->body.substr(res->body.size() - 8), "</html>\n");
}

TEST(EngineSim, DripTricklesTheAnnouncedLengthUntilCompleteOrStopped) {
    Scenario scenario;
    scenario.Setup("slow", Engine::Quillon).faults = {
        {.kind = FaultKind::Drip, .page = 1, .bytesPerSecond = 400000, .contentLength = 30000}};
    scenario.Setup("slow", Engine::Verrin).faults = {
        {.kind = FaultKind::Drip, .bytesPerSecond = 20}};
    EngineSim sim(scenario);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);

    // Fast enough to end: the page padded to the length asked for, its results intact.
    const std::string page = client.Get(QuillonUrl("slow", 1));
    EXPECT_GE(page.size(), 30000u);
    EXPECT_EQ(ScanQuillon(page).links.size(), 10u);
    EXPECT_EQ(sim.Requests().back().faults, "drip");

    // 20 bytes a second: 1,000,000 bytes announced, the page's first bytes in slices of two.
    httplib::Client raw("127.0.0.1", sim.Port());
    std::string announced, received;
    int slices = 0;
    raw.Get(
        VerrinUrl("slow").c_str(),
        [&](const httplib::Response& res) {
            announced = res.get_header_value("Content-Length");
            return true;
        },
        [&](const char* data, size_t length) {
            received.append(data, length);
            ++slices;
            return received.size() < 6;
        });
    EXPECT_GE(std::stoul(announced.empty() ? "0" : announced), 1000000u);
    EXPECT_EQ(received, "<!DOCT");
    EXPECT_EQ(slices, 3);

    // A stop does not wait for the page to end; the client is left with a broken answer.
    const size_t before = sim.Requests().size();
    std::string failure = "none yet";
    std::thread reader([&] { failure = Failure(client, VerrinUrl("slow")); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim.Requests().size() == before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GT(sim.Requests().size(), before);
    const auto t0 = std::chrono::steady_clock::now();
    sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    reader.join();
    EXPECT_NE(failure, "");
}

TEST(EngineSim, DropAnswersNothingFromItsRequestOn) {
    EngineSim sim(Scenario::FromJson(R"({"faults": [{"kind": "drop", "fromRequest": 3}]})"));
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("down", 1))).links.size(), 10u);
    EXPECT_EQ(ScanVerrin(client.Get(VerrinUrl("down"))).links.size(), 15u);
    for (int i = 0; i < 3; ++i) {
        const std::string failure = Failure(client, QuillonUrl("down", 2));
        EXPECT_NE(failure.find("Empty reply"), std::string::npos) << failure;
    }
    httplib::Client raw("127.0.0.1", sim.Port());
    EXPECT_FALSE(raw.Get(VerrinUrl("down").c_str()));

    const std::vector<LoggedRequest> log = sim.Requests();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[1].faults, "");
    for (size_t i = 2; i < log.size(); ++i) {
        EXPECT_EQ(log[i].faults, "drop") << i;
        EXPECT_EQ(log[i].status, 0) << i;
    }

    // A drip's numbers in a scenario file.
    const Fault drip = Scenario::FromJson(R"({"faults": [{"kind": "drip", "bytesPerSecond": 3,
                                            "contentLength": 5000}]})")
                           .faults.at(0);
    EXPECT_EQ(drip.kind, FaultKind::Drip);
    EXPECT_EQ(drip.bytesPerSecond, 3);
    EXPECT_EQ(drip.contentLength, 5000u);
    EXPECT_THROW(Scenario::FromJson(R"({"faults": [{"kind": "drip", "bytesPerSecond": -1}]})"),
                 std::invalid_argument);
}

TEST(EngineSim, KeepAliveServesManyRequestsOverOneConnection) {
    EngineSim sim;
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    for (int page = 1; page <= 8; ++page)
        client.Get(QuillonUrl("bread", page));
    THttpClient other;
    UseSimulator(other, sim);
    other.Get(VerrinUrl("bread"));
    const std::vector<LoggedRequest> log = sim.Requests();
    ASSERT_EQ(log.size(), 9u);
    for (size_t i = 1; i < 8; ++i)
        EXPECT_EQ(log[i].clientPort, log[0].clientPort);
    EXPECT_NE(log[8].clientPort, log[0].clientPort);
}

// A port that is taken, by another simulator or by any listening socket, makes Start fail at
// once with the address in its message; the server already there keeps serving alone, and the
// failed simulator can start elsewhere.
TEST(EngineSim, StartOnAPortInUseFailsNamingTheAddress) {
    EngineSim first;
    const int port = first.Start();
    EngineSim second;
    const auto startFailure = [&](int p) -> std::string {
        try {
            second.Start(p);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(started)";
    };
    const std::string where = "engine-sim: cannot listen on 127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(startFailure(port).rfind(where, 0), 0u) << startFailure(port);
    EXPECT_EQ(second.Port(), 0);
    for (int i = 0; i < 4; ++i) {  // a new connection each time: none may go to `second`
        THttpClient client;
        UseSimulator(client, first);
        client.Get(QuillonUrl("bread", 1));
    }
    EXPECT_EQ(first.Requests().size(), 4u);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const int taken = ntohs(addr.sin_port);
    EXPECT_EQ(startFailure(taken).rfind(
                  "engine-sim: cannot listen on 127.0.0.1:" + std::to_string(taken), 0),
              0u);
    ::close(fd);

    const int other = second.Start();
    EXPECT_NE(other, port);
    EXPECT_GT(other, 0);
}

TEST(EngineSim, ConnectionsCloseAtTheirCountAndAtStopWhileIdle) {
    EngineSim sim;
    sim.SetKeepAlive(false);
    sim.Start();
    httplib::Client raw("127.0.0.1", sim.Port());
    raw.set_keep_alive(true);
    for (int i = 0; i < 3; ++i) {
        const auto res = raw.Get(QuillonUrl("bread", 1).c_str());
        ASSERT_TRUE(res);
        EXPECT_EQ(res->get_header_value("Connection"), "close");
        EXPECT_EQ(ScanQuillon(res->body).links.size(), 10u);
    }
    const std::vector<LoggedRequest> once = sim.Requests();
    ASSERT_EQ(once.size(), 3u);
    EXPECT_NE(once[1].clientPort, once[0].clientPort);
    EXPECT_NE(once[2].clientPort, once[1].clientPort);

    // A client that holds its connection open does not keep Stop waiting for the 2 s
    // keep-alive timeout.
    sim.SetKeepAlive(true);
    sim.Start();
    httplib::Client idle("127.0.0.1", sim.Port());
    idle.set_keep_alive(true);
    const auto res = idle.Get(QuillonUrl("bread", 2).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Connection"), "close");
    const auto before = std::chrono::steady_clock::now();
    sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

TEST(EngineSim, TheCompressionSwitchCoversEveryAnswer) {
    EngineSim sim;
    sim.Start();
    httplib::Client raw("127.0.0.1", sim.Port());
    raw.set_decompress(false);
    const httplib::Headers accepting = {{"Accept-Encoding", "br, gzip, deflate"}};
    // A result page, a front page (what Verrin's last page leaves to ask for) and an error page.
    const std::vector<std::pair<std::string, int>> answers = {
        {QuillonUrl("bread", 1), 200},
        {std::string("http://") + kVerrinHost + "/", 200},
        {std::string("http://") + kVerrinHost + "/nowhere", 404}};
    for (const bool on : {true, false}) {
        sim.SetCompression(on);
        for (const auto& [url, status] : answers) {
            const auto res = raw.Get(url.c_str(), accepting);
            ASSERT_TRUE(res) << url;
            EXPECT_EQ(res->status, status) << url;
            EXPECT_EQ(res->has_header("Content-Encoding"), on) << url;
            if (!on) {
                EXPECT_NE(res->body.find("</html>"), std::string::npos) << url;
            }
        }
    }
}

TEST(EngineSim, ProxyAuthenticationAnswers407UntilTheCredentialsAreRight) {
    Scenario scenario;
    scenario.proxyAuth = ProxyAuth{"user", "s3cret"};
    EngineSim sim(scenario);
    sim.Start();
    httplib::Client raw("127.0.0.1", sim.Port());
    const auto challenge = raw.Get(QuillonUrl("bread", 1).c_str());
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->status, 407);
    EXPECT_EQ(challenge->get_header_value("Proxy-Authenticate").rfind("Basic ", 0), 0u);

    THttpClient client;
    UseSimulator(client, sim);
    EXPECT_NE(Failure(client, QuillonUrl("bread", 1)).find("HTTP status 407"), std::string::npos);
    client.ProxyUsername = "user";
    client.ProxyPassword = "wrong";
    EXPECT_NE(Failure(client, QuillonUrl("bread", 1)).find("HTTP status 407"), std::string::npos);
    client.ProxyPassword = "s3cret";
    EXPECT_EQ(ScanQuillon(client.Get(QuillonUrl("bread", 1))).links.size(), 10u);
    EXPECT_EQ(sim.Requests().back().proxyAuthorization, "Basic dXNlcjpzM2NyZXQ=");
    EXPECT_EQ(sim.Requests().back().status, 200);
}

TEST(EngineSim, RequestLogRecordsEveryRequestInMemoryAndInItsFile) {
    const std::string path = testing::TempDir() + "engine_sim_requests.log";
    std::filesystem::remove(path);
    EngineSim sim;
    sim.SetLogFile(path);
    sim.Start();
    THttpClient client;
    UseSimulator(client, sim);
    client.Get(QuillonUrl("log me", 2));
    // An origin-form request goes by its Host header.
    httplib::Client raw("127.0.0.1", sim.Port());
    const auto res = raw.Get("/results.asp?q=logme", {{"Host", "search.verrin.example"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(ScanVerrin(res->body).links.size(), 15u);
    EXPECT_EQ(raw.Get("/x", {{"Host", "elsewhere.example"}})->status, 404);

    // Requests from several threads at once are all logged, each with its own number.
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&sim] {
            THttpClient c;
            UseSimulator(c, sim);
            for (int i = 0; i < 10; ++i)
                c.Get(VerrinUrl("busy"));
        });
    for (std::thread& t : threads)
        t.join();

    const std::vector<LoggedRequest> log = sim.Requests();
    ASSERT_EQ(log.size(), 33u);
    EXPECT_EQ(log[0].url, QuillonUrl("log me", 2));
    EXPECT_EQ(log[0].userAgent, "Mozilla/3.0 (compatible;)");
    EXPECT_EQ(log[0].acceptLanguage, "en-us");
    EXPECT_EQ(log[0].proxyAuthorization, "");
    EXPECT_EQ(log[1].url, "http://search.verrin.example/results.asp?q=logme");
    EXPECT_EQ(log[2].status, 404);
    std::set<int> numbers;
    for (const LoggedRequest& entry : log)
        numbers.insert(entry.number);
    EXPECT_EQ(numbers.size(), 33u);
    EXPECT_EQ(*numbers.rbegin(), 33);

    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[0]["url"], QuillonUrl("log me", 2));
    EXPECT_EQ(lines[0]["userAgent"], "Mozilla/3.0 (compatible;)");
    EXPECT_EQ(lines[0]["acceptLanguage"], "en-us");
    EXPECT_EQ(lines[2]["status"], 404);
}

TEST(EngineSim, ScenarioFilesAreCheckedAndTheExampleFitsTheDemo) {
    const auto error = [](const std::string& text) {
        try {
            Scenario::FromJson(text);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(error(R"({"keywords": {"kw": {"quillon": {"result": 5}}}})").find("\"result\""),
              std::string::npos);
    EXPECT_NE(error(R"({"faults": [{"kind": "explode"}]})").find("explode"), std::string::npos);
    EXPECT_NE(error(R"({"keywords": {"kw": {"verrin": {"results": 5,
                 "sites": [{"rank": 6, "link": "www.a.example"}]}}}})")
                  .find("keywords.\"kw\".verrin"),
              std::string::npos);
    EXPECT_NE(error("{"), "");

    const Scenario example = Scenario::Load(ENGINE_SIM_EXAMPLES "/scenario.json");
    std::ifstream keywords(ENGINE_SIM_EXAMPLES "/keywords.lst", std::ios::binary);
    int count = 0, many = 0, absent = 0;
    for (std::string line; std::getline(keywords, line); ++count) {
        ASSERT_TRUE(line.size() > 1 && line.back() == '\r') << "CR LF line ends";
        line.pop_back();
        ASSERT_NE(example.keywords.count(line), 0u) << line;
        const KeywordSetup& setup = example.keywords.at(line);
        if (example.ResultCount(line, Engine::Quillon) >= 100) ++many;
        if (setup.quillon.sites.empty() && setup.verrin.sites.empty()) ++absent;
    }
    EXPECT_GE(count, 12);
    EXPECT_GE(many, 1);
    EXPECT_GE(absent, 1);
}

TEST(EngineSim, ProgramPrintsItsPortServesAndStopsOnSigterm) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string scenario = ENGINE_SIM_EXAMPLES "/scenario.json";
    std::vector<std::string> args{ENGINE_SIM_EXE, "--port", "0", "--ports", "2",
                                  "--scenario",   scenario};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, ENGINE_SIM_EXE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* stdoutOfSim = fdopen(out[0], "r");
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, stdoutOfSim), nullptr);
    // With --ports 2 the line holds both ports, the first as ever.
    int port = 0, second = 0;
    ASSERT_EQ(std::sscanf(line, "%d %d", &port, &second), 2) << line;
    ASSERT_GT(port, 0) << line;
    EXPECT_NE(second, port);

    for (const int p : {port, second}) {
        THttpClient client;
        client.ProxyServer = "127.0.0.1";
        client.ProxyPort = p;
        const Scan scan = ScanQuillon(client.Get(QuillonUrl("bakery near me", 9)));
        ASSERT_EQ(scan.links.size(), 10u);
        EXPECT_EQ(QuillonTrimmed(scan.links[6]), "www.my-bakery.example/contact");  // rank 87
    }

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fclose(stdoutOfSim);
}

// Several ports serve the same engines; a fault may hold for one port only, and the log says
// which port each request came in on.
TEST(EngineSim, SeveralPortsEachPlayOneUpstream) {
    Scenario scenario;
    scenario.faults = {{.kind = FaultKind::Status, .status = 403, .listener = 2}};
    EngineSim sim(scenario);
    sim.SetPortCount(3);
    const int first = sim.Start();
    const std::vector<int> ports = sim.Ports();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], first);
    EXPECT_EQ(std::set<int>(ports.begin(), ports.end()).size(), 3u);
    for (const int port : {ports[2], ports[1], ports[0]}) {
        THttpClient client;
        client.ProxyServer = "127.0.0.1";
        client.ProxyPort = port;
        const std::string failure = Failure(client, QuillonUrl("bread", 1));
        EXPECT_EQ(failure.find("HTTP status 403") != std::string::npos, port == ports[1]);
    }
    const std::vector<LoggedRequest> log = sim.Requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].listener, 3);
    EXPECT_EQ(log[1].listener, 2);
    EXPECT_EQ(log[1].status, 403);
    EXPECT_EQ(log[2].listener, 1);
    EXPECT_LE(log[0].at, log[1].at);
    sim.Stop();
    EXPECT_TRUE(sim.Ports().empty());
}

// The rate limit: per port (or per client address), the request over it gets 429 with the
// cool-down as Retry-After, and so does every request until the cool-down ends; another port
// has its own count. With "captcha" as the answer the engine's captcha page comes with 200. A
// limit on one listener leaves the others unlimited.
TEST(EngineSim, RateLimitAnswers429OrTheCaptchaForTheCoolDown) {
    Scenario scenario = Scenario::FromJson(
        R"({"rateLimit": {"requests": 2, "seconds": 60, "per": "port", "cooldown": 0.3}})");
    EngineSim sim(scenario);
    sim.SetPortCount(2);
    sim.Start();
    httplib::Client first("127.0.0.1", sim.Ports()[0]);
    httplib::Client second("127.0.0.1", sim.Ports()[1]);
    const std::string url = QuillonUrl("bread", 1);
    EXPECT_EQ(first.Get(url.c_str())->status, 200);
    EXPECT_EQ(first.Get(url.c_str())->status, 200);
    const auto limited = first.Get(url.c_str());
    EXPECT_EQ(limited->status, 429);
    EXPECT_EQ(limited->get_header_value("Retry-After"), "1");
    EXPECT_EQ(sim.Requests().back().faults, "rateLimit");
    EXPECT_EQ(second.Get(url.c_str())->status, 200);
    // After the cool-down the count starts afresh.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 429;
    while (status == 429 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = first.Get(url.c_str())->status;
    }
    EXPECT_EQ(status, 200);
    EXPECT_GE(sim.Requests().back().at - sim.Requests()[2].at, std::chrono::milliseconds(300));

    sim.SetScenario(Scenario::FromJson(
        R"({"rateLimit": {"requests": 1, "seconds": 60, "answer": "captcha"}})"));
    EXPECT_EQ(ScanQuillon(first.Get(url.c_str())->body).links.size(), 10u);
    const auto captcha = second.Get(url.c_str());  // the same client address
    EXPECT_EQ(captcha->status, 200);
    EXPECT_NE(captcha->body.find("<form id=\"captcha-form\""), std::string::npos);
    EXPECT_TRUE(ScanQuillon(captcha->body).links.empty());

    // A limit on one listener leaves the other ports alone.
    sim.SetScenario(Scenario::FromJson(
        R"({"rateLimit": {"requests": 1, "seconds": 60, "per": "port", "listener": 2}})"));
    EXPECT_EQ(first.Get(url.c_str())->status, 200);
    EXPECT_EQ(first.Get(url.c_str())->status, 200);
    EXPECT_EQ(second.Get(url.c_str())->status, 200);
    EXPECT_EQ(second.Get(url.c_str())->status, 429);

    for (const std::string bad :
         {R"({"rateLimit": {"requests": 0}})", R"({"rateLimit": {"listener": -1}})",
          R"({"rateLimit": {"per": "host"}})",
          R"({"rateLimit": {"answer": "403"}})", R"({"rateLimit": {"seconds": 0}})",
          R"({"faults": [{"kind": "captcha", "listener": -1}]})"}) {
        EXPECT_THROW(Scenario::FromJson(bad), std::invalid_argument) << bad;
    }
}

// The block pages a client meets instead of results: the captcha page (200) and a redirect away
// from the results to the consent page, which is served at "/consent".
TEST(EngineSim, CaptchaAndConsentFaultsStandInForTheResults) {
    Scenario scenario = Scenario::FromJson(R"({"faults": [
        {"kind": "captcha", "times": 1}, {"kind": "consent", "times": 1}]})");
    EngineSim sim(scenario);
    sim.Start();
    httplib::Client raw("127.0.0.1", sim.Port());
    const std::string url = VerrinUrl("bread");
    const auto captcha = raw.Get(url.c_str());
    EXPECT_EQ(captcha->status, 200);
    EXPECT_NE(captcha->body.find("<div id=\"verrin-challenge\""), std::string::npos);
    EXPECT_TRUE(ScanVerrin(captcha->body).links.empty());
    // A client that follows redirects lands on the consent page.
    THttpClient client;
    UseSimulator(client, sim);
    const std::string page = client.Get(url);
    EXPECT_NE(page.find("<div id=\"verrin-consent\""), std::string::npos);
    EXPECT_TRUE(ScanVerrin(page).links.empty());
    EXPECT_EQ(ScanVerrin(raw.Get(url.c_str())->body).links.size(), 15u);
    const std::vector<LoggedRequest> log = sim.Requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].faults, "captcha");
    EXPECT_EQ(log[1].faults, "consent");
    EXPECT_EQ(log[1].status, 302);
    EXPECT_EQ(log[2].url,
              "http://search.verrin.example/consent?continue=" +
                  std::string("http%3A%2F%2Fsearch.verrin.example%2Fresults.asp%3Fq%3D") +
                  "bread%26origq%3D%26RS%3DCHECKED%26FORM%3DSMCRT%26v%3D1%26cfg%3D" +
                  "SMCINITIAL%26nosp%3D0%26thr%3D");
    EXPECT_EQ(log[2].status, 200);
    // Quillon's own pages, and a result page never holds a block page's marker.
    EXPECT_NE(RenderCaptchaPage(Engine::Quillon).find("<form id=\"captcha-form\""),
              std::string::npos);
    EXPECT_NE(RenderConsentPage(Engine::Quillon).find("<form id=\"consent-form\""),
              std::string::npos);
    for (const std::string marker :
         {"captcha-form", "consent-form", "verrin-challenge", "verrin-consent"})
        EXPECT_EQ(raw.Get(QuillonUrl("bread", 1).c_str())->body.find(marker), std::string::npos);
}

}  // namespace
