// The converter's command line: argument rules, time values and channel filter arguments.
#pragma once

#include <string>
#include <vector>

#include "converter/run_options.h"
#include "seed/run_context.h"

namespace tarnvel {

enum class ParseOutcome {
  kRun,            // go on with the run
  kHelp,           // print the help text, wait for a key, return 0
  kArgumentError,  // print `message`, return 0
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kRun;
  std::string message;  // the exact text to print for kArgumentError
};

// args[0] is the program path; the rules apply to args[1..].
ParseResult ParseCommandLine(const std::vector<std::string>& args, RunOptions& options,
                             TimeWindow& window, ChannelFilter& filter);

// A "hh:MM:ss-dd.mm.yyyy" value to epoch seconds; false when it has fewer than six tokens (or a
// month outside 1..12). `epoch` is set in every case where the six values could be read.
bool ParseTimeValue(const std::string& text, double& epoch);

// Appends the entries of one "STA:CH:LC[,STA:CH:LC...]" filter argument.
// False when a field is longer than 7 characters (nothing is appended then).
bool AppendChannelFilter(const std::string& spec, ChannelFilter& filter);

}  // namespace tarnvel
