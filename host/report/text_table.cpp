#include "host/report/text_table.h"

#include <algorithm>

#include "host/report/safe_text.h"

namespace rankcheck {

namespace {

bool ContinuesCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string CsvLine(const TextRow& row) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
        if (c != 0) line += ',';
        line += CsvField(row[c]);
    }
    return line + "\r\n";
}

}  // namespace

size_t DisplayWidth(std::string_view utf8) {
    return static_cast<size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return !ContinuesCharacter(c); }));
}

std::string FitColumns(const std::string& utf8, int columns) {
    int shown = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (ContinuesCharacter(utf8[i])) continue;
        if (shown++ == columns) return utf8.substr(0, i);
    }
    return utf8;
}

std::string AlignedTable(const TextRow& header, const std::vector<TextRow>& rawRows) {
    std::vector<TextRow> rows;
    rows.reserve(rawRows.size());
    for (const TextRow& raw : rawRows) {
        TextRow& row = rows.emplace_back();
        for (const std::string& cell : raw)
            row.push_back(TerminalText(cell));
    }
    std::vector<size_t> widths(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = DisplayWidth(header[c]);
        for (const TextRow& row : rows)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    std::string text;
    auto line = [&](const TextRow& row) {
        std::string out;
        for (size_t c = 0; c < row.size(); ++c)
            out +=
                (c == 0 ? "" : "  ") + row[c] + std::string(widths[c] - DisplayWidth(row[c]), ' ');
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + "\n";
    };
    line(header);
    TextRow rule;
    for (size_t width : widths)
        rule.push_back(std::string(width, '-'));
    line(rule);
    for (const TextRow& row : rows)
        line(row);
    return text;
}

std::string CsvField(const std::string& cell) {
    const std::string text = SpreadsheetText(cell);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvTable(const TextRow& header, const std::vector<TextRow>& rows) {
    std::string text = CsvLine(header);
    for (const TextRow& row : rows)
        text += CsvLine(row);
    return text;
}

}  // namespace rankcheck
