#include "host/report/html/html_text.h"

#include "host/report/rank_view.h"
#include "platform/sysutils.h"

namespace rankcheck {

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
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
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string HtmlText(const std::string& ansi) {
    return HtmlEscape(AnsiToUtf8(ansi));
}

std::string HtmlUrl(const std::string& ansi) {
    std::string out;
    for (char c : AnsiToUtf8(ansi)) {
        out += HtmlEscape(std::string(1, c));
        if (c == '/' || c == '.' || c == '?') out += "<wbr>";
    }
    return out;
}

std::string TimeHtml(const std::string& iso) {
    const std::string shown = ShortTime(iso);
    const size_t space = shown.find(' ');
    if (space == std::string::npos) return "<time><span>" + HtmlEscape(shown) + "</span></time>";
    return "<time datetime=\"" + HtmlEscape(iso) + "\"><span>" +
           HtmlEscape(shown.substr(0, space)) + "</span> <span>" +
           HtmlEscape(shown.substr(space + 1)) + "</span></time>";
}

}  // namespace rankcheck
