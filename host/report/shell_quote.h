// ShellQuote: a word of a command line that rankcheck prints for the user to run (the resume
// hint, the report command, the first run after init), written so that a shell reads it back as
// the same word.
//
// A free function without state; any thread.
#pragma once

#include <string>

namespace rankcheck {

// `word` unchanged when it is plain (letters, digits and _-./:=@+,), else in single quotes.
std::string ShellQuote(const std::string& word);

}  // namespace rankcheck
