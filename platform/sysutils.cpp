#include "platform/sysutils.h"

#include <cerrno>
#include <climits>
#include <ctime>

namespace {

// Upper-case of one code point, restricted to mappings that keep the UTF-8 byte length, so that
// the upper-cased text stays byte-aligned with the original.
char32_t UpperCodePoint(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c < 0x80) return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;  // à..þ, not ÷
    if (c == 0xFF) return 0x178;                                 // ÿ -> Ÿ
    if (c >= 0x100 && c <= 0x137) return (c & 1) ? c - 1 : c;    // Ā ā ... Ķ ķ
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : c - 1;    // Ĺ ĺ ... Ň ň
    if (c >= 0x14A && c <= 0x177) return (c & 1) ? c - 1 : c;    // Ŋ ŋ ... Ŷ ŷ
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : c - 1;    // Ź ź ... Ž ž
    if (c == 0x3C2) return 0x3A3;                                // final sigma
    if (c >= 0x3B1 && c <= 0x3C9) return c - 0x20;               // Greek
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;               // Cyrillic а..я
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;               // Cyrillic ѐ..џ
    return c;
}

// One UTF-8 sequence as decoded: its length in bytes (0 when the bytes are not a well-formed
// sequence) and its code point (0 then).
struct Utf8Sequence {
    size_t length = 0;
    char32_t codePoint = 0;
};

// Decodes the UTF-8 sequence at `i`.
Utf8Sequence DecodeUtf8(const AnsiString& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c0 = b(i);
    size_t len = 0;
    char32_t cp = 0;
    if (c0 < 0x80) {
        return {1, c0};
    } else if (c0 >= 0xC2 && c0 <= 0xDF) {
        len = 2;
        cp = c0 & 0x1F;
    } else if (c0 >= 0xE0 && c0 <= 0xEF) {
        len = 3;
        cp = c0 & 0x0F;
    } else if (c0 >= 0xF0 && c0 <= 0xF4) {
        len = 4;
        cp = c0 & 0x07;
    } else {
        return {};
    }
    if (i + len > s.size()) return {};
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return {};
    }
    return {len, cp};
}

void AppendUtf8(AnsiString& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined, which
// are carried over as the C1 control of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned char UpperCp1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    switch (c) {
        case 0x9A:
            return 0x8A;  // š
        case 0x9C:
            return 0x8C;  // œ
        case 0x9E:
            return 0x8E;  // ž
        case 0xFF:
            return 0x9F;  // ÿ
        default:
            return c;
    }
}

}  // namespace

int StrToInt(const AnsiString& text) {
    const auto fail = [&]() -> int { throw EConvertError("\"" + text + "\" is not an integer"); };
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return fail();
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return fail();
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return fail();
    }
    if (negative) value = -value;
    if (value < INT_MIN || value > INT_MAX) return fail();
    return static_cast<int>(value);
}

AnsiString IntToStr(long long value) {
    return std::to_string(value);
}

bool IsValidUtf8(const AnsiString& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = DecodeUtf8(text, i).length;
        if (n == 0) return false;
        i += n;
    }
    return true;
}

AnsiString AnsiUpperCase(const AnsiString& text) {
    AnsiString out;
    out.reserve(text.size());
    if (IsValidUtf8(text)) {
        for (size_t i = 0; i < text.size();) {
            const Utf8Sequence sequence = DecodeUtf8(text, i);
            AppendUtf8(out, UpperCodePoint(sequence.codePoint));
            i += sequence.length;
        }
    } else {
        for (const char c : text) {
            out += static_cast<char>(UpperCp1252(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

AnsiString AnsiToUtf8(const AnsiString& text) {
    if (IsValidUtf8(text)) return text;
    AnsiString out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0) {
            AppendUtf8(out, kCp1252High[c - 0x80]);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

namespace {

void AddMilliseconds(timespec& t, int milliseconds) {
    t.tv_sec += milliseconds / 1000;
    t.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
}

// To an absolute deadline on the monotonic clock: a signal that interrupts the wait resumes it
// towards the same end, so the wait is never cut short and never drifts, and a change of the
// wall clock does not move it. A deadline already past returns at once.
void SleepUntil(const timespec& deadline) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace

void Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    AddMilliseconds(deadline, milliseconds);
    SleepUntil(deadline);
}

void TPacer::Begin() {
    clock_gettime(CLOCK_MONOTONIC, &next_);
    started_ = true;
}

void TPacer::Pause() {
    if (!started_) Begin();
    if (stepMs_ <= 0) return;
    AddMilliseconds(next_, stepMs_);
    SleepUntil(next_);
}
