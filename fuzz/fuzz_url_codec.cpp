// Fuzz target: TUrlCodec on any bytes. Encoding gives only digits, letters, "+" and "%XX" with
// upper-case hex digits and never fails; decoding the encoded form gives the input back; decoding
// any text fails exactly when a "%" lacks its two hex digits, and then reports the failure once
// and returns the input unchanged.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "urlcodec/url_codec.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsDigitOrLetter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// True when every "%" of `text` is followed by two hex digits, escapes not overlapping.
bool EscapesWellFormed(const AnsiString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) {
            return false;
        }
        i += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString input = fuzzsupport::Bytes(data, size);
    TUrlCodec codec(nullptr);
    int errors = 0;
    AnsiString operation;
    codec.OnError = [&](TComponent* sender, const AnsiString& op, const AnsiString& message) {
        FUZZ_CHECK(sender == &codec, "the codec reports itself as the sender");
        FUZZ_CHECK(!message.empty(), "an error comes with a message");
        ++errors;
        operation = op;
    };

    // Encoding.
    const AnsiString encoded = codec.URLEncode(input);
    FUZZ_CHECK(errors == 0, "encoding never fails");
    size_t expectedSize = 0;
    for (const char c : input)
        expectedSize += IsDigitOrLetter(c) || c == ' ' ? 1 : 3;
    FUZZ_CHECK(encoded.size() == expectedSize, "one byte per digit, letter or blank, else three");
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            FUZZ_CHECK(i + 2 < encoded.size(), "an escape has two hex digits");
            for (const char h : {encoded[i + 1], encoded[i + 2]})
                FUZZ_CHECK(IsHexDigit(h) && !(h >= 'a' && h <= 'f'), "upper-case hex digits");
            i += 2;
        } else {
            FUZZ_CHECK(IsDigitOrLetter(c) || c == '+', "only digits, letters, + and escapes");
        }
    }
    FUZZ_CHECK(codec.URLDecode(encoded) == input, "URLDecode(URLEncode(x)) == x");
    FUZZ_CHECK(errors == 0, "decoding an encoded text never fails");

    codec.InputString = input;
    FUZZ_CHECK(codec.GetEncodeString() == encoded, "the accessor encodes InputString");

    // Decoding any text.
    const AnsiString decoded = codec.URLDecode(input);
    if (EscapesWellFormed(input)) {
        FUZZ_CHECK(errors == 0, "a text with well-formed escapes decodes");
        FUZZ_CHECK(decoded.size() == input.size() - 2 * fuzzsupport::CountOccurrences(input, "%"),
                   "each escape becomes one byte, everything else stays one byte");
        FUZZ_CHECK(codec.URLDecode(codec.URLEncode(decoded)) == decoded,
                   "decoded text round-trips");
        if (input.find_first_of("%+") == AnsiString::npos) {
            FUZZ_CHECK(decoded == input, "a text without + and % decodes to itself");
        }
    } else {
        FUZZ_CHECK(errors == 1 && operation == "Error during decode", "one decode error reported");
        FUZZ_CHECK(decoded == input, "a failed decode returns its input unchanged");
    }
    FUZZ_CHECK(codec.GetDecodeString() == decoded, "the accessor decodes InputString");
    FUZZ_CHECK(codec.InputString == input, "conversions leave InputString alone");
    return 0;
}
