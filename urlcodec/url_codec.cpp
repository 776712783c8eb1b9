#include "urlcodec/url_codec.h"

#include <exception>

#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool PassesUnchanged(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void TUrlCodec::ReportError(const char* operation, const char* message) {
    if (OnError) OnError(this, operation, message);
}

AnsiString TUrlCodec::URLEncode(const AnsiString& value) {
    try {
        AnsiString result;
        result.reserve(value.size() * 3);
        for (const char ch : value) {
            const auto c = static_cast<unsigned char>(ch);
            if (PassesUnchanged(c)) {
                result += ch;
            } else if (c == ' ') {
                result += '+';
            } else {
                result += '%';
                result += kHex[c >> 4];
                result += kHex[c & 0x0F];
            }
        }
        return result;
    } catch (const std::exception& e) {
        ReportError("Error during encode", e.what());
        return value;
    }
}

AnsiString TUrlCodec::URLDecode(const AnsiString& value) {
    try {
        AnsiString result;
        result.reserve(value.size());
        const size_t n = value.size();
        for (size_t i = 0; i < n;) {
            const char c = value[i];
            if (c == '+') {
                result += ' ';
                i += 1;
            } else if (c == '%') {
                const AnsiString digits = value.substr(i + 1, 2);
                const int hi = digits.size() == 2 ? HexValue(digits[0]) : -1;
                const int lo = digits.size() == 2 ? HexValue(digits[1]) : -1;
                if (hi < 0 || lo < 0) {
                    throw EConvertError("\"$" + digits + "\" is not a valid integer value");
                }
                result += static_cast<char>(hi * 16 + lo);
                i += 3;
            } else {
                result += c;
                i += 1;
            }
        }
        return result;
    } catch (const std::exception& e) {
        ReportError("Error during decode", e.what());
        return value;
    }
}
