// The HTML report as a person sees it: headless Chromium loads the page of a three-day ledger,
// its rendered DOM holds the rank table, the trend charts and the top 10 lists with the
// expected ranks (and the hostile keyword stays text, not an element), and screenshots at 1400
// and 390 px wide are decoded and must show the page, not a blank.
//
// Chromium runs with a fresh profile in the scratch folder, --no-sandbox (CI runs as root) and a
// time-out, so the test never hangs. Where no chromium is installed it skips with that reason,
// except under CI (CI=true), where the browser must be there.
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
        const fs::path profile = fs::absolute("profile-" + std::to_string(++runs_));
        const std::string command = "timeout -k 5 120 '" + chromium_ +
                                    "' --headless --no-sandbox --disable-gpu --hide-scrollbars "
                                    "--no-first-run --user-data-dir='" + profile.string() +
                                    "' --window-size=" + size + " " + what + " 'file://" +
                                    page_.string() + "' > '" + out.string() +
                                    "' 2> chromium.log";
        const int status = std::system(command.c_str());
        ASSERT_EQ(status, 0) << command << "\n" << ReadAll("chromium.log");
    }

    void ExpectPicture(int width) {
        const fs::path shot = fs::absolute("shot-" + std::to_string(width) + ".png");
        ASSERT_NO_FATAL_FAILURE(
            Chromium("--screenshot='" + shot.string() + "'", std::to_string(width) + ",2000",
                     "screenshot.out"));
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
    EXPECT_FALSE(std::regex_search(dom, std::regex("<script", std::regex::icase)));
    EXPECT_NE(dom.find("<h3>fresh &lt;script&gt;alert(1)&lt;/script&gt; bread</h3>"),
              std::string::npos);
    EXPECT_NE(dom.find("<h3>caf\xC3\xA9 \"quoted\" &amp; 'single'</h3>"), std::string::npos);

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
    ASSERT_EQ(descriptions.size(), 6u);
    EXPECT_EQ(descriptions[0], "Quillon: 12-01 7 12-02 5 12-03 3; Verrin: 12-01 8 12-03 10");
    EXPECT_EQ(descriptions[3], "Quillon: 12-01 - 12-02 - 12-03 -; Verrin: 12-01 - 12-03 -");

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

TEST_F(HtmlInBrowser, ScreenshotsAtDesktopAndPhoneWidthShowThePage) {
    ExpectPicture(1400);
    ExpectPicture(390);
}

}  // namespace
