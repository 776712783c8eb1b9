// InputChecks: what rankcheck tells the user about the input files before a run starts. The
// plug-ins search whatever the files hold (a blank line is an empty keyword, an empty urls.lst
// is a search for nothing); these warnings say so in words, and the run goes on.
//
// Free functions on the files' lines; any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/ansi_string.h"

namespace rankcheck {

// Warnings about keywords.lst: blank lines (searched as an empty keyword; their line numbers),
// and keywords that stand on more than one line (searched once per line).
std::vector<std::string> KeywordWarnings(const std::vector<AnsiString>& keywords);
// Warnings about urls.lst: no URL at all, and URLs that are the same once normalised (blanks,
// one trailing "/" and a leading scheme dropped; case ignored). Lines that cannot be normalised
// are left to the plug-in, which names them.
std::vector<std::string> UrlWarnings(const std::vector<AnsiString>& urls);

// "3", "3 and 7", "3, 7 and 9".
std::string NumberList(const std::vector<int>& numbers);

}  // namespace rankcheck
