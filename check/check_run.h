// The checker's run from its command line to its exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "converter/driver.h"

namespace tarnvel::check {

namespace exit_code {
inline constexpr int kClean = 0;
inline constexpr int kProblems = 1;   // problems found (and left, after a repair)
inline constexpr int kArguments = 2;  // an argument the checker does not take
// The converter's codes: the database cannot be reached (or FILELIST read); the data directory
// cannot be read.
inline constexpr int kConnectionFailed = tarnvel::exit_code::kConnectionFailed;
inline constexpr int kDataDirectoryUnreadable = tarnvel::exit_code::kFileOpenFailed;
}  // namespace exit_code

// args[0] is the program path as invoked; the report goes to `out`.
int RunCheck(const std::vector<std::string>& args, std::FILE* out);

}  // namespace tarnvel::check
