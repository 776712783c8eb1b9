// TUrlCodec: percent-encoding of text for the query part of a request URL, and back. Digits and
// ASCII letters pass unchanged, the blank becomes "+", every other byte becomes "%" and two
// upper-case hex digits. Bytes are converted one at a time; no character set is assumed.
//
// Errors never leave a conversion: the partial result is dropped, OnError (when assigned) is told
// which direction failed and why, and the input is returned unchanged. Decoding fails on a "%"
// that is not followed by two hexadecimal digits.
//
// The search job owns one codec (created without an owner) and uses it only on the thread that
// constructs the job. The conversions keep no state between calls.
#pragma once

#include <functional>

#include "platform/ansi_string.h"
#include "platform/component.h"

using TOnErrorEvent =
    std::function<void(TComponent* sender, const AnsiString& operation, const AnsiString& errMsg)>;

class TUrlCodec : public TComponent {
  public:
    explicit TUrlCodec(TComponent* owner = nullptr) : TComponent(owner) {}

    AnsiString InputString;  // the text that GetEncodeString and GetDecodeString convert
    TOnErrorEvent OnError;   // called when a conversion fails; may stay empty

    AnsiString URLEncode(const AnsiString& value);
    AnsiString URLDecode(const AnsiString& value);
    AnsiString GetEncodeString() { return URLEncode(InputString); }
    AnsiString GetDecodeString() { return URLDecode(InputString); }

  private:
    void ReportError(const char* operation, const char* message);
};
