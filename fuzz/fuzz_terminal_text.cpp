// Fuzz target: the text rankcheck makes safe for a terminal and a spreadsheet. The input is a
// keyword, URL or status line of any bytes. On a terminal nothing of it acts (no control byte, no
// C1 control, no invalid UTF-8 left), it takes at most its columns, and cleaning it again changes
// nothing; text without anything to escape and within its columns is shown as it is. A message
// keeps its line ends and is never cut. In CSV, a field read back is the cell, with an apostrophe
// before it exactly when a spreadsheet would evaluate it, and no field starts a formula.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/report/safe_text.h"
#include "host/report/text_table.h"

namespace {

// Whether `text` is valid UTF-8 (no overlong form, surrogate or code point beyond U+10FFFF)
// without a C0, DEL or C1 control or a bidirectional override or isolate; `allowLineEnds` lets
// "\n" by. Written apart from the code under test, by the byte ranges of RFC 3629.
bool Inert(const std::string& text, bool allowLineEnds) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = at(i);
        if (c < 0x80) {
            if ((c < 0x20 && !(allowLineEnds && c == '\n')) || c == 0x7F) return false;
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((at(i + k) & 0xC0) != 0x80) return false;
        }
        const unsigned char second = at(i + 1);
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) ||
            (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F)) {
            return false;  // overlong, surrogate, beyond U+10FFFF
        }
        if (c == 0xC2 && second <= 0x9F) return false;  // C1 controls
        if (c == 0xE2 && ((second == 0x80 && at(i + 2) >= 0xAA && at(i + 2) <= 0xAE) ||
                          (second == 0x81 && at(i + 2) >= 0xA6 && at(i + 2) <= 0xA9))) {
            return false;  // U+202A..U+202E, U+2066..U+2069
        }
        i += length;
    }
    return true;
}

// The field of one CSV cell as written by CsvField, read back (RFC 4180).
std::string CsvRead(const std::string& field) {
    if (field.empty() || field.front() != '"') return field;
    std::string cell;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
        cell += field[i];
        if (field[i] == '"') ++i;  // a doubled quote
    }
    return cell;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rankcheck;
    const std::string text = fuzzsupport::Bytes(data, size);
    // Any limit wide enough for the "…(N bytes)" of any size, which is at most 29 columns.
    const int columns = size == 0 ? 30 : 30 + data[0] % 64;

    const std::string whole = TerminalText(text, std::numeric_limits<int>::max());
    FUZZ_CHECK(Inert(whole, false), "nothing shown on a terminal acts on it");
    if (Inert(text, false)) FUZZ_CHECK(whole == text, "text with nothing to escape stays as it is");
    for (const int limit : {columns, kValueColumns}) {
        const std::string shown = TerminalText(text, limit);
        FUZZ_CHECK(DisplayWidth(shown) <= static_cast<size_t>(limit),
                   "a value takes at most its columns");
        FUZZ_CHECK(TerminalText(shown, limit) == shown, "cleaning twice changes nothing");
        if (DisplayWidth(whole) <= static_cast<size_t>(limit)) {
            FUZZ_CHECK(shown == whole, "a value within its columns is shown whole");
        } else {
            const std::string tail = "\u2026(" + std::to_string(size) + " bytes)";
            FUZZ_CHECK(shown.size() >= tail.size() &&
                           shown.compare(shown.size() - tail.size(), tail.size(), tail) == 0 &&
                           whole.compare(0, shown.size() - tail.size(), shown, 0,
                                         shown.size() - tail.size()) == 0,
                       "a value cut is the start of it shown whole, and says its full length");
        }
    }
    const std::string message = TerminalMessage(text);
    FUZZ_CHECK(Inert(message, true), "nothing of a message acts on a terminal");
    FUZZ_CHECK(
        fuzzsupport::CountOccurrences(message, "\n") == fuzzsupport::CountOccurrences(text, "\n"),
        "a message keeps its line ends");

    const std::string field = CsvField(text);
    const std::string cell = CsvRead(field);
    FUZZ_CHECK(cell == (SpreadsheetWouldEvaluate(text) ? "'" + text : text),
               "a CSV field reads back as the cell, guarded when a spreadsheet would evaluate it");
    FUZZ_CHECK(!SpreadsheetWouldEvaluate(cell), "no field starts a formula");
    return 0;
}
