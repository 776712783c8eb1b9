#include "urlcodec/url_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct ErrorSpy {
    int calls = 0;
    TComponent* sender = nullptr;
    std::string operation, message;
    void Attach(TUrlCodec& codec) {
        codec.OnError = [this](TComponent* s, const AnsiString& op, const AnsiString& msg) {
            ++calls;
            sender = s;
            operation = op;
            message = msg;
        };
    }
};

TEST(UrlCodec, EncodesOnlyDigitsAndLettersUnchanged) {
    TUrlCodec codec;
    EXPECT_EQ(codec.URLEncode(""), "");
    EXPECT_EQ(codec.URLEncode("AZaz09"), "AZaz09");
    EXPECT_EQ(codec.URLEncode("a b"), "a+b");
    EXPECT_EQ(codec.URLEncode("+"), "%2B");
    EXPECT_EQ(codec.URLEncode("-._~*%"), "%2D%2E%5F%7E%2A%25");
    EXPECT_EQ(codec.URLEncode("\xC3\xA9"), "%C3%A9");
    EXPECT_EQ(codec.URLEncode(std::string("\0\x1F\x7F\xFF", 4)), "%00%1F%7F%FF");
    EXPECT_EQ(codec.URLEncode("@[`{/:"), "%40%5B%60%7B%2F%3A");
}

TEST(UrlCodec, DecodesPlusPercentAndPlainBytes) {
    TUrlCodec codec;
    EXPECT_EQ(codec.URLDecode(""), "");
    EXPECT_EQ(codec.URLDecode("a+b"), "a b");
    EXPECT_EQ(codec.URLDecode("%2B"), "+");
    EXPECT_EQ(codec.URLDecode("%c3%a9"), "\xC3\xA9");
    EXPECT_EQ(codec.URLDecode("%C3%A9"), "\xC3\xA9");
    EXPECT_EQ(codec.URLDecode("%00"), std::string(1, '\0'));
    EXPECT_EQ(codec.URLDecode("plain-text_~"), "plain-text_~");
}

TEST(UrlCodec, PropertiesDriveTheAccessors) {
    TUrlCodec codec;
    EXPECT_EQ(codec.InputString, "");
    codec.InputString = "x y";
    EXPECT_EQ(codec.GetEncodeString(), "x+y");
    EXPECT_EQ(codec.InputString, "x y");
    codec.InputString = "x+y%21";
    EXPECT_EQ(codec.GetDecodeString(), "x y!");
}

TEST(UrlCodec, DecodeFailureReturnsInputAndReports) {
    TUrlCodec codec;
    for (const char* bad : {"abc%", "abc%4", "%G1", "ok+%zz+ok", "%%41"}) {
        EXPECT_EQ(codec.URLDecode(bad), bad);  // without a handler: quietly the input
    }
    ErrorSpy spy;
    spy.Attach(codec);
    EXPECT_EQ(codec.URLDecode("a+b%4"), "a+b%4");
    EXPECT_EQ(spy.calls, 1);
    EXPECT_EQ(spy.sender, &codec);
    EXPECT_EQ(spy.operation, "Error during decode");
    EXPECT_NE(spy.message.find("is not a valid integer value"), std::string::npos) << spy.message;
    codec.InputString = "%x1";
    EXPECT_EQ(codec.GetDecodeString(), "%x1");
    EXPECT_EQ(spy.calls, 2);
    EXPECT_EQ(codec.URLEncode("fine"), "fine");
    EXPECT_EQ(spy.calls, 2);
}

TEST(UrlCodec, DecodeInvertsEncodeOnRandomBytes) {
    TUrlCodec codec;
    ErrorSpy spy;
    spy.Attach(codec);
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string s(rng() % 64, '\0');
        for (auto& c : s)
            c = static_cast<char>(rng() & 0xFF);
        const std::string encoded = codec.URLEncode(s);
        for (const char c : encoded) {
            ASSERT_TRUE(isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '%') << encoded;
        }
        ASSERT_EQ(codec.URLDecode(encoded), s);
    }
    EXPECT_EQ(spy.calls, 0);
    const std::string big(70000, 'a');  // no 16-bit limit
    EXPECT_EQ(codec.URLEncode(big), big);
}

}  // namespace
