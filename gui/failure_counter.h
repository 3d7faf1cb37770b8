// Decides whether a run failed: the converter's error lines and its exit status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnvel::gui {

// Whether one output line holds one of the converter's error phrases.
bool IsFailureLine(std::string_view line);

// The report lines of `output` (ReportLines) holding one of the converter's error phrases, in
// the order printed.
std::vector<std::string> FailureLines(std::string_view output);
int CountFailureLines(std::string_view output);

// The error count to report for a finished run: the failure lines, and at least 1 when the
// converter ended with a non-zero code or did not exit normally. 0 means success.
int RunFailures(std::string_view output, int exitCode, bool exitedNormally);

// Why a converter that printed no error line failed: its exit code with the meaning the
// converter's help gives it, or that it did not exit normally. Empty for a normal exit with 0.
std::string ExitDescription(int exitCode, bool exitedNormally);

}  // namespace tarnvel::gui
