#include "host/report/text_table.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "host/report/safe_text.h"

namespace rankcheck {

namespace {

bool ContinuesCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Inclusive ranges of code points, in ascending order.
using Ranges = std::pair<char32_t, char32_t>;

// Characters a terminal draws two columns wide (East Asian Wide and Fullwidth).
constexpr Ranges kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

// Characters drawn on the one before them, or not at all: combining marks, zero-width spaces
// and joiners, variation selectors.
constexpr Ranges kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
    {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200D},
    {0x20D0, 0x20FF}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

template <size_t N>
bool InRanges(const Ranges (&ranges)[N], char32_t c) {
    const auto* at = std::upper_bound(std::begin(ranges), std::end(ranges), c,
                                      [](char32_t v, const Ranges& r) { return v < r.first; });
    return at != std::begin(ranges) && c <= std::prev(at)->second;
}

// The code point that starts at `utf8[i]`, and the index after it. A byte that starts no valid
// sequence is one character of its own.
char32_t NextCharacter(std::string_view utf8, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
    const unsigned char lead = byte(i++);
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 0; k < more && i < utf8.size() && ContinuesCharacter(utf8[i]); ++k)
        c = (c << 6) | (byte(i++) & 0x3F);
    return c;
}

int CharacterWidth(char32_t c) {
    if (c < 0x300) return 1;
    if (InRanges(kZeroWidth, c)) return 0;
    return InRanges(kWide, c) ? 2 : 1;
}

std::string CsvLine(const TextRow& row) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
        if (c != 0) line += ',';
        line += CsvField(row[c]);
    }
    return line + "\r\n";
}

// The end of the word at `from`: the next blank, or the end; the blank inside the "…(N bytes)"
// that ends a cut value (safe_text.h) belongs to the word.
size_t WordEnd(const std::string& text, size_t from) {
    static const std::string kOpen = "\u2026(";
    size_t end = text.find(' ', from);
    while (end != std::string::npos && text.compare(end + 1, 6, "bytes)") == 0) {
        size_t digits = end;
        while (digits > from && text[digits - 1] >= '0' && text[digits - 1] <= '9')
            --digits;
        if (digits == end || digits < from + kOpen.size() ||
            text.compare(digits - kOpen.size(), kOpen.size(), kOpen) != 0)
            break;
        end = text.find(' ', end + 1);
    }
    return end == std::string::npos ? text.size() : end;
}

// One line of `text` (no line end in it) wrapped: words added while they fit.
std::string WrapLine(const std::string& text, size_t columns, const std::string& indent) {
    std::string out, line;
    size_t width = 0;
    size_t from = text.find_first_not_of(' ');
    const std::string lead = from == std::string::npos ? text : text.substr(0, from);
    line = lead;
    width = DisplayWidth(lead);
    bool first = true;  // of the output's lines
    bool empty = true;  // no word on `line` yet
    while (from != std::string::npos && from < text.size()) {
        const size_t end = WordEnd(text, from);
        const std::string word = text.substr(from, end - from);
        const size_t wordWidth = DisplayWidth(word);
        if (!empty && width + 1 + wordWidth > columns) {
            out += (first ? "" : "\n") + line;
            first = false;
            line = indent;
            width = indent.size();
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        width += (empty ? 0 : 1) + wordWidth;
        empty = false;
        from = text.find_first_not_of(' ', end);
    }
    return out + (first ? "" : "\n") + line;
}

// The widths of the table's columns: each as wide as its widest cell, then the wrapping ones
// narrowed, widest first, until the table fits `layout.columns`.
std::vector<size_t> ColumnWidths(const TextRow& header, const std::vector<TextRow>& rows,
                                 const TableLayout& layout) {
    std::vector<size_t> widths(header.size()), floor(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = DisplayWidth(header[c]);
        floor[c] = widths[c];
        for (const TextRow& row : rows) {
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
            size_t from = 0;
            while (from <= row[c].size()) {  // the widest word: a wrapped cell's least width
                const size_t end = WordEnd(row[c], from);
                floor[c] = std::max(floor[c], DisplayWidth(row[c].substr(from, end - from)));
                from = end + 1;
            }
        }
    }
    if (layout.columns <= 0) return widths;
    size_t total = 2 * (widths.empty() ? 0 : widths.size() - 1);
    for (size_t w : widths)
        total += w;
    for (size_t c : layout.wrapping)
        floor.at(c) = std::max<size_t>(floor[c], 8);
    while (total > static_cast<size_t>(layout.columns)) {
        size_t widest = widths.size();
        for (size_t c : layout.wrapping) {
            if (widths[c] > floor[c] && (widest == widths.size() || widths[c] > widths[widest]))
                widest = c;
        }
        if (widest == widths.size()) break;  // nothing narrows further: as narrow as it gets
        --widths[widest];
        --total;
    }
    return widths;
}

}  // namespace

size_t DisplayWidth(std::string_view utf8) {
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();)
        width += static_cast<size_t>(CharacterWidth(NextCharacter(utf8, i)));
    return width;
}

std::string FitColumns(const std::string& utf8, int columns) {
    int shown = 0;
    for (size_t i = 0; i < utf8.size();) {
        const size_t at = i;
        shown += CharacterWidth(NextCharacter(utf8, i));
        if (shown > columns) return utf8.substr(0, at);
    }
    return utf8;
}

std::string WrapText(const std::string& text, int columns, int hanging) {
    const std::string indent(static_cast<size_t>(std::max(hanging, 0)), ' ');
    const size_t width = static_cast<size_t>(std::max(columns, 1));
    std::string out;
    size_t from = 0;
    while (true) {
        const size_t end = std::min(text.find('\n', from), text.size());
        out += WrapLine(text.substr(from, end - from), width, indent);
        if (end == text.size()) return out;
        out += '\n';
        from = end + 1;
    }
}

int OutputColumns(int fd) {
    if (const char* columns = std::getenv("COLUMNS")) {
        char* end = nullptr;
        const long value = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && value > 0 && value < 10000)
            return static_cast<int>(value);
    }
    winsize size{};
    if (isatty(fd) != 0 && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kDefaultColumns;
}

std::string AlignedTable(const TextRow& header, const std::vector<TextRow>& rawRows,
                         const TableLayout& layout) {
    std::vector<TextRow> rows;
    rows.reserve(rawRows.size());
    for (const TextRow& raw : rawRows) {
        TextRow& row = rows.emplace_back();
        for (const std::string& cell : raw)
            row.push_back(TerminalText(cell));
    }
    const std::vector<size_t> widths = ColumnWidths(header, rows, layout);
    std::string text;
    auto line = [&](const TextRow& row) {
        // Each cell as its lines within its column's width; the row as tall as its tallest cell.
        std::vector<std::vector<std::string>> cells;
        size_t height = 1;
        for (size_t c = 0; c < row.size(); ++c) {
            std::vector<std::string>& lines = cells.emplace_back();
            const std::string wrapped = DisplayWidth(row[c]) > widths[c]
                                            ? WrapText(row[c], static_cast<int>(widths[c]))
                                            : row[c];
            size_t from = 0;
            for (size_t end; (end = wrapped.find('\n', from)) != std::string::npos; from = end + 1)
                lines.push_back(wrapped.substr(from, end - from));
            lines.push_back(wrapped.substr(from));
            height = std::max(height, lines.size());
        }
        for (size_t l = 0; l < height; ++l) {
            std::string out;
            for (size_t c = 0; c < row.size(); ++c) {
                const std::string cell = l < cells[c].size() ? cells[c][l] : "";
                const size_t width = DisplayWidth(cell);
                out += (c == 0 ? "" : "  ") + cell +
                       std::string(widths[c] > width ? widths[c] - width : 0, ' ');
            }
            out.erase(out.find_last_not_of(' ') + 1);
            text += out + "\n";
        }
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
