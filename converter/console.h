// Console helpers: the help text in the console's codeset and the wait for one key.
#pragma once

#include <cstdio>
#include <string>

namespace tarnvel {

// The help text exactly as printed, in UTF-8.
std::string HelpTextUtf8();

// Converts UTF-8 text to the locale's codeset with iconv; returns the text unchanged when that
// codeset cannot hold it (or when it is UTF-8 already).
std::string ToConsoleCodeset(const std::string& utf8);

// Converts UTF-8 text to the named codeset; the text unchanged when that is not possible.
std::string ToCodeset(const std::string& utf8, const char* codeset);

void PrintHelp(std::FILE* out);

// One key without echo when stdin is a terminal; returns at once otherwise.
void WaitForKey();

}  // namespace tarnvel
