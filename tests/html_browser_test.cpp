// The HTML report as a person sees it: headless Chromium loads the page of a three-day ledger,
// its rendered DOM holds the rank table, the trend charts and the top 10 lists with the
// expected ranks (and the hostile keyword stays text, not an element), and screenshots at 1400
// and 390 px wide are decoded and must show the page, not a blank.
//
// Two independent checkers judge the page: html-validate (its recommended rules, WCAG ones
// included) on the file, and axe-core injected into the page as Chromium renders it at 1400 and
// 390 px; both must find nothing. They are the npm packages pinned in tests/browser/ (installed
// by scripts/install-deps.sh with npm ci); nothing is downloaded at test time.
//
// Chromium runs with a fresh profile in the scratch folder, --no-sandbox (CI runs as root), no
// network services and a time-out, so the test never hangs. Where no chromium (or no checker)
// is installed it skips with that reason, except under CI (CI=true), where they must be there.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "tests/html_fixture.h"

namespace {

using namespace htmlfixture;
namespace fs = std::filesystem;

std::string FindChromium() {
    if (const char* named = std::getenv("RC_CHROMIUM")) return named;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t from = 0; from <= dirs.size();) {
        size_t to = dirs.find(':', from);
        if (to == std::string::npos) to = dirs.size();
        for (const char* name : {"chromium", "chromium-browser"}) {
            const fs::path candidate = fs::path(dirs.substr(from, to - from)) / name;
            if (!candidate.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        from = to + 1;
    }
    return "";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `text` without its tags, with character references of & < > kept as written.
std::string TextOf(const std::string& html) {
    return std::regex_replace(html, std::regex("<[^>]*>"), "");
}

struct Picture {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture Decode(const fs::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return picture;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    picture.width = image.width;
    picture.height = image.height;
    return picture;
}

class HtmlInBrowser : public ::testing::Test, public ThreeDays {
  protected:
    void SetUp() override {
        chromium_ = FindChromium();
        if (chromium_.empty()) {
            if (std::getenv("CI")) FAIL() << "CI needs chromium (scripts/install-deps.sh)";
            GTEST_SKIP() << "no chromium installed (apt-get install chromium)";
        }
        page_ = fs::absolute("report.html");
        std::ofstream(page_, std::ios::binary) << Page();
    }

    // Runs chromium with `what` ("--dump-dom", "--screenshot=..."); its stdout into `out`.
    void Chromium(const std::string& what, const std::string& size, const fs::path& out) {
        Chromium(what, size, out, page_);
    }
    void Chromium(const std::string& what, const std::string& size, const fs::path& out,
                  const fs::path& page) {
        const fs::path profile = fs::absolute("profile-" + std::to_string(++runs_));
        const std::string command =
            "timeout -k 5 120 '" + chromium_ +
            "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
            "--disable-background-networking --disable-component-update --disable-sync "
            "--hide-scrollbars --user-data-dir='" +
            profile.string() + "' --window-size=" + size + " " + what + " 'file://" +
            page.string() + "' > '" + out.string() + "' 2> chromium.log";
        const int status = std::system(command.c_str());
        ASSERT_EQ(status, 0) << command << "\n" << ReadAll("chromium.log");
    }

    void ExpectPicture(int width) {
        const fs::path shot = fs::absolute("shot-" + std::to_string(width) + ".png");
        ASSERT_NO_FATAL_FAILURE(Chromium("--screenshot='" + shot.string() + "'",
                                         std::to_string(width) + ",2000", "screenshot.out"));
        const Picture picture = Decode(shot);
        ASSERT_EQ(picture.width, static_cast<unsigned>(width)) << shot;
        ASSERT_EQ(picture.height, 2000u);
        std::set<unsigned> colours;
        size_t inked = 0, topBand = 0;
        for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3) {
            const unsigned r = picture.rgb[i], g = picture.rgb[i + 1], b = picture.rgb[i + 2];
            colours.insert(r << 16 | g << 8 | b);
            inked += r + g + b < 600;
            topBand += r == 0x1b && g == 0x7a && b == 0x3a;  // the band of positions 1-3
        }
        const size_t pixels = picture.rgb.size() / 3;
        EXPECT_GT(colours.size(), 50u) << width;
        EXPECT_GT(inked * 50, pixels) << width << " px: under 2% of the picture drawn";
        EXPECT_GT(topBand, 200u) << width << " px: no cell of positions 1-3 seen";
    }

    std::string chromium_;
    fs::path page_;
    int runs_ = 0;
};

TEST_F(HtmlInBrowser, RenderedDomHoldsTheTableTheChartsAndTheTopLists) {
    ASSERT_NO_FATAL_FAILURE(Chromium("--dump-dom", "1400,2000", "dom.html"));
    const std::string dom = ReadAll("dom.html");
    ASSERT_NE(dom.find("</html>"), std::string::npos) << dom.substr(0, 500);

    // The hostile keyword stayed text: the only elements are the page's own.
    EXPECT_EQ(std::regex_replace(dom, std::regex("<script>[^]*?</script>"), "").find("<script"),
              std::string::npos);  // the only script is the page's own
    EXPECT_NE(
        dom.find("<span class=\"kwname\">fresh &lt;script&gt;alert(1)&lt;/script&gt; bread</span>"),
        std::string::npos);
    EXPECT_NE(dom.find("<span class=\"kwname\">caf\xC3\xA9 \"quoted\" &amp; 'single'</span>"),
              std::string::npos);
    // The script ran: the table's controls are shown.
    EXPECT_NE(dom.find("<output id=\"f-count\" for=\"f-text f-band f-order\">3 keywords</output>"),
              std::string::npos);

    // The rank table: every cell of both engines, in row order.
    std::smatch table;
    ASSERT_TRUE(std::regex_search(dom, table, std::regex(R"(<table class="ranks">[^]*?</table>)")));
    const std::string ranks = table[0];
    std::vector<std::string> cells;
    const std::regex cell(R"re(<td class="rank (\w+)">([^<]*))re");
    for (std::sregex_iterator it(ranks.begin(), ranks.end(), cell), end; it != end; ++it)
        cells.push_back((*it)[1].str() + " " + (*it)[2].str());
    EXPECT_EQ(cells, (V{"b1 3", "b2 10", "b2 9", "nf -", "b1 2", "nf -", "nf -", "nf -",
                        "err error (last 4 on 2026-12-02)", "ns not searched",
                        "err error (last - on 2026-12-02)", "ns not searched"}));
    EXPECT_NE(ranks.find("3<span class=\"chg up\">\u25B22</span><svg class=\"spark\""),
              std::string::npos);
    size_t rows = 0;
    for (size_t at = ranks.find("<tr>"); at != std::string::npos; at = ranks.find("<tr>", at + 1))
        ++rows;
    EXPECT_EQ(rows, 7u);  // the heading and six keyword and URL rows

    // A trend chart per keyword and URL, with the ranks of each check in words.
    const std::regex trend(R"(<svg class="trend"[^]*?</svg>)");
    std::vector<std::string> descriptions;
    for (std::sregex_iterator it(dom.begin(), dom.end(), trend), end; it != end; ++it) {
        std::smatch desc;
        const std::string svg = (*it)[0];
        if (std::regex_search(svg, desc, std::regex("<desc>([^<]*)</desc>")))
            descriptions.push_back(desc[1]);
    }
    ASSERT_EQ(descriptions.size(), 4u);  // the URLs no check ranked have words instead
    EXPECT_EQ(descriptions[0], "Quillon: 12-01 7 12-02 5 12-03 3; Verrin: 12-01 8 12-03 10");
    EXPECT_EQ(descriptions[2], "Quillon: 12-01 12 12-02 - 12-03 2; Verrin: 12-01 - 12-03 -");

    // The top 10 of the first keyword on Quillon: the user's links at 3 and 9.
    std::smatch list;
    ASSERT_TRUE(std::regex_search(dom, list, std::regex(R"(<ol class="top10">[^]*?</ol>)")));
    const std::string top = list[0];
    std::vector<std::string> items;
    const std::regex item(R"(<li( class="mine")?>([^]*?)</li>)");
    for (std::sregex_iterator it(top.begin(), top.end(), item), end; it != end; ++it)
        items.push_back(((*it)[1].matched ? "* " : "") + TextOf((*it)[2]));
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0], "https://Rival.example/a?x=1&amp;y=&lt;2&gt;");
    EXPECT_EQ(items[2], "* http://mine.example/page your URL");
    EXPECT_EQ(items[8], "* https://www.other.example/&lt;b&gt;&amp;\"x\"/deep your URL");
    EXPECT_EQ(items[9], "http://site10.example/p");
    EXPECT_NE(dom.find("<ol class=\"competitors\"><li value=\"1\">rival.example</li></ol>"),
              std::string::npos);
}

// The checkers' folder, or empty (with the reason in `why`) when they are not installed.
fs::path Checkers(std::string& why) {
    const fs::path dir = RC_REPORT_CHECK_DIR;
    if (std::system("node --version > /dev/null 2>&1") != 0) {
        why = "no node (scripts/install-deps.sh installs it)";
        return {};
    }
    if (!fs::exists(dir / "node_modules/html-validate") ||
        !fs::exists(dir / "node_modules/axe-core/axe.min.js")) {
        why = "the checkers are not installed (scripts/install-deps.sh: npm ci in " + dir.string() +
              ")";
        return {};
    }
    return dir;
}

TEST_F(HtmlInBrowser, ValidatorAndAxeFindNothingAtDesktopAndPhoneWidth) {
    std::string why;
    const fs::path checkers = Checkers(why);
    if (checkers.empty()) {
        if (std::getenv("CI")) FAIL() << "CI needs the checkers: " << why;
        GTEST_SKIP() << why;
    }
    const std::string validate =
        "node '" + (checkers / "node_modules/html-validate/bin/html-validate.mjs").string() +
        "' --config '" + (checkers / "htmlvalidate.json").string() + "' '" + page_.string() +
        "' > validate.log 2>&1";
    EXPECT_EQ(std::system(validate.c_str()), 0) << ReadAll("validate.log");

    // axe-core in a copy of the page, its violations (rule, nodes, first node) written into the
    // page, read back from the DOM Chromium dumps once the run is over.
    const std::string page = ReadAll(page_);
    const std::string runner =
        "<script>" + ReadAll(checkers / "node_modules/axe-core/axe.min.js") +
        "</script><script>axe.run(document, {resultTypes: ['violations']}).then(function (r) {"
        " var p = document.createElement('pre'); p.id = 'axe-result';"
        " p.textContent = JSON.stringify(r.violations.map(function (v) {"
        " return v.id + ' (' + v.nodes.length + ' nodes, first ' + v.nodes[0].target.join(' ') +"
        " ')'; })); document.body.appendChild(p); });</script>";
    const fs::path checked = fs::absolute("axe.html");
    std::ofstream(checked, std::ios::binary)
        << page.substr(0, page.rfind("</body>")) + runner + page.substr(page.rfind("</body>"));
    for (const char* width : {"1400", "390"}) {
        ASSERT_NO_FATAL_FAILURE(Chromium("--virtual-time-budget=60000 --dump-dom",
                                         std::string(width) + ",1000", "axe-dom.html", checked));
        std::smatch result;
        const std::string dom = ReadAll("axe-dom.html");
        ASSERT_TRUE(
            std::regex_search(dom, result, std::regex("<pre id=\"axe-result\">([^<]*)</pre>")))
            << width << " px: axe did not finish";
        EXPECT_EQ(result[1].str(), "[]") << width << " px";
    }
}

TEST_F(HtmlInBrowser, ScreenshotsAtDesktopAndPhoneWidthShowThePage) {
    ExpectPicture(1400);
    ExpectPicture(390);
}

}  // namespace
