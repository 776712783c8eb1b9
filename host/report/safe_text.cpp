#include "host/report/safe_text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/report/text_table.h"

namespace rankcheck {

namespace {

// The code point of the UTF-8 sequence at `text[i]` and its length in bytes; length 0 when the
// bytes there are not one (a stray continuation byte, a sequence cut short, an overlong form, a
// surrogate or a code point beyond U+10FFFF).
struct Decoded {
    char32_t codePoint = 0;
    size_t length = 0;
};

Decoded DecodeAt(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    size_t length = 0;
    char32_t cp = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, smallest = 0x10000;
    } else {
        return {};
    }
    if (i + length > text.size()) return {};
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    return {cp, length};
}

// Characters that act on a terminal instead of being shown: C0 controls, DEL, C1 controls, and
// the bidirectional embeddings, overrides and isolates, which reorder the text around them.
bool ActsOnTerminal(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

std::string Escape(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The text as it is shown: each piece one character or one escape, handed to `piece` with its
// bytes; `piece` returns false to stop.
template <typename Piece>
void ShownPieces(std::string_view text, bool keepLineEnds, Piece&& piece) {
    for (size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        const auto shown = [&]() -> std::string {
            if (d.length == 0) return Escape("\\x%02x", static_cast<unsigned char>(text[i]));
            if ((d.codePoint == '\n' && keepLineEnds) || !ActsOnTerminal(d.codePoint))
                return std::string(text.substr(i, d.length));
            return Escape(d.codePoint < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(d.codePoint));
        };
        if (!piece(shown())) return;
        i += d.length == 0 ? 1 : d.length;
    }
}

bool IsNumber(std::string_view cell) {
    size_t i = 0;
    if (i < cell.size() && (cell[i] == '-' || cell[i] == '+')) ++i;
    const auto digits = [&] {
        const size_t from = i;
        while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9')
            ++i;
        return i > from;
    };
    if (!digits()) return false;
    if (i < cell.size() && cell[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    return i == cell.size();
}

}  // namespace

std::string TerminalText(std::string_view text, int maxColumns) {
    const size_t limit = maxColumns > 0 ? static_cast<size_t>(maxColumns) : 0;
    std::string shown;
    // Where each piece ends in `shown`, and the columns up to there: the places a cut may fall.
    std::vector<std::pair<size_t, size_t>> ends;
    size_t columns = 0;
    bool cut = false;
    ShownPieces(text, false, [&](std::string_view piece) {
        const size_t width = DisplayWidth(piece);
        if (columns + width > limit) {
            cut = true;
            return false;
        }
        shown.append(piece);
        columns += width;
        ends.emplace_back(shown.size(), columns);
        return true;
    });
    if (!cut) return shown;
    const std::string tail = "\u2026(" + std::to_string(text.size()) + " bytes)";
    const size_t room = limit > DisplayWidth(tail) ? limit - DisplayWidth(tail) : 0;
    size_t keep = 0;
    for (const auto& [end, upTo] : ends) {
        if (upTo > room) break;
        keep = end;
    }
    shown.resize(keep);
    return shown + tail;
}

std::string TerminalMessage(std::string_view text) {
    std::string shown;
    ShownPieces(text, true, [&](std::string_view piece) {
        shown.append(piece);
        return true;
    });
    return shown;
}

bool SpreadsheetWouldEvaluate(std::string_view cell) {
    if (cell.empty()) return false;
    switch (cell.front()) {
        case '=':
        case '+':
        case '-':
        case '@':
        case '\t':
        case '\r':
            return !IsNumber(cell);
        default:
            return false;
    }
}

std::string SpreadsheetText(std::string_view cell) {
    if (SpreadsheetWouldEvaluate(cell)) return "'" + std::string(cell);
    return std::string(cell);
}

}  // namespace rankcheck
