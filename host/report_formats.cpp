#include "host/report_formats.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/sysutils.h"

namespace rankcheck {

namespace {

// Characters on screen of a UTF-8 text (every byte that does not continue a sequence).
size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Pad(const std::string& text, size_t width) {
    const size_t shown = DisplayWidth(text);
    return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

const char* StatusName(RankCell::Status status) {
    switch (status) {
        case RankCell::Status::Found:
            return "found";
        case RankCell::Status::NotFound:
            return "notFound";
        case RankCell::Status::GivenUp:
            return "error";
        case RankCell::Status::NotSearched:
            break;
    }
    return "notSearched";
}

void WriteTable(const RankReport& report, std::ostream& out) {
    std::vector<std::string> header{"Keyword", "URL"};
    for (const auto& engine : report.Engines())
        header.push_back(engine);

    std::vector<std::vector<std::string>> rows;
    for (size_t k = 0; k < report.Keywords().size(); ++k) {
        for (size_t u = 0; u < report.Urls().size(); ++u) {
            // The keyword is shown on its first row only, so that its URLs read as a group.
            std::vector<std::string> row{u == 0 ? AnsiToUtf8(report.Keywords()[k]) : "",
                                         AnsiToUtf8(report.Urls()[u])};
            for (size_t e = 0; e < report.Engines().size(); ++e)
                row.push_back(report.Cell(k, u, e).Text());
            rows.push_back(std::move(row));
        }
    }

    std::vector<size_t> widths(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = DisplayWidth(header[c]);
        for (const auto& row : rows)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    auto printRow = [&](const std::vector<std::string>& row) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c)
            line += (c == 0 ? "" : "  ") + Pad(row[c], widths[c]);
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    };
    printRow(header);
    std::vector<std::string> rule;
    for (size_t w : widths)
        rule.push_back(std::string(w, '-'));
    printRow(rule);
    for (const auto& row : rows)
        printRow(row);
    if (rows.empty()) {
        out << (report.Keywords().empty() ? "(keywords.lst holds no keyword)\n"
                                          : "(urls.lst holds no URL)\n");
    }

    out << "\nNumbers are positions (1 = first result)";
    if (report.Options().top > 0) out << ", counted up to " << report.Options().top;
    out << "; URLs match " << (report.Options().exactMatch ? "the whole link" : "inside a link")
        << ", ignoring case.\n"
        << "-: not found among the positions examined; error: the engine gave the keyword up "
           "before the URL was found; not searched: no result file yet.\n";
}

void WriteCsv(const RankReport& report, std::ostream& out) {
    std::string line = "keyword,url";
    for (const auto& engine : report.Engines()) {
        line += ',';
        line += CsvField(engine);
    }
    out << line << "\r\n";
    for (size_t k = 0; k < report.Keywords().size(); ++k) {
        for (size_t u = 0; u < report.Urls().size(); ++u) {
            line = CsvField(AnsiToUtf8(report.Keywords()[k])) + "," +
                   CsvField(AnsiToUtf8(report.Urls()[u]));
            for (size_t e = 0; e < report.Engines().size(); ++e) {
                line += ',';
                line += CsvField(report.Cell(k, u, e).Text());
            }
            out << line << "\r\n";
        }
    }
}

void WriteJson(const RankReport& report, std::ostream& out) {
    using json = nlohmann::ordered_json;
    json doc;
    doc["exactMatch"] = report.Options().exactMatch;
    doc["top"] = report.Options().top > 0 ? json(report.Options().top) : json(nullptr);
    doc["engines"] = report.Engines();
    doc["urls"] = json::array();
    for (const auto& url : report.Urls())
        doc["urls"].push_back(AnsiToUtf8(url));

    doc["keywords"] = json::array();
    for (size_t k = 0; k < report.Keywords().size(); ++k) {
        json keyword;
        keyword["index"] = k;
        keyword["keyword"] = AnsiToUtf8(report.Keywords()[k]);
        json engines = json::object();
        for (size_t e = 0; e < report.Engines().size(); ++e) {
            const KeywordResults& results = report.Results(e, k);
            engines[report.Engines()[e]] = {{"searched", results.Searched()},
                                            {"positionsExamined", results.Links().size()},
                                            {"gaveUp", results.GaveUp()}};
        }
        keyword["engines"] = std::move(engines);
        json ranks = json::array();
        for (size_t u = 0; u < report.Urls().size(); ++u) {
            json rank;
            rank["url"] = AnsiToUtf8(report.Urls()[u]);
            for (size_t e = 0; e < report.Engines().size(); ++e) {
                const RankCell cell = report.Cell(k, u, e);
                json value{{"status", StatusName(cell.status)}};
                if (cell.status == RankCell::Status::Found) value["position"] = cell.position;
                rank[report.Engines()[e]] = std::move(value);
            }
            ranks.push_back(std::move(rank));
        }
        keyword["ranks"] = std::move(ranks);
        doc["keywords"].push_back(std::move(keyword));
    }
    out << doc.dump(2) << '\n';
}

}  // namespace rankcheck
