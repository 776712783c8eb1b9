#include "tools/engine-sim/result_page.h"

#include <cctype>
#include <random>

namespace enginesim {

namespace {

// "http://www.oak-river.example/news/x/" -> "Oak River"
std::string SiteTitle(const std::string& link) {
    std::string host =
        link.substr(link.find("://") == std::string::npos ? 0 : link.find("://") + 3);
    host = host.substr(0, host.find_first_of("/?\n"));
    if (host.rfind("www.", 0) == 0) host.erase(0, 4);
    host = host.substr(0, host.find('.'));
    std::string title;
    bool upper = true;
    for (char c : host) {
        if (c == '-') {
            title += ' ';
            upper = true;
        } else {
            title += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        }
    }
    return title.empty() ? "Untitled" : title;
}

std::string Href(const std::string& link) {
    return link.find("://") == std::string::npos ? "http://" + link : link;
}

const char* kQuillonHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

const char* kQuillonStyle = R"( - Quillon Search</title>
<link rel="icon" href="/favicon.ico">
<style>
body { font-family: arial, sans-serif; margin: 0 2em; color: #222; }
#top { border-bottom: 1px solid #ddd; padding: 8px 0; }
.res { margin: 14px 0; list-style: none; }
.res .title { font-size: 17px; color: #1a0dab; }
.resURL { color: #006621; font-size: 13px; }
.ad { background: #fffbe6; padding: 6px; }
#pager a { margin: 0 6px; }
</style>
<script>
  window.qs = { lang: "en", safe: "moderate", cat: "web" };
  function trackClick(el) { navigator.sendBeacon && navigator.sendBeacon("/click", el.href); }
</script>
</head>
<body>
)";

const char* kVerrinHead = R"(<!DOCTYPE html>
<html>
<head>
<meta http-equiv="content-type" content="text/html; charset=utf-8">
<title>)";

const char* kVerrinStyle = R"( - Verrin</title>
<style type="text/css">
body { font: 13px/1.4 verdana, sans-serif; }
#hdr a { padding: 0 8px; }
#results li { margin-bottom: 16px; list-style: none; }
cite { color: #388222; font-style: normal; }
.sb_pag a { padding: 2px 6px; }
</style>
</head>
<body>
)";

void RenderQuillon(const PageContent& page, RenderedPage& out) {
    const std::string kw = HtmlEscape(page.keyword);
    const std::string q = HtmlEscape(page.rawQuery);
    std::string& h = out.html;
    h += kQuillonHead;
    h += kw;
    h += kQuillonStyle;
    h += "<div id=\"top\"><a href=\"/\" class=\"logo\">Quillon</a>\n"
         "<form action=\"/search\" method=\"get\"><input type=\"text\" name=\"q\" value=\"" +
         kw +
         "\" size=\"40\"><input type=\"hidden\" name=\"cat\" value=\"web\">"
         "<input type=\"submit\" value=\"Search\"></form>\n"
         "<a href=\"/search?cat=images&amp;q=" +
         q + "\">Images</a> <a href=\"/search?cat=news&amp;q=" + q + "\">News</a></div>\n";
    const int last = page.firstRank + static_cast<int>(page.links.size()) - 1;
    if (page.links.empty())
        h += "<p id=\"stats\">No results found for <b>" + kw + "</b>.</p>\n";
    else
        h += "<p id=\"stats\">Results " + std::to_string(page.firstRank) + " - " +
             std::to_string(last) + " of about " + std::to_string(page.totalResults) + " for <b>" +
             kw + "</b></p>\n";
    // Ads: near misses of the result marker (a semicolon after &nbsp, another class name).
    h += "<div class=\"ad\"><a href=\"http://www.flour-direct.example/\" "
         "onclick=\"trackClick(this)\">Flour in bulk</a> Sponsored&nbsp;<span "
         "class=\"resURL\">www.flour-direct.example</span></div>\n"
         "<div class=\"ad\"><a href=\"http://www.oven-outlet.example/\">Ovens on sale</a>"
         "&nbsp<span class=\"resUrl\">&#8226;www.oven-outlet.example </span></div>\n"
         "<ol class=\"results\">\n";
    int rank = page.firstRank;
    for (const std::string& link : page.links) {
        if (page.dense) {
            h += "&nbsp<span class=\"resURL\">&#8226;";
            out.linkOffsets.push_back(h.size());
            h += link + " ";
            continue;
        }
        h += "<li class=\"res\"><a class=\"title\" href=\"" + Href(link) +
             "\" onclick=\"trackClick(this)\">" + SiteTitle(link) + " | " + kw +
             "</a>\n<div class=\"snip\">All about <b>" + kw + "</b> from the " + SiteTitle(link) +
             " team: guides, prices and opening hours.</div>\n"
             "<div class=\"meta\">&nbsp<span class=\"resURL\">&#8226;";
        out.linkOffsets.push_back(h.size());
        h += link + " </span>- <a class=\"cache\" href=\"/cache?r=" + std::to_string(rank++) +
             "\">Cached</a></div></li>\n";
    }
    h += "</ol>\n<div class=\"related\">Related: <span class=\"resURL\">" + kw +
         " near me</span> <span class=\"resURL\">best " + kw + "</span></div>\n<div id=\"pager\">";
    if (last < page.totalResults)
        h += "<a href=\"/search?q=" + q + "&amp;c=web&amp;cs=utf-8&amp;o=" + std::to_string(last) +
             "&amp;l=any\">Next &raquo;</a>";
    h += "</div>\n<div id=\"footer\"><a href=\"/about\">About Quillon</a> &middot; "
         "<a href=\"/privacy\">Privacy</a> &middot; &copy; Quillon</div>\n</body>\n</html>\n";
}

void RenderVerrin(const PageContent& page, RenderedPage& out) {
    const std::string kw = HtmlEscape(page.keyword);
    const std::string q = HtmlEscape(page.rawQuery);
    std::string& h = out.html;
    h += kVerrinHead;
    h += kw;
    h += kVerrinStyle;
    // The navigation link: the page's first href="results.aspx.
    h += "<div id=\"hdr\"><a href=\"results.aspx?q=" + q +
         "&amp;FORM=NAVI\">Web</a><a href=\"images.aspx?q=" + q +
         "&amp;FORM=NAVI\">Images</a><a href=\"news.aspx?q=" + q + "\">News</a>\n" +
         "<form action=\"results.asp\" method=\"get\"><input name=\"q\" value=\"" + kw +
         "\"><input type=\"submit\" value=\"Go\"></form></div>\n";
    const int last = page.firstRank + static_cast<int>(page.links.size()) - 1;
    if (page.links.empty())
        h += "<div id=\"count\">We did not find any results for <strong>" + kw +
             "</strong>.</div>\n";
    else
        h += "<div id=\"count\">" + std::to_string(page.firstRank) + "-" + std::to_string(last) +
             " of " + std::to_string(page.totalResults) + " results</div>\n";
    // Ads: near misses of the result marker.
    h += "<div class=\"sb_ads\"><h2>Ads</h2><a href=\"http://www.flour-direct.example/\">Flour "
         "in bulk</a> <span class=\"url\">www.flour-direct.example</span> <span "
         "class='u'>www.oven-outlet.example</span></div>\n<ul id=\"results\">\n";
    for (const std::string& link : page.links) {
        if (page.dense) {
            h += "<span class=\"u\">";
            out.linkOffsets.push_back(h.size());
            h += link + "</span>";
            continue;
        }
        h += "<li><h3><a href=\"" + Href(link) + "\">" + SiteTitle(link) + " - " + kw +
             "</a></h3>\n<p>Read about <strong>" + kw + "</strong> at " + SiteTitle(link) +
             ", updated daily.</p>\n<cite><span class=\"u\">";
        out.linkOffsets.push_back(h.size());
        h += link + "</span></cite></li>\n";
    }
    // Related searches and page numbers: near misses of the next-page marker.
    h += "</ul>\n<div class=\"related\"><a href=\"results.asp?q=" + q + "+recipe\">" + kw +
         " recipe</a> <a href='results.aspx?q=" + q + "+shop'>" + kw +
         " shop</a></div>\n<div class=\"sb_pag\">";
    for (int p = 1; p <= 3; ++p)
        h += "<a href='results.aspx?q=" + q + "&amp;first=" + std::to_string((p - 1) * 15 + 1) +
             "'>" + std::to_string(p) + "</a>";
    // The next-page link: the page's second href="results.aspx.
    if (page.nextLink)
        h += "<a href=\"results.aspx?q=" + q + "&amp;first=" + std::to_string(last + 1) +
             "&amp;FORM=PERE\" title=\"Next page\">Next</a>";
    h += "</div>\n<div id=\"ftr\">&copy; Verrin &middot; <a href=\"privacy.aspx\">Privacy</a>"
         "</div>\n</body>\n</html>\n";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

RenderedPage RenderPage(const PageContent& page) {
    RenderedPage out;
    if (page.engine == Engine::Quillon)
        RenderQuillon(page, out);
    else
        RenderVerrin(page, out);
    return out;
}

std::string RenderFrontPage(Engine engine) {
    PageContent page;
    page.engine = engine;
    return RenderPage(page).html;
}

std::string RenderCaptchaPage(Engine engine) {
    if (engine == Engine::Quillon)
        return "<!DOCTYPE html>\n<html><head><title>Quillon - unusual "
               "traffic</title></head><body>\n"
               "<h1>Our systems have detected unusual traffic from your computer network.</h1>\n"
               "<form id=\"captcha-form\" action=\"/sorry\" method=\"post\">"
               "<img src=\"/sorry/image\" alt=\"\"><input name=\"captcha\">"
               "<input type=\"submit\" value=\"Continue\"></form>\n</body></html>\n";
    return "<!DOCTYPE html>\n<html><head><title>Verrin</title></head><body>\n"
           "<div id=\"verrin-challenge\"><h2>One last step</h2><p>Please solve the challenge below "
           "to continue.</p><form action=\"challenge.aspx\" method=\"post\"><input name=\"answer\">"
           "</form></div>\n</body></html>\n";
}

std::string RenderConsentPage(Engine engine) {
    if (engine == Engine::Quillon)
        return "<!DOCTYPE html>\n<html><head><title>Before you continue to Quillon</title></head>"
               "<body>\n<form id=\"consent-form\" action=\"/consent\" method=\"post\">"
               "<p>We use cookies to deliver our services.</p><button>Accept all</button></form>\n"
               "</body></html>\n";
    return "<!DOCTYPE html>\n<html><head><title>Verrin</title></head><body>\n"
           "<div id=\"verrin-consent\"><p>Verrin uses cookies. Choose your settings.</p>"
           "<a href=\"consent.aspx?accept=1\">Accept</a></div>\n</body></html>\n";
}

std::string PadPage(const std::string& html, size_t bytes) {
    static const std::string kFiller =
        "<div class=\"filler\" aria-hidden=\"true\"><!-- more for you --><p>Popular this week: "
        "opening hours, delivery areas, seasonal offers, gift cards.</p></div>\n";
    size_t at = html.rfind("</body>");
    if (at == std::string::npos) at = html.size();
    std::string out;
    out.reserve(std::max(bytes, html.size()) + kFiller.size());
    out.append(html, 0, at);
    while (out.size() + (html.size() - at) < bytes)
        out += kFiller;
    out.append(html, at, std::string::npos);
    return out;
}

std::string Garbage(size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(bytes, '\0');
    for (char& c : out) {
        c = static_cast<char>(random() & 0xff);
        if (c == '<' || c == '&' || c == '"') c = static_cast<char>(c ^ 0x80);
    }
    return out;
}

}  // namespace enginesim
