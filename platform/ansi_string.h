// AnsiString: the framework's 8-bit string. One byte per character, any byte value (the zero
// byte included), no character set attached. Characters are numbered from 1 in the framework's
// style; CharAt is the bounds-checked access that raises ERangeError outside the string.
// Value type: each thread works on its own copies.
#pragma once

#include <string>

#include "platform/exceptions.h"

using AnsiString = std::string;

// Returns character `index` (1-based) of `s`; raises ERangeError when index is not in 1..length.
inline char CharAt(const AnsiString& s, long long index) {
    if (index < 1 || index > static_cast<long long>(s.size())) {
        throw ERangeError("string index " + std::to_string(index) + " is out of range (length " +
                          std::to_string(s.size()) + ")");
    }
    return s[static_cast<size_t>(index - 1)];
}
