// The converter's run from its command line to its return code.
#pragma once

#include <string>
#include <vector>

namespace tarnvel {

// Return codes of the process.
namespace exit_code {
inline constexpr int kOk = 0;
inline constexpr int kConnectionFailed = -1;
inline constexpr int kFileOpenFailed = -2;
inline constexpr int kFileReadFailed = -3;
inline constexpr int kWriteFailed = -4;  // a segment could not be stored
}  // namespace exit_code

// args[0] is the program path as invoked. Output goes to standard output.
int RunConverter(const std::vector<std::string>& args);

}  // namespace tarnvel
